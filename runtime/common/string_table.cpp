// The multi-language string table: stringid.ini files in UTF-8 with one [language] section each,
// read with GLib's GKeyFile.
#include <glib.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
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

// Values may carry \n and \t escapes (any other escaped character stands for itself), and may be
// quoted to keep outer blanks.
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

// A string id GKeyFile takes as a key: not empty, and without the brackets it keeps for a
// translation's locale (a table file has one section per language instead).
bool IsKeyName(const std::string& key) {
    return !key.empty() && key.find_first_of("[]") == std::string::npos;
}

// A language GKeyFile takes as a group name: not empty, no brackets, no control characters.
bool IsGroupName(const std::string& name) {
    if (name.empty())
        return false;
    for (unsigned char c : name)
        if (c == '[' || c == ']' || c < 0x20 || c == 0x7f)
            return false;
    return true;
}

// The file as GKeyFile reads it. A table written by hand may start with a byte-order mark, have
// ';' comments, lines that say nothing, and entries before the first language: those lines become
// comments here, as the table has always ignored them, so that one odd line costs only itself.
std::string AsKeyFile(std::string text) {
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    std::string out;
    out.reserve(text.size() + 64);
    bool inSection = false;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = Trim(text.substr(at, end - at));
        at = end + 1;
        bool keep = false;
        if (line.empty() || line[0] == '#') {
            keep = true;
        } else if (line[0] == ';') {
            keep = false;
        } else if (line.front() == '[' && line.back() == ']') {
            // A section's name is trimmed, which GKeyFile would keep as it is.
            line = Trim(line.substr(1, line.size() - 2));
            inSection = IsGroupName(line);
            if (inSection) {
                line.insert(line.begin(), '[');
                line.push_back(']');
            }
            keep = inSection;
        } else if (std::size_t equals = line.find('='); equals != std::string::npos && inSection) {
            keep = IsKeyName(Trim(line.substr(0, equals)));
        }
        if (!keep)
            out.push_back('#');
        out.append(line).push_back('\n');
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
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text = AsKeyFile(std::move(text));
    std::unique_ptr<GKeyFile, decltype(&g_key_file_free)> file(g_key_file_new(), g_key_file_free);
    if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE, nullptr))
        return false;
    // The values as written, unescaped by the table's own rule: its quotes and lenient escapes are
    // not GKeyFile's.
    std::map<std::string, std::map<std::string, std::string>> loaded;
    gchar** groups = g_key_file_get_groups(file.get(), nullptr);
    for (gchar** group = groups; *group != nullptr; ++group) {
        gchar** keys = g_key_file_get_keys(file.get(), *group, nullptr, nullptr);
        for (gchar** key = keys; keys != nullptr && *key != nullptr; ++key) {
            gchar* value = g_key_file_get_value(file.get(), *group, *key, nullptr);
            if (value != nullptr)
                loaded[*group][*key] = Unescape(value);
            g_free(value);
        }
        g_strfreev(keys);
    }
    g_strfreev(groups);
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
