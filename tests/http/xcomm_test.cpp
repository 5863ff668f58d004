// The host's socket library on its own: events through the owning thread's message loop, reads
// handed out in the sizes asked for, the end of the stream, queued writes, urgent data, and the
// closing and releasing pairs.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "host/win_thread.h"
#include "host/xcomm.h"
#include "tests/http/loopback_server.h"

namespace {

using httptest::Connection;
using httptest::LoopbackServer;

// Runs the calling thread's message loop until the condition holds or the bound passes.
bool Pump(const std::function<bool()>& condition, int boundMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (!condition()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        if (!tavi::WaitMessageFor(static_cast<int>(left.count())))
            continue;
        tavi::MSG msg;
        while (!condition() && tavi::PeekMessageA(&msg, true))
            tavi::DispatchMessageA(&msg);
    }
    return true;
}

// Records the events and, by default, reads everything in 1024-byte pieces.
struct Recorder : tavi::IXCommSink {
    tavi::IXComm* comm = tavi::IXComm_Creater();
    std::vector<std::string> events;
    std::vector<int> readSizes;
    std::string received;
    int connectError = -1;
    bool ended = false; // a Receive returned 0
    std::function<void()> onConnected;
    std::function<void()> onReceive;

    Recorder() { comm->SetSink(this); }
    ~Recorder() {
        if (comm) {
            comm->ShutDown();
            comm->Close();
            comm->Uninitialize();
            comm->Release();
        }
    }
    void OnClose(int error) override { events.push_back("close " + std::to_string(error)); }
    void OnConnect(int error) override {
        events.push_back("connect " + std::to_string(error));
        connectError = error;
        if (error == 0 && onConnected)
            onConnected();
    }
    void OnReceive(int error) override {
        if (onReceive) {
            onReceive();
            return;
        }
        char buffer[1024];
        int n = comm->Receive(buffer, sizeof(buffer), 0);
        if (n > 0) {
            readSizes.push_back(n);
            received.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            ended = true;
            events.push_back("end " + std::to_string(error));
        }
    }
    void OnSend(int error) override { events.push_back("sent " + std::to_string(error)); }
    void OnOutOfBandData(int error) override { events.push_back("urgent " + std::to_string(error)); }
    bool Closed() const { return !events.empty() && events.back().rfind("close", 0) == 0; }
};

std::string Pattern(std::size_t n) {
    std::string text(n, ' ');
    for (std::size_t i = 0; i < n; ++i)
        text[i] = static_cast<char>(i * 31 % 251);
    return text;
}

TEST(XComm, HandsOutWhatArrivedInTheSizesAskedForThenTheEndThenTheClose) {
    const std::string payload = Pattern(100 * 1024 + 17);
    LoopbackServer server([&payload](Connection& c) {
        c.ReadExactly(5);
        c.Write(payload);
    });
    Recorder r;
    r.onConnected = [&] { r.comm->Send("hello", 5); };
    ASSERT_EQ(r.comm->Connect("127.0.0.1", server.port()), 0);
    ASSERT_TRUE(Pump([&] { return r.Closed(); }, 10000));
    EXPECT_EQ(r.received, payload);
    for (int size : r.readSizes)
        ASSERT_LE(size, 1024);
    EXPECT_EQ(r.events, (std::vector<std::string>{"connect 0", "end 0", "close 0"}));
    // Nothing more arrives once the close was told.
    EXPECT_FALSE(Pump([&] { return r.events.size() > 3; }, 100));
}

TEST(XComm, RefusedConnectionIsReportedThroughTheLoop) {
    Recorder r;
    EXPECT_EQ(r.comm->Connect("127.0.0.1", httptest::UnusedLoopbackPort()), 0);
    // Not from inside Connect: the outcome comes as an event.
    EXPECT_TRUE(r.events.empty());
    ASSERT_TRUE(Pump([&] { return r.connectError >= 0; }, 5000));
    EXPECT_EQ(r.connectError, ECONNREFUSED);
    EXPECT_EQ(r.events.size(), 1u);
}

TEST(XComm, NameIsResolvedWithoutBlockingTheLoop) {
    LoopbackServer server([](Connection& c) { c.Write("hi"); });
    Recorder r;
    r.comm->Connect("localhost", server.port());
    ASSERT_TRUE(Pump([&] { return r.Closed(); }, 10000));
    EXPECT_EQ(r.connectError, 0);
    EXPECT_EQ(r.received, "hi");
}

TEST(XComm, WriteTheSocketCannotTakeAtOnceIsQueuedAndReported) {
    const std::string big = Pattern(std::size_t{16} << 20);
    std::string got;
    LoopbackServer server([&](Connection& c) {
        got = c.ReadExactly(big.size());
        c.Write("done");
    });
    Recorder r;
    int accepted = 0;
    r.onConnected = [&] { accepted = r.comm->Send(big.data(), static_cast<int>(big.size())); };
    r.comm->Connect("127.0.0.1", server.port());
    ASSERT_TRUE(Pump([&] { return r.received == "done"; }, 20000));
    EXPECT_EQ(accepted, static_cast<int>(big.size()));
    EXPECT_TRUE(got == big);
    EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "sent 0"), 1);
}

TEST(XComm, UrgentByteRaisesTheFifthEventAndLeavesTheStreamWhole) {
    LoopbackServer server([](Connection& c) {
        c.Write("abc");
        c.Pause(30);
        send(c.fd(), "!", 1, MSG_OOB);
        c.Pause(30);
        c.Write("def");
    });
    Recorder r;
    r.comm->Connect("127.0.0.1", server.port());
    ASSERT_TRUE(Pump([&] { return r.Closed(); }, 10000));
    EXPECT_EQ(r.received, "abcdef");
    EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "urgent 0"), 1);
}

TEST(XComm, ClosingPairStopsEveryEvent) {
    LoopbackServer server([](Connection& c) {
        for (int i = 0; i < 50 && c.Write(std::string(4096, 'x')); ++i)
            c.Pause(2);
    });
    Recorder r;
    r.onReceive = [&] {
        r.events.push_back("receive");
        r.comm->ShutDown();
        r.comm->Close();
    };
    r.comm->Connect("127.0.0.1", server.port());
    ASSERT_TRUE(Pump([&] { return r.events.size() == 2; }, 5000));
    EXPECT_FALSE(Pump([&] { return r.events.size() > 2; }, 200));
    EXPECT_EQ(r.events, (std::vector<std::string>{"connect 0", "receive"}));
}

TEST(XComm, ReleasingFromInsideAnEventIsSafe) {
    LoopbackServer server([](Connection& c) { c.Write(std::string(200000, 'y')); });
    Recorder r;
    bool released = false;
    r.onReceive = [&] {
        r.comm->ShutDown();
        r.comm->Close();
        r.comm->Uninitialize();
        r.comm->Release();
        r.comm = nullptr;
        released = true;
    };
    tavi::IXComm* comm = r.comm;
    comm->Connect("127.0.0.1", server.port());
    ASSERT_TRUE(Pump([&] { return released; }, 5000));
    // Most of the data is still unread: a released connection must deliver none of its events.
    std::size_t seen = r.events.size();
    r.onReceive = [&] { r.events.push_back("receive after release"); };
    EXPECT_FALSE(Pump([&] { return r.events.size() > seen; }, 200));
    EXPECT_EQ(r.events.size(), seen);
}

} // namespace
