// The host's socket library on non-blocking POSIX sockets. A connection belongs to the thread that
// called Connect: its descriptor is watched by that thread's message queue, and every event is
// delivered to the sink while that thread dispatches its messages. Names are resolved on a helper
// thread so that the owner's loop never blocks; numeric addresses are used at once. A secure
// connection runs its TLS handshake after the proxy's tunnel (if any) is open and before the owner
// hears that it is connected, so that nothing the owner sends can leave unprotected.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/xcomm.h"
#include "runtime/net/proxy_handshake.h"
#include "runtime/net/tls_session.h"
#include "runtime/platform/message_queue.h"

namespace tavi {
namespace {

using runtime::MessageQueue;
using runtime::ProxyHandshake;
using runtime::TlsSession;

// The socket is read in pieces this large; Receive hands them out in whatever sizes it is asked for.
constexpr std::size_t kReadAhead = std::size_t{64} * 1024;

// Read-ahead buffers of connections that have ended, kept for the next ones: with a connection per
// exchange, each would otherwise take its buffer from the allocator and give it back, and giving
// it back shrinks the heap, so that the next one faults the same pages in again. A few are kept,
// for the few connections that are open at once.
class ReadAheadBuffers {
public:
    static ReadAheadBuffers& Shared() {
        // Never destroyed: a connection may be released on a thread that ends after the statics.
        static auto* shared = new ReadAheadBuffers();
        return *shared;
    }
    std::unique_ptr<char[]> Take() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!spare_.empty()) {
                std::unique_ptr<char[]> buffer = std::move(spare_.back());
                spare_.pop_back();
                return buffer;
            }
        }
        return std::make_unique_for_overwrite<char[]>(kReadAhead);
    }
    void Give(std::unique_ptr<char[]> buffer) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (spare_.size() < kKept)
            spare_.push_back(std::move(buffer));
    }

private:
    static constexpr std::size_t kKept = 4;
    std::mutex mutex_;
    std::vector<std::unique_ptr<char[]>> spare_;
};

struct Address {
    sockaddr_storage storage;
    socklen_t length;
    int family;
};

// A name being resolved on a helper thread. The helper posts a socket event for the watch when it
// is done, unless the connection has stopped waiting for it.
struct Resolution {
    std::mutex mutex;
    bool done = false;
    bool cancelled = false;
    std::vector<Address> addresses;
    int error = 0;
};

int Resolve(const std::string& host, std::uint16_t port, bool numericOnly, std::vector<Address>& out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (numericOnly ? AI_NUMERICHOST : 0);
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0)
        return rc;
    for (addrinfo* each = found; each; each = each->ai_next) {
        if (each->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        Address address{};
        std::memcpy(&address.storage, each->ai_addr, each->ai_addrlen);
        address.length = each->ai_addrlen;
        address.family = each->ai_family;
        out.push_back(address);
    }
    freeaddrinfo(found);
    return out.empty() ? EAI_NONAME : 0;
}

class PosixXComm final : public IXComm {
public:
    // A new connection starts with the host's proxy settings; SetProxy replaces them.
    PosixXComm() : proxy_(GetProxyCfg()) {}
    ~PosixXComm() {
        Uninitialize();
        if (in_ && inCapacity_ == kReadAhead)
            ReadAheadBuffers::Shared().Give(std::move(in_));
    }
    PosixXComm(const PosixXComm&) = delete;
    PosixXComm& operator=(const PosixXComm&) = delete;

    void SetProxy(const ProxyCfg& proxy) override { proxy_ = proxy; }
    int Send(const char* bytes, int length) override;
    int Receive(char* buffer, int length, int flags) override;
    int Connect(const char* host, unsigned short port) override;
    void ShutDown() override;
    void Close() override;
    void SetSink(IXCommSink* sink) override { sink_ = sink; }
    void Uninitialize() override;
    void Release() override;
    void SetSecure(bool secure, const char* authorityFile) override {
        secure_ = secure;
        authorityFile_ = authorityFile ? authorityFile : "";
    }

private:
    enum class State {
        kIdle,
        kResolving,
        kConnecting,
        kHandshake,
        kTlsHandshake,
        kConnected,
        kFailed,
        kShutDown
    };

