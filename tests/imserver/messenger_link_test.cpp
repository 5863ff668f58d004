// The host's connection to the messenger server: against the real server for the settings flow,
// and against scripted servers for the ways replies go wrong.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>

#include "host/services.h"
#include "runtime/messenger/messenger_connection.h"
#include "service/packets.h"
#include "service/settings.h"
#include "tests/imserver/imserver_process.h"
#include "tests/imserver/wire_peer.h"
#include "tests/support/test_env.h"

namespace {

using imtest::ScriptedServer;
using imtest::WirePeer;
using imtest::wire::MessageKind;
using tavi::runtime::MessengerConnection;
using Clock = std::chrono::steady_clock;

std::int64_t MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Something a test waits for with a bound.
class Signal {
public:
    void Raise() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++count_;
        changed_.notify_all();
    }
    bool WaitFor(int times, int boundMilliseconds = 5000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(boundMilliseconds),
                                 [&] { return count_ >= times; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

MessengerConnection::Options LinkTo(std::uint16_t port) {
    MessengerConnection::Options options;
    options.port = port;
    options.account = "demo@velmora.com";
    options.credential = tavi::GetMD5("demo123");
    options.retryMinMs = 20;
    options.retryMaxMs = 200;
    options.connectTimeoutMs = 2000;
    return options;
}

// Answers every packet of a signed-in connection with its own body.
void Echo(WirePeer& connection) {
    while (auto message = connection.Receive(30000)) {
        imtest::wire::PacketRequest request;
        if (message->kind != MessageKind::Packet || !request.Decode(message->payload))
            return;
        imtest::wire::PacketReply reply;
        reply.body = request.body;
        connection.Send(MessageKind::PacketReply, message->sequence, reply.Encode());
    }
}

std::string BodyOf(std::unique_ptr<tavi::Unpack> reply) {
    return reply ? std::string(reply->data(), reply->size()) : std::string("<none>");
}

TEST(MessengerLink, SignsInAsTheCoreUserAndCarriesItsPacketsToTheServer) {
    testenv::ScratchDir dir("imlink");
    imtest::ImServerProcess server({"--db", dir.path() + "/im.db", "--user", "demo@velmora.com:demo123"});
    ASSERT_NE(server.port(), 0);
    testenv::HostRuntime host("demo@velmora.com", "demo123");
    auto* tags = static_cast<tavi::ITimeTagService*>(host.core().GetService(tavi::kServiceTimeTags));
    tags->SetTimeTag("timetag", 77);

    auto link = tavi::runtime::ConnectMessenger(host.core(), LinkTo(server.port()));
    ASSERT_TRUE(link->WaitSignedIn(5000));
    ASSERT_TRUE(host.RunUntil([&] { return host.core().IsMessengerSignedIn(); }));
    EXPECT_EQ(tags->GetTimeTag("timetag"), 0u) << "the server's tag replaces the old one";

    tavi::Property settings;
    settings.SetInteger(microblog::kKeyPromptInterval, 30);
    auto reply = host.core().SendPacketAndWaitResponse(
        microblog::MakeSettingsFrame(microblog::kCommandUploadSettings), settings, true, 5);
    ASSERT_TRUE(reply);
    microblog::TagRecord record;
    record.unmarshal(*reply);
    EXPECT_EQ(record.text, microblog::kSettingsName);
    EXPECT_GT(record.timeTag, 0u);
    EXPECT_EQ(link->QueryTimeTag(5), record.timeTag);
    EXPECT_EQ(link->GetConnectCount(), 1);
}

TEST(MessengerLink, RepliesFindTheirRequestsWhateverOrderTheyComeIn) {
    ScriptedServer server([](WirePeer& connection, int) {
        if (!ScriptedServer::AcceptSignIn(connection, 1))
            return;
        std::vector<imtest::wire::Message> held;
        while (held.size() < 3) {
            auto message = connection.Receive();
            if (!message)
                return;
            held.push_back(*message);
        }
        // A reply to nothing that was asked comes first, then the three backwards.
        connection.Send(MessageKind::PacketReply, 999, imtest::wire::PacketReply{200, "stray"}.Encode());
        for (auto it = held.rbegin(); it != held.rend(); ++it) {
            imtest::wire::PacketRequest request;
            request.Decode(it->payload);
            connection.Send(MessageKind::PacketReply, it->sequence,
                            imtest::wire::PacketReply{200, "re:" + request.body}.Encode());
        }
        connection.Receive(30000);
    });
    MessengerConnection link(LinkTo(server.port()));
    link.Start();
    ASSERT_TRUE(link.WaitSignedIn(5000));
    std::vector<std::future<std::string>> replies;
    for (std::string body : {"a", "b", "c"})
        replies.push_back(std::async(
            std::launch::async, [&link, body] { return BodyOf(link.SendAndWait("frame", body, true, 10)); }));
    EXPECT_EQ(replies[0].get(), "re:a");
    EXPECT_EQ(replies[1].get(), "re:b");
    EXPECT_EQ(replies[2].get(), "re:c");
}

// A server that signs the link in and never answers a packet.
struct SilentServer {
    SilentServer()
        : server([this](WirePeer& connection, int) {
              if (!ScriptedServer::AcceptSignIn(connection, 1))
                  return;
              while (auto message = connection.Receive(1000 * 60))
                  received.Raise();
          }) {}
    Signal received;
    ScriptedServer server;
};

struct WaitCase {
    const char* name;
    int seconds;
    std::int64_t capMs;
    std::int64_t expectedMs;
};

void PrintTo(const WaitCase& c, std::ostream* out) {
    *out << c.name;
}

class ReplyWait : public ::testing::TestWithParam<WaitCase> {};

TEST_P(ReplyWait, EndsWithNoReplyAfterTheShorterOfTheWaitAndTheCap) {
    SilentServer silent;
    auto options = LinkTo(silent.server.port());
    options.replyWaitLimitMs = GetParam().capMs;
    MessengerConnection link(options);
    link.Start();
    ASSERT_TRUE(link.WaitSignedIn(5000));
    auto start = Clock::now();
    EXPECT_FALSE(link.SendAndWait("frame", "body", true, GetParam().seconds));
    std::int64_t took = MillisecondsSince(start);
    EXPECT_GE(took, GetParam().expectedMs - 20);
    EXPECT_LT(took, GetParam().expectedMs + 3000);
    EXPECT_TRUE(silent.received.WaitFor(1)) << "the packet did go out";
}

INSTANTIATE_TEST_SUITE_P(Bounds, ReplyWait,
                         ::testing::Values(WaitCase{"AsAsked", 1, -1, 1000}, WaitCase{"Capped", 60, 300, 300},
                                           WaitCase{"NoWaitAtAll", 0, -1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MessengerLink, CloseReleasesAWaitingSenderAtOnce) {
    SilentServer silent;
    MessengerConnection link(LinkTo(silent.server.port()));
    link.Start();
    ASSERT_TRUE(link.WaitSignedIn(5000));
    auto start = Clock::now();
    auto reply = std::async(std::launch::async, [&] { return link.SendAndWait("frame", "body", true, 30); });
    ASSERT_TRUE(silent.received.WaitFor(1));
    link.Close();
    EXPECT_FALSE(reply.get());
    EXPECT_LT(MillisecondsSince(start), 5000);
    EXPECT_FALSE(link.SendAndWait("frame", "body", true, 30)) << "nothing goes out after the close";
}

// What the first connection does wrong; the second behaves, and the link gets over it.
struct Misbehaviour {
    const char* name;
    std::function<void(WirePeer&)> act;
    // The sign-in went wrong, not the reply: the request itself is carried on the next connection.
    bool requestSurvives = false;
};

void PrintTo(const Misbehaviour& c, std::ostream* out) {
    *out << c.name;
}

void AnswerFirstPacketWith(WirePeer& connection,
                           const std::function<void(WirePeer&, std::uint32_t)>& answer) {
    if (!ScriptedServer::AcceptSignIn(connection, 1))
        return;
    auto first = connection.Receive();
    if (!first)
        return;
    answer(connection, first->sequence);
    if (connection.fd() >= 0)
        Echo(connection);
}

const Misbehaviour kMisbehaviours[] = {
    {"DropsTheConnection",
     [](WirePeer& c) { AnswerFirstPacketWith(c, [](WirePeer& c, std::uint32_t) { c.Close(); }); }},
    {"LengthOverTheLimit",
     [](WirePeer& c) {
         AnswerFirstPacketWith(
             c, [](WirePeer& c, std::uint32_t) { c.Write(std::string("\xff\xff\xff\xff", 4) + "zz"); });
     }},
    {"ReplyTooShortForItsStatus",
     [](WirePeer& c) {
         AnswerFirstPacketWith(
             c, [](WirePeer& c, std::uint32_t seq) { c.Send(MessageKind::PacketReply, seq, "x"); });
     }},
    {"ReplyRefused",
     [](WirePeer& c) {
         AnswerFirstPacketWith(c, [](WirePeer& c, std::uint32_t seq) {
             c.Send(MessageKind::PacketReply, seq, imtest::wire::PacketReply{500, "ignored"}.Encode());
         });
     }},
    {"ReplyOfAnotherKind",
     [](WirePeer& c) {
         AnswerFirstPacketWith(c, [](WirePeer& c, std::uint32_t seq) {
             c.Send(MessageKind::TagReply, seq, imtest::wire::StatusAndTag{}.Encode());
         });
     }},
    {"GarbledSignInAnswer",
     [](WirePeer& c) {
         if (auto signIn = c.Receive())
             c.Send(MessageKind::SignInReply, signIn->sequence, "?");
     },
     true},
    {"SignInNeverAnswered", [](WirePeer& c) { c.Receive(3000); }, true},
};

class BadServer : public ::testing::TestWithParam<Misbehaviour> {};

TEST_P(BadServer, GivesNoReplyForThatRequestAndTheLinkGoesOn) {
    ScriptedServer server([](WirePeer& connection, int index) {
        if (index == 0) {
            GetParam().act(connection);
            if (connection.fd() >= 0)
                connection.Receive(5000);
            return;
        }
        if (ScriptedServer::AcceptSignIn(connection, 2))
            Echo(connection);
    });
    auto options = LinkTo(server.port());
    options.connectTimeoutMs = 500;
    MessengerConnection link(options);
    link.Start();
    auto start = Clock::now();
    if (GetParam().requestSurvives) {
        EXPECT_EQ(BodyOf(link.SendAndWait("frame", "first", true, 5)), "first");
    } else {
        EXPECT_FALSE(link.SendAndWait("frame", "first", true, 1));
        EXPECT_LT(MillisecondsSince(start), 3000);
    }
    EXPECT_EQ(BodyOf(link.SendAndWait("frame", "second", true, 5)), "second");
    EXPECT_EQ(link.GetConnectCount(), std::string(GetParam().name).find("Reply") == 0 ? 1 : 2);
}

INSTANTIATE_TEST_SUITE_P(Replies, BadServer, ::testing::ValuesIn(kMisbehaviours),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MessengerLink, SignsInAgainAfterTheServerWentAway) {
    Signal signedIn;
    std::vector<std::uint32_t> tags;
    std::mutex tagsMutex;
    ScriptedServer server([](WirePeer& connection, int index) {
        if (!ScriptedServer::AcceptSignIn(connection, 10 + index))
            return;
        if (index > 0)
            Echo(connection);
    });
    MessengerConnection::Events events;
    events.onSignedIn = [&](std::uint32_t tag) {
        {
            std::lock_guard<std::mutex> lock(tagsMutex);
            tags.push_back(tag);
        }
        signedIn.Raise();
    };
    MessengerConnection link(LinkTo(server.port()), events);
    link.Start();
    ASSERT_TRUE(signedIn.WaitFor(2));
    EXPECT_EQ(BodyOf(link.SendAndWait("frame", "again", true, 5)), "again");
    std::lock_guard<std::mutex> lock(tagsMutex);
    EXPECT_EQ(tags, (std::vector<std::uint32_t>{10, 11}));
    EXPECT_EQ(link.GetConnectCount(), 2);
}

TEST(MessengerLink, ARefusedSignInFailsSendsAtOnce) {
    testenv::ScratchDir dir("imlink");
    imtest::ImServerProcess server({"--db", dir.path() + "/im.db", "--user", "demo@velmora.com:other"});
    MessengerConnection link(LinkTo(server.port()));
    link.Start();
    EXPECT_FALSE(link.WaitSignedIn(5000));
    EXPECT_EQ(link.GetState(), MessengerConnection::State::Refused);
    auto start = Clock::now();
    EXPECT_FALSE(link.SendAndWait("frame", "body", true, 30));
    EXPECT_LT(MillisecondsSince(start), 1000);
}

TEST(MessengerLink, NoServerMeansNoReplyWithinTheWait) {
    std::uint16_t port;
    {
        ScriptedServer gone([](WirePeer&, int) {});
        port = gone.port();
    }
    MessengerConnection link(LinkTo(port));
    link.Start();
    auto start = Clock::now();
    EXPECT_FALSE(link.SendAndWait("frame", "body", true, 1));
    std::int64_t took = MillisecondsSince(start);
    EXPECT_GE(took, 900);
    EXPECT_LT(took, 4000);
}

struct AddressCase {
    const char* text;
    bool ok;
    const char* host;
    std::uint16_t port;
};

class ServerAddress : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ServerAddress, IsHostColonPort) {
    std::string host;
    std::uint16_t port = 0;
    ASSERT_EQ(tavi::runtime::ParseHostAndPort(GetParam().text, host, port), GetParam().ok) << GetParam().text;
    if (GetParam().ok) {
        EXPECT_EQ(host, GetParam().host);
        EXPECT_EQ(port, GetParam().port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ServerAddress,
    ::testing::Values(AddressCase{"127.0.0.1:8801", true, "127.0.0.1", 8801},
                      AddressCase{"localhost:1", true, "localhost", 1},
                      AddressCase{"[::1]:65535", true, "::1", 65535}, AddressCase{"::1:80", false, "", 0},
                      AddressCase{"host:0", false, "", 0}, AddressCase{"host:65536", false, "", 0},
                      AddressCase{"host:", false, "", 0}, AddressCase{":80", false, "", 0},
                      AddressCase{"host:8o", false, "", 0}, AddressCase{"host", false, "", 0},
                      AddressCase{"host:-1", false, "", 0}));

} // namespace
