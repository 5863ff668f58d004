#include "tests/http/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace httptest {
namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

std::size_t AnnouncedLength(const std::string& header) {
    std::size_t at = 0;
    while ((at = header.find("\r\n", at)) != std::string::npos) {
        at += 2;
        if (strncasecmp(header.c_str() + at, "Content-Length:", 15) == 0)
            return static_cast<std::size_t>(std::strtoull(header.c_str() + at + 15, nullptr, 10));
    }
    return 0;
}

} // namespace

int Connection::StopFd() const {
    return server_.StopFd();
}

bool Connection::WaitReadable() {
    for (;;) {
        if (server_.Stopping())
            return false;
        pollfd fds[2] = {{fd_, POLLIN, 0}, {server_.StopFd(), POLLIN, 0}};
        int ready = poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[1].revents & POLLIN))
            return false;
        if (fds[0].revents)
            return true;
    }
}

std::string Connection::ReadRequest() {
    std::string data = std::move(pending_);
    pending_.clear();
    char buffer[4096];
    std::size_t headerEnd;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (!WaitReadable())
            return std::string();
        ssize_t n = recv(fd_, buffer, sizeof(buffer), 0);
        if (n <= 0)
            return std::string();
        data.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t total = headerEnd + 4 + AnnouncedLength(data.substr(0, headerEnd + 2));
    while (data.size() < total) {
        if (!WaitReadable())
            return std::string();
        ssize_t n = recv(fd_, buffer, sizeof(buffer), 0);
        if (n <= 0)
            return std::string();
        data.append(buffer, static_cast<std::size_t>(n));
    }
    pending_ = data.substr(total);
    data.resize(total);
    server_.RecordRequest(data);
    return data;
}

std::string Connection::ReadExactly(std::size_t n) {
    std::string data = pending_.substr(0, std::min(n, pending_.size()));
    pending_.erase(0, data.size());
    char buffer[4096];
    while (data.size() < n && WaitReadable()) {
        ssize_t got = recv(fd_, buffer, std::min(sizeof(buffer), n - data.size()), 0);
        if (got <= 0)
            break;
        data.append(buffer, static_cast<std::size_t>(got));
    }
    return data;
}

bool Connection::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool Connection::WriteInPieces(std::string_view bytes, std::size_t piece, int pauseMs) {
    while (!bytes.empty()) {
        std::size_t n = std::min(piece, bytes.size());
        if (!Write(bytes.substr(0, n)))
            return false;
        bytes.remove_prefix(n);
        if (!bytes.empty())
            Pause(pauseMs);
    }
    return true;
}

void Connection::Pause(int milliseconds) {
    // The server's own pacing: it waits on its stop signal so that stopping is never held up.
    pollfd stop{server_.StopFd(), POLLIN, 0};
    poll(&stop, 1, milliseconds);
}

void Connection::HoldUntilPeerCloses() {
    char buffer[4096];
    while (WaitReadable()) {
        if (recv(fd_, buffer, sizeof(buffer), 0) <= 0)
            return;
    }
}

void Connection::Reset() {
    linger abort{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
}

LoopbackServer::LoopbackServer(Script script) : script_(std::move(script)) {
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in address = Loopback(0);
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        listen(listenFd_, 128) == 0) {
        socklen_t length = sizeof(address);
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    Stop();
}

std::string LoopbackServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents & POLLIN)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        ++accepted_;
        std::lock_guard<std::mutex> lock(mutex_);
        openFds_.push_back(fd);
        workers_.emplace_back([this, fd] {
            {
                Connection connection(fd, *this);
                script_(connection);
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
                close(fd);
                ++finished_;
            }
            changed_.notify_all();
        });
    }
}

void LoopbackServer::Stop() {
    if (stopping_.exchange(true))
        return;
    std::uint64_t one = 1;
    if (write(stopFd_, &one, sizeof(one)) < 0) {
        // An eventfd write fails only on overflow, which one write cannot cause.
    }
    if (acceptThread_.joinable())
        acceptThread_.join();
    std::vector<std::thread> workers;
    {
        // A script blocked in a write wakes when its socket is shut down.
        std::lock_guard<std::mutex> lock(mutex_);
        workers.swap(workers_);
        for (int fd : openFds_)
            shutdown(fd, SHUT_RDWR);
    }
    for (auto& worker : workers)
        worker.join();
    close(listenFd_);
    close(stopFd_);
}

std::vector<std::string> LoopbackServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool LoopbackServer::WaitFinished(int count, int boundMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(boundMs), [&] { return finished_ >= count; });
}

void LoopbackServer::RecordRequest(const std::string& request) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
    }
    changed_.notify_all();
}

bool LoopbackServer::WaitRequests(std::size_t count, int boundMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(boundMs),
                             [&] { return requests_.size() >= count; });
}

std::uint16_t UnusedLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof(address);
    bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                 getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    close(fd);
    // Port 9 (discard) on loopback has no listener here either, should the kernel give none.
    return bound ? ntohs(address.sin_port) : 9;
}

int ConnectLoopback(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    return fd;
}

std::string CaseName(const char* description) {
    std::string name;
    for (const char* c = description; *c; ++c)
        name.push_back(std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_');
    return name;
}

std::string ReplyWithLength(int status, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) +
           " Reply\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

std::string ChunkedReply(const std::vector<std::string>& pieces) {
    std::string reply = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    char size[32];
    for (const auto& piece : pieces) {
        std::snprintf(size, sizeof(size), "%zx\r\n", piece.size());
        reply += size + piece + "\r\n";
    }
    return reply + "0\r\n\r\n";
}

} // namespace httptest
