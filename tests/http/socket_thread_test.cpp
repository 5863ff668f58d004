// The socket thread against a connection object that plays a script of events through the worker's
// own message loop: failed reads, connections that never answer and errors that a real socket on
// loopback cannot produce on demand.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/xcomm.h"
#include "http/http_client.h"
#include "http/http_request.h"
#include "runtime/platform/message_queue.h"
#include "tests/http/loopback_server.h"

namespace {

using microblog::HttpClient;
using microblog::HttpClientLimits;

// What the scripted connection saw, kept beyond the object's life.
struct CommRecord {
    std::mutex mutex;
    std::string sent;
    std::string connectHost;
    int connectPort = 0;
    tavi::ProxyCfg proxy;
    int receives = 0;
    int closes = 0;
    int released = 0;
    std::condition_variable changed;

    bool WaitReleased(int boundMs) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(boundMs), [&] { return released > 0; });
    }
};

enum class Event { kConnect, kReceive, kClose };
struct Step {
    Event event;
    int error;
};
// A read the script hands out: count -1 is a failed read, 0 the peer's close.
struct Read {
    int count;
    std::string bytes;
};
Read Fails() {
    return {-1, ""};
}
Read Bytes(const std::string& bytes) {
    return {static_cast<int>(bytes.size()), bytes};
}
Read Closed() {
    return {0, ""};
}

class ScriptedComm final : public tavi::IXComm {
public:
    ScriptedComm(std::shared_ptr<CommRecord> record, std::deque<Step> steps, std::deque<Read> reads)
        : record_(std::move(record)), steps_(std::move(steps)), reads_(std::move(reads)) {}

    void SetProxy(const tavi::ProxyCfg& proxy) override {
        std::lock_guard<std::mutex> lock(record_->mutex);
        record_->proxy = proxy;
    }
    int Send(const char* bytes, int length) override {
        std::lock_guard<std::mutex> lock(record_->mutex);
        record_->sent.append(bytes, static_cast<std::size_t>(length));
        return length;
    }
    int Receive(char* buffer, int length, int) override {
        {
            std::lock_guard<std::mutex> lock(record_->mutex);
            ++record_->receives;
        }
        if (reads_.empty())
            return -1;
        Read& read = reads_.front();
        if (read.count <= 0) {
            int count = read.count;
            reads_.pop_front();
            return count;
        }
        int n = std::min(length, static_cast<int>(read.bytes.size()));
        std::memcpy(buffer, read.bytes.data(), static_cast<std::size_t>(n));
        read.bytes.erase(0, static_cast<std::size_t>(n));
        if (read.bytes.empty())
            reads_.pop_front();
        return n;
    }
    int Connect(const char* host, unsigned short port) override {
        {
            std::lock_guard<std::mutex> lock(record_->mutex);
            record_->connectHost = host;
            record_->connectPort = port;
        }
        // The events reach the worker as socket events of its own thread's queue.
        queue_ = &tavi::runtime::MessageQueue::Current();
        watch_ = queue_->WatchFd(-1, 0, [this](short) { Play(); });
        if (!steps_.empty())
            queue_->RaiseFdEvent(watch_, 0);
        return 0;
    }
    void ShutDown() override {}
    void Close() override {
        {
            std::lock_guard<std::mutex> lock(record_->mutex);
            ++record_->closes;
        }
        Unwatch();
    }
    void SetSink(tavi::IXCommSink* sink) override { sink_ = sink; }
    void Uninitialize() override {
        Unwatch();
        sink_ = nullptr;
    }
    void Release() override {
        auto record = record_;
        delete this;
        {
            std::lock_guard<std::mutex> lock(record->mutex);
            ++record->released;
        }
        record->changed.notify_all();
    }
    void SetSecure(bool, const char*) override {}

private:
    void Unwatch() {
        if (queue_ && watch_ != 0)
            queue_->UnwatchFd(watch_);
        watch_ = 0;
    }
    void Play() {
        if (steps_.empty() || sink_ == nullptr)
            return;
        Step step = steps_.front();
        steps_.pop_front();
        int watch = watch_;
        switch (step.event) {
        case Event::kConnect:
            sink_->OnConnect(step.error);
            break;
        case Event::kReceive:
            sink_->OnReceive(step.error);
            break;
        case Event::kClose:
            sink_->OnClose(step.error);
            break;
        }
        if (watch_ == watch && watch_ != 0 && !steps_.empty())
            queue_->RaiseFdEvent(watch_, 0);
    }

