// The request writer: the exact text of one HTTP/1.1 GET or POST as the plug-in sends it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace microblog {

struct HttpRequestDescription {
    bool isPost = false;
    std::string host;        // the host name alone; an IPv6 address without its brackets
    bool secure = false;     // sent over TLS, where the default port is that of https
    std::uint16_t port = 80; // written after the host unless it is the default port of the scheme
    std::string path;        // request target, starting with a slash
    std::string referer;     // empty: no Referer line
    std::string body;        // POST only: the form-encoded body
};

// The ports an http and an https address mean when they name none; the Host line leaves them out.
constexpr std::uint16_t kHttpDefaultPort = 80;
constexpr std::uint16_t kHttpsDefaultPort = 443;

// The buffer a connection starts with; a longer request grows it rather than being cut.
constexpr std::size_t kRequestBufferSize = 4096;

// Writes the request text into buffer, growing it when the text does not fit, and returns the
// text's length in bytes (-1 for a text beyond 2 GiB, which is not written).
int BuildHttpRequest(const HttpRequestDescription& request, std::vector<char>& buffer);

// The same text as a string, for callers that keep no buffer.
std::string BuildHttpRequest(const HttpRequestDescription& request);

} // namespace microblog
