// The service's per-user settings: defaults, loading, storing and what each does to the state.
#include <sys/stat.h>

#include "host/common.h"
#include "runtime/core/host_services.h"
#include "service/deployment.h"
#include "service/microblog_result.h"
#include "service/settings.h"
#include "tests/service/service_fixture.h"

namespace {

using namespace microblog;
using servicetest::ServiceTest;

// Counts the reminder polls that reach the worker.
struct PollCountingService : MicroBlogService {
    using MicroBlogService::MicroBlogService;
    void RunLatestReminds(tavi::ITaskClass*) override { ++polls; }
    std::atomic<int> polls{0};
};

// Sets what the sign-in and the workers would have left behind: the token, the bound bit, replies.
struct PreparedService : PollCountingService {
    using PollCountingService::PollCountingService;
    void HoldToken() {
        SetToken("t0k3n", "s3cr3t");
        SetStateBit(kStateSignedIn, true);
    }
    void SetBound(bool bound) { SetStateBit(kStateBound, bound); }
    void SetReminds(const std::string& json) { remindsDocument_.Parse(json); }
    void SetHomeTimeline(const std::string& json) { homeTimelineDocument_.Parse(json); }
    void SetMentions(const std::string& json) { mentionsDocument_.Parse(json); }
};

int FolderMode(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? static_cast<int>(info.st_mode & 0777)
                                                                   : -1;
}

TEST_F(ServiceTest, FirstLoadWritesTheEightDefaultsWithTheMessengerCredentials) {
    MicroBlogService* service = Load();
    tavi::Property stored = Stored();
    ASSERT_EQ(stored.Size(), 8u);
    EXPECT_EQ(stored.GetString(kKeyAccount), "demo@velmora.com");
    EXPECT_EQ(stored.GetString(kKeyPassword), tavi::GetMD5("demo123"));
    EXPECT_EQ(stored.GetInteger(kKeyPromptEnabled), 1);
    EXPECT_EQ(stored.GetInteger(kKeyPromptInterval), 15);
    EXPECT_EQ(stored.GetInteger(kKeyBound), 0);
    EXPECT_EQ(stored.GetInteger(kKeyReserved6), 1);
    EXPECT_EQ(stored.GetInteger(kKeyReserved7), 0);
    EXPECT_EQ(stored.GetInteger(kKeyReserved8), 0);
    EXPECT_EQ(service->GetState(), 0u);
    EXPECT_EQ(service->GetPromptInterval(), 15);
    // The user folder is made at load, the user's alone; a later load closes it again when opened.
    EXPECT_EQ(service->GetUserFolder(), host_->appDir() + "/users/demo@velmora.com/microblog");
    EXPECT_EQ(FolderMode(service->GetUserFolder()), 0700);
    Unload();
    chmod((host_->appDir() + "/users/demo@velmora.com/microblog").c_str(), 0755);
    service = Load();
    EXPECT_EQ(FolderMode(service->GetUserFolder()), 0700);
}

TEST_F(ServiceTest, OnlyAStoredBoundValueOfOneBinds) {
    for (int bound : {2, 1, 0}) {
        tavi::Property stored;
        stored.SetInteger(kKeyBound, bound);
        stored.SetString(kKeyAccount, "demo@velmora.com");
        host_->core().SaveUserData("microblog", account_, stored, 1);
        MicroBlogService* service = Load();
        EXPECT_EQ(service->GetState() & kStateBound, bound == 1 ? kStateBound : 0u) << bound;
        Unload();
    }
}

TEST_F(ServiceTest, StoringTheFirstFiveKeysKeepsTheOthersAndDropsTheToken) {
    auto* service = Load<PreparedService>();
    service->HoldToken();
    ASSERT_EQ(service->GetState(), kStateSignedIn);
    tavi::Property update;
    update.SetString(kKeyAccount, "other@velmora.com");
    update.SetString(kKeyPassword, "p");
    update.SetInteger(kKeyPromptEnabled, 0);
    update.SetInteger(kKeyPromptInterval, 30);
    update.SetInteger(kKeyBound, 1);
    service->StoreSettingsMap(update);
    tavi::Property stored = Stored();
    EXPECT_EQ(stored.Size(), 8u);
    EXPECT_EQ(stored.GetInteger(kKeyReserved6), 1);
    EXPECT_EQ(stored.GetString(kKeyAccount), "other@velmora.com");
    EXPECT_EQ(service->GetState(), kStateBound);
    EXPECT_EQ(service->GetPromptEnabled(), 0);
    EXPECT_EQ(service->GetPromptInterval(), 30);
    std::string account, password;
    service->GetAccount(account, password);
    EXPECT_EQ(account, "other@velmora.com");
    EXPECT_EQ(password, "p");
}

TEST_F(ServiceTest, NonAsciiAccountAndPasswordSurviveStoreAndLoad) {
    MicroBlogService* service = Load();
    std::string account = tavi::utf8_to_CString("用户@velmora.com");
    std::string password = tavi::utf8_to_CString("密码 \xF0\x9F\x98\x80");
    service->SetAccount(account, password, 1);
    // UTF-8 in the store...
    EXPECT_EQ(Stored().GetMap().at(kKeyAccount), "用户@velmora.com");
    Unload();
    // ...and the system code page in memory after the next load.
    service = Load();
    std::string readAccount, readPassword;
    service->GetAccount(readAccount, readPassword);
    EXPECT_EQ(readAccount, account);
    EXPECT_EQ(readPassword, password);
    EXPECT_EQ(service->GetState(), kStateBound);
}

TEST_F(ServiceTest, SetAccountWithoutPersistChangesOnlyMemory) {
    MicroBlogService* service = Load();
    tavi::Property before = Stored();
    service->SetAccount("x@velmora.com", "y", 0);
    EXPECT_EQ(Stored(), before);
    EXPECT_EQ(service->GetState(), 0u);
    std::string account, password;
    service->GetAccount(account, password);
    EXPECT_EQ(account, "x@velmora.com");
}

TEST_F(ServiceTest, EmptyStoredAccountFallsBackToTheMessengerUser) {
    tavi::Property stored;
    stored.SetString(kKeyAccount, "");
    stored.SetString(kKeyPassword, "kept");
    host_->core().SaveUserData("microblog", account_, stored, 1);
    MicroBlogService* service = Load();
    std::string account, password;
    service->GetAccount(account, password);
    EXPECT_EQ(account, "demo@velmora.com");
    EXPECT_EQ(password, tavi::GetMD5("demo123"));
}

TEST_F(ServiceTest, StoringSettingsCancelsBothTimersAndUnloadResetsTheToolbar) {
    auto* service = Load<PollCountingService>();
    service->StartReminders();
    host_->loop().Advance(60000);
    host_->core().WaitIdle(10000);
    EXPECT_EQ(service->polls.load(), 1);
    service->StoreSettingsMap(tavi::Property());
    host_->loop().Advance(3600000);
    host_->core().WaitIdle(10000);
    EXPECT_EQ(service->polls.load(), 1);
    EXPECT_EQ(host_->loop().PendingTimers(), 0u);
    Unload();
    EXPECT_EQ(view_.calls.back(), "DestroyConfigForm");
}

// Only a good reply while bound changes the count: a count sent as a JSON number, a failed status
// and an unbound service leave the count, the page and the button as they were.
TEST_F(ServiceTest, RemindsCountOnlyAStringCountOfAGoodReplyWhileBound) {
    auto* service = Load<PreparedService>();
    struct Case {
        const char* reply;
        int status;
        bool bound;
    };
    for (const Case& c :
         {Case{R"({"timelineCount":3})", 200, true}, Case{R"({"timelineCount":"3"})", 500, true},
          Case{R"({"timelineCount":"3"})", 200, false}}) {
        service->SetBound(c.bound);
        service->SetReminds(c.reply);
        MicroBlogResult result(c.status, "");
        service->OnRemindsResult(&host_->core(), &result);
        EXPECT_EQ(service->GetKnownNewItemCount(), 0) << c.reply << " " << c.status << " " << c.bound;
        EXPECT_EQ(view_.calls.size(), 0u);
    }
    service->SetBound(true);
    MicroBlogResult result(200, "");
    service->OnRemindsResult(&host_->core(), &result);
    EXPECT_EQ(service->GetKnownNewItemCount(), 3);
    ASSERT_EQ(view_.calls.size(), 1u);
    EXPECT_EQ(view_.calls[0].rfind("ShowPage ", 0), 0u) << view_.calls[0];

    // With new items waiting the prompt raises a notice and comes again; without the notifier it
    // ends without coming again.
    tavi::runtime::Notifier& notifier = host_->core().GetNotifier();
    service->PromptNewItems();
    EXPECT_EQ(notifier.GetNotices().size(), 1u);
    EXPECT_EQ(host_->loop().PendingTimers(), 1u);
    service->StoreSettingsMap(tavi::Property()); // cancels the timers
    host_->core().UnregisterService(&notifier);
    service->PromptNewItems();
    host_->core().RegisterService(&notifier);
    EXPECT_EQ(host_->loop().PendingTimers(), 0u);
    EXPECT_EQ(notifier.GetNotices().size(), 1u);
}

TEST_F(ServiceTest, FindStatusTellsNoTimelineFromAnUnknownIdFromAnOriginalFromARetweet) {
    auto* service = Load<PreparedService>();
    std::string text = "x", name = "x", root = "x";
    auto find = [&](const std::string& id) {
        int found = service->FindStatus(id, text, name, root);
        return std::to_string(found) + "|" + text + "|" + name + "|" + root;
    };
    EXPECT_EQ(find("11"), "0|||");
    service->SetHomeTimeline(R"({"id":"11"})");
    EXPECT_EQ(find("11"), "0|||");
    service->SetHomeTimeline(R"([
      {"id":"11","text":"t11","flag":"ORIGINAL","user":{"name":"lin"},"root_in_reply_to_user_name":"r"},
      {"id":"AB","text":"t12","flag":"RETWEET_COMMENT","user":{"name":"emma"},"root_in_reply_to_user_name":"chen"}])");
    EXPECT_EQ(find("99"), "1|||");
    EXPECT_EQ(find("11"), "0||lin|");
    EXPECT_EQ(find("ab"), "1|t12|emma|chen");
    // A status of the mentions page that the home timeline does not hold is found there.
    service->SetMentions(
        R"([{"id":"M7","text":"t7","flag":"RETWEET","user":{"name":"lin"},"root_in_reply_to_user_name":"me"}])");
    EXPECT_EQ(find("m7"), "1|t7|lin|me");
    EXPECT_EQ(find("99"), "1|||");
}

