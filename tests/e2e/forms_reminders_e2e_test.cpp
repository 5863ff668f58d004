// Reminders end to end: the demo user signed in through tavi polls mbservice every minute of the
// host's clock while other users post (through tavi sessions of their own), and sees the count on
// the toolbar button, in the page and, at the prompt interval, as a notice.
#include <filesystem>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

constexpr const char* kDemo = "demo@velmora.com";
constexpr const char* kDemoPassword = "demo123";
constexpr const char* kDefaultTip = "开始我的微生活";

std::string ToolbarLine(const std::string& output) {
    return LineWith(output, {"ToolbarMicroBlog"});
}

std::string Toolbar(const std::string& text, const std::string& tip) {
    return "ToolbarMicroBlog text=\"" + text + "\" tip=\"" + tip + "\"";
}

std::string NewPostsTip(int n) {
    return "有" + std::to_string(n) + "条新微博，点击查看";
}

class RemindersE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.Started()) << service_.Log();
        demoApp_ = std::make_unique<AppFolder>(service_);
        linApp_ = std::make_unique<AppFolder>(service_);
        demo_ = std::make_unique<TaviSession>(*demoApp_, kDemo, kDemoPassword);
        SignIn(*demo_);
        std::string toolbar = demo_->Run("toolbar");
        ASSERT_EQ(ToolbarLine(toolbar), Toolbar("", kDefaultTip)) << toolbar;
    }

    // 林小雨 posts statuses from her own tavi, through the compose form. Her session stays for the
    // whole test, so its requests go on with one nonce sequence.
    void LinPosts(int n) {
        if (!lin_) {
            lin_ = std::make_unique<TaviSession>(*linApp_, "lin@velmora.com", "lin123");
            SignIn(*lin_);
        }
        int before = service_.Count("POST /statuses/update.json 200");
        for (int i = 0; i < n; ++i)
            lin_->Run("click BtnPublish\ntype EdtContent \"lin " + std::to_string(++posts_) +
                      "\"\nclick ButtonSend\nwait");
        ASSERT_EQ(service_.Count("POST /statuses/update.json 200"), before + n)
            << lin_->Log() << service_.Log();
    }

    // The demo user reads the home timeline elsewhere, which clears the service's count.
    void DemoReadsElsewhere() {
        AppFolder other(service_);
        TaviSession elsewhere(other, kDemo, kDemoPassword);
        std::string output = SignIn(elsewhere) + elsewhere.Run("screen");
        ASSERT_NE(output.find("MicroBlogListPanel"), std::string::npos) << output;
    }

    // Moves the host's clock and lets the polls it started come back.
    std::string Advance(int seconds) {
        return demo_->Run("advance " + std::to_string(seconds) + "\nwait\ntoolbar");
    }

    int Notices() { return Occurrences(demo_->Run("notices"), "notice 11: "); }

    std::filesystem::file_time_type PageTime() {
        return std::filesystem::last_write_time(demoApp_->HomePage(kDemo));
    }

    MbService service_;
    std::unique_ptr<AppFolder> demoApp_;
    std::unique_ptr<AppFolder> linApp_;
    std::unique_ptr<TaviSession> demo_;
    std::unique_ptr<TaviSession> lin_;
    int posts_ = 0;
};

TEST_F(RemindersE2E, TheCountShowsOnTheToolbarAndInThePageAndThePromptRaisesANotice) {
    LinPosts(3);
    int polls = service_.Count("GET /reminds/message/latest.json");
    std::string first = Advance(60);
    EXPECT_GT(service_.Count("GET /reminds/message/latest.json 200"), polls) << service_.Log();
    EXPECT_EQ(ToolbarLine(first), Toolbar("3", NewPostsTip(3))) << first;
    EXPECT_NE(demo_->Run("page").find("新微博 3"), std::string::npos)
        << "the page is written again with the count";

    // The same count again changes nothing, not even the page.
    auto written = PageTime();
    std::string second = Advance(60);
    EXPECT_EQ(ToolbarLine(second), Toolbar("3", NewPostsTip(3))) << second;
    EXPECT_EQ(PageTime(), written);
    EXPECT_EQ(Notices(), 0);

    // The prompt interval (15 minutes by default) comes round with posts waiting: one notice, shown
    // as it is raised.
    std::string prompted = Advance(780);
    EXPECT_NE(prompted.find("新微博提醒"), std::string::npos) << prompted;
    std::string notices = demo_->Run("notices");
    EXPECT_NE(LineWith(notices, {"notice 11: 新微博提醒 | 您关注的人发布了新微博，点击查看。 (20000, 2)"}),
              "")
        << notices;
    EXPECT_EQ(Notices(), 1);

    // Read elsewhere, the count goes to 0 and the button back to its default.
    DemoReadsElsewhere();
    std::string cleared = Advance(60);
    EXPECT_EQ(ToolbarLine(cleared), Toolbar("", kDefaultTip)) << cleared;

    // With nothing waiting the prompt comes round without a notice, and keeps coming round.
    Advance(840);
    EXPECT_EQ(Notices(), 1);
    LinPosts(1);
    Advance(60);
    Advance(840);
    EXPECT_EQ(Notices(), 2);

    // Switched off in the settings, the prompt stops; the count still shows.
    std::string off = demo_->Run("settings\ncheck CheckNoticeNewMicroBlog off\nclick ButtonOK\nwait");
    EXPECT_EQ(demoApp_->Stored(kDemo).GetInteger(microblog::kKeyPromptEnabled), 0) << off;
    LinPosts(2);
    std::string shown = Advance(60);
    EXPECT_EQ(ToolbarLine(shown), Toolbar("2", NewPostsTip(2))) << shown << off;
    Advance(900);
    Advance(900);
    EXPECT_EQ(Notices(), 2);
}

TEST_F(RemindersE2E, AFailedPollChangesNothingTheNextOneRunsAndAReloadResetsTheButton) {
    LinPosts(3);
    ASSERT_EQ(ToolbarLine(Advance(60)), Toolbar("3", NewPostsTip(3)));
    auto written = PageTime();

    service_.Stop();
    std::string failed = Advance(60);
    EXPECT_EQ(ToolbarLine(failed), Toolbar("3", NewPostsTip(3))) << failed;
    EXPECT_EQ(PageTime(), written);

    ASSERT_TRUE(service_.Restart()) << service_.Log();
    LinPosts(1);
    std::string next = Advance(60);
    EXPECT_EQ(ToolbarLine(next), Toolbar("4", NewPostsTip(4))) << next;

    std::string reloaded = demo_->Run("click BtnMainForm\nwait\ntoolbar");
    EXPECT_EQ(ToolbarLine(reloaded), Toolbar("", kDefaultTip)) << reloaded;
    // The service's count is cleared by the reload too, so the next poll leaves the button alone.
    EXPECT_EQ(ToolbarLine(Advance(60)), Toolbar("", kDefaultTip));
}

} // namespace
} // namespace e2e