    void OnWatch(short revents);
    void Handle(short revents);
    void Rewatch(int fd, short events);
    void Raise();
    void UpdateEvents();
    void CloseSocket();
    void ResetConnection();
    void StartResolution(const std::string& host, std::uint16_t port);
    void TryNextAddress();
    void Fail(int error);
    void OnConnected();
    // The stream to the server is open (through the tunnel when there is one).
    void OnStreamOpen();
    void TlsHandshakeStep();
    // One read or write of the stream's plain bytes: a count, 0 at its end, or -1 with errno set
    // (EAGAIN when it would wait).
    ssize_t StreamRead(char* buffer, std::size_t length);
    ssize_t StreamWrite(const char* bytes, std::size_t length);
    void HandshakeIO(short revents);
    void ConnectedIO(short revents);
    void Notify();
    void FillInput();
    // Makes the read-ahead buffer at least this large (and kReadAhead at least); its bytes are
    // not kept.
    void MakeInput(std::size_t bytes);
    // Writes what is queued; false on a write error (in *error).
    bool FlushOutput(int* error);
    std::size_t InAvailable() const { return inEnd_ - inPos_; }
    bool OutPending() const { return outPos_ < out_.size(); }

    IXCommSink* sink_ = nullptr;
    ProxyCfg proxy_;
    std::shared_ptr<MessageQueue> queue_;
    ThreadId owner_ = 0;
    int watch_ = 0;
    int fd_ = -1;
    State state_ = State::kIdle;

    std::string targetHost_;
    std::uint16_t targetPort_ = 0;
    std::vector<Address> addresses_;
    std::size_t nextAddress_ = 0;
    int lastError_ = 0;
    bool connectedAtOnce_ = false;
    std::shared_ptr<Resolution> resolution_;
    std::unique_ptr<ProxyHandshake> handshake_;
    int failError_ = 0;

    bool secure_ = false;
    std::string authorityFile_;
    // The host the caller asked for, whose certificate the server must show.
    std::string serverName_;
    std::unique_ptr<TlsSession> tls_;
    // What the TLS layer waits for: during the handshake, and when a read needs a write first.
    short tlsWants_ = 0;

    std::string out_;
    std::size_t outPos_ = 0;
    // The read-ahead buffer, made (and not zero-filled) when first needed.
    std::unique_ptr<char[]> in_;
    std::size_t inCapacity_ = 0;
    std::size_t inPos_ = 0;
    std::size_t inEnd_ = 0;
    bool eof_ = false;
    bool eofTaken_ = false;
    int error_ = 0;
    bool closeAnnounced_ = false;
    bool receiveCalled_ = false;
    bool sendQueued_ = false;
    bool sendDone_ = false;
    int sendError_ = 0;

    // Release from inside an event waits until the event's handling has unwound.
    int dispatchDepth_ = 0;
    bool releasePending_ = false;
};

void PosixXComm::Rewatch(int fd, short events) {
    if (watch_ != 0)
        queue_->UnwatchFd(watch_);
    watch_ = queue_->WatchFd(fd, events, [this](short revents) { OnWatch(revents); });
}

void PosixXComm::Raise() {
    if (queue_ && watch_ != 0)
        queue_->RaiseFdEvent(watch_, 0);
}

void PosixXComm::UpdateEvents() {
    if (!queue_ || watch_ == 0)
        return;
    short events = 0;
    switch (state_) {
    case State::kConnecting:
        events = POLLOUT;
        break;
    case State::kHandshake:
        events = static_cast<short>(POLLIN | (OutPending() ? POLLOUT : 0));
        break;
    case State::kTlsHandshake:
        events = tlsWants_;
        break;
    case State::kConnected:
        if (!eof_ && error_ == 0 && InAvailable() == 0) {
            events = POLLIN | POLLPRI;
            // Bytes the TLS layer holds already make the socket no more readable: go get them.
            if (tls_ && tls_->Pending())
                Raise();
        }
        if (OutPending() || tlsWants_ == POLLOUT)
            events |= POLLOUT;
        break;
    default:
        break;
    }
    queue_->SetFdEvents(watch_, events);
}

