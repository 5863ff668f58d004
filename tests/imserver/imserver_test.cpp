// The local messenger server over real sockets: sign-in, settings kept with increasing time tags,
// refusals, malformed and random input, and a clean stop.
#include <gtest/gtest.h>

#include <random>

#include "host/common.h"
#include "service/packets.h"
#include "service/settings.h"
#include "tests/imserver/imserver_process.h"
#include "tests/imserver/wire_peer.h"
#include "tests/support/test_env.h"

namespace {

using imtest::ImServerProcess;
using imtest::WirePeer;
using imtest::wire::MessageKind;
using namespace microblog;

constexpr const char* kAccount = "demo@velmora.com";
constexpr const char* kPassword = "demo123";

class ImServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        tavi::SetSystemCodePage("GB18030");
        Start();
    }
    void Start(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"--db",   dir_.path() + "/im.db",
                                         "--user", std::string(kAccount) + ":" + kPassword,
                                         "--user", std::string("other@velmora.com:") + "pw2"};
        args.insert(args.end(), extra.begin(), extra.end());
        server_ = std::make_unique<ImServerProcess>(args, dir_.path() + "/im.log");
        ASSERT_NE(server_->port(), 0) << testenv::ReadFile(dir_.path() + "/im.log");
    }
    // A connection signed in as the demo account.
    std::unique_ptr<WirePeer> SignedIn(std::uint32_t* tag = nullptr) {
        auto peer = std::make_unique<WirePeer>();
        EXPECT_TRUE(peer->Connect(server_->port()));
        auto answer = peer->SignIn(kAccount, tavi::GetMD5(kPassword));
        EXPECT_TRUE(answer && answer->status == imtest::wire::kStatusOk);
        if (tag && answer)
            *tag = answer->timeTag;
        return peer;
    }
    static std::optional<std::uint32_t> Upload(WirePeer& peer, const tavi::Property& settings,
                                               std::uint32_t seq) {
        auto reply = peer.Exchange(MakeSettingsFrame(kCommandUploadSettings), settings, seq);
        TagRecord record;
        tavi::Unpack unpack(reply ? reply->body : std::string());
        if (!reply || reply->status != 200)
            return std::nullopt;
        record.unmarshal(unpack);
        return record.timeTag;
    }
    static std::optional<TaggedProperty> Fetch(WirePeer& peer, std::uint32_t seq,
                                               const std::string& account = kAccount) {
        TagRecord query;
        query.text = account;
        auto reply = peer.Exchange(MakeSettingsFrame(kCommandFetchSettings), query, seq);
        if (!reply || reply->status != 200)
            return std::nullopt;
        TaggedProperty tagged;
        tavi::Unpack unpack(reply->body);
        tagged.unmarshal(unpack);
        return tagged;
    }

    testenv::ScratchDir dir_{"imserver"};
    std::unique_ptr<ImServerProcess> server_;
};

struct SignInCase {
    const char* name;
    const char* account;
    const char* password;
    std::uint16_t status;
};

void PrintTo(const SignInCase& c, std::ostream* out) {
    *out << c.name;
}

class SignIn : public ImServerTest, public ::testing::WithParamInterface<SignInCase> {};

TEST_P(SignIn, AcceptsOnlyAKnownAccountWithItsPassword) {
    WirePeer peer;
    ASSERT_TRUE(peer.Connect(server_->port()));
    auto answer = peer.SignIn(GetParam().account, tavi::GetMD5(GetParam().password));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, GetParam().status);
    if (GetParam().status == imtest::wire::kStatusOk)
        EXPECT_TRUE(Fetch(peer, 2, GetParam().account));
    else
        EXPECT_TRUE(peer.ReadsToTheEnd()) << "a refused connection is closed";
}

