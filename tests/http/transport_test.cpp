// Whole exchanges over real sockets on 127.0.0.1: HttpClient, its socket thread and the host's
// socket library against a server that writes chosen bytes with chosen splits and pauses.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "http/http_client.h"
#include "http/http_exchanges.h"
#include "tests/http/loopback_server.h"

namespace {

using httptest::Connection;
using httptest::LoopbackServer;
using microblog::HttpClient;
using microblog::HttpClientLimits;

const tavi::ProxyCfg kNoProxy;

// A client that gave up leaves its worker to finish on its own. The program waits for every worker
// before it ends: one still freeing its TLS session while the exit tears libcrypto down would race.
class WorkersEndBeforeExit : public testing::Environment {
public:
    void TearDown() override { microblog::WaitHttpExchangesEnded(); }
};
testing::Environment* const kWorkersEndBeforeExit =
    testing::AddGlobalTestEnvironment(new WorkersEndBeforeExit);

std::string Pattern(std::size_t n) {
    std::string text(n, ' ');
    for (std::size_t i = 0; i < n; ++i)
        text[i] = static_cast<char>('!' + (i * 7 + i / 1024) % 90);
    return text;
}

// Announces a long reply, then sends one byte of it per pause: never silent for long, never done.
void Trickle(Connection& c, int pauseMs) {
    c.ReadRequest();
    if (!c.Write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n"))
        return;
    for (int i = 0; i < 1000 && c.Write("x"); ++i)
        c.Pause(pauseMs);
}

long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
}

TEST(Transport, TenByteReplyInOneRead) {
    // The server keeps the connection open, as a keep-alive server does: the reply's length ends it.
    LoopbackServer server([](Connection& c) {
        c.ReadRequest();
        c.Write(httptest::ReplyWithLength(200, "0123456789"));
        c.HoldUntilPeerCloses();
    });
    HttpClient client;
    std::string body;
    EXPECT_EQ(client.Get(kNoProxy, server.Url("/statuses/home_timeline.json?count=50"), body), 200);
    EXPECT_EQ(body, "0123456789");
    ASSERT_EQ(server.Requests().size(), 1u);
    const std::string authority = "127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ(server.Requests()[0], "GET /statuses/home_timeline.json?count=50 HTTP/1.1\r\n"
                                    "Host:" +
                                        authority +
                                        "\r\n"
                                        "Referer:http://" +
                                        authority +
                                        "/statuses\r\n"
                                        "Accept:*/*\r\n"
                                        "User-Agent: Mozilla/4.0 (compatible; TAVI)\r\n"
                                        "Connection:Keep-Alive\r\n"
                                        "\r\n");
    // The client closed its end once the reply was complete.
    EXPECT_TRUE(server.WaitFinished(1, 5000));
}

struct Delivery {
    const char* name;
    std::string reply;
    std::size_t piece;
    int pauseMs;
    std::string body;
};

class ReplyDelivery : public testing::TestWithParam<Delivery> {};

TEST_P(ReplyDelivery, BodyArrivesWhole) {
    const auto& d = GetParam();
    LoopbackServer server([&d](Connection& c) {
        c.ReadRequest();
        c.WriteInPieces(d.reply, d.piece, d.pauseMs);
        c.HoldUntilPeerCloses();
    });
    HttpClient client;
    std::string body;
    EXPECT_EQ(client.Get(kNoProxy, server.Url("/x.json"), body), 200);
    EXPECT_EQ(body, d.body);
}

std::vector<std::string> Pieces(int count) {
    std::vector<std::string> pieces;
    pieces.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        pieces.push_back("piece-" + std::to_string(i) + ";");
    return pieces;
}

std::string Joined(int count) {
    std::string all;
    for (const auto& piece : Pieces(count))
        all += piece;
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Splits, ReplyDelivery,
    testing::Values(
        Delivery{"chunked over many reads", httptest::ChunkedReply(Pieces(40)), 7, 1, Joined(40)},
        Delivery{"dripped one byte at a time", httptest::ReplyWithLength(200, "{\"id\":12,\"text\":\"hi\"}"),
                 1, 1, "{\"id\":12,\"text\":\"hi\"}"},
        Delivery{"header and body apart", httptest::ReplyWithLength(200, Pattern(3000)), 50, 2,
                 Pattern(3000)},
        Delivery{"100 KB at once", httptest::ReplyWithLength(200, Pattern(std::size_t{100} * 1024)),
                 std::size_t{1} << 20, 0, Pattern(std::size_t{100} * 1024)},
        Delivery{"large chunked", httptest::ChunkedReply({Pattern(70000), Pattern(5), Pattern(40000)}), 16384,
                 0, Pattern(70000) + Pattern(5) + Pattern(40000)}),
    [](const testing::TestParamInfo<Delivery>& info) { return httptest::CaseName(info.param.name); });

