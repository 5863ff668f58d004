// imserver: the local messenger server. Keeps each account's synced plug-in settings with their
// time tags in SQLite and answers the hosts' fetches and uploads.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "devserver/imserver/im_server.h"
#include "devserver/imserver/settings_store.h"
#include "host/common.h"

namespace {

void Usage(std::ostream& out) {
    out << "usage: imserver [--db PATH] [--port N] [--bind ADDRESS] [--user ACCOUNT:PASSWORD]... [--open]\n"
           "  --db PATH       the SQLite database (default imserver.db)\n"
           "  --port N        the port to listen on; 0 picks a free one (default 8801)\n"
           "  --bind ADDRESS  the IPv4 address to listen on (default 127.0.0.1)\n"
           "  --user A:P      add or update the account A with the password P\n"
           "  --open          let unknown accounts sign up at their first sign-in\n"
           "The first line printed is \"port N\". SIGTERM or SIGINT stops the server.\n";
}

bool ParsePort(const std::string& text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long value = std::stoul(text);
    if (value > 65535)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string dbPath = "imserver.db";
    imserver::ServerOptions options;
    options.port = 8801;
    std::vector<std::pair<std::string, std::string>> users;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "imserver: " << arg << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--db") {
            dbPath = value();
        } else if (arg == "--port") {
            if (!ParsePort(value(), options.port)) {
                std::cerr << "imserver: not a port: " << argv[i] << "\n";
                return 2;
            }
        } else if (arg == "--bind") {
            options.bindAddress = value();
        } else if (arg == "--user") {
            std::string user = value();
            std::size_t colon = user.find(':');
            if (colon == std::string::npos || colon == 0) {
                std::cerr << "imserver: --user wants ACCOUNT:PASSWORD\n";
                return 2;
            }
            users.emplace_back(user.substr(0, colon), user.substr(colon + 1));
        } else if (arg == "--open") {
            options.openRegistration = true;
        } else if (arg == "--help" || arg == "-h") {
            Usage(std::cout);
            return 0;
        } else {
            std::cerr << "imserver: unknown option " << arg << "\n";
            Usage(std::cerr);
            return 2;
        }
    }

    // The stop signals are taken from a descriptor, so every thread started below leaves them alone.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signals < 0) {
        std::cerr << "imserver: cannot watch the stop signals\n";
        return 1;
    }

    imserver::SettingsStore store(dbPath);
    std::string error;
    if (!store.Open(error)) {
        std::cerr << "imserver: cannot open " << dbPath << ": " << error << "\n";
        return 1;
    }
    // Accounts are kept as the packets carry them: narrow text in the system code page. The
    // password is kept as the credential the host sends, its MD5.
    for (const auto& [account, password] : users) {
        if (!store.SetAccount(tavi::utf8_to_CString(account), tavi::GetMD5(password))) {
            std::cerr << "imserver: cannot store the account " << account << "\n";
            return 1;
        }
    }

    imserver::ImServer server(store, options, std::cerr);
    if (!server.Listen(error)) {
        std::cerr << "imserver: cannot listen on " << options.bindAddress << ":" << options.port << ": "
                  << error << "\n";
        return 1;
    }
    std::cout << "port " << server.GetPort() << std::endl;
    server.Serve(signals);
    std::cerr << "imserver: stopped" << std::endl;
    close(signals);
    return 0;
}
