#include "runtime/messenger/messenger_connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace tavi::runtime {
namespace {

using messenger::MessageKind;

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int RemainingMs(std::int64_t deadline) {
    std::int64_t left = deadline - NowMs();
    if (left <= 0)
        return 0;
    return static_cast<int>(std::min<std::int64_t>(left, 1 << 30));
}

void DrainWake(int fd) {
    eventfd_t ignored;
    eventfd_read(fd, &ignored);
}

} // namespace

MessengerConnection::MessengerConnection(Options options, Events events)
    : options_(std::move(options)), events_(std::move(events)),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

MessengerConnection::~MessengerConnection() {
    Close();
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

void MessengerConnection::Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_ || stopping_ || wakeFd_ < 0)
        return;
    started_ = true;
    state_ = State::Connecting;
    thread_ = std::thread(&MessengerConnection::Run, this);
}

void MessengerConnection::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        DropPendingLocked();
        state_ = State::Stopped;
    }
    changed_.notify_all();
    Wake();
    std::lock_guard<std::mutex> lock(joinMutex_);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void MessengerConnection::Wake() {
    if (wakeFd_ >= 0)
        eventfd_write(wakeFd_, 1);
}

bool MessengerConnection::WaitSignedIn(std::int64_t boundMilliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(boundMilliseconds, 0)),
                      [this] { return stopping_ || state_ == State::SignedIn || state_ == State::Refused; });
    return state_ == State::SignedIn;
}

MessengerConnection::State MessengerConnection::GetState() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

int MessengerConnection::GetConnectCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connects_;
}

std::int64_t MessengerConnection::CappedWait(int seconds) const {
    std::int64_t wait = seconds > 0 ? static_cast<std::int64_t>(seconds) * 1000 : 0;
    if (options_.replyWaitLimitMs >= 0)
        wait = std::min(wait, options_.replyWaitLimitMs);
    return wait;
}

std::unique_ptr<Unpack> MessengerConnection::SendAndWait(const std::string& frame, const std::string& body,
                                                         bool wait, int seconds) {
    messenger::PacketRequest request{frame, body};
    std::optional<std::string> payload =
        Exchange(MessageKind::Packet, request.Encode(), MessageKind::PacketReply, wait, CappedWait(seconds));
    if (!payload)
        return nullptr;
    messenger::PacketReply reply;
    if (!reply.Decode(*payload) || reply.status != messenger::kStatusOk)
        return nullptr;
    return std::make_unique<Unpack>(std::move(reply.body));
}

std::optional<std::uint32_t> MessengerConnection::QueryTimeTag(int seconds) {
    std::optional<std::string> payload =
        Exchange(MessageKind::TagQuery, std::string(), MessageKind::TagReply, true, CappedWait(seconds));
    messenger::StatusAndTag reply;
    if (!payload || !reply.Decode(*payload) || reply.status != messenger::kStatusOk)
        return std::nullopt;
    return reply.timeTag;
}

std::optional<std::string> MessengerConnection::Exchange(MessageKind kind, const std::string& payload,
                                                         MessageKind replyKind, bool wait,
                                                         std::int64_t waitMilliseconds) {
    if (payload.size() + messenger::kMessageHeaderBytes > messenger::kMaxMessageBytes)
        return std::nullopt; // the server would refuse it; nothing is sent
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
    std::unique_lock<std::mutex> lock(mutex_);
    if (!started_ || stopping_ || state_ == State::Refused)
        return std::nullopt;
    if (state_ != State::SignedIn) {
        // Skip the pause between attempts: someone is waiting for the connection.
        retryNow_ = true;
        changed_.notify_all();
        changed_.wait_until(lock, deadline, [this] { return stopping_ || state_ != State::Connecting; });
        if (state_ != State::SignedIn)
            return std::nullopt;
    }
    std::uint32_t sequence = nextSequence_++;
    if (nextSequence_ == 0)
        nextSequence_ = 1;
    outbound_ += messenger::EncodeMessage(kind, sequence, payload);
    if (!wait) {
        lock.unlock();
        Wake();
        return std::nullopt;
    }
    auto pending = std::make_shared<Pending>();
    pending->replyKind = replyKind;
    pending_[sequence] = pending;
    lock.unlock();
    Wake();
    lock.lock();
    changed_.wait_until(lock, deadline, [&] { return pending->done; });
    pending_.erase(sequence);
    if (!pending->answered)
        return std::nullopt;
    return std::move(pending->payload);
}

void MessengerConnection::DropPendingLocked() {
    for (auto& [sequence, pending] : pending_)
        pending->done = true;
    pending_.clear();
    outbound_.clear();
}

void MessengerConnection::Run() {
    std::int64_t pause = std::max<std::int64_t>(options_.retryMinMs, 1);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_)
                break;
            retryNow_ = false;
        }
        bool hadSignedIn = false;
        bool refused = false;
        int fd = Connect(NowMs() + options_.connectTimeoutMs);
        if (fd >= 0) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++connects_;
            }
            hadSignedIn = Serve(fd);
            close(fd);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            DropPendingLocked();
            refused = state_ == State::Refused;
            if (!stopping_ && !refused)
                state_ = State::Connecting;
        }
        changed_.notify_all();
        if (hadSignedIn && events_.onSignedOut)
            events_.onSignedOut();
        if (hadSignedIn)
            pause = std::max<std::int64_t>(options_.retryMinMs, 1);
        // Refused credentials will not change soon: try again only after the longest pause.
        std::int64_t wait = refused ? options_.retryMaxMs : pause;
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(wait), [this] { return stopping_ || retryNow_; });
        if (stopping_)
            break;
        if (refused)
            state_ = State::Connecting;
        pause = std::min(pause * 2, std::max<std::int64_t>(options_.retryMaxMs, 1));
    }
}

