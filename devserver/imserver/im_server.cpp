#include "devserver/imserver/im_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/crypto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ostream>

#include "host/common.h"
#include "service/packets.h"
#include "service/settings.h"

namespace imserver {
namespace {

namespace wire = tavi::runtime::messenger;
using wire::MessageKind;

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The name under which a plug-in service's settings are kept.
const char* DataNameOf(std::uint16_t serviceId) {
    return serviceId == microblog::kServiceId ? microblog::kSettingsName : nullptr;
}

// Reads a whole packet body of a given type; false when it runs short or leaves bytes over.
template <class Packet> bool ReadPacket(const std::string& bytes, Packet& packet) {
    tavi::Unpack unpack(bytes.data(), bytes.size());
    try {
        packet.unmarshal(unpack);
    } catch (tavi::MarshalError* error) {
        delete error;
        return false;
    }
    return unpack.empty();
}

template <class Packet> std::string Marshal(const Packet& packet) {
    tavi::Pack pack;
    packet.marshal(pack);
    return pack.str();
}

bool SameCredential(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace

ImServer::ImServer(SettingsStore& store, ServerOptions options, std::ostream& log)
    : store_(store), options_(std::move(options)), log_(log), stopFd_(eventfd(0, EFD_CLOEXEC)) {}

ImServer::~ImServer() {
    if (listenFd_ >= 0)
        close(listenFd_);
    if (stopFd_ >= 0)
        close(stopFd_);
}

void ImServer::Log(const std::string& line) {
    std::lock_guard<std::mutex> lock(logMutex_);
    log_ << "imserver: " << line << std::endl;
}

bool ImServer::Listen(std::string& error) {
    if (stopFd_ < 0) {
        error = std::strerror(errno);
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.port);
    if (inet_pton(AF_INET, options_.bindAddress.c_str(), &address.sin_addr) != 1) {
        error = "not an IPv4 address: " + options_.bindAddress;
        return false;
    }
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    if (listenFd_ < 0 || setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
        bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listenFd_, 64) != 0) {
        error = std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof(address);
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    return true;
}

void ImServer::ReapFinished() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->finished->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void ImServer::Serve(int stopFd) {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd, POLLIN, 0}};
        int ready = poll(fds, 2, 1000);
        ReapFinished();
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
            break;
        if (!(fds[0].revents & POLLIN))
            continue;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        if (static_cast<int>(workers_.size()) >= options_.maxConnections) {
            Log("too many connections; one refused");
            close(fd);
            continue;
        }
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        // A peer that stops reading cannot hold a connection's thread for ever.
        timeval sendTimeout{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof(sendTimeout));
        auto finished = std::make_shared<std::atomic<bool>>(false);
        workers_.push_back(Worker{std::thread([this, fd, finished] {
                                      ServeConnection(fd);
                                      close(fd);
                                      finished->store(true);
                                  }),
                                  finished});
    }
    // Every connection watches the stop descriptor; it stays readable.
    eventfd_write(stopFd_, 1);
    for (Worker& worker : workers_)
        worker.thread.join();
    workers_.clear();
    close(listenFd_);
    listenFd_ = -1;
}

void ImServer::ServeConnection(int fd) {
    Session session;
    wire::MessageReader reader;
    std::int64_t signInDeadline = NowMs() + options_.signInTimeoutMs;
    char buffer[16384];
    for (;;) {
        int timeout = -1;
        if (!session.signedIn) {
            std::int64_t left = signInDeadline - NowMs();
            if (left <= 0) {
                Log("dropped a connection that did not sign in");
                return;
            }
            timeout = static_cast<int>(left);
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        int ready = poll(fds, 2, timeout);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[1].revents & POLLIN))
            return;
        if (ready == 0)
            continue;
        ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return; // closed by the host
        reader.Feed(buffer, static_cast<std::size_t>(got));
        wire::Message message;
        for (;;) {
            wire::MessageReader::Result result = reader.Next(message);
            if (result == wire::MessageReader::Result::NeedMore)
                break;
            if (result == wire::MessageReader::Result::Malformed) {
                Log("dropped a connection: message length out of range");
                return;
            }
            if (!Handle(fd, session, message))
                return;
        }
    }
}