    std::shared_ptr<CommRecord> record_;
    std::deque<Step> steps_;
    std::deque<Read> reads_;
    tavi::IXCommSink* sink_ = nullptr;
    tavi::runtime::MessageQueue* queue_ = nullptr;
    int watch_ = 0;
};

struct Scripted {
    std::shared_ptr<CommRecord> record = std::make_shared<CommRecord>();
    HttpClient client;

    Scripted(std::deque<Step> steps, std::deque<Read> reads, HttpClientLimits limits = {}) : client(limits) {
        client.SetCommFactory(
            [record = record, steps = std::move(steps), reads = std::move(reads)]() -> tavi::IXComm* {
                return new ScriptedComm(record, steps, reads);
            });
    }
    bool WaitReleased(int boundMs) const { return record->WaitReleased(boundMs); }
};

const std::string kUrl = "http://api.velmora.com:8080/statuses/home_timeline.json?count=50";
const std::string kReply = httptest::ReplyWithLength(200, "{\"ok\":true}");

std::deque<Step> ConnectThenReceives(int receives) {
    std::deque<Step> steps{{Event::kConnect, 0}};
    for (int i = 0; i < receives; ++i)
        steps.push_back({Event::kReceive, 0});
    return steps;
}

struct ReadCase {
    const char* name;
    std::deque<Read> reads;
    int status;
    std::string body;
};

class ReadSequence : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadSequence, EndsAsTheReadsSay) {
    const auto& c = GetParam();
    Scripted scripted(ConnectThenReceives(static_cast<int>(c.reads.size()) + 2), c.reads);
    std::string body = "stale";
    EXPECT_EQ(scripted.client.Get(tavi::ProxyCfg{}, kUrl, body), c.status);
    // The worker ended while the caller waited: the body is what was handed over, empty or not.
    EXPECT_EQ(body, c.body);
    EXPECT_TRUE(scripted.WaitReleased(5000));
}

INSTANTIATE_TEST_SUITE_P(
    Reads, ReadSequence,
    testing::Values(ReadCase{"reply in one read", {Bytes(kReply)}, 200, "{\"ok\":true}"},
                    ReadCase{"four failed reads then the reply",
                             {Fails(), Fails(), Fails(), Fails(), Bytes(kReply)},
                             200,
                             "{\"ok\":true}"},
                    ReadCase{"five failed reads in a row",
                             {Fails(), Fails(), Fails(), Fails(), Fails(), Bytes(kReply)},
                             -1,
                             ""},
                    ReadCase{"data resets the count",
                             {Fails(), Fails(), Fails(), Fails(), Bytes(kReply.substr(0, 20)), Fails(),
                              Fails(), Fails(), Fails(), Bytes(kReply.substr(20))},
                             200,
                             "{\"ok\":true}"},
                    ReadCase{
                        "peer closes early", {Bytes(kReply.substr(0, kReply.size() - 3)), Closed()}, -1, ""},
                    ReadCase{"reply that fails to decode", {Bytes("SSH-2.0-OpenSSH\r\n\r\n")}, -1, ""}),
    [](const testing::TestParamInfo<ReadCase>& info) { return httptest::CaseName(info.param.name); });

TEST(SocketThread, FifthFailedReadClosesTheConnectionWithoutReadingFurther) {
    Scripted scripted(ConnectThenReceives(8), {Fails(), Fails(), Fails(), Fails(), Fails(), Bytes(kReply)});
    std::string body;
    EXPECT_EQ(scripted.client.Get(tavi::ProxyCfg{}, kUrl, body), -1);
    ASSERT_TRUE(scripted.WaitReleased(5000));
    std::lock_guard<std::mutex> lock(scripted.record->mutex);
    EXPECT_EQ(scripted.record->receives, 5);
    EXPECT_GE(scripted.record->closes, 1);
}