int MessengerConnection::Connect(std::int64_t deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(options_.host.c_str(), std::to_string(options_.port).c_str(), &hints, &found) != 0)
        return -1;
    int connected = -1;
    for (addrinfo* at = found; at != nullptr && connected < 0; at = at->ai_next) {
        int fd = socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0)
            continue;
        if (connect(fd, at->ai_addr, at->ai_addrlen) != 0 && errno != EINPROGRESS) {
            close(fd);
            continue;
        }
        // Wait for the connection, or for Close.
        for (;;) {
            pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd_, POLLIN, 0}};
            int ready = poll(fds, 2, RemainingMs(deadline));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready > 0 && (fds[1].revents & POLLIN)) {
                DrainWake(wakeFd_);
                std::lock_guard<std::mutex> lock(mutex_);
                if (!stopping_)
                    continue;
            }
            int error = 0;
            socklen_t length = sizeof(error);
            if (ready > 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) &&
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
                connected = fd;
            break;
        }
        if (connected < 0)
            close(fd);
    }
    freeaddrinfo(found);
    if (connected >= 0) {
        int on = 1;
        setsockopt(connected, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    }
    return connected;
}

bool MessengerConnection::Serve(int fd) {
    std::uint32_t signInSequence;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_)
            return false;
        signInSequence = nextSequence_++;
        if (nextSequence_ == 0)
            nextSequence_ = 1;
        messenger::SignInRequest request{options_.account, options_.credential};
        outbound_ = messenger::EncodeMessage(MessageKind::SignIn, signInSequence, request.Encode());
    }
    std::int64_t signInDeadline = NowMs() + options_.connectTimeoutMs;
    bool signedIn = false;
    messenger::MessageReader reader;
    char buffer[16384];
    for (;;) {
        bool wantWrite;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_)
                return signedIn;
            wantWrite = !outbound_.empty();
        }
        int timeout = -1;
        if (!signedIn) {
            timeout = RemainingMs(signInDeadline);
            if (timeout == 0)
                return false; // no answer to the sign-in
        }
        pollfd fds[2] = {{fd, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0},
                         {wakeFd_, POLLIN, 0}};
        int ready = poll(fds, 2, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return signedIn;
        }
        if (fds[1].revents & POLLIN)
            DrainWake(wakeFd_);
        if (fds[0].revents & POLLOUT) {
            std::lock_guard<std::mutex> lock(mutex_);
            ssize_t sent = send(fd, outbound_.data(), outbound_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0)
                outbound_.erase(0, static_cast<std::size_t>(sent));
            else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return signedIn;
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            ssize_t got = recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
            if (got == 0)
                return signedIn; // the server closed the connection
            if (got < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                    continue;
                return signedIn;
            }
            reader.Feed(buffer, static_cast<std::size_t>(got));
            messenger::Message message;
            for (;;) {
                messenger::MessageReader::Result result = reader.Next(message);
                if (result == messenger::MessageReader::Result::NeedMore)
                    break;
                if (result == messenger::MessageReader::Result::Malformed)
                    return signedIn; // the stream cannot be followed any further
                if (message.kind == MessageKind::SignInReply) {
                    if (signedIn || message.sequence != signInSequence)
                        continue;
                    messenger::StatusAndTag answer;
                    if (!answer.Decode(message.payload))
                        return false;
                    if (answer.status != messenger::kStatusOk) {
                        {
                            std::lock_guard<std::mutex> lock(mutex_);
                            state_ = State::Refused;
                        }
                        changed_.notify_all();
                        return false;
                    }
                    signedIn = true;
                    // The host hears of the sign-in (and the server's tag) before anyone sees the
                    // connection as signed in.
                    if (events_.onSignedIn)
                        events_.onSignedIn(answer.timeTag);
                    {
                        std::lock_guard<std::mutex> lock(mutex_);
                        if (stopping_)
                            return true;
                        state_ = State::SignedIn;
                    }
                    changed_.notify_all();
                    continue;
                }
                // A reply nobody waits for any more (its caller gave up) is dropped.
                std::lock_guard<std::mutex> lock(mutex_);
                auto found = pending_.find(message.sequence);
                if (found != pending_.end() && found->second->replyKind == message.kind) {
                    found->second->payload = std::move(message.payload);
                    found->second->answered = true;
                    found->second->done = true;
                    pending_.erase(found);
                    changed_.notify_all();
                }
            }
        }
    }
}

std::shared_ptr<MessengerConnection> ConnectMessenger(TaviCore& core, MessengerConnection::Options options) {
    if (options.account.empty())
        options.account = core.GetUserAccount();
    if (options.credential.empty())
        options.credential = core.GetUserPassword();
    MessengerConnection::Events events;
    events.onSignedIn = [&core](std::uint32_t serverTimeTag) { core.OnMessengerSignedIn(serverTimeTag); };
    events.onSignedOut = [&core] { core.OnMessengerSignedOut(); };
    auto connection = std::make_shared<MessengerConnection>(std::move(options), std::move(events));
    core.SetMessengerLink(connection);
    connection->Start();
    return connection;
}

bool ParseHostAndPort(const std::string& text, std::string& host, std::uint16_t& port) {
    std::string portText;
    if (!text.empty() && text[0] == '[') {
        std::size_t close = text.find("]:");
        if (close == std::string::npos)
            return false;
        host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
    } else {
        std::size_t colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon)
            return false;
        host = text.substr(0, colon);
        portText = text.substr(colon + 1);
    }
    if (host.empty() || portText.empty() || portText.size() > 5 ||
        !std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    unsigned long value = std::stoul(portText);
    if (value == 0 || value > 65535)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

} // namespace tavi::runtime
