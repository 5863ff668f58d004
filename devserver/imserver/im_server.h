// The local messenger server: accepts the hosts' connections, signs them in against its accounts,
// and answers the plug-in packets that fetch and upload synced settings. A connection that breaks
// the message format is dropped; the others are served on. One thread per connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "devserver/imserver/settings_store.h"
#include "runtime/messenger/messenger_wire.h"

namespace imserver {

struct ServerOptions {
    std::string bindAddress = "127.0.0.1";
    std::uint16_t port = 0; // 0: any free port
    // Accounts it does not know sign up at their first sign-in, with the credential they bring.
    bool openRegistration = false;
    // A connection that has not signed in by then is dropped.
    int signInTimeoutMs = 10000;
    int maxConnections = 128;
};

class ImServer {
public:
    ImServer(SettingsStore& store, ServerOptions options, std::ostream& log);
    ~ImServer();
    ImServer(const ImServer&) = delete;
    ImServer& operator=(const ImServer&) = delete;

    bool Listen(std::string& error);
    std::uint16_t GetPort() const { return port_; }
    // Serves until stopFd becomes readable (a signal descriptor, say), then ends every connection
    // and returns once their threads have finished.
    void Serve(int stopFd);

private:
    struct Session {
        bool signedIn = false;
        std::string account;
    };
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    void ServeConnection(int fd);
    // Handles one message; false when the connection is to be dropped.
    bool Handle(int fd, Session& session, const tavi::runtime::messenger::Message& message);
    bool HandlePacket(int fd, Session& session, const tavi::runtime::messenger::Message& message);
    bool Reply(int fd, tavi::runtime::messenger::MessageKind kind, std::uint32_t sequence,
               const std::string& payload);
    void Log(const std::string& line);
    void ReapFinished();

    SettingsStore& store_;
    const ServerOptions options_;
    std::ostream& log_;
    std::mutex logMutex_;
    int listenFd_ = -1;
    int stopFd_ = -1; // readable once the server stops; every connection watches it
    std::uint16_t port_ = 0;
    std::list<Worker> workers_; // only the serving thread touches the list
};

} // namespace imserver