TEST(SocketThread, WritesTheRequestOnceThroughTheGivenProxy) {
    Scripted scripted(ConnectThenReceives(1), {Bytes(kReply)});
    tavi::ProxyCfg proxy;
    proxy.type = tavi::ProxyCfg::kSocks5;
    proxy.host = "127.0.0.1";
    proxy.port = 1080;
    proxy.user = "u";
    proxy.password = "p";
    proxy.domain = "d";
    std::string body;
    ASSERT_EQ(scripted.client.Post(proxy, kUrl, "status=hi", body), 200);
    ASSERT_TRUE(scripted.WaitReleased(5000));

    microblog::HttpRequestDescription expected;
    expected.isPost = true;
    expected.host = "api.velmora.com";
    expected.port = 8080;
    expected.path = "/statuses/home_timeline.json?count=50";
    expected.referer = "http://api.velmora.com:8080/statuses";
    expected.body = "status=hi";
    std::lock_guard<std::mutex> lock(scripted.record->mutex);
    EXPECT_EQ(scripted.record->sent, microblog::BuildHttpRequest(expected));
    EXPECT_EQ(scripted.record->connectHost, "api.velmora.com");
    EXPECT_EQ(scripted.record->connectPort, 8080);
    EXPECT_EQ(scripted.record->proxy.type, proxy.type);
    EXPECT_EQ(scripted.record->proxy.host, proxy.host);
    EXPECT_EQ(scripted.record->proxy.port, proxy.port);
    EXPECT_EQ(scripted.record->proxy.user, proxy.user);
    EXPECT_EQ(scripted.record->proxy.password, proxy.password);
    EXPECT_EQ(scripted.record->proxy.domain, proxy.domain);
}

TEST(SocketThread, ConnectionWithoutAnyEventEndsAtTheConnectLimit) {
    HttpClientLimits limits;
    limits.connectWaitMs = 300;
    limits.waitStepMs = 50;
    Scripted scripted({}, {}, limits);
    std::string body = "kept";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(scripted.client.Get(tavi::ProxyCfg{}, kUrl, body), -1);
    auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GE(waited.count(), 300);
    EXPECT_LT(waited.count(), 5000);
    // The caller gave up: its string is left as it was, and the worker still ends and lets go.
    EXPECT_EQ(body, "kept");
    EXPECT_TRUE(scripted.WaitReleased(5000));
}

TEST(SocketThread, ConnectErrorEndsTheExchangeAtOnce) {
    Scripted scripted({{Event::kConnect, ECONNREFUSED}}, {});
    std::string body = "stale";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(scripted.client.Get(tavi::ProxyCfg{}, kUrl, body), -1);
    auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(waited.count(), 5000);
    EXPECT_EQ(body, "");
    std::lock_guard<std::mutex> lock(scripted.record->mutex);
    EXPECT_TRUE(scripted.record->sent.empty());
}

TEST(SocketThread, CloseOrErrorEventsEndTheExchange) {
    for (Step ending : {Step{Event::kClose, 0}, Step{Event::kReceive, ECONNRESET}}) {
        Scripted scripted({{Event::kConnect, 0}, ending}, {Bytes(kReply)});
        std::string body;
        EXPECT_EQ(scripted.client.Get(tavi::ProxyCfg{}, kUrl, body), -1);
        EXPECT_TRUE(scripted.WaitReleased(5000));
    }
}

TEST(SocketThread, EmptyOrUnusableAddresses) {
    Scripted empty(ConnectThenReceives(1), {Bytes(kReply)});
    std::string body = "kept";
    EXPECT_EQ(empty.client.Get(tavi::ProxyCfg{}, "", body), 0);
    EXPECT_EQ(body, "kept");

    Scripted ftp(ConnectThenReceives(1), {Bytes(kReply)});
    EXPECT_EQ(ftp.client.Get(tavi::ProxyCfg{}, "ftp://api.velmora.com/x", body), -1);
    EXPECT_TRUE(ftp.WaitReleased(5000));
    std::lock_guard<std::mutex> lock(ftp.record->mutex);
    EXPECT_TRUE(ftp.record->connectHost.empty());
}

TEST(SocketThread, NoConnectionObjectMeansNotStarted) {
    HttpClient client;
    client.SetCommFactory([]() -> tavi::IXComm* { return nullptr; });
    std::string body = "kept";
    EXPECT_EQ(client.Get(tavi::ProxyCfg{}, kUrl, body), 0);
    EXPECT_EQ(body, "kept");
}

} // namespace
