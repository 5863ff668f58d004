#include "app/messenger_commands.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <ostream>

#include "app/screen_text.h"
#include "host/common.h"
#include "host/microblog_service.h"
#include "host/services.h"

namespace tavi::app {
namespace {

// How long the plug-in waits for the server, and so the longest one exchange takes.
constexpr int kPluginWaitSeconds = 60;
// The longest the start waits for the sign-in before the session goes on without it.
constexpr std::int64_t kSignInWaitMilliseconds = 5000;

// The items of the microblog plug-in's settings map that "upload" can change, as its settings
// form writes them.
struct SettingsItem {
    const char* name;
    std::uint32_t key;
    bool text;
};
constexpr SettingsItem kSettingsItems[] = {
    {"account", 0x4E250001, true},   {"password", 0x4E250002, true}, {"prompt", 0x4E250003, false},
    {"interval", 0x4E250004, false}, {"bound", 0x4E250005, false},
};
constexpr const char* kSettingsName = "microblog";

bool ParseInteger(const std::string& text, int& value) {
    if (text.empty())
        return false;
    std::size_t used = 0;
    long long parsed;
    try {
        parsed = std::stoll(text, &used);
    } catch (...) {
        return false;
    }
    if (used != text.size() || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

// The option parser's call for a messenger option (with its "--" name) and its value.
gboolean SetFromParser(const gchar* option, const gchar* value, gpointer data, GError** error) {
    std::string problem;
    if (SetMessengerOption(*static_cast<MessengerOptions*>(data), option, value, problem))
        return TRUE;
    g_set_error_literal(error, G_OPTION_ERROR, G_OPTION_ERROR_FAILED, problem.c_str());
    return FALSE;
}

} // namespace

GOptionGroup* NewMessengerOptionGroup(MessengerOptions& options) {
    static const GOptionEntry kEntries[] = {
        {"im-server", 0, G_OPTION_FLAG_FILENAME, G_OPTION_ARG_CALLBACK,
         reinterpret_cast<gpointer>(&SetFromParser), nullptr, nullptr},
        {"im-wait", 0, G_OPTION_FLAG_FILENAME, G_OPTION_ARG_CALLBACK,
         reinterpret_cast<gpointer>(&SetFromParser), nullptr, nullptr},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    GOptionGroup* group =
        g_option_group_new("messenger", "The messenger server", "Messenger options", &options, nullptr);
    g_option_group_add_entries(group, kEntries);
    return group;
}

bool SetMessengerOption(MessengerOptions& options, const std::string& option, const std::string& value,
                        std::string& error) {
    if (option == "--im-server") {
        std::string host;
        std::uint16_t port = 0;
        if (!runtime::ParseHostAndPort(value, host, port)) {
            error = "--im-server wants HOST:PORT, not " + value;
            return false;
        }
        options.server = value;
        return true;
    }
    if (option == "--im-wait") {
        std::size_t used = 0;
        double seconds = -1;
        try {
            seconds = std::stod(value, &used);
        } catch (...) {
            used = 0;
        }
        if (used == 0 || used != value.size() || !std::isfinite(seconds) || seconds < 0 || seconds > 3600) {
            error = "--im-wait wants a number of seconds from 0 to 3600, not " + value;
            return false;
        }
        options.replyWaitSeconds = seconds;
        return true;
    }
    error = "not a messenger option: " + option;
    return false;
}

const char* MessengerUsage() {
    return "With --im-server HOST:PORT the host signs in to that messenger server, which keeps the\n"
           "plug-ins' synced settings (without it nothing reaches a server); --im-wait SECONDS caps\n"
           "every wait for the server's reply.\n";
}

MessengerSession::MessengerSession(runtime::TaviCore& core, MessengerOptions options, std::ostream& out)
    : core_(core), options_(std::move(options)), out_(out) {}

MessengerSession::~MessengerSession() {
    if (connection_)
        connection_->Close();
}

void MessengerSession::Say(const std::string& line) {
    out_ << TerminalSafe(line) << '\n' << std::flush;
}

int MessengerSession::ReplySeconds() const {
    if (options_.replyWaitSeconds >= 0)
        return std::min(kPluginWaitSeconds, static_cast<int>(std::ceil(options_.replyWaitSeconds)));
    return kPluginWaitSeconds;
}

void MessengerSession::Start() {
    if (options_.server.empty() || connection_)
        return;
    runtime::MessengerConnection::Options link;
    if (!runtime::ParseHostAndPort(options_.server, link.host, link.port)) {
        Say("error: messenger: not a server address: " + options_.server);
        return;
    }
    if (options_.replyWaitSeconds >= 0)
        link.replyWaitLimitMs = static_cast<std::int64_t>(options_.replyWaitSeconds * 1000);
    connection_ = runtime::ConnectMessenger(core_, link);
    std::int64_t bound = kSignInWaitMilliseconds;
    if (link.replyWaitLimitMs >= 0)
        bound = std::min(bound, std::max<std::int64_t>(link.replyWaitLimitMs, 100));
    std::string account = CString_to_utf8(core_.GetUserAccount());
    if (connection_->WaitSignedIn(bound)) {
        auto* tags = static_cast<ITimeTagService*>(core_.GetService(kServiceTimeTags));
        Say("messenger: signed in to " + options_.server + " as " + account + " (server time tag " +
            std::to_string(tags ? tags->GetTimeTag(runtime::kServerTimeTag) : 0) + ")");
    } else if (connection_->GetState() == runtime::MessengerConnection::State::Refused) {
        Say("error: messenger: " + options_.server + " refused the sign-in of " + account);
    } else {
        Say("error: messenger: no sign-in to " + options_.server + " yet; still trying");
    }
}

void MessengerSession::RegisterCommands(const CommandAdder& add) {
    add("sync", "sync", "fetch the plug-ins' synced settings from the messenger server",
        [this](const std::vector<std::string>& args) { Sync(args); });
    add("upload", "upload [ITEM=VALUE...]",
        "change the items given, then upload the plug-ins' settings; ITEM: account, password, prompt, "
        "interval, bound",
        [this](const std::vector<std::string>& args) { Upload(args); });
}

void MessengerSession::WaitForTasks(const std::string& command) {
    std::int64_t bound = static_cast<std::int64_t>(ReplySeconds()) * 2000 + 5000;
    if (!core_.WaitIdle(bound))
        Say("error: " + command + ": still busy after " + std::to_string(bound / 1000) + " s");
}

void MessengerSession::SayTags(const std::string& command) {
    auto* tags = static_cast<ITimeTagService*>(core_.GetService(kServiceTimeTags));
    if (tags == nullptr)
        return;
    for (const std::string& name : core_.GetSyncedUserDataNames())
        Say(command + ": " + CString_to_utf8(name) + " time tag " + std::to_string(tags->GetTimeTag(name)) +
            " (server " + std::to_string(tags->GetTimeTag(runtime::kServerTimeTag)) + ")");
}

void MessengerSession::Sync(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        Say("error: sync: takes no arguments");
        return;
    }
    // The tag from the sign-in may be old by now: another machine may have uploaded since.
    if (connection_) {
        if (std::optional<std::uint32_t> serverTag = connection_->QueryTimeTag(ReplySeconds())) {
            if (auto* tags = static_cast<ITimeTagService*>(core_.GetService(kServiceTimeTags)))
                tags->SetTimeTag(runtime::kServerTimeTag, *serverTag);
        } else {
            Say("error: sync: no time tag from the messenger server");
        }
    }
    if (core_.RequestSettingsSync() == 0) {
        Say("error: sync: no plug-in keeps synced settings");
        return;
    }
    WaitForTasks("sync");
    SayTags("sync");
}

void MessengerSession::Upload(const std::vector<std::string>& args) {
    if (args.size() == 1) {
        bool any = false;
        for (const std::string& name : core_.GetSyncedUserDataNames())
            any = core_.RequestSettingsUpload(name) || any;
        if (!any) {
            Say("error: upload: no plug-in keeps synced settings");
            return;
        }
        WaitForTasks("upload");
        SayTags("upload");
        return;
    }

    microblog::IMicroBlogService* service = core_.GetSettingsService(kSettingsName);
    if (service == nullptr) {
        Say("error: upload: no plug-in keeps synced settings");
        return;
    }
    Property settings;
    service->LoadSettingsMap(settings);
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::size_t equals = args[i].find('=');
        const SettingsItem* item = nullptr;
        for (const SettingsItem& candidate : kSettingsItems)
            if (equals != std::string::npos && args[i].compare(0, equals, candidate.name) == 0 &&
                equals == std::string(candidate.name).size())
                item = &candidate;
        if (item == nullptr) {
            Say("error: upload: not an item: " + args[i] + " (account, password, prompt, interval, bound)");
            return;
        }
        std::string value = args[i].substr(equals + 1);
        int number = 0;
        if (item->key == 0x4E250002) {
            // Kept as the settings form keeps a typed password: its MD5, or empty.
            std::string typed = utf8_to_CString(value);
            settings.SetString(item->key, typed.empty() ? std::string() : GetMD5(typed));
        } else if (item->text) {
            settings.SetString(item->key, utf8_to_CString(value));
        } else if (ParseInteger(value, number)) {
            settings.SetInteger(item->key, number);
        } else {
            Say("error: upload: " + std::string(item->name) + " wants a whole number, not " + value);
            return;
        }
    }
    // Stored as the settings form stores them; the host then has the plug-in upload them.
    service->StoreSettingsMap(settings);
    WaitForTasks("upload");
    SayTags("upload");
}

} // namespace tavi::app