void PosixXComm::CloseSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void PosixXComm::ResetConnection() {
    if (resolution_) {
        std::lock_guard<std::mutex> lock(resolution_->mutex);
        resolution_->cancelled = true;
    }
    resolution_.reset();
    handshake_.reset();
    if (tls_ && fd_ >= 0)
        tls_->Shutdown();
    tls_.reset();
    tlsWants_ = 0;
    CloseSocket();
    addresses_.clear();
    nextAddress_ = 0;
    lastError_ = 0;
    connectedAtOnce_ = false;
    failError_ = 0;
    out_.clear();
    outPos_ = 0;
    inPos_ = inEnd_ = 0;
    eof_ = eofTaken_ = closeAnnounced_ = receiveCalled_ = sendQueued_ = sendDone_ = false;
    error_ = sendError_ = 0;
}

int PosixXComm::Connect(const char* host, unsigned short port) {
    ThreadId self = GetCurrentThreadId();
    if (owner_ != 0 && owner_ != self)
        return EPERM;
    if (state_ != State::kIdle)
        return EISCONN;
    if (!queue_) {
        MessageQueue::Current();
        queue_ = MessageQueue::Find(self);
        if (!queue_)
            return EPERM;
        owner_ = self;
    }
    ResetConnection();
    Rewatch(-1, 0);

    std::string target = host ? host : "";
    serverName_ = target;
    if (proxy_.type == ProxyCfg::kNone) {
        targetHost_ = target;
        targetPort_ = port;
    } else {
        // The socket leads to the proxy; the handshake asks it for the target.
        handshake_ = std::make_unique<ProxyHandshake>(proxy_, target, port);
        targetHost_ = proxy_.host;
        targetPort_ = proxy_.port;
    }
    if (targetHost_.empty() || targetPort_ == 0 || target.empty() || port == 0 ||
        (proxy_.type != ProxyCfg::kNone && proxy_.type != ProxyCfg::kHttpConnect &&
         proxy_.type != ProxyCfg::kSocks5)) {
        Fail(kXCommErrorBadArgument);
        return 0;
    }
    std::vector<Address> numeric;
    if (Resolve(targetHost_, targetPort_, true, numeric) == 0) {
        addresses_ = std::move(numeric);
        TryNextAddress();
    } else {
        StartResolution(targetHost_, targetPort_);
    }
    return 0;
}

void PosixXComm::StartResolution(const std::string& host, std::uint16_t port) {
    state_ = State::kResolving;
    auto resolution = std::make_shared<Resolution>();
    resolution_ = resolution;
    ThreadId owner = owner_;
    int watch = watch_;
    try {
        std::thread([resolution, host, port, owner, watch] {
            std::vector<Address> addresses;
            int rc = Resolve(host, port, false, addresses);
            bool cancelled;
            {
                std::lock_guard<std::mutex> lock(resolution->mutex);
                resolution->addresses = std::move(addresses);
                resolution->error = rc;
                resolution->done = true;
                cancelled = resolution->cancelled;
            }
            // A stale watch id is ignored by the queue, and a thread that has ended takes no posts.
            if (!cancelled)
                PostThreadMessageA(owner, WM_SOCKET_EVENT, static_cast<std::uintptr_t>(watch), 0);
        }).detach();
    } catch (const std::system_error&) {
        resolution_.reset();
        Fail(EAGAIN);
    }
}

void PosixXComm::TryNextAddress() {
    while (nextAddress_ < addresses_.size()) {
        const Address& address = addresses_[nextAddress_++];
        CloseSocket();
        fd_ = ::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            lastError_ = errno;
            continue;
        }
        // Requests and proxy handshakes are small writes that must not wait for an acknowledgement.
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        int rc;
        do {
            rc = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address.storage), address.length);
        } while (rc != 0 && errno == EINTR);
        if (rc == 0 || errno == EINPROGRESS) {
            state_ = State::kConnecting;
            connectedAtOnce_ = rc == 0;
            Rewatch(fd_, POLLOUT);
            if (connectedAtOnce_)
                Raise();
            return;
        }
        lastError_ = errno;
    }
    CloseSocket();
    Fail(lastError_ != 0 ? lastError_ : ECONNREFUSED);
}

void PosixXComm::Fail(int error) {
    resolution_.reset();
    handshake_.reset();
    tls_.reset();
    tlsWants_ = 0;
    CloseSocket();
    state_ = State::kFailed;
    failError_ = error;
    Rewatch(-1, 0);
    Raise();
}

void PosixXComm::OnConnected() {
    if (handshake_) {
        state_ = State::kHandshake;
        if (handshake_->Start(out_) == ProxyHandshake::Step::kFailed) {
            Fail(handshake_->Error());
            return;
        }
        int error = 0;
        if (!FlushOutput(&error)) {
            Fail(error);
            return;
        }
        UpdateEvents();
        return;
    }
    OnStreamOpen();
}

