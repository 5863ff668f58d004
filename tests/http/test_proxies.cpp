#include "tests/http/test_proxies.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <strings.h>

#include "host/common.h"

namespace httptest {

std::vector<std::string> TestProxy::Targets() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return targets_;
}

int TestProxy::Tunnels() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tunnels_;
}

tavi::ProxyCfg TestProxy::Settings(const std::string& user, const std::string& password) const {
    tavi::ProxyCfg cfg;
    cfg.type = type_;
    cfg.host = "127.0.0.1";
    cfg.port = port();
    cfg.user = user;
    cfg.password = password;
    return cfg;
}

int TestProxy::OpenTarget(const std::string& host, std::uint16_t port) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        targets_.push_back(host + ":" + std::to_string(port));
    }
    // The tests never reach beyond this machine's loopback.
    if (host != "127.0.0.1" && host != "localhost")
        return -1;
    int fd = ConnectLoopback(port);
    if (fd >= 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++tunnels_;
    }
    return fd;
}

void TestProxy::Relay(Connection& client, int target) {
    std::string early = client.TakePending();
    if (!early.empty() && send(target, early.data(), early.size(), MSG_NOSIGNAL) < 0)
        return;
    char buffer[16384];
    bool clientOpen = true, targetOpen = true;
    while (clientOpen || targetOpen) {
        pollfd fds[3] = {{clientOpen ? client.fd() : -1, POLLIN, 0},
                         {targetOpen ? target : -1, POLLIN, 0},
                         {client.StopFd(), POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[2].revents & POLLIN)
            return;
        for (int side = 0; side < 2; ++side) {
            if (!fds[side].revents)
                continue;
            int from = side == 0 ? client.fd() : target;
            int to = side == 0 ? target : client.fd();
            ssize_t n = recv(from, buffer, sizeof(buffer), 0);
            if (n <= 0) {
                // Pass the end on, and keep relaying the other way until it ends too.
                shutdown(to, SHUT_WR);
                (side == 0 ? clientOpen : targetOpen) = false;
                continue;
            }
            if (send(to, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) < 0)
                return;
        }
    }
}

HttpConnectProxy::HttpConnectProxy(std::string user, std::string password)
    : TestProxy(std::move(user), std::move(password)) {
    type_ = tavi::ProxyCfg::kHttpConnect;
    Start([this](Connection& c) { Serve(c); });
}

HttpConnectProxy::~HttpConnectProxy() = default;

void HttpConnectProxy::Serve(Connection& client) {
    std::string request = client.ReadRequest();
    // "CONNECT host:port HTTP/1.1"
    if (request.rfind("CONNECT ", 0) != 0) {
        client.Write("HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n");
        return;
    }
    std::string authority = request.substr(8, request.find(' ', 8) - 8);
    auto colon = authority.rfind(':');
    std::string host = authority.substr(0, colon);
    if (host.size() > 2 && host.front() == '[')
        host = host.substr(1, host.size() - 2);
    auto port = static_cast<std::uint16_t>(std::stoi(authority.substr(colon + 1)));
    if (!user_.empty()) {
        std::string expected =
            "\r\nProxy-Authorization: Basic " + tavi::base64_encode(user_ + ":" + password_) + "\r\n";
        if (request.find(expected) == std::string::npos) {
            client.Write(
                "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"test\"\r\n"
                "Content-Length: 0\r\n\r\n");
            return;
        }
    }
    int target = OpenTarget(host, port);
    if (target < 0) {
        client.Write("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
        return;
    }
    client.Write("HTTP/1.1 200 Connection established\r\n\r\n");
    Relay(client, target);
    close(target);
}

Socks5Proxy::Socks5Proxy(std::string user, std::string password)
    : TestProxy(std::move(user), std::move(password)) {
    type_ = tavi::ProxyCfg::kSocks5;
    Start([this](Connection& c) { Serve(c); });
}

Socks5Proxy::~Socks5Proxy() = default;

void Socks5Proxy::Serve(Connection& client) {
    auto byte = [](const std::string& s, std::size_t i) { return static_cast<unsigned char>(s[i]); };
    std::string greeting = client.ReadExactly(2);
    if (greeting.size() < 2 || byte(greeting, 0) != 5)
        return;
    std::string methods = client.ReadExactly(byte(greeting, 1));
    unsigned char wanted = user_.empty() ? 0 : 2;
    if (methods.find(static_cast<char>(wanted)) == std::string::npos) {
        client.Write(std::string("\x05\xff", 2));
        return;
    }
    client.Write(std::string{5, static_cast<char>(wanted)});
    if (wanted == 2) {
        std::string head = client.ReadExactly(2);
        if (head.size() < 2 || byte(head, 0) != 1)
            return;
        std::string user = client.ReadExactly(byte(head, 1));
        std::string length = client.ReadExactly(1);
        if (length.empty())
            return;
        std::string password = client.ReadExactly(byte(length, 0));
        bool good = user == user_ && password == password_;
        client.Write(std::string{1, static_cast<char>(good ? 0 : 1)});
        if (!good)
            return;
    }
    std::string request = client.ReadExactly(4);
    if (request.size() < 4 || byte(request, 0) != 5 || byte(request, 1) != 1)
        return;
    std::string host;
    if (byte(request, 3) == 1) {
        std::string address = client.ReadExactly(4);
        char text[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, address.data(), text, sizeof(text));
        host = text;
    } else if (byte(request, 3) == 3) {
        std::string length = client.ReadExactly(1);
        if (length.empty())
            return;
        host = client.ReadExactly(byte(length, 0));
    } else {
        client.Write(std::string("\x05\x08\x00\x01\x00\x00\x00\x00\x00\x00", 10));
        return;
    }
    std::string portBytes = client.ReadExactly(2);
    if (portBytes.size() < 2)
        return;
    auto port = static_cast<std::uint16_t>(byte(portBytes, 0) << 8 | byte(portBytes, 1));
    int target = OpenTarget(host, port);
    if (target < 0) {
        // Refused by the rules (2) or by the target (5).
        char code = host == "127.0.0.1" || host == "localhost" ? 5 : 2;
        client.Write(std::string{5, code, 0, 1, 0, 0, 0, 0, 0, 0});
        return;
    }
    // Success, bound to 127.0.0.1:1080; the reply is split to exercise the client's reading.
    client.Write(std::string{5, 0, 0, 1});
    client.Write(std::string{127, 0, 0, 1, 4, 56});
    Relay(client, target);
    close(target);
}

} // namespace httptest