TEST(Transport, BodyEndingWithTheConnection) {
    LoopbackServer server([](Connection& c) {
        c.ReadRequest();
        c.WriteInPieces("HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n[1,2,3]", 10, 1);
    });
    HttpClient client;
    std::string body;
    EXPECT_EQ(client.Get(kNoProxy, server.Url("/list.json"), body), 200);
    EXPECT_EQ(body, "[1,2,3]");
}

TEST(Transport, EmptyReplyIsASuccessWithEmptyText) {
    LoopbackServer server([](Connection& c) {
        c.ReadRequest();
        c.Write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        c.HoldUntilPeerCloses();
    });
    HttpClient client;
    std::string body = "stale";
    EXPECT_EQ(client.Post(kNoProxy, server.Url("/statuses/destroy/5.json"), "id=5", body), 200);
    EXPECT_EQ(body, "");
}

TEST(Transport, PostSendsItsBodyAndGetSendsNone) {
    LoopbackServer server([](Connection& c) {
        c.ReadRequest();
        c.Write(httptest::ReplyWithLength(200, "{}"));
    });
    HttpClient client;
    std::string body;
    const std::string form = "status=%E4%BD%A0%E5%A5%BD&source=tavi";
    ASSERT_EQ(client.Post(kNoProxy, server.Url("/statuses/update.json"), form, body), 200);
    ASSERT_EQ(client.Get(kNoProxy, server.Url("/statuses/show.json?id=1"), body), 200);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].rfind("POST /statuses/update.json HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(requests[0].find("\r\nContent-Length: " + std::to_string(form.size()) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(requests[0].substr(requests[0].find("\r\n\r\n") + 4), form);
    EXPECT_EQ(requests[1].rfind("GET /statuses/show.json?id=1 HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(requests[1].find("Content-Length"), std::string::npos);
    EXPECT_EQ(requests[1].size(), requests[1].find("\r\n\r\n") + 4);
}

TEST(Transport, RequestLongerThanItsBufferIsWrittenWhole) {
    LoopbackServer server([](Connection& c) {
        std::string request = c.ReadRequest();
        std::string body = request.substr(request.find("\r\n\r\n") + 4);
        c.Write(httptest::ReplyWithLength(200, std::to_string(body.size())));
    });
    HttpClient client;
    std::string body;
    std::string form = "status=" + std::string(std::size_t{300} * 1024, 'q');
    EXPECT_EQ(client.Post(kNoProxy, server.Url("/statuses/update.json"), form, body), 200);
    EXPECT_EQ(body, std::to_string(form.size()));
}

TEST(Transport, RefusedConnectionGivesMinusOneAtOnce) {
    HttpClientLimits limits;
    limits.connectWaitMs = 60000;
    HttpClient client(limits);
    std::string body = "stale";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Get(kNoProxy,
                         "http://127.0.0.1:" + std::to_string(httptest::UnusedLoopbackPort()) + "/x", body),
              -1);
    EXPECT_LT(MillisecondsSince(start), 5000);
    EXPECT_EQ(body, "");
}

struct EarlyEnd {
    const char* name;
    std::function<void(Connection&)> script;
};

class PeerEndsEarly : public testing::TestWithParam<EarlyEnd> {};

TEST_P(PeerEndsEarly, GivesMinusOneAndNoBody) {
    LoopbackServer server(GetParam().script);
    HttpClient client;
    std::string body = "stale";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Get(kNoProxy, server.Url("/x.json"), body), -1);
    EXPECT_EQ(body, "");
    EXPECT_LT(MillisecondsSince(start), 5000);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, PeerEndsEarly,
    testing::Values(EarlyEnd{"closes before the announced length",
                             [](Connection& c) {
                                 c.ReadRequest();
                                 std::string reply = httptest::ReplyWithLength(200, Pattern(5000));
                                 c.Write(reply.substr(0, 3000));
                             }},
                    EarlyEnd{"closes before the last chunk",
                             [](Connection& c) {
                                 c.ReadRequest();
                                 std::string reply = httptest::ChunkedReply(Pieces(5));
                                 c.Write(reply.substr(0, reply.size() - 5));
                             }},
                    EarlyEnd{"closes without answering", [](Connection& c) { c.ReadRequest(); }},
                    EarlyEnd{"resets the connection",
                             [](Connection& c) {
                                 c.ReadRequest();
                                 c.Write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc");
                                 c.Reset();
                             }},
                    EarlyEnd{"answers something that is not HTTP",
                             [](Connection& c) {
                                 c.ReadRequest();
                                 c.Write("SSH-2.0-OpenSSH_9.2\r\n\r\n");
                                 c.HoldUntilPeerCloses();
                             }}),
    [](const testing::TestParamInfo<EarlyEnd>& info) { return httptest::CaseName(info.param.name); });

