// The plug-in window's part in the sign-in, with the plug-in loaded into a host runtime in this
// process against the local microblog service: which shows, builds and settings changes run it.
// (The host program has no command that rebuilds the skin or stores one setting alone, so these
// are driven here, through the same host calls.)
#include <gtest/gtest.h>

#include "service/settings.h"
#include "tests/e2e/panels_session.h"
#include "tests/ui/plugin_host.h"

namespace panelstest {
namespace {

constexpr const char* kSignIn = "GET /oauth/access_token";

TEST(PanelsWindow, SignsInOnTheFirstShowAfterEachBuildAndWhenTheAccountSettingsChange) {
    MbService service;
    ASSERT_GT(service.Port(), 0);
    AppFolder app(service);
    PluginHost host("demo@velmora.com", "demo123", app.path());
    host.Load(new microblog::MicroBlogService(&host.core()));
    microblog::MicroBlogWindow* window = host.window();
    ASSERT_NE(host.main(), nullptr);
    // The first load wrote the default settings; the window, not shown yet, leaves the sign-in to
    // its first show.
    ASSERT_TRUE(host.Idle());
    int signIns = service.Count(kSignIn);
    EXPECT_EQ(signIns, 0);

    window->ShowPluginWindow(0);
    ASSERT_TRUE(host.Idle());
    EXPECT_EQ(service.Count(kSignIn), signIns) << "hiding the window signed in";
    EXPECT_FALSE(window->IsStarted());

    window->ShowPluginWindow(1);
    ASSERT_TRUE(host.Idle());
    EXPECT_EQ(service.Count(kSignIn), signIns + 1);
    EXPECT_EQ(host.ShownContent(), host.main()->GetStartPanel());
    window->ShowPluginWindow(1);
    ASSERT_TRUE(host.Idle());
    EXPECT_EQ(service.Count(kSignIn), signIns + 1) << "a second show signed in again";

    // A skin rebuild keeps the panels; the next show signs in again.
    microblog::MicroBlogPanel* panel = host.main();
    window->BuildPluginWindow();
    EXPECT_EQ(host.main(), panel);
    EXPECT_FALSE(window->IsStarted());
    window->ShowPluginWindow(1);
    ASSERT_TRUE(host.Idle());
    EXPECT_EQ(service.Count(kSignIn), signIns + 2);

    // A copy of the settings from the messenger's server that differs in the interval alone
    // changes nothing on screen.
    auto* plugin = static_cast<microblog::MicroBlogService*>(host.core().GetService(microblog::kServiceId));
    tavi::CSkinObject* status = tavi::FindSkinControl<tavi::CSkinObject>(host.main(), "LabelAccountStatus");
    ASSERT_NE(status, nullptr);
    std::string sentence = status->GetText();
    int repaints = host.main()->GetRefreshCount();
    std::size_t requests = service.Requests().size();
    tavi::Property copy;
    ASSERT_TRUE(host.core().LoadUserData(microblog::kSettingsName, "demo@velmora.com", copy));
    copy.SetInteger(microblog::kKeyPromptInterval, 30);
    ASSERT_TRUE(host.core().SaveUserData(microblog::kSettingsName, "demo@velmora.com", copy, 0));
    ASSERT_TRUE(host.Idle());
    EXPECT_EQ(service.Requests().size(), requests);
    EXPECT_EQ(host.ShownContent(), host.main()->GetStartPanel());
    EXPECT_EQ(status->GetText(), sentence);
    EXPECT_EQ(host.main()->GetRefreshCount(), repaints);

    // A change of the password signs in again, with the new password: refused.
    tavi::Property password;
    password.SetString(microblog::kKeyPassword, tavi::GetMD5("changed"));
    plugin->StoreSettingsMap(password);
    ASSERT_TRUE(host.Idle());
    EXPECT_EQ(service.Count(kSignIn + std::string(" 401")), 1);
    EXPECT_EQ(status->GetText(), tavi::utf8_to_CString(WithAccount(
                                     StringTableText("STRID_MB_STARTPANEL_AUTHERROR"), "demo@velmora.com")));

    // Taken down, the window has no panels; taking it down again only clears its state.
    window->DestroyPluginWindow();
    EXPECT_EQ(host.main(), nullptr);
    window->DestroyPluginWindow();
    window->ShowPluginWindow(1);
    EXPECT_TRUE(window->IsStarted());
    ASSERT_TRUE(host.Idle());
    EXPECT_EQ(service.Count(kSignIn + std::string(" 401")), 1) << "a window without panels signed in";
}

} // namespace
} // namespace panelstest
