// The settings exchanges of the service with the messenger server, through the host, against a
// messenger link that records what is sent and answers from a script.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <optional>

#include "host/services.h"
#include "service/packets.h"
#include "service/settings.h"
#include "tests/service/service_fixture.h"

namespace {

using namespace microblog;
using servicetest::ServiceTest;

std::string Marshal(const tavi::Marshallable& packet) {
    tavi::Pack pack;
    packet.marshal(pack);
    return pack.str();
}

class FakeLink : public tavi::runtime::MessengerLink {
public:
    struct Sent {
        std::string frame;
        std::string body;
        bool wait;
        int seconds;
    };
    // The reply body for a packet, or none.
    std::function<std::optional<std::string>(const Sent&)> answer = [](const Sent&) { return std::nullopt; };

    std::unique_ptr<tavi::Unpack> SendAndWait(const std::string& frame, const std::string& body, bool wait,
                                              int seconds) override {
        Sent sent{frame, body, wait, seconds};
        std::optional<std::string> reply;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sent_.push_back(sent);
            reply = answer(sent);
        }
        return reply ? std::make_unique<tavi::Unpack>(*reply) : nullptr;
    }
    std::vector<Sent> History() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_.size();
    }

private:
    std::mutex mutex_;
    std::vector<Sent> sent_;
};

std::string TaggedReply(std::uint32_t tag, const tavi::Property& entries) {
    TaggedProperty reply;
    reply.name = kSettingsName;
    reply.timeTag = tag;
    reply.Merge(entries);
    return Marshal(reply);
}

std::string TagReply(std::uint32_t tag) {
    TagRecord record;
    record.text = kSettingsName;
    record.timeTag = tag;
    return Marshal(record);
}

class SyncTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        link_ = std::make_shared<FakeLink>();
        host_->core().SetMessengerLink(link_);
    }
    tavi::ITimeTagService& Tags() {
        return *static_cast<tavi::ITimeTagService*>(host_->core().GetService(tavi::kServiceTimeTags));
    }
    void Settle() { ASSERT_TRUE(host_->core().WaitIdle(10000)); }
    // The stored map of a bound account, written as the plug-in writes its own settings.
    tavi::Property BoundSettings() {
        tavi::Property settings;
        settings.SetString(kKeyAccount, "old@velmora.com");
        settings.SetString(kKeyPassword, "0ldpassw0rdmd5");
        settings.SetInteger(kKeyPromptEnabled, 1);
        settings.SetInteger(kKeyPromptInterval, 20);
        settings.SetInteger(kKeyBound, 1);
        settings.SetInteger(kKeyReserved6, 1);
        settings.SetInteger(kKeyReserved7, 0);
        settings.SetInteger(kKeyReserved8, 0);
        return settings;
    }
    void StoreDirectly(const tavi::Property& settings) {
        host_->core().SaveUserData(kSettingsName, account_, settings, 0);
        Settle();
    }

    std::shared_ptr<FakeLink> link_;
};

TEST_F(SyncTest, UploadSendsTheSettingsFrameAndMapAndKeepsTheTagOfTheReply) {
    MicroBlogService* service = Load();
    Settle();
    ASSERT_EQ(link_->Count(), 0u) << "writing the defaults uploads nothing";
    tavi::Property before = Stored();
    unsigned state = service->GetState();
    link_->answer = [](const FakeLink::Sent&) { return TagReply(777); };

    tavi::Property settings;
    settings.SetString(kKeyAccount, "new@velmora.com");
    settings.SetString(kKeyPassword, "c0ffee");
    settings.SetInteger(kKeyPromptEnabled, 0);
    settings.SetInteger(kKeyPromptInterval, 45);
    service->SaveSettings(settings);
    // Applied at once, before the upload has run; the flags and the store stay.
    std::string account, password;
    service->GetAccount(account, password);
    EXPECT_EQ(account, "new@velmora.com");
    EXPECT_EQ(password, "c0ffee");
    EXPECT_EQ(service->GetPromptEnabled(), 0);
    EXPECT_EQ(service->GetPromptInterval(), 45);
    EXPECT_EQ(service->GetState(), state);
    Settle();

    auto sent = link_->History();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].frame, Marshal(MakeSettingsFrame(kCommandUploadSettings)));
    EXPECT_EQ(sent[0].body, Marshal(settings));
    EXPECT_TRUE(sent[0].wait);
    EXPECT_EQ(sent[0].seconds, 60);
    EXPECT_EQ(Tags().GetTimeTag(kSettingsName), 777u);
    EXPECT_EQ(Stored(), before);
}

