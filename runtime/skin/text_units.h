// Characters of narrow text: the system code page and UTF-8 as sequences of Unicode code points,
// for the edit control's caret and selection and for the browser's wide strings. Bytes that do not
// decode become U+FFFD; characters the code page cannot hold become '?'.
#pragma once

#include <string>

namespace tavi::runtime {

std::u32string NarrowToUnicode(const std::string& narrow);
std::string UnicodeToNarrow(const std::u32string& text);
std::u32string Utf8ToUnicode(const std::string& utf8);
std::string UnicodeToUtf8(const std::u32string& text);

} // namespace tavi::runtime
