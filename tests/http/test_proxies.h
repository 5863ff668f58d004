// Proxies on 127.0.0.1 for the transport tests: an HTTP CONNECT proxy and a SOCKS5 proxy, each
// with an optional user and password, that open tunnels to loopback targets only and relay bytes
// both ways until either side closes.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/global_helper.h"
#include "tests/http/loopback_server.h"

namespace httptest {

class TestProxy {
public:
    virtual ~TestProxy() = default;
    std::uint16_t port() const { return server_->port(); }
    // The targets asked for, as "host:port", in order; and how many tunnels were opened.
    std::vector<std::string> Targets() const;
    int Tunnels() const;
    // The settings that send connections through this proxy, with the given credentials.
    tavi::ProxyCfg Settings(const std::string& user = "", const std::string& password = "") const;

protected:
    TestProxy(std::string user, std::string password)
        : user_(std::move(user)), password_(std::move(password)) {}
    void Start(LoopbackServer::Script script) {
        server_ = std::make_unique<LoopbackServer>(std::move(script));
    }
    // Connects to a loopback target; -1 for any other host, or when nothing listens.
    int OpenTarget(const std::string& host, std::uint16_t port);
    // Passes bytes both ways until either side closes or the proxy stops.
    static void Relay(Connection& client, int target);

    std::string user_;
    std::string password_;
    int type_ = tavi::ProxyCfg::kNone;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> targets_;
    int tunnels_ = 0;
    std::unique_ptr<LoopbackServer> server_;
};

class HttpConnectProxy : public TestProxy {
public:
    explicit HttpConnectProxy(std::string user = "", std::string password = "");
    ~HttpConnectProxy() override;

private:
    void Serve(Connection& client);
};

class Socks5Proxy : public TestProxy {
public:
    explicit Socks5Proxy(std::string user = "", std::string password = "");
    ~Socks5Proxy() override;

private:
    void Serve(Connection& client);
};

} // namespace httptest
