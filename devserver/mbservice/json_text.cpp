#include "devserver/mbservice/json_text.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "devserver/mbservice/text_codec.h"

namespace mbservice {

void AppendJsonString(std::string& out, std::string_view text) {
    // Only text from the first byte outside ASCII on needs the UTF-8 check.
    const auto high = std::find_if(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; });
    if (high != text.end() && !IsValidUtf8(text.substr(static_cast<std::size_t>(high - text.begin())))) {
        // Which bytes become U+FFFD is the library's rule, kept so that every reply agrees.
        out +=
            nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        return;
    }
    static const char kHex[] = "0123456789abcdef";
    out.push_back('"');
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(text.data() + plain, i - plain);
        plain = i + 1;
        out.push_back('\\');
        switch (c) {
        case '"':
        case '\\':
            out.push_back(static_cast<char>(c));
            break;
        case '\b':
            out.push_back('b');
            break;
        case '\t':
            out.push_back('t');
            break;
        case '\n':
            out.push_back('n');
            break;
        case '\f':
            out.push_back('f');
            break;
        case '\r':
            out.push_back('r');
            break;
        default:
            out.append("u00");
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
            break;
        }
    }
    out.append(text.data() + plain, text.size() - plain);
    out.push_back('"');
}

void JsonObjectText::Begin(std::string_view name) {
    auto found =
        std::find_if(members_.begin(), members_.end(), [name](const Member& m) { return m.name == name; });
    if (found == members_.end()) {
        members_.push_back(Member{name});
        found = members_.end() - 1;
    }
    open_ = static_cast<std::size_t>(found - members_.begin());
    found->at = values_.size();
}

void JsonObjectText::End() {
    members_[open_].size = values_.size() - members_[open_].at;
}

void JsonObjectText::String(std::string_view name, std::string_view value) {
    Begin(name);
    AppendJsonString(values_, value);
    End();
}

void JsonObjectText::Integer(std::string_view name, std::int64_t value) {
    Begin(name);
    values_ += std::to_string(value);
    End();
}

void JsonObjectText::Boolean(std::string_view name, bool value) {
    Begin(name);
    values_ += value ? "true" : "false";
    End();
}

void JsonObjectText::Json(std::string_view name, std::string_view text) {
    Begin(name);
    values_ += text;
    End();
}

void JsonObjectText::AppendTo(std::string& out) {
    std::sort(members_.begin(), members_.end(),
              [](const Member& a, const Member& b) { return a.name < b.name; });
    out.push_back('{');
    for (std::size_t i = 0; i < members_.size(); ++i) {
        if (i > 0)
            out.push_back(',');
        AppendJsonString(out, members_[i].name);
        out.push_back(':');
        out.append(values_, members_[i].at, members_[i].size);
    }
    out.push_back('}');
}

} // namespace mbservice
