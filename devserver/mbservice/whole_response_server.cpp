#include "devserver/mbservice/whole_response_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace mbservice {

namespace {

// How often a connection that waits for its next request looks whether the server is stopping.
constexpr int kStopCheckMs = 100;

void AddressOf(const sockaddr_storage& address, std::string& ip, int& port) {
    std::array<char, INET6_ADDRSTRLEN> text{};
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, text.data(), text.size());
        port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text.data(), text.size());
        port = ntohs(v6.sin6_port);
    }
    ip = text.data();
}

class CollectingSocketStream final : public httplib::Stream {
public:
    // ssl: the connection's TLS session, or null for plain HTTP.
    CollectingSocketStream(int fd, SSL* ssl, int readTimeoutMs, int writeTimeoutMs)
        : fd_(fd), ssl_(ssl), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs) {}

    bool is_readable() const override { return HasInput() || Wait(POLLIN, readTimeoutMs_); }
    bool is_writable() const override { return Wait(POLLOUT, writeTimeoutMs_); }

    ssize_t read(char* ptr, size_t size) override {
        if (start_ == filled_) {
            // Whatever was answered so far goes out before the server waits for the peer.
            if (!Flush() || (!TlsPending() && !Wait(POLLIN, readTimeoutMs_)))
                return -1;
            ssize_t n;
            if (ssl_ != nullptr) {
                ERR_clear_error();
                n = SSL_read(ssl_, input_.data(), static_cast<int>(input_.size()));
            } else {
                do {
                    n = ::recv(fd_, input_.data(), input_.size(), 0);
                } while (n < 0 && errno == EINTR);
            }
            if (n <= 0)
                return n;
            start_ = 0;
            filled_ = static_cast<std::size_t>(n);
        }
        const std::size_t available = filled_ - start_;
        const std::size_t count = size < available ? size : available;
        std::memcpy(ptr, input_.data() + start_, count);
        start_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* ptr, size_t size) override {
        output_.append(ptr, size);
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof(address);
        if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            AddressOf(address, ip, port);
    }

    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof(address);
        if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            AddressOf(address, ip, port);
    }

    socket_t socket() const override { return fd_; }

    bool Flush() {
        if (ssl_ != nullptr && !output_.empty()) {
            // One write: the whole response in consecutive records, sent together.
            ERR_clear_error();
            std::size_t written = 0;
            const bool ok = SSL_write_ex(ssl_, output_.data(), output_.size(), &written) == 1;
            output_.clear();
            return ok;
        }
        std::size_t sent = 0;
        while (sent < output_.size()) {
            const ssize_t n = ::send(fd_, output_.data() + sent, output_.size() - sent, MSG_NOSIGNAL);
            const bool retry = n < 0 && (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) &&
                                                            Wait(POLLOUT, writeTimeoutMs_)));
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            } else if (!retry) {
                output_.clear();
                return false;
            }
        }
        output_.clear();
        return true;
    }

    bool HasInput() const { return start_ < filled_ || TlsPending(); }

    // Waits for the next request: true when bytes are there, false on timeout or when stopping says so.
    template <class Stopping> bool WaitForRequest(int timeoutMs, Stopping stopping) const {
        if (HasInput())
            return true;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!stopping()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                return false;
            if (Wait(POLLIN, static_cast<int>(left < kStopCheckMs ? left : kStopCheckMs)))
                return true;
        }
        return false;
    }

private:
    bool TlsPending() const { return ssl_ != nullptr && SSL_pending(ssl_) > 0; }

    bool Wait(short events, int timeoutMs) const {
        pollfd entry{fd_, events, 0};
        int rc;
        do {
            rc = ::poll(&entry, 1, timeoutMs);
        } while (rc < 0 && errno == EINTR);
        return rc > 0;
    }

    int fd_;
    SSL* ssl_;
    int readTimeoutMs_;
    int writeTimeoutMs_;
    std::array<char, 4096> input_{};
    std::size_t start_ = 0;
    std::size_t filled_ = 0;
    std::string output_;
};

int Milliseconds(time_t seconds, time_t microseconds) {
    return static_cast<int>(seconds * 1000 + microseconds / 1000);
}

void SetSocketTimeout(int fd, int option, int milliseconds) {
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, option, &limit, sizeof(limit));
}

// A TLS session on the accepted socket, its handshake done; null (reported on stderr) when the
// client broke it off, which is what a client does with a certificate it does not trust.
SSL* AcceptTls(SSL_CTX* context, int fd, int readTimeoutMs, int writeTimeoutMs) {
    // The handshake and the blocking TLS reads and writes after it are bounded by the socket.
    SetSocketTimeout(fd, SO_RCVTIMEO, readTimeoutMs);
    SetSocketTimeout(fd, SO_SNDTIMEO, writeTimeoutMs);
    SSL* ssl = SSL_new(context);
    if (ssl == nullptr)
        return nullptr;
    ERR_clear_error();
    if (SSL_set_fd(ssl, fd) != 1 || SSL_accept(ssl) != 1) {
        unsigned long reason = ERR_peek_last_error();
        std::fprintf(stderr, "mbservice: TLS handshake failed: %s\n",
                     reason != 0 ? ERR_reason_error_string(reason) : "connection closed");
        ERR_clear_error();
        SSL_free(ssl);
        return nullptr;
    }
    return ssl;
}

} // namespace

WholeResponseServer::~WholeResponseServer() {
    SSL_CTX_free(tls_);
}

bool WholeResponseServer::UseTls(const std::string& certificateFile, const std::string& keyFile,
                                 std::string& error) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr) {
        error = "cannot make a TLS context";
        return false;
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // Clients of this service make one connection per request and never resume a session: tickets
    // would be two more small writes, the second held back by the socket until the first is
    // acknowledged, a delayed acknowledgement later.
    SSL_CTX_set_num_tickets(context, 0);
    ERR_clear_error();
    if (SSL_CTX_use_certificate_chain_file(context, certificateFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context) != 1) {
        unsigned long reason = ERR_peek_last_error();
        error =
            "cannot use " + certificateFile + " with " + keyFile + ": " +
            (reason != 0 && ERR_reason_error_string(reason) ? ERR_reason_error_string(reason) : "unknown");
        ERR_clear_error();
        SSL_CTX_free(context);
        return false;
    }
    SSL_CTX_free(tls_);
    tls_ = context;
    return true;
}

bool WholeResponseServer::process_and_close_socket(socket_t sock) {
    bool ok = true;
    const int readTimeoutMs = Milliseconds(read_timeout_sec_, read_timeout_usec_);
    const int writeTimeoutMs = Milliseconds(write_timeout_sec_, write_timeout_usec_);
    SSL* ssl = nullptr;
    if (tls_ != nullptr) {
        ssl = AcceptTls(tls_, sock, readTimeoutMs, writeTimeoutMs);
        if (ssl == nullptr) {
            ::close(sock);
            return false;
        }
    }
    {
        CollectingSocketStream stream(sock, ssl, readTimeoutMs, writeTimeoutMs);
        auto stopping = [this] { return svr_sock_ == INVALID_SOCKET; };
        for (std::size_t left = keep_alive_max_count_;
             left > 0 && stream.WaitForRequest(Milliseconds(keep_alive_timeout_sec_, 0), stopping); --left) {
            bool closed = false;
            ok = process_request(stream, left == 1, closed, [](httplib::Request&) {});
            if (!stream.Flush())
                ok = false;
            if (!ok || closed)
                break;
        }
    }
    if (ssl != nullptr) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

} // namespace mbservice
