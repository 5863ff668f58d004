#include "ui/panel_skin.h"

#include <cstdio>

namespace microblog {
namespace {

constexpr const char* kBuildHost = "TAVI";
constexpr const char* kBuildGroup = "Plugins";

const tavi::SkinBuildNode* FindBuildNode(const char* format, const std::string& objectId) {
    char name[256];
    int written = std::snprintf(name, sizeof(name), format, kBuildHost, kBuildGroup, objectId.c_str());
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof(name))
        return nullptr;
    return tavi::CSkinManager::GetInstance()->GetBuildNode(name);
}

} // namespace

const tavi::SkinBuildNode* FindPanelBuildNode(const std::string& objectId) {
    return FindBuildNode("%s %s %s", objectId);
}

const tavi::SkinBuildNode* FindMainPanelBuildNode(const std::string& objectId) {
    return FindBuildNode("%s %s MicroBlogWindow %s", objectId);
}

std::string FormatWithText(const std::string& format, const std::string& argument) {
    std::string out;
    bool substituted = false;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            char next = format[i + 1];
            if (next == '%') {
                out.push_back('%');
                ++i;
                continue;
            }
            if (next == 's' && !substituted) {
                out += argument;
                substituted = true;
                ++i;
                continue;
            }
        }
        out.push_back(format[i]);
    }
    return out;
}

std::string TrimWhiteSpace(const std::string& text) {
    const char* blanks = " \t\r\n\v\f";
    std::size_t begin = text.find_first_not_of(blanks);
    if (begin == std::string::npos)
        return std::string();
    return text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
}

} // namespace microblog
