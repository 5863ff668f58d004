// Test servers on 127.0.0.1: a listener that runs a script for each connection it accepts, each on
// a thread of its own, with the helpers a script needs to write chosen bytes in chosen pieces with
// chosen pauses.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace httptest {

class LoopbackServer;

// One accepted connection, as its script sees it. Blocking calls end early when the server stops.
class Connection {
public:
    Connection(int fd, LoopbackServer& server) : fd_(fd), server_(server) {}
    int fd() const { return fd_; }
    int StopFd() const;
    // Bytes read past the last request, which a relay must pass on.
    std::string TakePending() { return std::move(pending_); }

    // Reads one request: its header block and the body its Content-Length announces. Empty when
    // the peer closed first or the server stopped.
    std::string ReadRequest();
    // Reads exactly n bytes (fewer when the peer closed first).
    std::string ReadExactly(std::size_t n);
    bool Write(std::string_view bytes);
    // Writes bytes in pieces of the given size, pausing between pieces.
    bool WriteInPieces(std::string_view bytes, std::size_t piece, int pauseMs);
    void Pause(int milliseconds);
    // Keeps the connection open, writing nothing, until the peer closes or the server stops.
    void HoldUntilPeerCloses();
    // Makes the close after the script an abortive one: the peer sees a reset, not the end.
    void Reset();

private:
    // Waits for the socket to be readable; false when the server stops first.
    bool WaitReadable();
    int fd_;
    LoopbackServer& server_;
    std::string pending_; // read beyond the last request
};

class LoopbackServer {
public:
    using Script = std::function<void(Connection&)>;

    explicit LoopbackServer(Script script);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string Url(const std::string& path) const;
    // Stops accepting, wakes every script and waits for them to end.
    void Stop();
    bool Stopping() const { return stopping_.load(); }
    int StopFd() const { return stopFd_; }

    // Requests read by ReadRequest, in order.
    std::vector<std::string> Requests() const;
    int Accepted() const { return accepted_.load(); }
    // Waits until that many connection scripts have returned.
    bool WaitFinished(int count, int boundMs) const;
    // Waits until that many requests have been read.
    bool WaitRequests(std::size_t count, int boundMs) const;

    void RecordRequest(const std::string& request);

private:
    void AcceptLoop();

    Script script_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::thread> workers_;
    std::vector<int> openFds_;
    std::vector<std::string> requests_;
    int finished_ = 0;
};

// A port on 127.0.0.1 on which nothing listens (bound a moment ago and let go).
std::uint16_t UnusedLoopbackPort();

// A blocking connection to 127.0.0.1:port; -1 on failure.
int ConnectLoopback(std::uint16_t port);

// A name for a parameterised case, from its description.
std::string CaseName(const char* description);

// A reply with a Content-Length header.
std::string ReplyWithLength(int status, const std::string& body);
// A chunked reply with one chunk per piece.
std::string ChunkedReply(const std::vector<std::string>& pieces);

} // namespace httptest
