// The host's connection to the messenger server: a TCP connection that signs in with the messenger
// account and its password credential when it opens, carries the plug-ins' packets and matches
// each reply to its request. One thread per connection connects, signs in, writes and reads, and
// connects again after the connection drops; callers wait for their replies with a bound.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "runtime/core/tavi_core.h"
#include "runtime/messenger/messenger_wire.h"

namespace tavi::runtime {

class MessengerConnection : public MessengerLink {
public:
    struct Options {
        std::string host = "127.0.0.1";
        std::uint16_t port = 0;
        std::string account;
        std::string credential;
        // Caps every wait for a reply, whatever the caller asks for; negative: no cap.
        std::int64_t replyWaitLimitMs = -1;
        // Bound of one attempt to connect and sign in.
        std::int64_t connectTimeoutMs = 5000;
        // Pause after a failed or dropped connection; it doubles on each failure up to the maximum.
        std::int64_t retryMinMs = 250;
        std::int64_t retryMaxMs = 5000;
    };
    enum class State { Stopped, Connecting, SignedIn, Refused };
    // Called on the connection's thread, never after Close has returned.
    struct Events {
        std::function<void(std::uint32_t serverTimeTag)> onSignedIn;
        std::function<void()> onSignedOut;
    };

    explicit MessengerConnection(Options options, Events events = {});
    ~MessengerConnection() override;
    MessengerConnection(const MessengerConnection&) = delete;
    MessengerConnection& operator=(const MessengerConnection&) = delete;

    // Starts connecting; the connection keeps itself open until Close.
    void Start();
    // Ends the connection and its thread; waiting callers get no reply. Not from an event.
    void Close() override;
    // Waits until signed in, at most the bound; false when not signed in by then.
    bool WaitSignedIn(std::int64_t boundMilliseconds);
    State GetState() const;
    // TCP connections opened so far.
    int GetConnectCount() const;

    // Sends a packet and, with wait, returns the reply body, or null when none came within the
    // seconds given (and the cap), the connection dropped, or the server refused the packet. A call
    // while not signed in first waits for the sign-in within the same bound.
    std::unique_ptr<Unpack> SendAndWait(const std::string& frame, const std::string& body, bool wait,
                                        int seconds) override;
    // Asks the server for its time tag of the user's data.
    std::optional<std::uint32_t> QueryTimeTag(int seconds);

private:
    struct Pending {
        messenger::MessageKind replyKind;
        bool done = false;
        bool answered = false;
        std::string payload;
    };

    // Sends one request and waits for the reply payload of the given kind.
    std::optional<std::string> Exchange(messenger::MessageKind kind, const std::string& payload,
                                        messenger::MessageKind replyKind, bool wait,
                                        std::int64_t waitMilliseconds);
    std::int64_t CappedWait(int seconds) const;
    void Wake();
    // The connection's thread.
    void Run();
    int Connect(std::int64_t deadline);
    // Signs in and carries messages until the connection ends; true if it had signed in.
    bool Serve(int fd);
    // The connection ended: waiting callers fail and queued bytes are dropped. Lock held.
    void DropPendingLocked();

    const Options options_;
    const Events events_;
    int wakeFd_ = -1;
    std::thread thread_;
    std::mutex joinMutex_; // one Close joins the thread

    mutable std::mutex mutex_; // guards everything below
    std::condition_variable changed_;
    State state_ = State::Stopped;
    bool started_ = false;
    bool stopping_ = false;
    bool retryNow_ = false;
    int connects_ = 0;
    std::uint32_t nextSequence_ = 1;
    std::map<std::uint32_t, std::shared_ptr<Pending>> pending_;
    std::string outbound_;
};

// Connects the core to a messenger server, signing in as the core's user: the server's time tag
// is stored and the synced services are asked for a sync at each sign-in (TaviCore's
// OnMessengerSignedIn). The connection is installed as the core's messenger link and started.
std::shared_ptr<MessengerConnection> ConnectMessenger(TaviCore& core, MessengerConnection::Options options);

// Splits "HOST:PORT" (a bracketed IPv6 address is allowed); false when it is not that.
bool ParseHostAndPort(const std::string& text, std::string& host, std::uint16_t& port);

} // namespace tavi::runtime
