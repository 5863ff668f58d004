#include "devserver/mbservice/service_options.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace mbservice {

namespace {

bool ParseInteger(const std::string& text, std::int64_t low, std::int64_t high, std::int64_t& out) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0' || value < low || value > high)
        return false;
    out = value;
    return true;
}

} // namespace

std::string UsageText() {
    return "usage: mbservice [--port N] [--bind ADDRESS] [--db PATH] [--seed demo] [--activity SECONDS]\n"
           "                 [--clock-skew SECONDS] [--picture-prefix URL] [--refuse-activation] [--threads "
           "N]\n"
           "                 [--tls-cert FILE --tls-key FILE]\n"
           "  --port N             port to listen on (default 8990; 0 picks a free one)\n"
           "  --bind ADDRESS       address to listen on (default 127.0.0.1)\n"
           "  --db PATH            SQLite file to keep the data in (default: in memory)\n"
           "  --seed demo          fill an empty database with the demo users and statuses\n"
           "  --activity SECONDS   another user posts a status every SECONDS\n"
           "  --clock-skew SECONDS run the service's clock that far off (refuses right timestamps)\n"
           "  --picture-prefix URL picture short-link prefix used in seeded statuses\n"
           "  --refuse-activation  every account activation fails\n"
           "  --threads N          request threads (default 16)\n"
           "  --tls-cert FILE      serve HTTPS with this certificate (PEM, the chain after it)\n"
           "  --tls-key FILE       the certificate's private key (PEM)\n"
           "The port is printed as \"port N\" on the first line of stdout; each request is logged to "
           "stderr.\n";
}

bool ParseOptions(int argc, const char* const* argv, ServiceOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto number = [&](std::int64_t low, std::int64_t high, std::int64_t& out) {
            std::string text;
            if (!value(text))
                return false;
            if (!ParseInteger(text, low, high, out)) {
                error = std::string(name) + " takes a whole number from " + std::to_string(low) + " to " +
                        std::to_string(high) + ", not '" + text + "'";
                return false;
            }
            return true;
        };
        std::int64_t n = 0;
        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--port") {
            if (!number(0, 65535, n))
                return false;
            options.port = static_cast<int>(n);
        } else if (name == "--bind") {
            if (!value(options.bind))
                return false;
        } else if (name == "--db") {
            if (!value(options.dbPath))
                return false;
        } else if (name == "--seed") {
            if (!value(options.seed))
                return false;
            if (options.seed != "demo") {
                error = "the only seed is 'demo'";
                return false;
            }
        } else if (name == "--activity") {
            if (!number(0, 86400, n))
                return false;
            options.activitySeconds = static_cast<int>(n);
        } else if (name == "--clock-skew") {
            if (!number(-100LL * 365 * 86400, 100LL * 365 * 86400, n))
                return false;
            options.clockSkewSeconds = n;
        } else if (name == "--picture-prefix") {
            if (!value(options.picturePrefix))
                return false;
            const bool web = options.picturePrefix.rfind("http://", 0) == 0 ||
                             options.picturePrefix.rfind("https://", 0) == 0;
            if (!web || options.picturePrefix.back() != '/') {
                error = "--picture-prefix must be an http:// or https:// address ending in /";
                return false;
            }
        } else if (name == "--refuse-activation") {
            options.refuseActivation = true;
        } else if (name == "--tls-cert") {
            if (!value(options.tlsCert))
                return false;
        } else if (name == "--tls-key") {
            if (!value(options.tlsKey))
                return false;
        } else if (name == "--threads") {
            if (!number(1, 256, n))
                return false;
            options.threads = static_cast<int>(n);
        } else {
            error = "unknown option " + std::string(name);
            return false;
        }
    }
    if (options.tlsCert.empty() != options.tlsKey.empty()) {
        error = "--tls-cert and --tls-key go together";
        return false;
    }
    return true;
}

} // namespace mbservice
