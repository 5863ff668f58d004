// tavi's messenger part: the options that connect the host to a messenger server, the session
// that holds the connection, and the commands "sync" and "upload" for the plug-ins' synced
// settings.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "runtime/core/tavi_core.h"
#include "runtime/messenger/messenger_connection.h"

// GLib's, as <glib.h> declares it (this header is included where GLib's are not).
typedef struct _GOptionGroup GOptionGroup; // NOLINT(bugprone-reserved-identifier)

namespace tavi::app {

struct MessengerOptions {
    // HOST:PORT of the messenger server; empty: no connection, and packets get no reply.
    std::string server;
    // Caps every wait for a reply from the server, in seconds; negative: as long as the plug-in asks.
    double replyWaitSeconds = -1;
};

// The options this part takes, each with one value: "--im-server HOST:PORT", "--im-wait SECONDS",
// as a group for tavi's option parser that sets them in options. A value that does not fit fails
// the parse (G_OPTION_ERROR_FAILED) with the reason that SetMessengerOption gives.
GOptionGroup* NewMessengerOptionGroup(MessengerOptions& options);
// False with the reason in error when the value does not fit the option.
bool SetMessengerOption(MessengerOptions& options, const std::string& option, const std::string& value,
                        std::string& error);
// What the options do, for the end of tavi's usage text.
const char* MessengerUsage();

class MessengerSession {
public:
    using Handler = std::function<void(const std::vector<std::string>& args)>;
    using CommandAdder =
        std::function<void(const std::string& name, std::string usage, std::string help, Handler handler)>;

    MessengerSession(runtime::TaviCore& core, MessengerOptions options, std::ostream& out);
    ~MessengerSession();
    MessengerSession(const MessengerSession&) = delete;
    MessengerSession& operator=(const MessengerSession&) = delete;

    // Connects to the server, when one was given, and waits a little for the sign-in; says in one
    // line how it went. The connection keeps trying in the background when the server is not there.
    void Start();
    // Adds "sync" and "upload" through the host program's command table.
    void RegisterCommands(const CommandAdder& add);

    // sync: refreshes the server's time tag, asks every synced service for a sync and waits for it.
    void Sync(const std::vector<std::string>& args);
    // upload [account=TEXT] [password=TEXT] [prompt=0|1] [interval=MINUTES] [bound=0|1]: without
    // items, asks the services to upload their stored settings; with items, stores the changed
    // settings through the plug-in, which makes the host upload them.
    void Upload(const std::vector<std::string>& args);

private:
    // The bound of one exchange with the server.
    int ReplySeconds() const;
    void WaitForTasks(const std::string& command);
    void SayTags(const std::string& command);
    void Say(const std::string& line);

    runtime::TaviCore& core_;
    MessengerOptions options_;
    std::ostream& out_;
    std::shared_ptr<runtime::MessengerConnection> connection_;
};

} // namespace tavi::app
