// The client's half of setting up a tunnel through a proxy (HTTP CONNECT or SOCKS5, with an
// optional user name and password), as bytes in and bytes out; the socket does the reading and
// writing.
#pragma once

#include <cstdint>
#include <string>

#include "host/global_helper.h"

namespace tavi::runtime {

class ProxyHandshake {
public:
    enum class Step { kNeedMore, kDone, kFailed };

    // The tunnel leads to host (a name, which the proxy resolves, or a numeric address) and port.
    ProxyHandshake(const ProxyCfg& proxy, std::string host, std::uint16_t port);

    // What to write to the proxy first; kFailed when the settings cannot be used.
    Step Start(std::string& out);
    // Takes bytes read from the proxy and appends to out what to write next. After kDone the tunnel
    // is open and Leftover() holds the bytes that came after the proxy's reply.
    Step Feed(const char* bytes, std::size_t n, std::string& out);
    // The error code of kFailed: a code of host/xcomm.h or an errno value the proxy reported.
    int Error() const { return error_; }
    std::string TakeLeftover() { return std::move(leftover_); }

    // Longest proxy reply header taken before the proxy is given up on.
    static constexpr std::size_t kMaxReplyBytes = std::size_t{16} * 1024;

private:
    enum class Phase { kIdle, kHttpReply, kSocksMethod, kSocksAuth, kSocksReply, kDone, kFailed };
    Step Fail(int error);
    Step FeedHttp(std::string& out);
    Step FeedSocks(std::string& out);
    void WriteSocksRequest(std::string& out);

    ProxyCfg proxy_;
    std::string host_;
    std::uint16_t port_;
    Phase phase_ = Phase::kIdle;
    std::string reply_;
    std::string leftover_;
    int error_ = 0;
};

} // namespace tavi::runtime
