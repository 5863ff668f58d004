#include "runtime/net/proxy_settings.h"

#include <cctype>
#include <mutex>

namespace tavi {
namespace {

std::mutex proxyMutex;
ProxyCfg proxyCfg;

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool PercentDecode(const std::string& text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return true;
}

bool Refuse(std::string* error, const std::string& reason) {
    if (error)
        *error = reason;
    return false;
}

} // namespace

ProxyCfg GetProxyCfg() {
    std::lock_guard<std::mutex> lock(proxyMutex);
    return proxyCfg;
}

void SetProxyCfg(const ProxyCfg& cfg) {
    std::lock_guard<std::mutex> lock(proxyMutex);
    proxyCfg = cfg;
}

namespace runtime {

bool ParseProxyUrl(const std::string& text, ProxyCfg& cfg, std::string* error) {
    if (text == "none" || text.empty()) {
        cfg = ProxyCfg{};
        return true;
    }
    ProxyCfg parsed;
    std::string rest;
    auto lower = text;
    for (auto& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.rfind("http://", 0) == 0) {
        parsed.type = ProxyCfg::kHttpConnect;
        rest = text.substr(7);
    } else if (lower.rfind("socks5://", 0) == 0 || lower.rfind("socks5h://", 0) == 0) {
        parsed.type = ProxyCfg::kSocks5;
        rest = text.substr(text.find("://") + 3);
    } else {
        return Refuse(error, "the proxy must be none, http://HOST:PORT or socks5://HOST:PORT");
    }
    while (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    for (char c : rest) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f || c == '/' || c == '?' || c == '#')
            return Refuse(error, "the proxy address has a path or a blank in it");
    }
    auto at = rest.rfind('@');
    if (at != std::string::npos) {
        std::string credentials = rest.substr(0, at);
        rest = rest.substr(at + 1);
        auto colon = credentials.find(':');
        std::string user = credentials.substr(0, colon);
        std::string password = colon == std::string::npos ? std::string() : credentials.substr(colon + 1);
        if (!PercentDecode(user, parsed.user) || !PercentDecode(password, parsed.password))
            return Refuse(error, "the proxy user or password has a bad %-escape");
        if (parsed.user.empty())
            return Refuse(error, "the proxy user is empty");
    }
    std::string portText;
    if (!rest.empty() && rest.front() == '[') {
        auto close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return Refuse(error, "the proxy address needs a port");
        parsed.host = rest.substr(1, close - 1);
        portText = rest.substr(close + 2);
    } else {
        auto colon = rest.rfind(':');
        if (colon == std::string::npos)
            return Refuse(error, "the proxy address needs a port");
        parsed.host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
    }
    if (parsed.host.empty())
        return Refuse(error, "the proxy address has no host");
    if (portText.empty() || portText.size() > 5)
        return Refuse(error, "the proxy port is not a number from 1 to 65535");
    long port = 0;
    for (char c : portText) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return Refuse(error, "the proxy port is not a number from 1 to 65535");
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535)
        return Refuse(error, "the proxy port is not a number from 1 to 65535");
    parsed.port = static_cast<std::uint16_t>(port);
    cfg = parsed;
    return true;
}

} // namespace runtime
} // namespace tavi