void PosixXComm::OnStreamOpen() {
    if (secure_) {
        int error = 0;
        tls_ = TlsSession::Create(fd_, serverName_, authorityFile_, &error);
        if (!tls_) {
            Fail(error);
            return;
        }
        state_ = State::kTlsHandshake;
        TlsHandshakeStep();
        return;
    }
    state_ = State::kConnected;
    UpdateEvents();
    if (sink_)
        sink_->OnConnect(0);
}

void PosixXComm::TlsHandshakeStep() {
    switch (tls_->Handshake()) {
    case TlsSession::Io::kDone:
        tlsWants_ = 0;
        state_ = State::kConnected;
        UpdateEvents();
        if (sink_)
            sink_->OnConnect(0);
        return;
    case TlsSession::Io::kWantRead:
        tlsWants_ = POLLIN;
        UpdateEvents();
        return;
    case TlsSession::Io::kWantWrite:
        tlsWants_ = POLLOUT;
        UpdateEvents();
        return;
    default:
        // A server that closes during the handshake, or shows a certificate that does not verify.
        Fail(tls_->Error() != 0 ? tls_->Error() : kXCommErrorTls);
        return;
    }
}

ssize_t PosixXComm::StreamRead(char* buffer, std::size_t length) {
    if (!tls_) {
        ssize_t n;
        do {
            n = ::recv(fd_, buffer, length, 0);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    std::size_t count = 0;
    switch (tls_->Read(buffer, length, &count)) {
    case TlsSession::Io::kDone:
        if (tlsWants_ == POLLOUT)
            tlsWants_ = 0;
        return static_cast<ssize_t>(count);
    case TlsSession::Io::kClosed:
        return 0;
    case TlsSession::Io::kWantWrite:
        tlsWants_ = POLLOUT;
        errno = EAGAIN;
        return -1;
    case TlsSession::Io::kWantRead:
        // Whatever write the read waited for has gone: from now on it waits for the socket's input.
        if (tlsWants_ == POLLOUT)
            tlsWants_ = 0;
        errno = EAGAIN;
        return -1;
    default:
        errno = tls_->Error();
        return -1;
    }
}

ssize_t PosixXComm::StreamWrite(const char* bytes, std::size_t length) {
    if (!tls_) {
        ssize_t n;
        do {
            n = ::send(fd_, bytes, length, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    std::size_t count = 0;
    switch (tls_->Write(bytes, length, &count)) {
    case TlsSession::Io::kDone:
        return static_cast<ssize_t>(count);
    case TlsSession::Io::kWantRead:
    case TlsSession::Io::kWantWrite:
        errno = EAGAIN;
        return -1;
    case TlsSession::Io::kClosed:
        errno = EPIPE;
        return -1;
    default:
        errno = tls_->Error();
        return -1;
    }
}

void PosixXComm::OnWatch(short revents) {
    ++dispatchDepth_;
    Handle(revents);
    if (--dispatchDepth_ == 0 && releasePending_)
        delete this;
}

void PosixXComm::Handle(short revents) {
    switch (state_) {
    case State::kResolving: {
        if (!resolution_)
            return;
        std::vector<Address> addresses;
        int error;
        {
            std::lock_guard<std::mutex> lock(resolution_->mutex);
            if (!resolution_->done)
                return;
            addresses = std::move(resolution_->addresses);
            error = resolution_->error;
        }
        resolution_.reset();
        if (error != 0) {
            Fail(kXCommErrorHostNotFound);
            return;
        }
        addresses_ = std::move(addresses);
        nextAddress_ = 0;
        TryNextAddress();
        return;
    }
    case State::kConnecting: {
        if (revents == 0 && !connectedAtOnce_)
            return;
        int error = 0;
        socklen_t length = sizeof(error);
        if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error == 0 && (revents & (POLLERR | POLLHUP)) && !(revents & POLLOUT))
            error = ECONNREFUSED;
        if (error != 0) {
            lastError_ = error;
            TryNextAddress();
            return;
        }
        OnConnected();
        return;
    }
    case State::kHandshake:
        HandshakeIO(revents);
        return;
    case State::kTlsHandshake:
        TlsHandshakeStep();
        return;
    case State::kConnected:
        ConnectedIO(revents);
        return;
    case State::kFailed: {
        // A failed attempt is reported once; the object may then connect again.
        int error = failError_;
        state_ = State::kIdle;
        if (watch_ != 0) {
            queue_->UnwatchFd(watch_);
            watch_ = 0;
        }
        if (sink_)
            sink_->OnConnect(error);
        return;
    }
    default:
        return;
    }
}

void PosixXComm::HandshakeIO(short revents) {
    if (revents & POLLOUT) {
        int error = 0;
        if (!FlushOutput(&error)) {
            Fail(error);
            return;
        }
    }
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        char bytes[1024];
        ssize_t n;
        do {
            n = ::recv(fd_, bytes, sizeof(bytes), 0);
        } while (n < 0 && errno == EINTR);
        if (n == 0) {
            Fail(kXCommErrorProxy);
            return;
        }
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                Fail(errno);
                return;
            }
        } else {
            std::size_t before = out_.size();
            auto step = handshake_->Feed(bytes, static_cast<std::size_t>(n), out_);
            if (step == ProxyHandshake::Step::kFailed) {
                Fail(handshake_->Error());
                return;
            }
            if (out_.size() != before) {
                int error = 0;
                if (!FlushOutput(&error)) {
                    Fail(error);
                    return;
                }
            }
            if (step == ProxyHandshake::Step::kDone) {
                std::string leftover = handshake_->TakeLeftover();
                handshake_.reset();
                // A TLS server speaks only after the client's greeting: bytes here are not its.
                if (secure_ && !leftover.empty()) {
                    Fail(kXCommErrorProxy);
                    return;
                }
                if (secure_) {
                    OnStreamOpen();
                    return;
                }
                if (!leftover.empty()) {
                    MakeInput(leftover.size());
                    std::memcpy(in_.get(), leftover.data(), leftover.size());
                    inPos_ = 0;
                    inEnd_ = leftover.size();
                }
                state_ = State::kConnected;
                UpdateEvents();
                if (sink_)
                    sink_->OnConnect(0);
                if (state_ == State::kConnected && InAvailable() > 0)
                    Raise();
                return;
            }
        }
    }
    UpdateEvents();
}

void PosixXComm::ConnectedIO(short revents) {
    if (revents & POLLPRI) {
        char urgent;
        if (::recv(fd_, &urgent, 1, MSG_OOB) == 1 && sink_) {
            sink_->OnOutOfBandData(0);
            if (state_ != State::kConnected)
                return;
        }
    }
    if ((revents & POLLOUT) && OutPending()) {
        int error = 0;
        if (!FlushOutput(&error))
            sendError_ = error;
    }
    bool readable = (revents & (POLLIN | POLLHUP | POLLERR)) ||
                    (tls_ && (tls_->Pending() || (tlsWants_ == POLLOUT && (revents & POLLOUT))));
    if (readable && InAvailable() == 0 && !eof_ && error_ == 0)
        FillInput();
    Notify();
}

void PosixXComm::Notify() {
    if (sendError_ != 0 || sendDone_) {
        int error = sendError_;
        sendError_ = 0;
        sendDone_ = false;
        if (sink_)
            sink_->OnSend(error);
        if (state_ != State::kConnected)
            return;
    }
    if (InAvailable() > 0 || (eof_ && !eofTaken_)) {
        receiveCalled_ = false;
        if (sink_)
            sink_->OnReceive(0);
        if (state_ != State::kConnected)
            return;
        // As with the framework's sockets, the next receive event follows a Receive call.
        if (receiveCalled_ && (InAvailable() > 0 || (eof_ && !closeAnnounced_)))
            Raise();
    } else if (error_ != 0 && !closeAnnounced_) {
        closeAnnounced_ = true;
        if (sink_)
            sink_->OnClose(error_);
        if (state_ != State::kConnected)
            return;
    } else if (eof_ && eofTaken_ && !closeAnnounced_) {
        closeAnnounced_ = true;
        if (sink_)
            sink_->OnClose(0);
        if (state_ != State::kConnected)
            return;
    }
    UpdateEvents();
}

void PosixXComm::MakeInput(std::size_t bytes) {
    bytes = std::max(bytes, kReadAhead);
    if (inCapacity_ >= bytes)
        return;
    // The usual size comes from the shared spares; a larger one (a proxy's leftover) is its own.
    std::unique_ptr<char[]> previous = std::move(in_);
    std::size_t previousCapacity = inCapacity_;
    in_ = bytes == kReadAhead ? ReadAheadBuffers::Shared().Take()
                              : std::make_unique_for_overwrite<char[]>(bytes);
    inCapacity_ = bytes;
    if (previous && previousCapacity == kReadAhead)
        ReadAheadBuffers::Shared().Give(std::move(previous));
}

void PosixXComm::FillInput() {
    MakeInput(kReadAhead);
    inPos_ = inEnd_ = 0;
    // A TLS read gives one record; everything that has arrived is taken, as one read of the socket
    // would take it, so that a reply sent in one piece is handed out in one piece.
    do {
        ssize_t n = StreamRead(in_.get() + inEnd_, inCapacity_ - inEnd_);
        if (n > 0) {
            inEnd_ += static_cast<std::size_t>(n);
            continue;
        }
        // The end or an error is noted once what came before it has been handed out.
        if (n == 0 && inEnd_ == 0)
            eof_ = true;
        else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && inEnd_ == 0)
            error_ = errno;
        break;
    } while (tls_ && inEnd_ < inCapacity_);
}