class UploadWithoutGoodReply : public SyncTest,
                               public ::testing::WithParamInterface<std::optional<std::string>> {};

TEST_P(UploadWithoutGoodReply, KeepsTheTagAsItWas) {
    MicroBlogService* service = Load();
    Settle();
    Tags().SetTimeTag(kSettingsName, 5);
    link_->answer = [reply = GetParam()](const FakeLink::Sent&) { return reply; };
    service->SaveSettings(BoundSettings());
    Settle();
    EXPECT_EQ(link_->Count(), 1u);
    EXPECT_EQ(Tags().GetTimeTag(kSettingsName), 5u);
}

INSTANTIATE_TEST_SUITE_P(Replies, UploadWithoutGoodReply,
                         ::testing::Values(std::nullopt, TagReply(9).substr(0, 13), std::string()));

TEST_F(SyncTest, StoredSettingsAreUploadedWholeButDefaultsAndServerCopiesAreNot) {
    MicroBlogService* service = Load();
    Settle();
    link_->answer = [](const FakeLink::Sent&) { return TagReply(100); };

    tavi::Property change;
    change.SetInteger(kKeyPromptInterval, 30);
    service->StoreSettingsMap(change);
    Settle();
    auto sent = link_->History();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].frame, Marshal(MakeSettingsFrame(kCommandUploadSettings)));
    // The whole stored map goes up, so the server's copy is complete even if an upload was lost.
    EXPECT_EQ(sent[0].body, Marshal(Stored()));
    EXPECT_EQ(Stored().Size(), 8u);
    EXPECT_EQ(Tags().GetTimeTag(kSettingsName), 100u);

    // A copy from the server is stored with flag 0 and is not sent back.
    Tags().SetTimeTag("timetag", 200);
    tavi::Property fetched;
    fetched.SetInteger(kKeyPromptInterval, 50);
    link_->answer = [&](const FakeLink::Sent&) { return TaggedReply(200, fetched); };
    service->RequestSyncSettings();
    Settle();
    EXPECT_EQ(Stored().GetInteger(kKeyPromptInterval), 50);
    EXPECT_EQ(link_->Count(), 2u);
}

TEST_F(SyncTest, AServiceGoneBeforeTheUploadIsAskedForIsNotCalled) {
    MicroBlogService* service = Load();
    Settle();
    tavi::Property change;
    change.SetInteger(kKeyPromptInterval, 30);
    service->StoreSettingsMap(change);
    // The host's request for the upload is still queued on the loop when the plug-in unloads.
    host_->core().UnregisterService(service);
    service->Release();
    service_ = nullptr;
    Settle();
    EXPECT_EQ(link_->Count(), 0u);
}

TEST_F(SyncTest, WhenTheLocalTagIsNewerTheStoredSettingsAreAppliedWithoutAsking) {
    MicroBlogService* service = Load();
    Settle();
    StoreDirectly(BoundSettings());
    Tags().SetTimeTag(kSettingsName, 10);
    Tags().SetTimeTag("timetag", 9);
    unsigned state = service->GetState();

    service->RequestSyncSettings();
    Settle();
    EXPECT_EQ(link_->Count(), 0u);
    std::string account, password;
    service->GetAccount(account, password);
    EXPECT_EQ(account, "old@velmora.com");
    EXPECT_EQ(password, "0ldpassw0rdmd5");
    EXPECT_EQ(service->GetPromptInterval(), 20);
    EXPECT_EQ(service->GetState(), state);
}

// What a fetch reply does, for a local "microblog" tag of 50 and a server tag of 60.
struct FetchCase {
    const char* name;
    std::function<std::optional<std::string>()> reply;
    bool changes;
    int interval; // the interval held afterwards
    const char* account;
    std::uint32_t tag;
};

void PrintTo(const FetchCase& c, std::ostream* out) {
    *out << c.name;
}

tavi::Property ServerCopy(int interval) {
    tavi::Property copy;
    copy.SetString(kKeyAccount, "remote@velmora.com");
    copy.SetString(kKeyPassword, "feedface");
    copy.SetInteger(kKeyPromptEnabled, 0);
    copy.SetInteger(kKeyPromptInterval, interval);
    return copy;
}

