// The plug-in's service against the running local service: real sockets, real signatures checked
// by the server's own verifier, and the records each operation hands back.
#include <gtest/gtest.h>

#include <mutex>

#include "host/common.h"
#include "service/deployment.h"
#include "service/microblog_result.h"
#include "service/settings.h"
#include "tests/mbservice/mbservice_harness.h"
#include "tests/service/service_fixture.h"

namespace {

using namespace microblog;

// Collects the records that reach the callback, in order.
struct Results {
    void OnResult(tavi::ITavi*, tavi::IAsync_CallbackParam* record) {
        const MicroBlogResult* result = AsResult(record);
        std::lock_guard<std::mutex> lock(mutex);
        records.emplace_back(result ? result->status : -999, result ? result->text : "");
    }
    IMicroBlogService::Callback Callback() { return IMicroBlogService::Callback(this, &Results::OnResult); }
    std::pair<int, std::string> Last() {
        std::lock_guard<std::mutex> lock(mutex);
        return records.empty() ? std::make_pair(-999, std::string("none")) : records.back();
    }
    std::mutex mutex;
    std::vector<std::pair<int, std::string>> records;
};

class PluginAgainstService : public servicetest::ServiceTest {
protected:
    void StartService(std::vector<std::string> args = {"--seed", "demo"}) {
        mb_ = std::make_unique<mbtest::MbServiceProcess>(args);
        ASSERT_TRUE(mb_->Started());
        std::string root = "http://127.0.0.1:" + std::to_string(mb_->Port()) + "/";
        testenv::WriteFile(host_->appDir() + "/plugin/microblog/deploy.ini",
                           "api_root = " + root + "\nweb_root = " + root + "web\npicture_prefix = " + root + "p/\n");
        service_ = Load();
    }
    // Runs a request and waits for its record.
    std::pair<int, std::string> Run(const std::function<void()>& request) {
        std::size_t before = results_.records.size();
        request();
        EXPECT_TRUE(host_->RunUntil([&] { return results_.records.size() > before; }, 30000));
        return results_.Last();
    }
    void SignIn(const std::string& account = "demo@velmora.com", const std::string& password = "demo123") {
        auto login = Run([&] { service_->RequestLogin(account, tavi::GetMD5(password), results_.Callback()); });
        ASSERT_EQ(login.first, 200);
        ASSERT_EQ(Run([&] { service_->RequestVerifyCredentials(results_.Callback()); }).first, 200);
    }
    // Ids of the statuses in the home timeline document, with their texts, from a fresh fetch.
    std::vector<std::pair<std::string, std::string>> Timeline() {
        EXPECT_EQ(Run([&] { service_->RequestHomeTimeline(20, results_.Callback()); }).first, 200);
        std::vector<std::pair<std::string, std::string>> statuses;
        service_->GetHomeTimelineDocument().With([&](const JsonValue* root) {
            if (root == nullptr || !root->Is(JsonValueType::Array))
                return;
            for (const auto& status : root->elements()) {
                const std::string* id = status->FindString("id");
                const std::string* text = status->FindString("text");
                statuses.emplace_back(id ? *id : "", text ? tavi::CString_to_utf8(*text) : "");
            }
        });
        return statuses;
    }

    std::unique_ptr<mbtest::MbServiceProcess> mb_;
    MicroBlogService* service_ = nullptr;
    Results results_;
};

TEST_F(PluginAgainstService, SignInVerifyAndTheHomeTimelineOfFifty) {
    StartService();
    SignIn();
    EXPECT_EQ(service_->GetState() & kStateSignedIn, kStateSignedIn);
    std::string screenName;
    EXPECT_EQ(service_->GetScreenName("", screenName), 1);
    EXPECT_FALSE(screenName.empty());
    auto statuses = Timeline();
    EXPECT_EQ(statuses.size(), 50u);
    EXPECT_EQ(service_->GetKnownNewItemCount(), 0);
}

TEST_F(PluginAgainstService, PublishRetweetReplyFavouriteAndDelete) {
    StartService();
    SignIn();
    std::string text = tavi::utf8_to_CString("测试 a&b=c d ~ 100% \xF0\x9F\x98\x80");
    ASSERT_EQ(Run([&] { service_->RequestUpdateStatus(text, results_.Callback()); }), std::make_pair(200, std::string()));
    auto statuses = Timeline();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.front().second, tavi::CString_to_utf8(text));
    std::string mine = statuses.front().first;
    std::string theirs;
    for (auto& [id, body] : statuses)
        if (id != mine)
            theirs = id;
    ASSERT_FALSE(theirs.empty());

