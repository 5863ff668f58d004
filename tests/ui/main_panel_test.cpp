// The main panel's children are made in a fixed order and the first that cannot be built ends the
// making; the panel stays in the window with what it has, and what it lacks is skipped.
#include <gtest/gtest.h>

#include <regex>

#include "tests/ui/plugin_host.h"
#include "tests/ui/recording_service.h"

namespace panelstest {
namespace {

// The plug-in's build file with one build node changed: removed, or a control taken out of it.
std::string BreakBuildFile(const std::string& node, const std::string& control) {
    std::string text = testenv::ReadFile(ResourcePath("build.xml"));
    if (node.empty())
        return text;
    std::size_t begin = text.find("<build name=\"" + node + "\"");
    EXPECT_NE(begin, std::string::npos) << node;
    if (begin == std::string::npos)
        return text;
    std::size_t open = text.find('>', begin);
    std::size_t end = text[open - 1] == '/' ? open + 1 : text.find("</build>", begin) + 8;
    if (control.empty())
        return text.erase(begin, end - begin);
    std::string part = text.substr(begin, end - begin);
    std::string changed = std::regex_replace(part, std::regex("<[a-z]+ id=\"" + control + "\"[^>]*/>"), "");
    EXPECT_NE(changed, part) << control;
    return text.replace(begin, end - begin, changed);
}

struct BrokenSkin {
    const char* name;
    const char* node;
    const char* control; // "" removes the whole node
    const char* made;    // the children that exist, in order: t(ool) s(tart) l(ist) w(ait) o(pen)
    bool openAnswers;    // the open panel answers its start button
};

class MainPanelChildren : public ::testing::TestWithParam<BrokenSkin> {};

TEST_P(MainPanelChildren, TheFirstChildThatCannotBeBuiltEndsTheMaking) {
    const BrokenSkin& c = GetParam();
    std::string build = BreakBuildFile(c.node, c.control);
    PluginHost host("tester@velmora.com", "secret", std::string(), build);
    auto* service = new RecordingService(&host.core());
    host.Load(service);
    ASSERT_TRUE(host.Idle());
    microblog::MicroBlogPanel* main = host.main();
    ASSERT_NE(main, nullptr) << "a panel whose making failed stays in the window";
    std::string made;
    made += main->GetToolPanel() ? "t" : "";
    made += main->GetStartPanel() ? "s" : "";
    made += main->GetListPanel() ? "l" : "";
    made += main->GetWaitPanel() ? "w" : "";
    made += main->GetOpenPanel() ? "o" : "";
    EXPECT_EQ(made, c.made);
    // The window shown, as a person sees it (a click on a hidden control does nothing); what the
    // panel lacks is skipped by the sign-in.
    host.window()->ShowPluginWindow(1);
    ASSERT_TRUE(host.Idle());
    // An open panel whose making failed is there, but it was never wired to its buttons.
    if (microblog::MicroBlogOpenPanel* open = main->GetOpenPanel()) {
        main->ShowContentPanel(open);
        auto* start = tavi::FindSkinControl<tavi::CSkinObject>(open, "BtnStartMicroBlog");
        auto* notice = tavi::FindSkinControl<tavi::CSkinObject>(open, "LabelAccountNotice");
        ASSERT_TRUE(start != nullptr && notice != nullptr);
        start->PerformClick(); // with no nickname typed: refused with a notice
        EXPECT_EQ(notice->IsVisible(), c.openAnswers);
    }

    // What the panel lacks is skipped: a reload and a shown page do not fail.
    service->signedIn = true;
    host.window()->RefreshTimeline();
    host.window()->ShowPage(ResourcePath("build.xml"));
    host.window()->ShowActivationRefusal(400, "x");
    ASSERT_TRUE(host.Idle());
    EXPECT_EQ(service->calls.back(), "home 50");
}

INSTANTIATE_TEST_SUITE_P(
    Skins, MainPanelChildren,
    ::testing::Values(
        BrokenSkin{"Intact", "", "", "tslwo", true},
        BrokenSkin{"ToolWithoutCollect", "TAVI Plugins MicroBlogToolPanel", "BtnCollect", "t", false},
        BrokenSkin{"NoStartNode", "TAVI Plugins MicroBlogStartPanel", "", "ts", false},
        BrokenSkin{"NoListNode", "TAVI Plugins MicroBlogListPanel", "", "tsl", false},
        BrokenSkin{"WaitWithoutLabel", "TAVI Plugins MicroBlogWaitPanel", "LabelWait", "tslw", false},
        BrokenSkin{"NoWaitNode", "TAVI Plugins MicroBlogWaitPanel", "", "tslw", false},
        BrokenSkin{"OpenWithoutBindLink", "TAVI Plugins MicroBlogOpenPanel", "LabelBindOtherAccount", "tslwo",
                   false}),
    [](const ::testing::TestParamInfo<BrokenSkin>& info) { return std::string(info.param.name); });

TEST(MainPanel, AReloadWithoutAnAccessTokenAsksNothing) {
    PluginHost host;
    auto* service = new RecordingService(&host.core());
    host.Load(service);
    ASSERT_TRUE(host.Idle());
    service->calls.clear();
    host.main()->RefreshTimeline();
    EXPECT_TRUE(service->calls.empty());
    service->signedIn = true;
    host.main()->RefreshTimeline();
    EXPECT_EQ(service->calls, (std::vector<std::string>{"verify", "home 50"}));
}

TEST(MainPanel, ANewUserSignsInOnceAndAnAccountChangeSignsInAgain) {
    PluginHost host;
    auto* service = new RecordingService(&host.core());
    host.Load(service); // the first load of this user writes the defaults
    ASSERT_TRUE(host.Idle());
    host.window()->ShowPluginWindow(1);
    ASSERT_TRUE(host.Idle());
    EXPECT_EQ(service->calls, std::vector<std::string>{"login tester@velmora.com"});
    service->SetAccount("other@velmora.com", "x", 1);
    ASSERT_TRUE(host.Idle());
    EXPECT_EQ(service->calls.back(), "login other@velmora.com");
    EXPECT_EQ(service->calls.size(), 2u);
}

} // namespace
} // namespace panelstest