bool PosixXComm::FlushOutput(int* error) {
    while (OutPending()) {
        ssize_t n = handshake_ ? ::send(fd_, out_.data() + outPos_, out_.size() - outPos_, MSG_NOSIGNAL)
                               : StreamWrite(out_.data() + outPos_, out_.size() - outPos_);
        if (n > 0) {
            outPos_ += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        *error = n < 0 ? errno : EPIPE;
        return false;
    }
    out_.clear();
    outPos_ = 0;
    if (sendQueued_) {
        sendQueued_ = false;
        sendDone_ = true;
    }
    return true;
}

int PosixXComm::Send(const char* bytes, int length) {
    if (state_ != State::kConnected || length < 0 || (bytes == nullptr && length > 0) || error_ != 0)
        return -1;
    if (OutPending()) {
        out_.append(bytes, static_cast<std::size_t>(length));
        return length;
    }
    std::size_t sent = 0;
    auto total = static_cast<std::size_t>(length);
    while (sent < total) {
        ssize_t n = StreamWrite(bytes + sent, total - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        sendError_ = n < 0 ? errno : EPIPE;
        Raise();
        return -1;
    }
    if (sent < total) {
        out_.assign(bytes + sent, total - sent);
        outPos_ = 0;
        sendQueued_ = true;
        UpdateEvents();
    }
    return length;
}

int PosixXComm::Receive(char* buffer, int length, int flags) {
    if (state_ != State::kConnected || flags != 0 || length < 0 || (buffer == nullptr && length > 0))
        return -1;
    receiveCalled_ = true;
    if (InAvailable() == 0 && !eof_ && error_ == 0)
        FillInput();
    if (InAvailable() > 0) {
        std::size_t n = std::min(InAvailable(), static_cast<std::size_t>(length));
        std::memcpy(buffer, in_.get() + inPos_, n);
        inPos_ += n;
        return static_cast<int>(n);
    }
    if (eof_) {
        eofTaken_ = true;
        return 0;
    }
    return -1;
}

void PosixXComm::ShutDown() {
    if (fd_ >= 0 && (state_ == State::kConnected || state_ == State::kHandshake ||
                     state_ == State::kTlsHandshake || state_ == State::kConnecting)) {
        if (tls_)
            tls_->Shutdown();
        ::shutdown(fd_, SHUT_RDWR);
    }
    if (state_ != State::kIdle)
        state_ = State::kShutDown;
}

void PosixXComm::Close() {
    ResetConnection();
    state_ = State::kIdle;
    // Only the owner may touch its queue's watches; an object that never connected has none.
    if (watch_ != 0 && queue_ && owner_ == GetCurrentThreadId()) {
        queue_->UnwatchFd(watch_);
        watch_ = 0;
    }
}

void PosixXComm::Uninitialize() {
    Close();
    sink_ = nullptr;
    watch_ = 0;
    queue_.reset();
    owner_ = 0;
}

void PosixXComm::Release() {
    if (dispatchDepth_ > 0) {
        Uninitialize();
        releasePending_ = true;
        return;
    }
    delete this;
}

} // namespace

IXComm* IXComm_Creater() {
    return new (std::nothrow) PosixXComm();
}

} // namespace tavi
