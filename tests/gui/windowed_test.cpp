// The windowed host against the local service: the plug-in in real GTK windows, its timeline page
// rendered by WebKit, and a person's actions (clicks inside the page, a message box, typing into a
// form's edit widget) reaching the model and the service. Needs a display (scripts/test runs these
// under Xvfb); screenshots stay under <build>/screenshots/ for people to look at.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>

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

// Real input through the X server (xdotool), to the window whose title matches the pattern. The
// toolkit names a window before it maps it, and focusing a window that is not yet shown is an X
// error that ends xdotool: the search waits for a shown one.
bool HasXdotool() {
    return std::system("command -v xdotool >/dev/null 2>&1") == 0;
}
bool PressIn(const std::string& titlePattern, const std::string& actions) {
    std::string command =
        "xdotool search --sync --onlyvisible --name '" + titlePattern + "' windowfocus --sync " + actions;
    return std::system(command.c_str()) == 0;
}
constexpr const char* kMainWindow = "^Tavi - demo@velmora.com$";

// Runs the commands until what they print holds the text, for at most the bound: real input
// travels through the X server and WebKit's processes at their own pace.
bool Eventually(TaviSession& session, const std::string& commands, const std::string& text,
                int boundMs = 15000) {
    std::string said;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
         std::chrono::steady_clock::now() < end;) {
        said = session.Run(commands);
        if (said.find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "never printed " << text << " for " << commands << ":\n" << said;
    return false;
}

// The pages the web view finished loading so far, as the loaded command says.
int PagesLoaded(TaviSession& session, int atLeast = 0) {
    std::string said = session.Run("loaded " + std::to_string(atLeast));
    std::size_t at = said.find("loaded ");
    return at == std::string::npos ? -1 : std::atoi(said.c_str() + at + 7);
}

class WindowedHost : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0')
            GTEST_SKIP() << "no display: the windowed host's tests run under xvfb-run";
        ASSERT_TRUE(service_.Started());
        // The desktop's web browser is a script that writes down the addresses it is given.
        std::filesystem::create_directories(desktop_.path() + "/data/applications");
        std::filesystem::create_directories(desktop_.path() + "/config");
        std::string browser = desktop_.path() + "/browser.sh";
        testenv::WriteFile(browser, "#!/bin/sh\necho \"$1\" >> " + opened_ + "\n");
        std::filesystem::permissions(browser, std::filesystem::perms::owner_all);
        testenv::WriteFile(desktop_.path() + "/data/applications/test-browser.desktop",
                           "[Desktop Entry]\nType=Application\nName=Test browser\nExec=" + browser +
                               " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
        testenv::WriteFile(desktop_.path() + "/config/mimeapps.list",
                           "[Default Applications]\nx-scheme-handler/http=test-browser.desktop\n"
                           "x-scheme-handler/https=test-browser.desktop\n");
        setenv("XDG_DATA_HOME", (desktop_.path() + "/data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (desktop_.path() + "/config").c_str(), 1);
        session_ = std::make_unique<TaviSession>(app_, "demo@velmora.com", "demo123",
                                                 std::vector<std::string>{"--gui"});
        ASSERT_TRUE(session_->Started());
    }

    MbService service_{{"--activity", "0"}};
    AppFolder app_{service_};
    testenv::ScratchDir desktop_{"desktop"};
    std::string opened_ = desktop_.path() + "/opened.txt";
    std::unique_ptr<TaviSession> session_;
};

TEST_F(WindowedHost, TimelineRenderedByWebKitAndActedOnByClicksInThePage) {
    std::string start = session_->Run("show\nwait\nscreenshot " + ShotPath("start-panel"));
    EXPECT_NE(start.find("screenshot "), std::string::npos) << start;
    e2e::SignIn(*session_);

    // The page in the web view: the stylesheet applied to the statuses of the demo timeline.
    std::string cards =
        session_->Run("inspect .status border-top-left-radius\nscreenshot " + ShotPath("timeline"));
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
    std::string form =
        session_->Run("click BtnPublish\nwait\ntype EdtContent \"窗口里写的 👋 hello\"\nscreen\n"
                      "screenshot " +
                      ShotPath("compose-form") + " MicroBlogPublishForm");
    EXPECT_NE(form.find("text=\"窗口里写的 👋 hello\""), std::string::npos) << form;
    EXPECT_EQ(LineWith(form, {"LabelNumberLeft", "text=\"150\""}), "") << form;
    session_->Run("click ButtonSend\nwait");
    EXPECT_EQ(service_.Count("POST /statuses/update.json 200"), 1) << service_.Log();
    std::string page = session_->Run("page");
    EXPECT_NE(page.find("窗口里写的 👋 hello"), std::string::npos) << page;

    // The header's mentions view, clicked in the page: the statuses that mention the user, drawn with
    // the same stylesheet, the view marked in the header.
    links = session_->Run("links");
    std::string mentions = LinkNumber(links, "tavi://mentions/");
    ASSERT_FALSE(mentions.empty()) << links;
    int pages = PagesLoaded(*session_);
    std::string shown =
        session_->Run("follow " + mentions + "\nwait\nloaded " + std::to_string(pages + 1) +
                      "\ninspect .view-mentions[aria-current]\ninspect .status border-top-left-radius\n"
                      "screenshot " +
                      ShotPath("mentions"));
    EXPECT_EQ(service_.Count("GET /statuses/mentions.json 200"), 1) << service_.Log();
    EXPECT_NE(shown.find("1 elements"), std::string::npos) << shown;
    EXPECT_NE(shown.find("border-top-left-radius: 4px"), std::string::npos) << shown;
    page = session_->Run("page");
    EXPECT_NE(page.find("晓风书屋"), std::string::npos) << page;

    // The settings form in its own window refuses an account that is not an address, with its balloon.
    std::string refused = session_->Run("settings\ntype EditAccount \"not an address\"\nclick ButtonOK\n"
                                        "screenshot " +
                                        ShotPath("settings-form") + " MicroBlogConfigForm");
    EXPECT_NE(LineWith(refused, {"balloon EditAccount"}), "") << refused;
    EXPECT_NE(LineWith(refused, {"screenshot ", "settings-form"}), "") << refused;
    EXPECT_EQ(session_->Close(), 0) << session_->Log();
}

// What a person meets beside the page: the toolbar count after another user's posts and a reminder
// poll, the toolbar button that shows the plug-in, keys pressed in the window (F5; j, Tab and Enter
// in the page), and a web address in a status opened by the desktop's own browser.
TEST_F(WindowedHost, ToolbarCountKeysAndWebLinksWorkAsAPersonExpects) {
    if (!HasXdotool())
        GTEST_SKIP() << "xdotool is not installed (scripts/setup installs it)";
    e2e::SignIn(*session_);
    {
        AppFolder linApp(service_);
        TaviSession lin(linApp, "lin@velmora.com", "lin123");
        e2e::SignIn(lin);
        lin.Run("click BtnPublish\ntype EdtContent \"窗外下雨了\"\nclick ButtonSend\nwait");
    }
    std::string polled = session_->Run("advance 60\nwait\ntoolbar\nscreenshot " + ShotPath("toolbar-count"));
    EXPECT_NE(LineWith(polled, {"ToolbarMicroBlog text=\"1\""}), "") << polled;
    // At the prompt interval the notice shows in the window too.
    std::string prompted = session_->Run("advance 840\nwait\nscreenshot " + ShotPath("notice"));
    EXPECT_NE(prompted.find("新微博提醒"), std::string::npos) << prompted;

    // The toolbar button shows the timeline again, the new post in it, and the count goes.
    int pages = PagesLoaded(*session_);
    std::string shown = session_->Run("click ToolbarMicroBlog\nwait\nloaded " + std::to_string(pages + 1) +
                                      "\ntoolbar\npage");
    EXPECT_NE(LineWith(shown, {"ToolbarMicroBlog text=\"\""}), "") << shown;
    EXPECT_NE(shown.find("窗外下雨了"), std::string::npos) << shown;

    // F5 pressed in the main window reloads the timeline.
    int timelines = service_.Count("GET /statuses/home_timeline");
    pages = PagesLoaded(*session_);
    ASSERT_TRUE(PressIn(kMainWindow, "key F5"));
    EXPECT_EQ(PagesLoaded(*session_, pages + 1), pages + 1);
    session_->Run("wait");
    EXPECT_EQ(service_.Count("GET /statuses/home_timeline"), timelines + 1) << service_.Log();

    // A click in the page's top bar gives the page the keyboard; j moves to the first status, Tab to
    // its first action, and Enter follows it: the retweet form of the new post opens.
    // (A slow build may take the key before the click reached the page: then both come again.)
    bool moved = false;
    for (int i = 0; i < 10 && !moved; ++i) {
        ASSERT_TRUE(PressIn(kMainWindow, "mousemove --window %1 60 147 click 1 sleep 0.5 key j"));
        for (int look = 0; look < 20 && !moved; ++look) {
            moved = session_->Run("inspect .status:focus").find("1 elements") != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    EXPECT_TRUE(moved) << "j never moved the focus to a status";
    // Tab goes through the status's links (a text may hold web links before the actions).
    bool onRetweet = false;
    for (int i = 0; i < 6 && !onRetweet; ++i) {
        ASSERT_TRUE(PressIn(kMainWindow, "key Tab"));
        onRetweet = Eventually(*session_, "inspect \".status a:focus\"", "1 elements") &&
                    session_->Run("inspect \"a[href^='tavi://retweet/']:focus\"").find("1 elements") !=
                        std::string::npos;
    }
    ASSERT_TRUE(onRetweet) << "Tab never reached a status's retweet action";
    // (On a loaded machine a key sent through Xvfb has been seen to go missing: Enter comes again
    // while the link still has the focus and no form opened.)
    bool formOpened = false;
    for (int i = 0; i < 3 && !formOpened; ++i) {
        ASSERT_TRUE(PressIn(kMainWindow, "key Return"));
        for (int look = 0; look < 50 && !formOpened; ++look) {
            formOpened = session_->Run("wait\nwindows").find("form MicroBlogPublishForm visible=1") !=
                         std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    EXPECT_TRUE(formOpened) << "Enter on the focused retweet action never opened the form";
    std::string form = session_->Run("windows\nscreen");
    EXPECT_NE(LineWith(form, {"form MicroBlogPublishForm visible=1", "title=\"转发微博\""}), "") << form;
    session_->Run("close MicroBlogPublishForm");

    // The title bar's menu (F10) holds the plug-in's settings item (the first), chosen with Enter.
    // (A menu slower than the second between the keys lets Enter reach the page, whose focused
    // retweet action opens its form instead: that form is closed and both keys come again.)
    bool settingsOpened = false;
    for (int i = 0; i < 3 && !settingsOpened; ++i) {
        ASSERT_TRUE(PressIn(kMainWindow, "key F10 sleep 1 key Return"));
        for (int look = 0; look < 50 && !settingsOpened; ++look) {
            std::string windows = session_->Run("wait\nwindows");
            settingsOpened = windows.find("form MicroBlogConfigForm visible=1") != std::string::npos;
            if (!settingsOpened && windows.find("form MicroBlogPublishForm visible=1") != std::string::npos)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!settingsOpened)
            session_->Run("close MicroBlogPublishForm");
    }
    EXPECT_TRUE(settingsOpened) << "F10 and Enter never opened the settings form";
    session_->Run("close MicroBlogConfigForm");

    // A web address in a status goes to the desktop's browser, and only there.
    std::string links = session_->Run("links");
    std::string web = LinkNumber(links, "http://radio.example.com/");
    ASSERT_FALSE(web.empty()) << links;
    session_->Run("follow " + web);
    std::string opened;
    for (int i = 0; i < 100 && opened.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        opened = testenv::ReadFile(opened_);
    }
    EXPECT_EQ(opened, "http://radio.example.com/lofi\n");
    EXPECT_EQ(session_->Close(), 0) << session_->Log();
}

// Without a password the windowed host asks for it in its sign-in window; typed there, the session
// signs in.
TEST(WindowedSignIn, ThePasswordTypedInTheSignInWindowSignsIn) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0')
        GTEST_SKIP() << "no display: the windowed host's tests run under xvfb-run";
    if (!HasXdotool())
        GTEST_SKIP() << "xdotool is not installed (scripts/setup installs it)";
    MbService service{{"--activity", "0"}};
    ASSERT_TRUE(service.Started());
    AppFolder app{service};
    TaviSession session(app, "demo@velmora.com", "", std::vector<std::string>{"--gui"});
    ASSERT_TRUE(session.Started());
    ASSERT_TRUE(PressIn("^Tavi 登录$", "type --delay 20 demo123"));
    // Enter signs in and the window goes: xdotool's last request on it may then fail.
    PressIn("^Tavi 登录$", "key Return");
    std::string signedIn = e2e::SignIn(session);
    EXPECT_NE(signedIn.find("MicroBlogListPanel"), std::string::npos) << signedIn;
    EXPECT_EQ(session.Close(), 0) << session.Log();
}

} // namespace
