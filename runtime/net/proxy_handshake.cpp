#include "runtime/net/proxy_handshake.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>

#include "host/common.h"
#include "host/xcomm.h"

namespace tavi::runtime {
namespace {

constexpr unsigned char kSocksVersion = 5;
constexpr unsigned char kSocksNoAuth = 0;
constexpr unsigned char kSocksUserPassword = 2;
constexpr unsigned char kSocksNoAcceptableMethod = 0xff;
constexpr unsigned char kSocksConnect = 1;
constexpr unsigned char kSocksIPv4 = 1;
constexpr unsigned char kSocksDomain = 3;
constexpr unsigned char kSocksIPv6 = 4;

std::string Authority(const std::string& host, std::uint16_t port) {
    bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool HasControlBytes(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return true;
    }
    return false;
}

// What a SOCKS5 proxy's reply code says about the target.
int SocksReplyError(unsigned char code) {
    switch (code) {
    case 3:
        return ENETUNREACH;
    case 4:
        return EHOSTUNREACH;
    case 5:
        return ECONNREFUSED;
    case 6:
        return ETIMEDOUT;
    default:
        return kXCommErrorProxy;
    }
}

} // namespace

ProxyHandshake::ProxyHandshake(const ProxyCfg& proxy, std::string host, std::uint16_t port)
    : proxy_(proxy), host_(std::move(host)), port_(port) {}

ProxyHandshake::Step ProxyHandshake::Fail(int error) {
    phase_ = Phase::kFailed;
    error_ = error;
    return Step::kFailed;
}

ProxyHandshake::Step ProxyHandshake::Start(std::string& out) {
    if (host_.empty() || port_ == 0 || HasControlBytes(host_))
        return Fail(kXCommErrorBadArgument);
    if (proxy_.type == ProxyCfg::kHttpConnect) {
        if (HasControlBytes(proxy_.user) || HasControlBytes(proxy_.password))
            return Fail(kXCommErrorBadArgument);
        std::string authority = Authority(host_, port_);
        out += "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
        if (!proxy_.user.empty())
            out +=
                "Proxy-Authorization: Basic " + base64_encode(proxy_.user + ":" + proxy_.password) + "\r\n";
        out += "\r\n";
        phase_ = Phase::kHttpReply;
        return Step::kNeedMore;
    }
    if (proxy_.type == ProxyCfg::kSocks5) {
        if (host_.size() > 255 || proxy_.user.size() > 255 || proxy_.password.size() > 255)
            return Fail(kXCommErrorBadArgument);
        if (proxy_.user.empty()) {
            out += {static_cast<char>(kSocksVersion), 1, static_cast<char>(kSocksNoAuth)};
        } else {
            out += {static_cast<char>(kSocksVersion), 2, static_cast<char>(kSocksNoAuth),
                    static_cast<char>(kSocksUserPassword)};
        }
        phase_ = Phase::kSocksMethod;
        return Step::kNeedMore;
    }
    return Fail(kXCommErrorBadArgument);
}

ProxyHandshake::Step ProxyHandshake::Feed(const char* bytes, std::size_t n, std::string& out) {
    if (phase_ == Phase::kFailed)
        return Step::kFailed;
    if (phase_ == Phase::kDone) {
        leftover_.append(bytes, n);
        return Step::kDone;
    }
    reply_.append(bytes, n);
    if (phase_ == Phase::kHttpReply)
        return FeedHttp(out);
    return FeedSocks(out);
}

ProxyHandshake::Step ProxyHandshake::FeedHttp(std::string&) {
    auto end = reply_.find("\r\n\r\n");
    if (end == std::string::npos)
        return reply_.size() > kMaxReplyBytes ? Fail(kXCommErrorProxy) : Step::kNeedMore;
    // "HTTP/1.x NNN reason": any 2xx opens the tunnel.
    if (end < 12 || reply_.compare(0, 5, "HTTP/") != 0)
        return Fail(kXCommErrorProxy);
    auto space = reply_.find(' ');
    if (space == std::string::npos || space + 3 >= end)
        return Fail(kXCommErrorProxy);
    int status = 0;
    for (std::size_t i = space + 1; i < space + 4; ++i) {
        char c = reply_[i];
        if (c < '0' || c > '9')
            return Fail(kXCommErrorProxy);
        status = status * 10 + (c - '0');
    }
    if (status == 407)
        return Fail(kXCommErrorProxyAuth);
    if (status < 200 || status > 299)
        return Fail(kXCommErrorProxy);
    leftover_ = reply_.substr(end + 4);
    reply_.clear();
    phase_ = Phase::kDone;
    return Step::kDone;
}

void ProxyHandshake::WriteSocksRequest(std::string& out) {
    out += {static_cast<char>(kSocksVersion), static_cast<char>(kSocksConnect), 0};
    unsigned char v4[4];
    unsigned char v6[16];
    if (inet_pton(AF_INET, host_.c_str(), v4) == 1) {
        out.push_back(static_cast<char>(kSocksIPv4));
        out.append(reinterpret_cast<const char*>(v4), sizeof(v4));
    } else if (inet_pton(AF_INET6, host_.c_str(), v6) == 1) {
        out.push_back(static_cast<char>(kSocksIPv6));
        out.append(reinterpret_cast<const char*>(v6), sizeof(v6));
    } else {
        out.push_back(static_cast<char>(kSocksDomain));
        out.push_back(static_cast<char>(host_.size()));
        out += host_;
    }
    out.push_back(static_cast<char>(port_ >> 8));
    out.push_back(static_cast<char>(port_ & 0xff));
    phase_ = Phase::kSocksReply;
}

ProxyHandshake::Step ProxyHandshake::FeedSocks(std::string& out) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(reply_[i]); };
    for (;;) {
        switch (phase_) {
        case Phase::kSocksMethod: {
            if (reply_.size() < 2)
                return Step::kNeedMore;
            if (byte(0) != kSocksVersion)
                return Fail(kXCommErrorProxy);
            unsigned char method = byte(1);
            reply_.erase(0, 2);
            if (method == kSocksNoAuth) {
                WriteSocksRequest(out);
            } else if (method == kSocksUserPassword && !proxy_.user.empty()) {
                out.push_back(1);
                out.push_back(static_cast<char>(proxy_.user.size()));
                out += proxy_.user;
                out.push_back(static_cast<char>(proxy_.password.size()));
                out += proxy_.password;
                phase_ = Phase::kSocksAuth;
            } else if (method == kSocksNoAcceptableMethod) {
                return Fail(kXCommErrorProxyAuth);
            } else {
                return Fail(kXCommErrorProxy);
            }
            break;
        }
        case Phase::kSocksAuth:
            if (reply_.size() < 2)
                return Step::kNeedMore;
            if (byte(0) != 1)
                return Fail(kXCommErrorProxy);
            if (byte(1) != 0)
                return Fail(kXCommErrorProxyAuth);
            reply_.erase(0, 2);
            WriteSocksRequest(out);
            break;
        case Phase::kSocksReply: {
            // VER REP RSV ATYP BND.ADDR BND.PORT
            if (reply_.size() < 2)
                return Step::kNeedMore;
            if (byte(0) != kSocksVersion)
                return Fail(kXCommErrorProxy);
            if (byte(1) != 0)
                return Fail(SocksReplyError(byte(1)));
            if (reply_.size() < 5)
                return Step::kNeedMore;
            std::size_t address;
            switch (byte(3)) {
            case kSocksIPv4:
                address = 4;
                break;
            case kSocksIPv6:
                address = 16;
                break;
            case kSocksDomain:
                address = 1 + byte(4);
                break;
            default:
                return Fail(kXCommErrorProxy);
            }
            std::size_t total = 4 + address + 2;
            if (reply_.size() < total)
                return Step::kNeedMore;
            leftover_ = reply_.substr(total);
            reply_.clear();
            phase_ = Phase::kDone;
            return Step::kDone;
        }
        default:
            return Fail(kXCommErrorProxy);
        }
    }
}

} // namespace tavi::runtime
