// Text helpers of the service: form decoding (percent escapes, name=value pairs), UTF-8 checks and
// HTML escaping for the web pages.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mbservice {

// One parameter of a query string or a form body, decoded.
struct FormPair {
    std::string name;
    std::string value;
};

// Decodes %XX escapes, and "+" as a blank when plusIsSpace; false on a truncated or non-hex escape.
bool PercentDecode(std::string_view in, std::string& out, bool plusIsSpace);

// Splits "a=1&b=2" into decoded pairs appended to pairs. Empty pieces between "&" are skipped and a
// piece without "=" is a name with an empty value. False, with the reason in error, on a malformed
// escape or an empty name.
bool ParseFormText(std::string_view text, std::vector<FormPair>& pairs, std::string& error);

bool IsValidUtf8(std::string_view text);
// Number of code points of valid UTF-8 text.
std::size_t CountCodePoints(std::string_view text);
// Decodes valid UTF-8 text into code points.
std::vector<char32_t> DecodeUtf8(std::string_view text);

// Text with leading and trailing blanks, tabs and line breaks removed.
std::string TrimBlanks(std::string_view text);

// Text safe inside HTML element content and attribute values.
std::string EscapeHtml(std::string_view text);

} // namespace mbservice
