// The command line of mbservice.
#pragma once

#include <cstdint>
#include <string>

namespace mbservice {

// The port the deployment settings of the plug-in name by default.
inline constexpr int kDefaultPort = 8990;

struct ServiceOptions {
    int port = kDefaultPort; // 0: any free port, printed on the first line of stdout
    std::string bind = "127.0.0.1";
    std::string dbPath;      // empty: a private in-memory database
    std::string seed;        // "" or "demo"
    int activitySeconds = 0; // 0: no generated activity
    std::int64_t clockSkewSeconds = 0;
    std::string picturePrefix;     // empty: the service's own /p/ address
    bool refuseActivation = false; // every account activation fails as the service's would
    int threads = 16;
    std::string tlsCert; // with tlsKey: serve HTTPS with this certificate chain (PEM)
    std::string tlsKey;
    bool help = false;
};

// False with a message in error when the command line cannot be used.
bool ParseOptions(int argc, const char* const* argv, ServiceOptions& options, std::string& error);
std::string UsageText();

} // namespace mbservice