INSTANTIATE_TEST_SUITE_P(Accounts, SignIn,
                         ::testing::Values(SignInCase{"Known", kAccount, kPassword, 200},
                                           SignInCase{"WrongPassword", kAccount, "demo124", 401},
                                           SignInCase{"Unknown", "nobody@velmora.com", kPassword, 401}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImServerTest, OpenServerSignsUpAnUnknownAccountAndHoldsItToItsPassword) {
    server_->Stop();
    Start({"--open"});
    auto status = [&](const std::string& password) {
        WirePeer peer;
        EXPECT_TRUE(peer.Connect(server_->port()));
        auto answer = peer.SignIn("new@velmora.com", tavi::GetMD5(password));
        return answer ? answer->status : 0;
    };
    EXPECT_EQ(status("x"), 200);
    EXPECT_EQ(status("y"), 401);
    EXPECT_EQ(status("x"), 200);
}

TEST_F(ImServerTest, UploadsGetLaterTagsAndMergeIntoTheCopyThatOutlivesARestart) {
    std::uint32_t signInTag = 99;
    auto peer = SignedIn(&signInTag);
    EXPECT_EQ(signInTag, 0u) << "nothing stored yet";
    auto empty = Fetch(*peer, 2);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->timeTag, 0u);
    EXPECT_EQ(empty->Size(), 0u);

    tavi::Property first;
    first.SetString(kKeyAccount, tavi::utf8_to_CString("微博@velmora.com"));
    first.SetInteger(kKeyPromptInterval, 30);
    auto tag1 = Upload(*peer, first, 3);
    tavi::Property second;
    second.SetInteger(kKeyPromptInterval, 45);
    second.SetInteger(kKeyPromptEnabled, 0);
    auto tag2 = Upload(*peer, second, 4);
    ASSERT_TRUE(tag1 && tag2);
    EXPECT_GT(*tag2, *tag1);

    auto check = [&](WirePeer& reader, std::uint32_t seq) {
        auto fetched = Fetch(reader, seq);
        ASSERT_TRUE(fetched);
        EXPECT_EQ(fetched->name, kSettingsName);
        EXPECT_EQ(fetched->timeTag, *tag2);
        EXPECT_EQ(fetched->GetString(kKeyAccount), tavi::utf8_to_CString("微博@velmora.com"));
        EXPECT_EQ(fetched->GetInteger(kKeyPromptInterval), 45);
        EXPECT_EQ(fetched->GetInteger(kKeyPromptEnabled), 0);
        EXPECT_EQ(fetched->Size(), 3u);
    };
    check(*peer, 5);

    peer.reset();
    EXPECT_EQ(server_->Stop(), 0);
    Start();
    auto again = SignedIn(&signInTag);
    EXPECT_EQ(signInTag, *tag2) << "the sign-in gives the latest tag";
    check(*again, 2);
    ASSERT_TRUE(again->Send(MessageKind::TagQuery, 3, ""));
    auto tagReply = again->Receive();
    imtest::wire::StatusAndTag tag;
    ASSERT_TRUE(tagReply && tagReply->kind == MessageKind::TagReply && tag.Decode(tagReply->payload));
    EXPECT_EQ(tag.timeTag, *tag2);
}

TEST_F(ImServerTest, RefusesWhatItDoesNotServeAndKeepsTheConnection) {
    auto peer = SignedIn();
    tavi::Property mine;
    mine.SetInteger(kKeyPromptInterval, 30);
    ASSERT_TRUE(Upload(*peer, mine, 2));

    TagRecord foreign;
    foreign.text = "other@velmora.com";
    auto reply = peer->Exchange(MakeSettingsFrame(kCommandFetchSettings), foreign, 3);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, imtest::wire::kStatusForbidden);
    EXPECT_TRUE(reply->body.empty());

    LFrame otherService = MakeSettingsFrame(kCommandFetchSettings);
    otherService.serviceId = 20006;
    reply = peer->Exchange(otherService, foreign, 4);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, imtest::wire::kStatusNotFound);
    reply = peer->Exchange(MakeSettingsFrame(7), mine, 5);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, imtest::wire::kStatusNotFound);

    auto fetched = Fetch(*peer, 6);
    ASSERT_TRUE(fetched);
    EXPECT_EQ(fetched->GetInteger(kKeyPromptInterval), 30);
}

// Bytes that break the format; each drops its own connection only.
struct BadInput {
    const char* name;
    bool signInFirst;
    std::function<std::string()> bytes;
};

void PrintTo(const BadInput& c, std::ostream* out) {
    *out << c.name;
}

std::string PacketMessage(const std::string& frame, const std::string& body) {
    return imtest::wire::EncodeMessage(MessageKind::Packet, 9,
                                       imtest::wire::PacketRequest{frame, body}.Encode());
}

const BadInput kBadInputs[] = {
    {"LengthOverTheLimit", false, [] { return std::string("\xff\xff\xff\x7f", 4) + "xxxx"; }},
    {"LengthBelowTheHeader", false, [] { return std::string("\x02\x00\x00\x00zz", 6); }},
    {"PacketBeforeSignIn", false,
     [] { return PacketMessage(WirePeer::Marshal(MakeSettingsFrame(1)), WirePeer::Marshal(TagRecord())); }},
    {"UnknownKind", true, [] { return imtest::wire::EncodeMessage(static_cast<MessageKind>(77), 9, ""); }},
    {"SecondSignIn", true,
     [] {
         return imtest::wire::EncodeMessage(
             MessageKind::SignIn, 9, imtest::wire::SignInRequest{kAccount, tavi::GetMD5(kPassword)}.Encode());
     }},
    {"SignInCutShort", false,
     [] {
         return imtest::wire::EncodeMessage(MessageKind::SignIn, 9,
                                            std::string("\x05\x00"
                                                        "ab",
                                                        4));
     }},
    {"FrameCutShort", true,
     [] { return PacketMessage(WirePeer::Marshal(MakeSettingsFrame(1)).substr(0, 11), ""); }},
    {"FrameLengthPastTheEnd", true,
     [] {
         return imtest::wire::EncodeMessage(MessageKind::Packet, 9,
                                            std::string("\x40\x00\x00\x00"
                                                        "abc",
                                                        7));
     }},
    {"QueryCutShort", true,
     [] { return PacketMessage(WirePeer::Marshal(MakeSettingsFrame(1)), std::string("\x10\x00me", 4)); }},
    {"UploadWithBytesLeftOver", true,
     [] { return PacketMessage(WirePeer::Marshal(MakeSettingsFrame(2)), std::string(4, '\0') + "junk"); }},
    {"UploadCountPastTheEntries", true,
     [] {
         return PacketMessage(WirePeer::Marshal(MakeSettingsFrame(2)),
                              std::string("\xff\xff\xff\xff\x01\x00\x25\x4e", 8));
     }},
};