const FetchCase kFetchCases[] = {
    {"NewerReplyIsMergedAppliedAndStored", [] { return TaggedReply(60, ServerCopy(25)); }, true, 25,
     "remote@velmora.com", 60},
    {"NegativeIntervalBecomesFifteen", [] { return TaggedReply(60, ServerCopy(-3)); }, true, 15,
     "remote@velmora.com", 60},
    {"ReplyWithoutAnIntervalKeepsTheStoredOne",
     [] {
         tavi::Property copy = ServerCopy(0);
         copy.Erase(kKeyPromptInterval);
         return TaggedReply(61, copy);
     },
     true, 20, "remote@velmora.com", 61},
    {"SameTagChangesNothing", [] { return TaggedReply(50, ServerCopy(25)); }, false, 20, "old@velmora.com",
     50},
    {"OlderTagChangesNothing", [] { return TaggedReply(49, ServerCopy(25)); }, false, 20, "old@velmora.com",
     50},
    {"NoReplyChangesNothing", [] { return std::nullopt; }, false, 20, "old@velmora.com", 50},
    {"TruncatedReplyChangesNothing", [] { return TaggedReply(60, ServerCopy(25)).substr(0, 30); }, false, 20,
     "old@velmora.com", 50},
};

class FetchReply : public SyncTest, public ::testing::WithParamInterface<FetchCase> {};

TEST_P(FetchReply, ChangesTheSettingsOnlyWhenNewer) {
    const FetchCase& c = GetParam();
    StoreDirectly(BoundSettings());
    MicroBlogService* service = Load();
    Settle();
    tavi::Property before = Stored();
    Tags().SetTimeTag(kSettingsName, 50);
    Tags().SetTimeTag("timetag", 60);
    unsigned state = service->GetState();
    link_->answer = [&](const FakeLink::Sent&) { return c.reply(); };

    service->RequestSyncSettings();
    Settle();

    auto sent = link_->History();
    ASSERT_EQ(sent.size(), 1u) << "one query, and no upload of what came back";
    EXPECT_EQ(sent[0].frame, Marshal(MakeSettingsFrame(kCommandFetchSettings)));
    TagRecord query;
    query.text = account_;
    query.timeTag = 50;
    EXPECT_EQ(sent[0].body, Marshal(query));
    EXPECT_TRUE(sent[0].wait);
    EXPECT_EQ(sent[0].seconds, 60);

    tavi::Property stored = Stored();
    EXPECT_EQ(Tags().GetTimeTag(kSettingsName), c.tag);
    EXPECT_EQ(stored.GetString(kKeyAccount), c.account);
    EXPECT_EQ(stored.GetInteger(kKeyPromptInterval), c.interval);
    EXPECT_EQ(service->GetPromptInterval(), c.interval);
    std::string account, password;
    service->GetAccount(account, password);
    EXPECT_EQ(account, c.account);
    if (c.changes) {
        EXPECT_EQ(password, "feedface");
        EXPECT_EQ(service->GetPromptEnabled(), 0);
        EXPECT_EQ(stored.GetInteger(kKeyPromptEnabled), 0);
        // The keys the reply does not carry stay as they were.
        for (std::uint32_t key : {kKeyBound, kKeyReserved6, kKeyReserved7, kKeyReserved8})
            EXPECT_EQ(stored.GetMap().at(key), before.GetMap().at(key)) << std::hex << key;
    } else {
        EXPECT_EQ(stored, before);
        EXPECT_EQ(service->GetPromptEnabled(), 1);
    }
    // A sync never touches the state flags.
    EXPECT_EQ(service->GetState(), state);
}

INSTANTIATE_TEST_SUITE_P(Replies, FetchReply, ::testing::ValuesIn(kFetchCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SyncTest, SignInStoresTheServerTagAndAsksTheServiceForASync) {
    Load();
    Settle();
    link_->answer = [](const FakeLink::Sent&) { return TaggedReply(0, tavi::Property()); };
    host_->core().OnMessengerSignedIn(1234);
    Settle();
    EXPECT_EQ(Tags().GetTimeTag("timetag"), 1234u);
    auto sent = link_->History();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].frame, Marshal(MakeSettingsFrame(kCommandFetchSettings)));
}

TEST_F(SyncTest, AServiceLoadedAfterTheSignInGetsItsSyncOnceLoaded) {
    host_->core().OnMessengerSignedIn(0);
    Settle();
    EXPECT_EQ(link_->Count(), 0u) << "nobody to sync yet";
    link_->answer = [](const FakeLink::Sent&) { return TaggedReply(70, ServerCopy(35)); };
    MicroBlogService* service = Load();
    Settle();
    ASSERT_EQ(link_->Count(), 1u);
    EXPECT_EQ(service->GetPromptInterval(), 35);
    EXPECT_EQ(Stored().GetInteger(kKeyPromptInterval), 35);
    // The defaults written by the load are still there beside what came.
    EXPECT_EQ(Stored().GetInteger(kKeyReserved6), 1);
}

} // namespace
