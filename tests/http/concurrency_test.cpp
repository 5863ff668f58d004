// Many exchanges at once: every caller gets its own reply, whole, and every worker ends.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "http/http_client.h"
#include "tests/http/loopback_server.h"

namespace {

using httptest::Connection;

// The body the server gives for a path, different for every request of the run.
std::string BodyFor(const std::string& path) {
    std::size_t seed = std::hash<std::string>()(path);
    std::string body = path + ":";
    std::size_t size = seed % 6000;
    for (std::size_t i = 0; i < size; ++i)
        body.push_back(static_cast<char>('a' + (seed + i * 13) % 26));
    return body;
}

TEST(ManyExchanges, SixteenThreadsOfFiftyRequestsGetTheirOwnReplies) {
    constexpr int kThreads = 16;
    constexpr int kRequests = 50;
    httptest::LoopbackServer server([](Connection& c) {
        std::string request = c.ReadRequest();
        if (request.empty())
            return;
        std::size_t start = request.find(' ') + 1;
        std::string path = request.substr(start, request.find(' ', start) - start);
        std::string body = BodyFor(path);
        // Some replies chunked, some in pieces, some at once.
        std::size_t kind = body.size() % 3;
        if (kind == 0)
            c.Write(httptest::ChunkedReply({body.substr(0, body.size() / 2), body.substr(body.size() / 2)}));
        else if (kind == 1)
            c.WriteInPieces(httptest::ReplyWithLength(200, body), 700, 0);
        else
            c.Write(httptest::ReplyWithLength(200, body));
    });

    std::atomic<int> good{0};
    std::vector<std::string> failures(kThreads);
    std::vector<std::thread> callers;
    callers.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < kRequests; ++i) {
                std::string path = "/statuses/" + std::to_string(t) + "/" + std::to_string(i) + ".json";
                microblog::HttpClient client;
                std::string body;
                int status =
                    i % 2 ? client.Get(tavi::ProxyCfg{}, server.Url(path), body)
                          : client.Post(tavi::ProxyCfg{}, server.Url(path), "n=" + std::to_string(i), body);
                if (status == 200 && body == BodyFor(path))
                    ++good;
                else if (failures[t].empty())
                    failures[t] = path + " gave " + std::to_string(status);
            }
        });
    }
    for (auto& caller : callers)
        caller.join();
    EXPECT_EQ(good.load(), kThreads * kRequests);
    for (const auto& failure : failures)
        EXPECT_EQ(failure, "");
    EXPECT_TRUE(server.WaitFinished(kThreads * kRequests, 10000));
}

} // namespace