class MalformedInput : public ImServerTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(MalformedInput, DropsThatConnectionOnlyAndChangesNothing) {
    auto bystander = SignedIn();
    tavi::Property kept;
    kept.SetInteger(kKeyPromptInterval, 25);
    auto tag = Upload(*bystander, kept, 2);
    ASSERT_TRUE(tag);

    std::unique_ptr<WirePeer> bad;
    if (GetParam().signInFirst) {
        bad = SignedIn();
    } else {
        bad = std::make_unique<WirePeer>();
        ASSERT_TRUE(bad->Connect(server_->port()));
    }
    ASSERT_TRUE(bad->Write(GetParam().bytes()));
    EXPECT_TRUE(bad->ReadsToTheEnd()) << "the server closes the connection";

    auto fetched = Fetch(*bystander, 3);
    ASSERT_TRUE(fetched);
    EXPECT_EQ(fetched->timeTag, *tag);
    EXPECT_EQ(fetched->GetInteger(kKeyPromptInterval), 25);
    EXPECT_EQ(fetched->Size(), 1u);
    EXPECT_TRUE(server_->Running());
}

INSTANTIATE_TEST_SUITE_P(Inputs, MalformedInput, ::testing::ValuesIn(kBadInputs),
                         [](const auto& info) { return std::string(info.param.name); });

// Random bytes, random payloads under valid headers and mutations of valid packets, each on a
// connection of its own: the server answers with whole messages or closes, and a connection that
// stays open all along is served throughout.
TEST_F(ImServerTest, RandomBytesAreAnsweredOrDroppedAndOthersKeepBeingServed) {
    std::mt19937 random(20005);
    auto bytes = [&](std::size_t n) {
        std::string out(n, '\0');
        for (char& c : out)
            c = static_cast<char>(random() & 0xFF);
        return out;
    };
    auto steady = SignedIn();
    std::uint32_t seq = 100;
    tavi::Property settings;
    settings.SetString(kKeyAccount, "steady@velmora.com");
    std::string validUpload =
        PacketMessage(WirePeer::Marshal(MakeSettingsFrame(2)), WirePeer::Marshal(settings));
    TagRecord query;
    query.text = kAccount;
    std::string validFetch = PacketMessage(WirePeer::Marshal(MakeSettingsFrame(1)), WirePeer::Marshal(query));

    for (int round = 0; round < 240; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::unique_ptr<WirePeer> peer;
        int shape = round % 4;
        if (shape >= 2) {
            peer = SignedIn();
        } else {
            peer = std::make_unique<WirePeer>();
            ASSERT_TRUE(peer->Connect(server_->port()));
        }
        std::string input;
        switch (shape) {
        case 0: // noise
            input = bytes(random() % 64);
            break;
        case 1: // a header of a known kind with a random payload
        case 2: {
            auto kind = static_cast<MessageKind>(1 + random() % 6);
            input =
                imtest::wire::EncodeMessage(kind, static_cast<std::uint32_t>(random()), bytes(random() % 48));
            break;
        }
        case 3: { // a valid packet with a few bytes changed, or cut short
            input = (random() % 2) ? validUpload : validFetch;
            for (int flips = 1 + random() % 3; flips > 0; --flips)
                input[4 + random() % (input.size() - 4)] = static_cast<char>(random() & 0xFF);
            if (random() % 3 == 0)
                input.resize(random() % input.size());
            break;
        }
        }
        peer->Write(input); // the server may close before it has all of it
        peer->ShutdownWrite();
        EXPECT_TRUE(peer->ReadsToTheEnd()) << "only whole messages, then the end";

        if (round % 20 == 19) {
            settings.SetInteger(kKeyPromptInterval, round);
            ASSERT_TRUE(Upload(*steady, settings, ++seq));
            auto fetched = Fetch(*steady, ++seq);
            ASSERT_TRUE(fetched);
            EXPECT_EQ(fetched->GetInteger(kKeyPromptInterval), round);
        }
    }
    ASSERT_TRUE(server_->Running());
    auto late = SignedIn();
    EXPECT_TRUE(Fetch(*late, 2));
}

TEST_F(ImServerTest, StopsCleanlyOnSigtermWithConnectionsOpen) {
    auto peer = SignedIn();
    WirePeer idle;
    ASSERT_TRUE(idle.Connect(server_->port()));
    EXPECT_EQ(server_->Stop(5000), 0);
    EXPECT_TRUE(peer->ReadsToTheEnd());
    EXPECT_TRUE(idle.ReadsToTheEnd());
}

} // namespace
