#include "http/http_url.h"

#include <cctype>

#include "http/http_request.h"

namespace microblog {
namespace {

bool HasUnsafeBytes(const std::string& text) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f)
            return true;
    }
    return false;
}

bool ValidHostName(const std::string& host) {
    for (char c : host) {
        auto byte = static_cast<unsigned char>(c);
        if (!std::isalnum(byte) && c != '-' && c != '.' && c != '_')
            return false;
    }
    return !host.empty();
}

bool StartsWithScheme(const std::string& url, const std::string& scheme) {
    if (url.size() <= scheme.size())
        return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i])
            return false;
    }
    return true;
}

} // namespace

std::optional<HttpUrl> SplitHttpUrl(const std::string& url) {
    if (HasUnsafeBytes(url))
        return std::nullopt;
    HttpUrl parts;
    if (StartsWithScheme(url, "https://")) {
        parts.secure = true;
        parts.port = kHttpsDefaultPort;
    } else if (!StartsWithScheme(url, "http://")) {
        return std::nullopt;
    }
    const std::size_t schemeLength = parts.secure ? 8 : 7;
    // The fragment is the reader's, never sent.
    std::string text = url.substr(0, url.find('#'));
    std::size_t authorityEnd = text.find_first_of("/?", schemeLength);
    if (authorityEnd == std::string::npos)
        authorityEnd = text.size();
    std::string authority = text.substr(schemeLength, authorityEnd - schemeLength);

    std::string portText;
    bool hasPort = false;
    if (!authority.empty() && authority.front() == '[') {
        auto close = authority.find(']');
        if (close == std::string::npos || close == 1)
            return std::nullopt;
        parts.host = authority.substr(1, close - 1);
        for (char c : parts.host) {
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
                return std::nullopt;
        }
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':')
                return std::nullopt;
            hasPort = true;
            portText = authority.substr(close + 2);
        }
    } else {
        auto colon = authority.find(':');
        parts.host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            hasPort = true;
            portText = authority.substr(colon + 1);
        }
        if (!ValidHostName(parts.host))
            return std::nullopt;
    }
    if (hasPort) {
        if (portText.empty() || portText.size() > 5)
            return std::nullopt;
        unsigned long port = 0;
        for (char c : portText) {
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return std::nullopt;
            port = port * 10 + static_cast<unsigned long>(c - '0');
        }
        if (port == 0 || port > 65535)
            return std::nullopt;
        parts.port = static_cast<std::uint16_t>(port);
    }

    parts.path = text.substr(authorityEnd);
    if (parts.path.empty() || parts.path.front() != '/')
        parts.path = "/" + parts.path;
    // The referer is the folder of the resource: cut at the last slash before any query.
    std::size_t queryStart = text.find('?', authorityEnd);
    std::size_t lastSlash = text.rfind('/', queryStart == std::string::npos ? std::string::npos : queryStart);
    if (lastSlash == std::string::npos || lastSlash < authorityEnd)
        parts.referer = text.substr(0, authorityEnd);
    else
        parts.referer = text.substr(0, lastSlash);
    return parts;
}

} // namespace microblog
