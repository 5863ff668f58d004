// The tool buttons in tavi against the local microblog service: the user's web pages, and the New
// buttons that stand in for mentions and comments while some wait; new mentions open the mentions page.
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

    // The New button also read the mentions and shows them in the list, with the page's actions;
    // the header's home view goes back to the timeline already read.
    std::string mentions = tavi.Run("wait\npage\nlinks");
    EXPECT_EQ(service.Count("GET /statuses/mentions.json 200"), 1);
    EXPECT_NE(mentions.find("周末一起去看书展吗"), std::string::npos) << mentions;
    EXPECT_NE(mentions.find("写得好！"), std::string::npos) << mentions;
    EXPECT_EQ(mentions.find("还没有提到你的微博"), std::string::npos) << mentions;
    // New posts found by the next poll are counted on the mentions page; it stays shown.
    ASSERT_EQ(lin.Post("今天的书展人好多"), 200);
    std::string polledAgain = tavi.Run("advance 60\nwait\npage");
    EXPECT_EQ(service.Count("GET /reminds/message/latest.json 200"), 2);
    EXPECT_NE(polledAgain.find("新微博 "), std::string::npos) << polledAgain;
    EXPECT_NE(polledAgain.find("周末一起去看书展吗"), std::string::npos) << polledAgain;
    std::vector<PageLink> links = ParseLinks(mentions);
    ASSERT_TRUE(FirstLink(links, "tavi://retweet/id="));
    std::optional<PageLink> home = FirstLink(links, "tavi://home/");
    ASSERT_TRUE(home);
    const int timelines = service.Count("GET /statuses/home_timeline.json");
    std::string back = tavi.Run("follow " + std::to_string(home->number) + "\nwait\npage");
    EXPECT_EQ(back.find("周末一起去看书展吗"), std::string::npos) << back;
    EXPECT_EQ(service.Count("GET /statuses/home_timeline.json"), timelines);
    EXPECT_EQ(tavi.Close(), 0);
}

} // namespace
} // namespace panelstest
