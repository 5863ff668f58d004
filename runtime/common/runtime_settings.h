// Settings of the host runtime that the host program fixes at start-up: the host folder, the
// language of the string table, and what the runtime records for the host program to show.
#pragma once

#include <mutex>
#include <functional>
#include <string>
#include <vector>

namespace tavi::runtime {

// The host folder; a trailing '/' is added when missing.
void SetAppPath(const std::string& path);

// The string table: stringid.ini files with one section per language, texts in UTF-8.
void SetLanguage(const std::string& language);
std::string GetLanguage();
// Adds the entries of a string-table file; later files override earlier ones. False when unreadable.
bool LoadStringTable(const std::string& path);
void ClearStringTable();

// Addresses handed to SafeOpenWeb, in order, with their modes.
struct OpenedWeb {
    std::string url;
    int mode;
};
std::vector<OpenedWeb> GetOpenedWebs();
void ClearOpenedWebs();
// Who opens an address handed to SafeOpenWeb after it is recorded (the windowed host: the
// desktop's web browser); null records only.
void SetWebOpener(std::function<void(const std::string& url)> opener);

} // namespace tavi::runtime
