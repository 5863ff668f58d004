// Splitting the absolute http or https address of a request into what the connection and the
// request text need: where to connect and whether over TLS, the request target, and the referer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace microblog {

struct HttpUrl {
    bool secure = false;     // an https address: the exchange runs over TLS
    std::string host;        // without port; an IPv6 address without its brackets
    std::uint16_t port = 80; // when the address names none: 80, or 443 for https
    std::string path;        // from the first slash after the host: path and query ("/" when empty)
    std::string referer;     // the address up to, not including, the last slash of its path
};

// Empty when the text is not an absolute "http://" or "https://" address with a host and a port
// from 1 to 65535,
// or when it holds blanks or control bytes (which would otherwise end up in the request text).
std::optional<HttpUrl> SplitHttpUrl(const std::string& url);

} // namespace microblog
