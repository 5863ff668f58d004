// A skin change as the host program makes it (rebuild): the plug-in window is built again and the
// next show signs in again, once.
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

constexpr const char* kSignIn = "GET /oauth/access_token 200";

TEST(TaviRebuild, TheNextShowAfterARebuildSignsInAgainAndKeepsTheTimeline) {
    MbService service;
    ASSERT_TRUE(service.Started()) << service.Log();
    AppFolder app(service);
    TaviSession demo(app, "demo@velmora.com", "demo123");
    std::string signedIn = SignIn(demo) + demo.Run("screen");
    ASSERT_NE(signedIn.find("window MicroBlogListPanel"), std::string::npos) << signedIn;
    int signIns = service.Count(kSignIn);

    std::string rebuilt = demo.Run("rebuild\nwait");
    EXPECT_EQ(service.Count(kSignIn), signIns) << "the rebuild alone signs in\n" << rebuilt;
    std::string shown = demo.Run("show\nwait\nscreen");
    EXPECT_EQ(service.Count(kSignIn), signIns + 1) << shown;
    EXPECT_NE(shown.find("window MicroBlogListPanel"), std::string::npos) << shown;
    demo.Run("show\nwait");
    EXPECT_EQ(service.Count(kSignIn), signIns + 1) << "a second show signed in again";
}

} // namespace
} // namespace e2e