TEST(Transport, SilentServerIsEndedByTheInactivityLimit) {
    LoopbackServer server([](Connection& c) {
        c.ReadRequest();
        c.HoldUntilPeerCloses();
    });
    HttpClientLimits limits;
    limits.inactivityMs = 400;
    limits.waitStepMs = 50;
    HttpClient client(limits);
    std::string body = "kept";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Get(kNoProxy, server.Url("/x.json"), body), -1);
    long waited = MillisecondsSince(start);
    EXPECT_GE(waited, 400);
    EXPECT_LT(waited, 5000);
    EXPECT_EQ(body, "kept");
    // The worker quits and closes the connection it gave up on.
    EXPECT_TRUE(server.WaitFinished(1, 5000));
}

TEST(Transport, BytesArrivingKeepASlowReplyAlive) {
    // The whole reply takes about three times the inactivity limit, but never pauses that long.
    std::string reply = httptest::ReplyWithLength(200, Pattern(120));
    LoopbackServer server([&reply](Connection& c) {
        c.ReadRequest();
        c.WriteInPieces(reply, reply.size() / 8 + 1, 150);
    });
    HttpClientLimits limits;
    limits.inactivityMs = 400;
    limits.waitStepMs = 50;
    HttpClient client(limits);
    std::string body;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Get(kNoProxy, server.Url("/slow.json"), body), 200);
    EXPECT_EQ(body, Pattern(120));
    EXPECT_GE(MillisecondsSince(start), 800);
}

TEST(Transport, ReplyAfterTheConnectLimitStillCounts) {
    // The 15-second rule holds only while nothing is written: a reply that takes longer than the
    // connect limit after the request went out is still taken.
    LoopbackServer server([](Connection& c) {
        c.ReadRequest();
        c.Pause(600);
        c.Write(httptest::ReplyWithLength(200, "late"));
    });
    HttpClientLimits limits;
    limits.connectWaitMs = 200;
    limits.waitStepMs = 50;
    HttpClient client(limits);
    std::string body;
    EXPECT_EQ(client.Get(kNoProxy, server.Url("/late.json"), body), 200);
    EXPECT_EQ(body, "late");
}

TEST(Transport, TrickledReplyIsEndedByTheOverallDeadline) {
    LoopbackServer server([](Connection& c) { Trickle(c, 100); });
    HttpClientLimits limits;
    limits.inactivityMs = 400;
    limits.overallMs = 1000;
    limits.waitStepMs = 50;
    HttpClient client(limits);
    std::string body = "kept";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Get(kNoProxy, server.Url("/x.json"), body), -1);
    long waited = MillisecondsSince(start);
    EXPECT_GE(waited, 1000);
    EXPECT_LT(waited, 5000);
    EXPECT_EQ(body, "kept");
}

// The TLS handshake runs inside the wait for the connection: a server that takes the greeting and
// never answers holds the caller no longer than a server that never accepts.
TEST(Transport, ServerSilentInTheTlsHandshakeIsEndedByTheConnectLimit) {
    LoopbackServer server([](Connection& c) { c.HoldUntilPeerCloses(); });
    HttpClientLimits limits;
    limits.connectWaitMs = 300;
    limits.waitStepMs = 50;
    HttpClient client(limits);
    std::string body = "kept";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Get(kNoProxy, "https://127.0.0.1:" + std::to_string(server.port()) + "/x.json", body),
              -1);
    long waited = MillisecondsSince(start);
    EXPECT_GE(waited, 300);
    EXPECT_LT(waited, 5000);
    EXPECT_EQ(server.Accepted(), 1);
    EXPECT_TRUE(server.WaitFinished(1, 5000)) << "the worker closed the connection it gave up on";
}

TEST(Transport, CancellingEndsEveryOpenExchangeAtOnceAndRefusesNewOnes) {
    LoopbackServer server([](Connection& c) { Trickle(c, 200); });
    std::vector<int> results(3, 0);
    std::vector<std::thread> callers;
    for (int& result : results)
        callers.emplace_back([&server, &result] {
            HttpClient client;
            std::string body;
            result = client.Get(kNoProxy, server.Url("/x.json"), body);
        });
    ASSERT_TRUE(server.WaitRequests(3, 10000));

    auto start = std::chrono::steady_clock::now();
    microblog::CancelHttpExchanges();
    for (std::thread& caller : callers)
        caller.join();
    EXPECT_LT(MillisecondsSince(start), 1500);
    EXPECT_EQ(results, (std::vector<int>{-1, -1, -1}));
    microblog::WaitHttpExchangesEnded();
    EXPECT_EQ(microblog::OpenHttpExchanges(), 0);
    EXPECT_TRUE(server.WaitFinished(3, 5000)) << "each worker closed its connection";

    HttpClient late;
    std::string body;
    EXPECT_EQ(late.Get(kNoProxy, server.Url("/x.json"), body), -1);
    EXPECT_EQ(server.Accepted(), 3) << "a new exchange after the cancel connected";
    microblog::AllowHttpExchanges();
}

} // namespace
