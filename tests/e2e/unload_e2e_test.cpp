// Unloading the plug-in while its requests hang. The session signs in through a gateway in front of
// mbservice; then the gateway answers every new request with one byte a second, which never lets
// an exchange end by itself. A skin rebuild, unload and quitting tavi all end within seconds, and
// nothing of the plug-in runs once it is gone: the sanitizer build reports any such access in the
// session's output, and an access to an unmapped library ends tavi with a signal.
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "tests/e2e/harness.h"
#include "tests/http/loopback_server.h"

namespace e2e {
namespace {

using httptest::Connection;

class Gateway {
public:
    explicit Gateway(int upstreamPort) : upstreamPort_(upstreamPort) {}
    std::string Root() const { return "http://127.0.0.1:" + std::to_string(server_.port()) + "/"; }
    // From now on new requests hang.
    void Trickle() { trickle_.store(true); }
    // Waits until that many requests hang.
    bool WaitHanging(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return hanging_ >= count; });
    }

private:
    void Serve(Connection& c) {
        std::string request = c.ReadRequest();
        if (request.empty())
            return;
        if (trickle_.load()) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++hanging_;
            }
            changed_.notify_all();
            if (!c.Write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n"))
                return;
            for (int i = 0; i < 600 && c.Write("x"); ++i)
                c.Pause(1000);
            return;
        }
        Relay(c, request);
    }
    // Hands the request to mbservice and its reply back. mbservice checks a signature against the
    // address the client used, so the request names the gateway's port.
    void Relay(Connection& c, std::string request) {
        const std::string host = "Host:127.0.0.1\r\n";
        if (std::size_t at = request.find(host); at != std::string::npos)
            request.replace(at, host.size(), "Host:127.0.0.1:" + std::to_string(server_.port()) + "\r\n");
        int upstream = httptest::ConnectLoopback(static_cast<std::uint16_t>(upstreamPort_));
        if (upstream < 0)
            return;
        bool open = send(upstream, request.data(), request.size(), MSG_NOSIGNAL) ==
                    static_cast<ssize_t>(request.size());
        pollfd fds[3] = {{c.fd(), POLLIN, 0}, {upstream, POLLIN, 0}, {c.StopFd(), POLLIN, 0}};
        char buffer[4096];
        while (open && poll(fds, 3, -1) > 0 && fds[2].revents == 0) {
            for (int i = 0; i < 2 && open; ++i) {
                if (fds[i].revents == 0)
                    continue;
                ssize_t n = recv(fds[i].fd, buffer, sizeof(buffer), 0);
                open = n > 0 && send(fds[1 - i].fd, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) == n;
            }
        }
        close(upstream);
    }

    int upstreamPort_;
    std::atomic<bool> trickle_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    int hanging_ = 0;
    httptest::LoopbackServer server_{[this](Connection& c) { Serve(c); }};
};

long SecondsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count());
}

TEST(UnloadE2E, RebuildUnloadAndQuitEndAtOnceWhileRequestsHang) {
    MbService service;
    ASSERT_TRUE(service.Started()) << service.Log();
    Gateway gateway(service.Port());
    AppFolder app(service);
    testenv::WriteFile(app.path() + "/plugin/microblog/deploy.ini",
                       "api_root=" + gateway.Root() + "\nweb_root=" + gateway.Root() +
                           "web\npicture_prefix=" + gateway.Root() + "p/\n");
    TaviSession demo(app, "demo@velmora.com", "demo123");
    std::string signedIn = SignIn(demo) + demo.Run("screen");
    ASSERT_NE(signedIn.find("window MicroBlogListPanel"), std::string::npos) << signedIn;

    // A post, the reminder poll and the sign-in after a skin rebuild all hang.
    gateway.Trickle();
    demo.Run("click BtnPublish\ntype EdtContent \"hanging\"\nclick ButtonSend\nadvance 60\nrebuild\nshow");
    ASSERT_TRUE(gateway.WaitHanging(3)) << demo.Log();

    auto start = std::chrono::steady_clock::now();
    std::string unloaded = demo.Run("unload");
    EXPECT_LT(SecondsSince(start), 10) << unloaded;
    EXPECT_NE(unloaded.find("unloaded "), std::string::npos) << unloaded;

    // Loaded again, its sign-in hangs too; quitting ends the session as promptly.
    demo.Run("load\nshow");
    ASSERT_TRUE(gateway.WaitHanging(4)) << demo.Log();
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(demo.Close(), 0) << demo.Log();
    EXPECT_LT(SecondsSince(start), 10);
    EXPECT_EQ(demo.Log().find("Sanitizer"), std::string::npos) << demo.Log();
    EXPECT_EQ(demo.Log().find("runtime error"), std::string::npos) << demo.Log();
}

} // namespace
} // namespace e2e
