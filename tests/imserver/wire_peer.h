// Both ends of the messenger wire for tests: a client that speaks raw messages to a server, and a
// scripted server whose every connection runs a test's own handler.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "host/common.h"
#include "host/marshal.h"
#include "runtime/messenger/messenger_wire.h"

namespace imtest {

namespace wire = tavi::runtime::messenger;

// One connected socket with message framing; every read waits at most its bound.
class WirePeer {
public:
    explicit WirePeer(int fd = -1) : fd_(fd) {}
    ~WirePeer() { Close(); }
    WirePeer(const WirePeer&) = delete;
    WirePeer& operator=(const WirePeer&) = delete;

    bool Connect(std::uint16_t port) {
        Close();
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    void Close() {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }
    void ShutdownWrite() { shutdown(fd_, SHUT_WR); }
    int fd() const { return fd_; }

    bool Write(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }
    bool Send(wire::MessageKind kind, std::uint32_t sequence, const std::string& payload) {
        return Write(wire::EncodeMessage(kind, sequence, payload));
    }

    enum class Read { Message, Closed, TimedOut, Malformed };
    Read Next(wire::Message& message, int boundMilliseconds = 5000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMilliseconds);
        for (;;) {
            auto result = reader_.Next(message);
            if (result == wire::MessageReader::Result::Ready)
                return Read::Message;
            if (result == wire::MessageReader::Result::Malformed)
                return Read::Malformed;
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            pollfd fd{fd_, POLLIN, 0};
            if (left <= 0 || poll(&fd, 1, left) <= 0)
                return Read::TimedOut;
            char buffer[4096];
            ssize_t n = recv(fd_, buffer, sizeof(buffer), 0);
            if (n <= 0)
                return Read::Closed;
            reader_.Feed(buffer, static_cast<std::size_t>(n));
        }
    }
    // The next message, if it is one within the bound.
    std::optional<wire::Message> Receive(int boundMilliseconds = 5000) {
        wire::Message message;
        if (Next(message, boundMilliseconds) != Read::Message)
            return std::nullopt;
        return message;
    }
    // Reads until the peer closes; true when it did within the bound and sent only whole messages.
    bool ReadsToTheEnd(int boundMilliseconds = 5000) {
        wire::Message message;
        for (;;) {
            Read read = Next(message, boundMilliseconds);
            if (read == Read::Closed)
                return reader_.Buffered() == 0;
            if (read != Read::Message)
                return false;
        }
    }

    // A sign-in with the account and the credential; the answer's status and tag.
    std::optional<wire::StatusAndTag> SignIn(const std::string& account, const std::string& credential,
                                             std::uint32_t sequence = 1) {
        wire::SignInRequest request{account, credential};
        if (!Send(wire::MessageKind::SignIn, sequence, request.Encode()))
            return std::nullopt;
        auto reply = Receive();
        wire::StatusAndTag answer;
        if (!reply || reply->kind != wire::MessageKind::SignInReply || reply->sequence != sequence ||
            !answer.Decode(reply->payload))
            return std::nullopt;
        return answer;
    }
    // A packet exchange; the reply, when one came.
    std::optional<wire::PacketReply> Exchange(const tavi::Marshallable& frame, const tavi::Marshallable& body,
                                              std::uint32_t sequence) {
        wire::PacketRequest request{Marshal(frame), Marshal(body)};
        if (!Send(wire::MessageKind::Packet, sequence, request.Encode()))
            return std::nullopt;
        auto reply = Receive();
        wire::PacketReply answer;
        if (!reply || reply->kind != wire::MessageKind::PacketReply || reply->sequence != sequence ||
            !answer.Decode(reply->payload))
            return std::nullopt;
        return answer;
    }

    static std::string Marshal(const tavi::Marshallable& packet) {
        tavi::Pack pack;
        packet.marshal(pack);
        return pack.str();
    }

private:
    int fd_;
    wire::MessageReader reader_;
};

// A loopback server that runs the handler for each connection on a thread of its own.
class ScriptedServer {
public:
    using Handler = std::function<void(WirePeer& connection, int index)>;

    explicit ScriptedServer(Handler handler) : handler_(std::move(handler)) {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            listen(listen_, 16) != 0)
            return;
        getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~ScriptedServer() {
        stopping_ = true;
        shutdown(listen_, SHUT_RDWR);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (int fd : open_)
                shutdown(fd, SHUT_RDWR);
        }
        if (acceptor_.joinable())
            acceptor_.join();
        for (std::thread& thread : threads_)
            thread.join();
        close(listen_);
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t port() const { return port_; }
    int Accepted() const { return accepted_.load(); }
    bool Stopping() const { return stopping_.load(); }

    // The sign-in answer most handlers start with: accepted, with the given server tag.
    static bool AcceptSignIn(WirePeer& connection, std::uint32_t tag) {
        auto message = connection.Receive();
        if (!message || message->kind != wire::MessageKind::SignIn)
            return false;
        wire::StatusAndTag answer;
        answer.timeTag = tag;
        return connection.Send(wire::MessageKind::SignInReply, message->sequence, answer.Encode());
    }

private:
    void Accept() {
        for (;;) {
            int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0 || stopping_) {
                if (fd >= 0)
                    close(fd);
                return;
            }
            int index = accepted_++;
            std::lock_guard<std::mutex> lock(mutex_);
            open_.push_back(fd);
            threads_.emplace_back([this, fd, index] {
                WirePeer connection(fd);
                handler_(connection, index);
                std::lock_guard<std::mutex> lock(mutex_);
                open_.remove(fd);
            });
        }
    }

    Handler handler_;
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::list<int> open_;
    std::list<std::thread> threads_;
};

} // namespace imtest