    EXPECT_EQ(Run([&] { service_->RequestRetweet(results_.Callback(), theirs, "rt", 1, 0); }).first, 200);
    EXPECT_EQ(Run([&] { service_->RequestReply(results_.Callback(), theirs, "re", 0, 1); }).first, 200);
    EXPECT_EQ(Run([&] { service_->RequestCreateFavorite(results_.Callback(), theirs); }).first, 200);
    EXPECT_EQ(Run([&] { service_->RequestDestroyFavorite(theirs, results_.Callback()); }).first, 200);
    EXPECT_EQ(Run([&] { service_->RequestMentions(5, results_.Callback()); }), std::make_pair(200, std::string()));
    EXPECT_EQ(Run([&] { service_->RequestLatestReminds(results_.Callback()); }).first, 200);
    EXPECT_EQ(Run([&] { service_->RequestUpdateProfile("NewNick", results_.Callback()); }).first, 200);

    // Only one's own statuses can be deleted.
    EXPECT_EQ(Run([&] { service_->RequestDestroyStatus(theirs, results_.Callback()); }).first, 403);
    EXPECT_EQ(Run([&] { service_->RequestDestroyStatus(mine, results_.Callback()); }).first, 200);
    for (auto& [id, body] : Timeline())
        EXPECT_NE(id, mine);
}

TEST_F(PluginAgainstService, AStatusIdThatCouldChangeThePathIsNeverSent) {
    StartService();
    SignIn();
    for (std::string id : {"../account/verify_credentials", "1?x=y", "1/2", "", "1 2"}) {
        EXPECT_EQ(Run([&] { service_->RequestDestroyStatus(id, results_.Callback()); }).first, 0) << id;
        EXPECT_EQ(Run([&] { service_->RequestRetweet(results_.Callback(), id, "t", 0, 0); }).first, 0) << id;
    }
    EXPECT_EQ(mb_->ErrorLog().find("destroy/.."), std::string::npos);
}

TEST_F(PluginAgainstService, ActivationRepliesAreKeptForTheOpenPanel) {
    StartService();
    auto login = Run([&] { service_->RequestLogin("newbie@velmora.com", tavi::GetMD5("newbie123"), results_.Callback()); });
    ASSERT_EQ(login.first, 200);
    EXPECT_NE(Run([&] { service_->RequestVerifyCredentials(results_.Callback()); }).first, 200);
    auto errorText = [&] {
        std::string error;
        service_->GetActivationErrorDocument().With([&](const JsonValue* root) {
            if (const std::string* text = root ? root->FindString("error") : nullptr)
                error = tavi::CString_to_utf8(*text);
        });
        return error;
    };
    EXPECT_EQ(Run([&] { service_->RequestActivateAccount("!", results_.Callback()); }).first, 400);
    EXPECT_EQ(errorText(), "昵称格式不合法");
    EXPECT_EQ(Run([&] { service_->RequestActivateAccount(tavi::utf8_to_CString("小维"), results_.Callback()); }).first,
              400);
    EXPECT_EQ(errorText(), "昵称已被占用");
    EXPECT_EQ(Run([&] { service_->RequestActivateAccount("newbie_one", results_.Callback()); }).first, 200);
    EXPECT_EQ(errorText(), "昵称已被占用"); // a success leaves the kept refusal alone
    EXPECT_EQ(Run([&] { service_->RequestVerifyCredentials(results_.Callback()); }).first, 200);
}

