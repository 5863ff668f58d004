// mbservice: the local microblog REST service. Prints "port N" on its first line of stdout, one
// line per request on stderr, and stops cleanly on SIGTERM or SIGINT.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

#include "devserver/mbservice/activity.h"
#include "devserver/mbservice/api_routes.h"
#include "devserver/mbservice/demo_seed.h"
#include "devserver/mbservice/service_options.h"
#include "devserver/mbservice/whole_response_server.h"

namespace {

using mbservice::ServiceOptions;

// The address clients use for a server that listens on all interfaces is the loopback one.
std::string ClientHost(const std::string& bind) {
    if (bind.empty() || bind == "0.0.0.0")
        return "127.0.0.1";
    if (bind == "::")
        return "[::1]";
    if (bind.find(':') != std::string::npos)
        return "[" + bind + "]";
    return bind;
}

void ConfigureServer(mbservice::WholeResponseServer& server, const ServiceOptions& options) {
    const int threads = options.threads;
    server.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
    server.set_payload_max_length(std::size_t{64} * 1024);
    server.set_read_timeout(10, 0);
    server.set_write_timeout(10, 0);
    server.set_keep_alive_timeout(5);
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        std::fprintf(stderr, "%s %s %d\n", req.method.c_str(), req.path.c_str(), res.status);
    });
    // Every reply carries a body: clients of this service cannot read an empty one.
    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request& req, httplib::Response& res) {
            if (!res.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            const std::string text = res.status == 404   ? "no such endpoint: " + req.method + " " + req.path
                                     : res.status == 413 ? std::string("the request body is too large")
                                                         : std::string("malformed HTTP request");
            mbservice::ApiReply reply = mbservice::ErrorReply(res.status, text);
            reply.body["request"] = req.path;
            res.set_content(reply.body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                            "application/json; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }));
    server.set_exception_handler(
        [](const httplib::Request& req, httplib::Response& res, const std::exception_ptr& failure) {
            std::string what = "unknown failure";
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& error) {
                what = error.what();
            } catch (...) {
            }
            std::fprintf(stderr, "mbservice: %s %s failed: %s\n", req.method.c_str(), req.path.c_str(),
                         what.c_str());
            res.status = 500;
            mbservice::ApiReply reply = mbservice::ErrorReply(500, "internal error: " + what);
            reply.body["request"] = req.path;
            res.set_content(reply.body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                            "application/json; charset=utf-8");
        });
}

int Serve(const ServiceOptions& options, const sigset_t& stopSignals) {
    mbservice::ServiceClock clock(options.clockSkewSeconds);
    mbservice::Database database(options.dbPath);
    mbservice::WholeResponseServer server;
    ConfigureServer(server, options);
    if (!options.tlsCert.empty()) {
        std::string error;
        if (!server.UseTls(options.tlsCert, options.tlsKey, error)) {
            std::fprintf(stderr, "mbservice: %s\n", error.c_str());
            return 1;
        }
    }

    int port = options.port;
    if (port == 0)
        port = server.bind_to_any_port(options.bind);
    else if (!server.bind_to_port(options.bind, port))
        port = -1;
    if (port <= 0) {
        std::fprintf(stderr, "mbservice: cannot listen on %s:%d\n", options.bind.c_str(), options.port);
        return 1;
    }

    mbservice::ServiceUrls urls;
    urls.origin =
        (server.Secure() ? "https://" : "http://") + ClientHost(options.bind) + ":" + std::to_string(port);
    urls.picturePrefix = options.picturePrefix.empty() ? urls.origin + "/p/" : options.picturePrefix;
    mbservice::Microblog microblog(database, clock, urls);
    if (options.seed == "demo" && !microblog.HasAccounts())
        mbservice::SeedDemo(microblog);
    mbservice::RegisterRoutes(server, microblog,
                              mbservice::RouteSettings{options.refuseActivation, server.Secure()});

    std::printf("port %d\n", port);
    std::fflush(stdout);
    std::fprintf(stderr, "mbservice: api_root=%s web_root=%s picture_prefix=%s\n", urls.ApiRoot().c_str(),
                 urls.WebRoot().c_str(), urls.picturePrefix.c_str());

    mbservice::ActivityGenerator activity(microblog, options.activitySeconds);
    std::atomic<bool> listenEnded{false};
    std::atomic<bool> signalled{false};
    std::thread signalWaiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        signalled = true;
        activity.Stop();
        // A signal that comes before the server runs must still stop it once it does.
        while (!listenEnded && !server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        server.stop();
    });
    activity.Start();
    const bool listened = server.listen_after_bind();
    listenEnded = true;
    if (!signalled)
        kill(getpid(), SIGTERM);
    signalWaiter.join();
    activity.Stop();
    std::fprintf(stderr, "mbservice: stopped\n");
    return listened ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    ServiceOptions options;
    std::string error;
    if (!mbservice::ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "mbservice: %s\n%s", error.c_str(), mbservice::UsageText().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(mbservice::UsageText().c_str(), stdout);
        return 0;
    }
    // The stop signals are taken by one waiting thread; every other thread keeps them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    try {
        return Serve(options, stopSignals);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "mbservice: %s\n", failure.what());
        return 1;
    }
}
