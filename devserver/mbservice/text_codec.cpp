#include "devserver/mbservice/text_codec.h"

namespace mbservice {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Length of the UTF-8 sequence that starts at text[i] and its code point; 0 when it is malformed
// (overlong forms, surrogates and values above U+10FFFF included).
std::size_t Utf8Sequence(std::string_view text, std::size_t i, char32_t& cp) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length;
    char32_t min;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        cp = lead & 0x1F;
        min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        cp = lead & 0x0F;
        min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        cp = lead & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

bool PercentDecode(std::string_view in, std::string& out, bool plusIsSpace) {
    out.clear();
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '%') {
            if (i + 2 >= in.size())
                return false;
            const int high = HexValue(in[i + 1]);
            const int low = HexValue(in[i + 2]);
            if (high < 0 || low < 0)
                return false;
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return true;
}

bool ParseFormText(std::string_view text, std::vector<FormPair>& pairs, std::string& error) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view piece = text.substr(start, end - start);
        start = end + 1;
        if (piece.empty())
            continue;
        const std::size_t equals = piece.find('=');
        const std::string_view rawName = piece.substr(0, equals);
        const std::string_view rawValue =
            equals == std::string_view::npos ? std::string_view() : piece.substr(equals + 1);
        FormPair pair;
        if (!PercentDecode(rawName, pair.name, true) || !PercentDecode(rawValue, pair.value, true)) {
            error = "malformed percent escape in parameter '" + std::string(rawName) + "'";
            return false;
        }
        if (pair.name.empty()) {
            error = "parameter without a name";
            return false;
        }
        pairs.push_back(std::move(pair));
    }
    return true;
}

bool IsValidUtf8(std::string_view text) {
    char32_t cp;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8Sequence(text, i, cp);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::size_t CountCodePoints(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++count;
    }
    return count;
}

std::vector<char32_t> DecodeUtf8(std::string_view text) {
    std::vector<char32_t> points;
    char32_t cp;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8Sequence(text, i, cp);
        if (length == 0)
            break;
        points.push_back(cp);
        i += length;
    }
    return points;
}

std::string TrimBlanks(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

} // namespace mbservice
