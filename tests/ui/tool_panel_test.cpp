// The tool panel's New buttons follow the reminder counts against what the user has seen, and the
// texts of the string table are filled in without being used as formats.
#include <gtest/gtest.h>

#include "tests/ui/plugin_host.h"
#include "tests/ui/recording_service.h"
#include "ui/panel_skin.h"

namespace panelstest {
namespace {

class ToolPanelCounts : public ::testing::Test {
protected:
    void SetUp() override {
        host_.Load(new RecordingService(&host_.core()));
        // Shown, so that its buttons can be clicked.
        host_.layout().ActivateWindow(host_.window());
        host_.window()->ShowPluginWindow(1);
        tool_ = host_.main() ? host_.main()->GetToolPanel() : nullptr;
        ASSERT_NE(tool_, nullptr);
    }
    tavi::CSkinObject* Button(const char* name) {
        return tavi::FindSkinControl<tavi::CSkinObject>(tool_, name);
    }
    // Which of a pair shows: "new", "plain", or "both"/"none" when the pair is broken.
    std::string Shown(const char* plain, const char* fresh) {
        bool p = Button(plain)->IsVisible();
        bool f = Button(fresh)->IsVisible();
        return p && f ? "both" : p ? "plain" : f ? "new" : "none";
    }

    PluginHost host_;
    microblog::MicroBlogToolPanel* tool_ = nullptr;
};

TEST_F(ToolPanelCounts, ANewButtonShowsWhileMoreWaitThanTheUserHasSeen) {
    EXPECT_EQ(Shown("BtnAtMe", "BtnAtMeNew"), "plain");
    EXPECT_EQ(Shown("BtnComment", "BtnCommentNew"), "plain");

    tool_->ShowNewItemCounts(2, 0);
    EXPECT_EQ(Shown("BtnAtMe", "BtnAtMeNew"), "new");
    EXPECT_EQ(Shown("BtnComment", "BtnCommentNew"), "plain");

    // Clicking the New button marks the two as seen; the same count later keeps it plain.
    ASSERT_TRUE(Button("BtnAtMeNew")->PerformClick());
    EXPECT_EQ(Shown("BtnAtMe", "BtnAtMeNew"), "plain");
    tool_->ShowNewItemCounts(2, 1);
    EXPECT_EQ(Shown("BtnAtMe", "BtnAtMeNew"), "plain");
    EXPECT_EQ(Shown("BtnComment", "BtnCommentNew"), "new");
    tool_->ShowNewItemCounts(3, 1);
    EXPECT_EQ(Shown("BtnAtMe", "BtnAtMeNew"), "new");

    // Read elsewhere, the count falls; what comes after that is new again.
    ASSERT_TRUE(Button("BtnCommentNew")->PerformClick());
    tool_->ShowNewItemCounts(0, 0);
    EXPECT_EQ(Shown("BtnAtMe", "BtnAtMeNew"), "plain");
    EXPECT_EQ(Shown("BtnComment", "BtnCommentNew"), "plain");
    tool_->ShowNewItemCounts(1, 1);
    EXPECT_EQ(Shown("BtnAtMe", "BtnAtMeNew"), "new");
    EXPECT_EQ(Shown("BtnComment", "BtnCommentNew"), "new");

    // Without a credential check there is no user page to open, but the swap still happens.
    EXPECT_TRUE(tavi::runtime::GetOpenedWebs().empty());
}

struct FormatCase {
    const char* format;
    const char* expected;
};

class TableTexts : public ::testing::TestWithParam<FormatCase> {};

TEST_P(TableTexts, TheAccountGoesIntoTheOnePlaceholderAndNothingElseIsInterpreted) {
    EXPECT_EQ(microblog::FormatWithText(GetParam().format, "a@velmora.com"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, TableTexts,
                         ::testing::Values(FormatCase{"账号 %s 不可用", "账号 a@velmora.com 不可用"},
                                           FormatCase{"%s", "a@velmora.com"},
                                           FormatCase{"no placeholder", "no placeholder"},
                                           FormatCase{"%s and %s", "a@velmora.com and %s"},
                                           FormatCase{"100%% %s %d %n", "100% a@velmora.com %d %n"},
                                           FormatCase{"ends in %", "ends in %"}));

} // namespace
} // namespace panelstest