TEST_F(ServiceTest, ShowMainPanelReloadsWhileBoundAndAsksForAnAccountOtherwise) {
    auto* service = Load<PreparedService>();
    service->ShowMainPanel();
    EXPECT_EQ(view_.calls, (std::vector<std::string>{"ShowInHost", "ShowConfigForm"}));
    view_.calls.clear();
    service->SetBound(true);
    service->ShowMainPanel();
    EXPECT_EQ(view_.calls, (std::vector<std::string>{"ShowInHost", "RefreshTimeline"}));
}

TEST(MailDomains, OnlyTheElevenKnownDomainsExactly) {
    MicroBlogService service(nullptr);
    for (const char* known :
         {"velmora.com", "velmora.cn", "velmora.net", "vip.velmora.com", "mail.velmora.com",
          "tavi.velmora.com", "velmora.com.cn", "gmail.com", "outlook.com", "yahoo.com", "qq.com"})
        EXPECT_EQ(service.IsKnownMailDomain(known), 1) << known;
    for (const char* unknown :
         {"", "VELMORA.COM", "Gmail.com", "velmora.com.", "example.com", "velmora.org", "qq.co"})
        EXPECT_EQ(service.IsKnownMailDomain(unknown), 0) << unknown;
}

// deploy.ini: comments and unknown keys are skipped, a relative authority file is the install's
// own (beside the file), never one relative to wherever the host was started.
TEST(Deployment, ReadsHttpsAddressesAndPlacesARelativeAuthorityFileBesideTheFile) {
    testenv::ScratchDir dir;
    std::string path = dir.path() + "/deploy.ini";
    testenv::WriteFile(path,
                       "; a comment\napi_root = https://api.example.com\nca_file = private-ca.pem\nzz = 1\n");
    Deployment deployment = ReadDeployment(path);
    EXPECT_EQ(deployment.apiRoot, "https://api.example.com/");
    EXPECT_EQ(deployment.caFile, dir.path() + "/private-ca.pem");
    testenv::WriteFile(path, "ca_file = /etc/tavi/ca.pem\n");
    EXPECT_EQ(ReadDeployment(path).caFile, "/etc/tavi/ca.pem");
    testenv::WriteFile(path, "api_root = https://api.example.com/\n");
    EXPECT_EQ(ReadDeployment(path).caFile, "") << "no authority file: the system's authorities";
}

} // namespace
