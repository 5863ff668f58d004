#include "runtime/skin/skin_attributes.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "host/common.h"

namespace tavi::runtime {

bool ParseSkinInteger(const std::string& text, int& value) {
    if (text.empty() || text.size() > 32)
        return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long long parsed = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        parsed = std::strtoll(begin + 2, &end, 16);
    else
        parsed = std::strtoll(begin, &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0' || end == begin || parsed < INT_MIN || parsed > INT_MAX)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

bool ParseSkinColor(const std::string& text, unsigned& color) {
    if (text.size() != 7 || text[0] != '#')
        return false;
    unsigned rgb = 0;
    for (std::size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        rgb = rgb << 4 | digit;
    }
    color = ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
    return true;
}

bool SkinAttributes::Text(const char* literalName, const char* idName, std::string& text) const {
    if (const std::string* id = node_.FindAttribute(idName)) {
        std::string looked = CMutiLanSupport::GetStringViaID(*id);
        if (!looked.empty()) {
            text = looked;
            return true;
        }
    }
    if (const std::string* literal = node_.FindAttribute(literalName)) {
        text = utf8_to_CString(*literal);
        return true;
    }
    return false;
}

bool SkinAttributes::Bounds(const char* name, SkinBounds& bounds, std::string& error) const {
    const std::string* value = node_.FindAttribute(name);
    if (value == nullptr)
        return true;
    int numbers[4];
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        std::size_t comma = value->find(',', start);
        bool last = i == 3;
        if (last != (comma == std::string::npos)) {
            error = std::string("bounds \"") + *value + "\" are not four numbers";
            return false;
        }
        std::string part = value->substr(start, last ? std::string::npos : comma - start);
        while (!part.empty() && part.front() == ' ')
            part.erase(part.begin());
        while (!part.empty() && part.back() == ' ')
            part.pop_back();
        if (!ParseSkinInteger(part, numbers[i])) {
            error = std::string("bounds \"") + *value + "\" are not four numbers";
            return false;
        }
        start = comma + 1;
    }
    bounds = SkinBounds{numbers[0], numbers[1], numbers[2], numbers[3]};
    return true;
}

bool SkinAttributes::Integer(const char* name, int& value, std::string& error) const {
    const std::string* text = node_.FindAttribute(name);
    if (text == nullptr)
        return true;
    if (!ParseSkinInteger(*text, value)) {
        error = std::string(name) + " \"" + *text + "\" is not a number";
        return false;
    }
    return true;
}

bool SkinAttributes::Flag(const char* name, bool& value, std::string& error) const {
    const std::string* text = node_.FindAttribute(name);
    if (text == nullptr)
        return true;
    if (*text == "1" || *text == "true" || *text == "yes") {
        value = true;
        return true;
    }
    if (*text == "0" || *text == "false" || *text == "no") {
        value = false;
        return true;
    }
    error = std::string(name) + " \"" + *text + "\" is not 0 or 1";
    return false;
}

std::string SkinAttributes::File(const char* name) const {
    const std::string* value = node_.FindAttribute(name);
    if (value == nullptr || value->empty())
        return std::string();
    std::string named = CSkinManager::GetInstance()->GetImagePath(*value);
    if (!named.empty())
        return named;
    if ((*value)[0] == '/')
        return *value;
    return node_.baseDir + *value;
}

} // namespace tavi::runtime
