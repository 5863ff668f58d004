// The tool buttons in tavi against the local microblog service: the user's web pages, and the New
// buttons that stand in for mentions and comments while some wait.
#include <gtest/gtest.h>

#include "tests/e2e/panels_session.h"
#include "tests/ui/service_client.h"

namespace panelstest {
namespace {

constexpr const char* kDemo = "demo@velmora.com";

int CountLines(const std::string& text, const std::string& line) {
    int n = 0;
    for (std::size_t at = text.find(line + "\n"); at != std::string::npos;
         at = text.find(line + "\n", at + 1))
        n += (at == 0 || text[at - 1] == '\n') ? 1 : 0;
    return n;
}

TEST(PanelsTool, TheButtonsOpenTheUsersPagesAndTheNewButtonsSwapBack) {
    MbService service;
    ASSERT_GT(service.Port(), 0);
    AppFolder app(service);
    TaviSession tavi(app, kDemo, "demo123");
    ASSERT_TRUE(tavi.Started());
    std::string timeline = tavi.Run("show\nwait\nclick LabelUseThisAccount\nwait\nlinks");
    const std::string page = "web 3 " + service.WebRoot() + "/demo#";

    std::string opened =
        tavi.Run("click BtnMyBlog\nclick BtnAtMe\nclick BtnComment\nclick BtnCollect\nopened");
    EXPECT_EQ(opened, page + "mine\n" + page + "replies\n" + page + "reply\n" + page + "favorites\n");

    // Another user mentions demo and comments on one of demo's statuses; the next poll finds them.
    std::optional<PageLink> own = FirstLink(ParseLinks(timeline), "tavi://delete/id=");
    ASSERT_TRUE(own);
    OtherUser lin("lin@velmora.com", "lin123", service.ApiRoot());
    ASSERT_TRUE(lin.SignedIn());
    ASSERT_EQ(lin.Post("@小维 周末一起去看书展吗？"), 200);
    ASSERT_EQ(lin.Comment(own->url.substr(own->url.find("id=") + 3), "写得好！"), 200);
    std::string polled = tavi.Run("advance 60\nwait\nscreen\ntoolbar");
    EXPECT_EQ(service.Count("GET /reminds/message/latest.json 200"), 1);
    EXPECT_TRUE(FindControl(polled, "BtnAtMeNew")->visible) << polled;
    EXPECT_FALSE(FindControl(polled, "BtnAtMe")->visible) << polled;
    EXPECT_TRUE(FindControl(polled, "BtnCommentNew")->visible) << polled;
    EXPECT_FALSE(FindControl(polled, "BtnComment")->visible) << polled;
    EXPECT_EQ(polled.find("ToolbarMicroBlog text=\"\""), std::string::npos)
        << "the new posts are counted: " << polled;

    std::string swapped = tavi.Run("click BtnAtMeNew\nclick BtnCommentNew\nscreen\nopened");
    EXPECT_FALSE(FindControl(swapped, "BtnAtMeNew")->visible) << swapped;
    EXPECT_TRUE(FindControl(swapped, "BtnAtMe")->visible) << swapped;
    EXPECT_FALSE(FindControl(swapped, "BtnCommentNew")->visible) << swapped;
    EXPECT_TRUE(FindControl(swapped, "BtnComment")->visible) << swapped;
    EXPECT_EQ(CountLines(swapped, page + "replies"), 2) << swapped;
    EXPECT_EQ(CountLines(swapped, page + "reply"), 2) << swapped;
    EXPECT_EQ(tavi.Close(), 0);
}

} // namespace
} // namespace panelstest