bool ImServer::Reply(int fd, MessageKind kind, std::uint32_t sequence, const std::string& payload) {
    std::string bytes = wire::EncodeMessage(kind, sequence, payload);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool ImServer::Handle(int fd, Session& session, const wire::Message& message) {
    switch (message.kind) {
    case MessageKind::SignIn: {
        wire::SignInRequest request;
        if (session.signedIn || !request.Decode(message.payload) || request.account.empty()) {
            Log("dropped a connection: bad sign-in");
            return false;
        }
        std::optional<std::string> known = store_.GetCredential(request.account);
        bool accepted = known ? SameCredential(*known, request.credential) : false;
        if (!known && options_.openRegistration && store_.SetAccount(request.account, request.credential)) {
            Log("registered " + tavi::CString_to_utf8(request.account));
            accepted = true;
        }
        wire::StatusAndTag answer;
        if (!accepted) {
            answer.status = wire::kStatusRefused;
            Log("refused the sign-in of " + tavi::CString_to_utf8(request.account));
            Reply(fd, MessageKind::SignInReply, message.sequence, answer.Encode());
            return false;
        }
        session.signedIn = true;
        session.account = request.account;
        answer.timeTag = store_.LatestTimeTag(session.account);
        Log("signed in " + tavi::CString_to_utf8(session.account) + " (time tag " +
            std::to_string(answer.timeTag) + ")");
        return Reply(fd, MessageKind::SignInReply, message.sequence, answer.Encode());
    }
    case MessageKind::TagQuery: {
        if (!session.signedIn || !message.payload.empty()) {
            Log("dropped a connection: bad time tag query");
            return false;
        }
        wire::StatusAndTag answer;
        answer.timeTag = store_.LatestTimeTag(session.account);
        return Reply(fd, MessageKind::TagReply, message.sequence, answer.Encode());
    }
    case MessageKind::Packet:
        return HandlePacket(fd, session, message);
    default:
        Log("dropped a connection: unknown message kind " + std::to_string(static_cast<int>(message.kind)));
        return false;
    }
}

bool ImServer::HandlePacket(int fd, Session& session, const wire::Message& message) {
    wire::PacketRequest request;
    microblog::LFrame frame;
    if (!session.signedIn || !request.Decode(message.payload) || !ReadPacket(request.frame, frame)) {
        Log("dropped a connection: malformed packet");
        return false;
    }
    wire::PacketReply reply;
    const char* name = DataNameOf(frame.serviceId);
    if (name == nullptr || (frame.command != microblog::kCommandFetchSettings &&
                            frame.command != microblog::kCommandUploadSettings)) {
        reply.status = wire::kStatusNotFound;
        return Reply(fd, MessageKind::PacketReply, message.sequence, reply.Encode());
    }
    std::string who = tavi::CString_to_utf8(session.account);

    if (frame.command == microblog::kCommandFetchSettings) {
        microblog::TagRecord query;
        if (!ReadPacket(request.body, query)) {
            Log("dropped a connection: malformed settings query");
            return false;
        }
        SettingsStore::Tagged stored;
        if (query.text != session.account) {
            // One user's settings are never handed to another.
            reply.status = wire::kStatusForbidden;
        } else if (!store_.Load(session.account, name, stored)) {
            reply.status = wire::kStatusServerError;
        } else {
            microblog::TaggedProperty answer;
            answer.name = name;
            answer.timeTag = stored.timeTag;
            answer.Merge(stored.data);
            reply.body = Marshal(answer);
            Log("sent " + who + " " + name + " (time tag " + std::to_string(stored.timeTag) + ", " +
                std::to_string(stored.data.Size()) + " entries)");
        }
        return Reply(fd, MessageKind::PacketReply, message.sequence, reply.Encode());
    }

    tavi::Property uploaded;
    if (!ReadPacket(request.body, uploaded)) {
        Log("dropped a connection: malformed settings upload");
        return false;
    }
    std::optional<std::uint32_t> tag = store_.Merge(session.account, name, uploaded);
    if (!tag) {
        reply.status = wire::kStatusServerError;
    } else {
        microblog::TagRecord answer;
        answer.text = name;
        answer.timeTag = *tag;
        reply.body = Marshal(answer);
        Log("stored " + who + " " + name + " (time tag " + std::to_string(*tag) + ", " +
            std::to_string(uploaded.Size()) + " entries)");
    }
    return Reply(fd, MessageKind::PacketReply, message.sequence, reply.Encode());
}

} // namespace imserver
