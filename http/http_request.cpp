#include "http/http_request.h"

#include <cstring>
#include <limits>

namespace microblog {

std::string BuildHttpRequest(const HttpRequestDescription& request) {
    std::string text;
    text.reserve(256 + request.path.size() + request.referer.size() + request.body.size());
    text += request.isPost ? "POST " : "GET ";
    text += request.path;
    text += " HTTP/1.1\r\n";
    // An IPv6 address is written in brackets, as in the address it came from.
    bool v6 = request.host.find(':') != std::string::npos;
    text += "Host:";
    text += v6 ? "[" + request.host + "]" : request.host;
    // The server must see the same authority the request was addressed (and signed) with.
    if (request.port != (request.secure ? kHttpsDefaultPort : kHttpDefaultPort)) {
        text += ':';
        text += std::to_string(request.port);
    }
    text += "\r\n";
    if (!request.referer.empty()) {
        text += "Referer:";
        text += request.referer;
        text += "\r\n";
    }
    text += "Accept:*/*\r\n"
            "User-Agent: Mozilla/4.0 (compatible; TAVI)\r\n"
            "Connection:Keep-Alive\r\n";
    if (request.isPost) {
        text += "Content-Type: application/x-www-form-urlencoded\r\n"
                "Content-Length: ";
        text += std::to_string(request.body.size());
        text += "\r\n";
    }
    text += "\r\n";
    if (request.isPost)
        text += request.body;
    return text;
}

int BuildHttpRequest(const HttpRequestDescription& request, std::vector<char>& buffer) {
    std::string text = BuildHttpRequest(request);
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return -1;
    if (buffer.size() < text.size())
        buffer.resize(text.size());
    std::memcpy(buffer.data(), text.data(), text.size());
    return static_cast<int>(text.size());
}

} // namespace microblog
