// The windowed host against the local service: the plug-in in real GTK windows, its timeline page
// rendered by WebKit, and a person's actions (clicks inside the page, a message box, typing into a
// form's edit widget) reaching the model and the service. Needs a display (scripts/test runs these
// under Xvfb); screenshots stay under <build>/screenshots/ for people to look at.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "tests/e2e/harness.h"

namespace {

using e2e::AppFolder;
using e2e::LineWith;
using e2e::MbService;
using e2e::TaviSession;

std::string ShotPath(const std::string& name) {
    std::string dir = std::string(TAVI_BUILD_DIR) + "/screenshots";
    std::filesystem::create_directories(dir);
    return dir + "/" + name + ".png";
}

// The number of the first link whose address starts with the prefix, from the links listing.
std::string LinkNumber(const std::string& links, const std::string& prefix) {
    std::smatch match;
    std::regex line("(^|\\n)([0-9]+) " + prefix);
    return std::regex_search(links, match, line) ? match[2].str() : std::string();
}

class WindowedHost : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0')
            GTEST_SKIP() << "no display: the windowed host's tests run under xvfb-run";
        ASSERT_TRUE(service_.Started());
        session_ = std::make_unique<TaviSession>(app_, "demo@velmora.com", "demo123",
                                                 std::vector<std::string>{"--gui"});
        ASSERT_TRUE(session_->Started());
    }

    MbService service_{{"--activity", "0"}};
    AppFolder app_{service_};
    std::unique_ptr<TaviSession> session_;
};

TEST_F(WindowedHost, TimelineRenderedByWebKitAndActedOnByClicksInThePage) {
    std::string start = session_->Run("show\nwait\nscreenshot " + ShotPath("start-panel"));
    EXPECT_NE(start.find("screenshot "), std::string::npos) << start;
    e2e::SignIn(*session_);

    // The page in the web view: the stylesheet applied to the statuses of the demo timeline.
    std::string cards = session_->Run("inspect .status border-top-left-radius\nscreenshot " + ShotPath("timeline"));
    EXPECT_NE(cards.find("50 elements"), std::string::npos) << cards;
    EXPECT_NE(cards.find("border-top-left-radius: 4px"), std::string::npos) << cards;
    EXPECT_GT(std::filesystem::file_size(ShotPath("timeline")), 20000u);

    // A favourite by a click inside the page reaches the service.
    std::string links = session_->Run("links");
    std::string favourite = LinkNumber(links, "tavi://favorite_add/");
    ASSERT_FALSE(favourite.empty()) << links;
    session_->Run("follow " + favourite + "\nwait");
    EXPECT_EQ(service_.Count("POST /favorites/create"), 1) << service_.Log();

    // A delete asks first; the answer is a click on the dialog's Yes button.
    links = session_->Run("links");
    std::string remove = LinkNumber(links, "tavi://delete/");
    ASSERT_FALSE(remove.empty()) << links;
    std::string asked = session_->Run("follow " + remove + "\nanswer yes\nwait");
    EXPECT_NE(LineWith(asked, {"msgbox", "-> yes"}), "") << asked;
    EXPECT_EQ(service_.Count("POST /statuses/destroy"), 1) << service_.Log();

    // The compose form: typing into its edit widget moves the counter, sending posts the status,
    // and the reloaded page shows it.
    std::string form = session_->Run("click BtnPublish\nwait\ntype EdtContent \"窗口里写的 👋 hello\"\nscreen\n"
                                     "screenshot " + ShotPath("compose-form") + " MicroBlogPublishForm");
    EXPECT_NE(form.find("text=\"窗口里写的 👋 hello\""), std::string::npos) << form;
    EXPECT_EQ(LineWith(form, {"LabelNumberLeft", "text=\"150\""}), "") << form;
    session_->Run("click ButtonSend\nwait");
    EXPECT_EQ(service_.Count("POST /statuses/update.json 200"), 1) << service_.Log();
    std::string page = session_->Run("page");
    EXPECT_NE(page.find("窗口里写的 👋 hello"), std::string::npos) << page;

    // The settings form in its own window refuses an account that is not an address, with its balloon.
    std::string refused = session_->Run("settings\ntype EditAccount \"not an address\"\nclick ButtonOK\n"
                                        "screenshot " + ShotPath("settings-form") + " MicroBlogConfigForm");
    EXPECT_NE(LineWith(refused, {"balloon EditAccount"}), "") << refused;
    EXPECT_NE(LineWith(refused, {"screenshot ", "settings-form"}), "") << refused;
    EXPECT_EQ(session_->Close(), 0) << session_->Log();
}

} // namespace
