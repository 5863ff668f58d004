// The sign-in as a user sees it in tavi against the local microblog service: when it runs, and the
// account states it ends in.
#include <gtest/gtest.h>

#include "tests/e2e/panels_session.h"

namespace panelstest {
namespace {

constexpr const char* kDemo = "demo@velmora.com";

std::string LinksShown(const std::string& screen) {
    std::string shown;
    for (const char* link :
         {"LabelUseThisAccount", "LabelOpenThisAccount", "LabelRetry", "LabelBindOtherAccount"}) {
        std::optional<ControlState> state = FindControl(screen, link);
        if (state && state->visible)
            shown += std::string(shown.empty() ? "" : " ") + link;
    }
    return shown;
}

TEST(PanelsSignIn, TheFirstShowSignsInOnceAndASecondShowDoesNot) {
    MbService service;
    ASSERT_GT(service.Port(), 0);
    AppFolder app(service);
    // The first start writes the default settings, which the window hears of as a change and answers
    // with a sign-in of its own; the shows below start from stored settings.
    RunTavi(app, kDemo, "demo123", "wait\n");
    int before = service.Count("GET /oauth/access_token");

    TaviSession tavi(app, kDemo, "demo123");
    ASSERT_TRUE(tavi.Started());
    tavi.Run("show\nwait");
    EXPECT_EQ(service.Count("GET /oauth/access_token"), before + 1);
    std::string screen = tavi.Run("show\nwait\nscreen");
    EXPECT_EQ(service.Count("GET /oauth/access_token"), before + 1) << "a second show signs in again";
    EXPECT_TRUE(ShowsContainer(screen, "panel MicroBlogStartPanel")) << screen;
    EXPECT_EQ(tavi.Close(), 0);
}

// Names that cannot have a microblog end in the domain error at once: nothing reaches the service.
class PanelsDomainCheck : public ::testing::TestWithParam<const char*> {};

TEST_P(PanelsDomainCheck, EndsInTheDomainErrorWithoutAnyRequest) {
    MbService service;
    ASSERT_GT(service.Port(), 0);
    AppFolder app(service);
    std::string account = GetParam();
    std::string out =
        RunTavi(app, account, "demo123", "show\nwait\nscreen\nclick BtnMyBlog\nclick BtnCollect\nopened\n");
    std::optional<ControlState> status = FindControl(out, "LabelAccountStatus");
    ASSERT_TRUE(status) << out;
    EXPECT_TRUE(status->visible);
    EXPECT_EQ(status->text, WithAccount(StringTableText("STRID_MB_STARTPANEL_DOMAINERROR"), account));
    EXPECT_EQ(LinksShown(out), "LabelBindOtherAccount") << out;
    EXPECT_TRUE(service.Requests().empty()) << service.Requests().front();
    // No credential check succeeded, so the tool buttons have no user page to open.
    EXPECT_NE(out.find("nothing opened"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Accounts, PanelsDomainCheck,
                         ::testing::Values("demo",                    // no "@"
                                           "demo@",                   // nothing after it
                                           "demo@example.org",        // a domain outside the list
                                           "demo@VELMORA.COM",        // a known domain, upper-cased
                                           "demo@mail@velmora.com")); // the domain after the first "@"

TEST(PanelsSignIn, AWrongPasswordEndsInTheAuthErrorAndRetrySignsInAgain) {
    MbService service;
    ASSERT_GT(service.Port(), 0);
    AppFolder app(service);
    TaviSession tavi(app, kDemo, "not-the-password");
    ASSERT_TRUE(tavi.Started());
    std::string out = tavi.Run("show\nwait\nscreen\nclick BtnMyBlog\nopened");
    std::optional<ControlState> status = FindControl(out, "LabelAccountStatus");
    ASSERT_TRUE(status) << out;
    EXPECT_EQ(status->text, WithAccount(StringTableText("STRID_MB_STARTPANEL_AUTHERROR"), kDemo));
    EXPECT_EQ(LinksShown(out), "LabelRetry LabelBindOtherAccount") << out;
    EXPECT_FALSE(FindControl(out, "BtnPublish")->enabled);
    // No credential check succeeded, so there is no user page to open.
    EXPECT_NE(out.find("nothing opened"), std::string::npos) << out;

    int refused = service.Count("GET /oauth/access_token 401");
    EXPECT_GE(refused, 1);
    std::string again = tavi.Run("click LabelRetry\nwait\nscreen");
    EXPECT_EQ(service.Count("GET /oauth/access_token 401"), refused + 1);
    EXPECT_EQ(FindControl(again, "LabelRetry")->visible, true) << again;
    EXPECT_EQ(service.Count("GET /account/verify_credentials.json"), 0);
    EXPECT_EQ(tavi.Close(), 0);
}

TEST(PanelsSignIn, AnAccountWithoutAMicroblogIsOfferedToOpenOne) {
    MbService service;
    ASSERT_GT(service.Port(), 0);
    AppFolder app(service);
    std::string out = RunTavi(app, "newbie@velmora.com", "newbie123", "show\nwait\nscreen\ntoolbar\n");
    std::optional<ControlState> status = FindControl(out, "LabelAccountStatus");
    ASSERT_TRUE(status) << out;
    EXPECT_EQ(status->text,
              WithAccount(StringTableText("STRID_MB_STARTPANEL_ACCOUNTNOTOK"), "newbie@velmora.com"));
    EXPECT_EQ(LinksShown(out), "LabelOpenThisAccount LabelBindOtherAccount") << out;
    EXPECT_GE(service.Count("GET /account/verify_credentials.json 403"), 1);
    EXPECT_NE(out.find("ToolbarMicroBlog text=\"\" tip=\"开始我的微生活\""), std::string::npos) << out;
}

TEST(PanelsSignIn, AnUnboundAccountIsOfferedAndUsingItEndsInTheTimeline) {
    MbService service;
    ASSERT_GT(service.Port(), 0);
    AppFolder app(service);
    TaviSession tavi(app, kDemo, "demo123");
    ASSERT_TRUE(tavi.Started());
    std::string offered = tavi.Run("show\nwait\nscreen");
    std::optional<ControlState> status = FindControl(offered, "LabelAccountStatus");
    ASSERT_TRUE(status) << offered;
    EXPECT_EQ(status->text, WithAccount(StringTableText("STRID_MB_STARTPANEL_ACCOUNTOK"), kDemo));
    EXPECT_EQ(LinksShown(offered), "LabelUseThisAccount LabelBindOtherAccount") << offered;
    EXPECT_FALSE(FindControl(offered, "BtnPublish")->enabled);
    EXPECT_FALSE(FindControl(offered, "BtnMainForm")->enabled);
    EXPECT_EQ(service.Count("GET /statuses/home_timeline.json"), 0) << "an unbound account shows no timeline";

    int signIns = service.Count("GET /oauth/access_token 200");
    std::string timeline = tavi.Run("click LabelUseThisAccount\nwait\nscreen\nlinks");
    // Binding stored the settings; the window heard of it and signed in again, into the timeline.
    EXPECT_EQ(service.Count("GET /oauth/access_token 200"), signIns + 1);
    EXPECT_EQ(service.Count("GET /statuses/home_timeline.json 200"), 1);
    EXPECT_FALSE(ShowsContainer(timeline, "panel MicroBlogStartPanel")) << timeline;
    EXPECT_TRUE(ShowsContainer(timeline, "window MicroBlogListPanel")) << timeline;
    EXPECT_TRUE(FindControl(timeline, "BtnPublish")->enabled) << timeline;
    EXPECT_TRUE(FindControl(timeline, "BtnMainForm")->enabled) << timeline;
    EXPECT_TRUE(FirstLink(ParseLinks(timeline), "tavi://retweet/id=")) << timeline;
    EXPECT_EQ(tavi.Close(), 0);
}

} // namespace
} // namespace panelstest