TEST_F(PluginAgainstService, RefusedActivationGivesTheServersText) {
    StartService({"--seed", "demo", "--refuse-activation"});
    ASSERT_EQ(Run([&] { service_->RequestLogin("newbie@velmora.com", tavi::GetMD5("newbie123"), results_.Callback()); })
                  .first,
              200);
    EXPECT_EQ(Run([&] { service_->RequestActivateAccount("newbie_two", results_.Callback()); }).first, 403);
    std::string error;
    service_->GetActivationErrorDocument().With([&](const JsonValue* root) {
        if (const std::string* text = root ? root->FindString("error") : nullptr)
            error = tavi::CString_to_utf8(*text);
    });
    EXPECT_EQ(error, "创建微博用户失败");
}

TEST_F(PluginAgainstService, ASkewedClockIsReportedOnlyByTheOperationsThatTellIt) {
    // Signed in while the clocks agree; then the same service's data comes back with its clock an
    // hour off, as when the local clock has drifted.
    testenv::ScratchDir data("mbservice-data");
    std::string db = data.path() + "/mb.sqlite";
    StartService({"--seed", "demo", "--db", db});
    SignIn();
    mb_->Stop();
    mb_ = std::make_unique<mbtest::MbServiceProcess>(std::vector<std::string>{"--db", db, "--clock-skew", "3600"});
    ASSERT_TRUE(mb_->Started());
    Deployment moved = CurrentDeployment();
    moved.apiRoot = "http://127.0.0.1:" + std::to_string(mb_->Port()) + "/";
    SetCurrentDeployment(moved);

    std::pair<int, std::string> refused(401, kTimestampRefused);
    std::pair<int, std::string> plain(401, "");
    EXPECT_EQ(Run([&] { service_->RequestHomeTimeline(50, results_.Callback()); }), refused);
    EXPECT_EQ(Run([&] { service_->RequestUpdateStatus("x", results_.Callback()); }), refused);
    EXPECT_EQ(Run([&] { service_->RequestRetweet(results_.Callback(), "1", "x", 0, 0); }), refused);
    EXPECT_EQ(Run([&] { service_->RequestReply(results_.Callback(), "1", "x", 0, 0); }), refused);
    EXPECT_EQ(Run([&] { service_->RequestDestroyStatus("1", results_.Callback()); }), plain);
    EXPECT_EQ(Run([&] { service_->RequestVerifyCredentials(results_.Callback()); }), plain);
    EXPECT_EQ(Run([&] { service_->RequestLatestReminds(results_.Callback()); }), plain);
}

TEST_F(PluginAgainstService, AWrongPasswordFailsTheLoginAndAStoppedServiceGivesMinusOne) {
    StartService();
    auto wrong = Run([&] { service_->RequestLogin("demo@velmora.com", tavi::GetMD5("nope"), results_.Callback()); });
    EXPECT_EQ(wrong, std::make_pair(401, std::string()));
    EXPECT_EQ(service_->GetState() & kStateSignedIn, 0u);
    SignIn();
    mb_->Stop();
    EXPECT_EQ(Run([&] { service_->RequestHomeTimeline(50, results_.Callback()); }).first, -1);
    EXPECT_EQ(Run([&] { service_->RequestLogin("demo@velmora.com", tavi::GetMD5("demo123"), results_.Callback()); })
                  .first,
              401);
}

TEST_F(PluginAgainstService, TwentyWorkersSigningAtOnceAreNeverRefusedANonce) {
    StartService();
    SignIn();
    std::size_t before = results_.records.size();
    constexpr int kRequests = 40;
    for (int i = 0; i < kRequests; ++i)
        service_->RequestLatestReminds(results_.Callback());
    ASSERT_TRUE(host_->RunUntil([&] { return results_.records.size() >= before + kRequests; }, 60000));
    for (std::size_t i = before; i < results_.records.size(); ++i)
        EXPECT_EQ(results_.records[i].first, 200) << i;
    EXPECT_EQ(mb_->ErrorLog().find("nonce_used"), std::string::npos);
}

} // namespace
