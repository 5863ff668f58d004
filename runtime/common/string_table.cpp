// The multi-language string table: stringid.ini files in UTF-8 with one [language] section each.
#include <fstream>
#include <map>
#include <mutex>

#include "host/common.h"
#include "runtime/common/runtime_settings.h"

namespace tavi {
namespace {

std::mutex tableMutex;
std::string language = "zh-CN";
// language -> id -> UTF-8 text
std::map<std::string, std::map<std::string, std::string>> table;

std::string Trim(const std::string& text) {
    std::size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return std::string();
    std::size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

// Values may carry \n and \t escapes, and may be quoted to keep outer blanks.
std::string Unescape(const std::string& value) {
    std::string text = value;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char next = text[++i];
            out.push_back(next == 'n' ? '\n' : next == 't' ? '\t' : next);
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

} // namespace

namespace runtime {

void SetLanguage(const std::string& name) {
    std::lock_guard<std::mutex> lock(tableMutex);
    language = name;
}

std::string GetLanguage() {
    std::lock_guard<std::mutex> lock(tableMutex);
    return language;
}

bool LoadStringTable(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::map<std::string, std::map<std::string, std::string>> loaded;
    std::string section;
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);
        first = false;
        std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#')
            continue;
        if (trimmed.front() == '[' && trimmed.back() == ']') {
            section = Trim(trimmed.substr(1, trimmed.size() - 2));
            continue;
        }
        std::size_t equals = trimmed.find('=');
        if (equals == std::string::npos || section.empty())
            continue;
        loaded[section][Trim(trimmed.substr(0, equals))] = Unescape(Trim(trimmed.substr(equals + 1)));
    }
    std::lock_guard<std::mutex> lock(tableMutex);
    for (auto& [lang, entries] : loaded)
        for (auto& [id, text] : entries)
            table[lang][id] = text;
    return true;
}

void ClearStringTable() {
    std::lock_guard<std::mutex> lock(tableMutex);
    table.clear();
}

} // namespace runtime

std::string CMutiLanSupport::GetStringViaID(const std::string& id) {
    std::string utf8;
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        auto lang = table.find(language);
        if (lang == table.end())
            return std::string();
        auto found = lang->second.find(id);
        if (found == lang->second.end())
            return std::string();
        utf8 = found->second;
    }
    return utf8_to_CString(utf8);
}

} // namespace tavi
