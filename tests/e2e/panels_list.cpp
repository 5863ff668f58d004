// The timeline list in tavi against the local microblog service: every kind of link of the page,
// followed as a click does, runs its action and nothing else.
#include <gtest/gtest.h>

#include "tests/e2e/panels_session.h"
#include "tests/ui/service_client.h"

namespace panelstest {
namespace {

constexpr const char* kDemo = "demo@velmora.com";

std::string StatusId(const PageLink& link) {
    return link.url.substr(link.url.find("id=") + 3);
}

// A demo session bound to its account and showing the timeline.
std::string ShowTimeline(TaviSession& tavi) {
    tavi.Run("show\nwait\nclick LabelUseThisAccount\nwait");
    return tavi.Run("links");
}

std::string Follow(TaviSession& tavi, const PageLink& link, const std::string& before = std::string()) {
    return tavi.Run(before + "follow " + std::to_string(link.number) + "\nwait");
}

TEST(PanelsList, ThePagesLinksRunTheirActions) {
    MbService service;
    ASSERT_GT(service.Port(), 0);
    AppFolder app(service);
    TaviSession tavi(app, kDemo, "demo123");
    ASSERT_TRUE(tavi.Started());
    std::vector<PageLink> links = ParseLinks(ShowTimeline(tavi));
    ASSERT_GT(links.size(), 10u);
    std::size_t requests = service.Requests().size();

    // Retweet and comment open the compose form in their mode; nothing is sent yet.
    std::optional<PageLink> retweet = FirstLink(links, "tavi://retweet/id=");
    std::optional<PageLink> comment = FirstLink(links, "tavi://comments/id=");
    ASSERT_TRUE(retweet && comment);
    for (const PageLink& link : {*retweet, *comment}) {
        std::string windows = Follow(tavi, link);
        windows += tavi.Run("windows");
#if __has_include("ui/forms.h")
        EXPECT_NE(windows.find("form MicroBlogPublishForm visible=1"), std::string::npos) << windows;
        tavi.Run("close MicroBlogPublishForm");
#endif
        EXPECT_EQ(windows.find("window "), std::string::npos) << "the browser opened a window: " << windows;
    }
    EXPECT_EQ(service.Requests().size(), requests);

    // Favourites reach the service; the page shows the change after a reload.
    std::optional<PageLink> favorite = FirstLink(links, "tavi://favorite_add/id=");
    ASSERT_TRUE(favorite);
    std::string id = StatusId(*favorite);
    Follow(tavi, *favorite);
    EXPECT_EQ(service.Count("POST /favorites/create/" + id + ".json 200"), 1);
    int reloads = service.Count("GET /statuses/home_timeline.json 200");
    Follow(tavi, *FirstLink(links, "tavi://refresh/"));
    EXPECT_EQ(service.Count("GET /statuses/home_timeline.json 200"), reloads + 1);
    links = ParseLinks(tavi.Run("links"));
    std::optional<PageLink> unfavorite = FirstLink(links, "tavi://favorite_del/id=" + id);
    ASSERT_TRUE(unfavorite) << "the reloaded page marks the favourite";
    Follow(tavi, *unfavorite);
    EXPECT_EQ(service.Count("POST /favorites/destroy/" + id + ".json 200"), 1);

    // An ordinary address goes to the user's web browser, not to a window of the browser control.
    std::optional<PageLink> web = FirstLink(links, "http://");
    ASSERT_TRUE(web);
    std::string opened = Follow(tavi, *web);
    opened += tavi.Run("opened");
    EXPECT_NE(opened.find("web 3 " + web->url + "\n"), std::string::npos) << opened;
    EXPECT_EQ(opened.find("window "), std::string::npos) << opened;

    // Deleting asks first: no sends nothing, yes deletes and reloads.
    std::optional<PageLink> remove = FirstLink(links, "tavi://delete/id=");
    ASSERT_TRUE(remove);
    std::string doomed = StatusId(*remove);
    std::string declined = Follow(tavi, *remove, "answer no\n");
    EXPECT_NE(declined.find("msgbox 提示: 确定要删除这条微博吗？ -> no"), std::string::npos) << declined;
    EXPECT_EQ(service.Count("POST /statuses/destroy/"), 0);
    reloads = service.Count("GET /statuses/home_timeline.json 200");
    std::string confirmed = Follow(tavi, *remove, "answer yes\n");
    EXPECT_NE(confirmed.find("-> yes"), std::string::npos) << confirmed;
    EXPECT_EQ(service.Count("POST /statuses/destroy/" + doomed + ".json 200"), 1);
    EXPECT_EQ(service.Count("GET /statuses/home_timeline.json 200"), reloads + 1);
    links = ParseLinks(tavi.Run("links"));
    EXPECT_FALSE(FirstLink(links, "tavi://delete/id=" + doomed)) << "the deleted status is still shown";

    // A post that smuggles an action link of the plug-in into a web address: following it opens
    // that web page and acts on nothing.
    OtherUser lin("lin@velmora.com", "lin123", service.ApiRoot());
    ASSERT_TRUE(lin.SignedIn());
    const std::string smuggled = "http://x.example/?tavi://favorite_add/id=" + doomed;
    ASSERT_EQ(lin.Post("看看这个 " + smuggled + " 怎么样"), 200);
    Follow(tavi, *FirstLink(links, "tavi://refresh/"));
    links = ParseLinks(tavi.Run("links"));
    std::optional<PageLink> smuggledLink = FirstLink(links, smuggled);
    ASSERT_TRUE(smuggledLink) << "demo follows lin, so the post is in the timeline";
    requests = service.Requests().size();
    Follow(tavi, *smuggledLink);
    EXPECT_NE(tavi.Run("opened").find("web 3 " + smuggled), std::string::npos);
    EXPECT_EQ(service.Requests().size(), requests);
    EXPECT_EQ(tavi.Close(), 0);
}

TEST(PanelsList, ARefusedTimestampShowsTheBalloonAndAFailedDeleteDoesNotReload) {
    MbService service;
    ASSERT_GT(service.Port(), 0);
    AppFolder app(service);
    TaviSession tavi(app, kDemo, "demo123");
    ASSERT_TRUE(tavi.Started());
    std::vector<PageLink> links = ParseLinks(ShowTimeline(tavi));
    std::optional<PageLink> remove = FirstLink(links, "tavi://delete/id=");
    ASSERT_TRUE(remove);

    // The service's clock now runs an hour ahead: it refuses the plug-in's timestamps.
    ASSERT_TRUE(service.Restart({"--clock-skew", "3600"}));
    int reloads = service.Count("GET /statuses/home_timeline.json");
    Follow(tavi, *remove, "answer yes\n");
    EXPECT_EQ(service.Count("POST /statuses/destroy/" + StatusId(*remove) + ".json 401"), 1);
    EXPECT_EQ(service.Count("GET /statuses/home_timeline.json"), reloads) << "a failed delete reloaded";

    std::string out = tavi.Run("click BtnMainForm\nwait\nballoons\nscreen");
    EXPECT_EQ(service.Count("GET /statuses/home_timeline.json 401"), 1);
    EXPECT_NE(out.find("balloon BtnMainForm 2000 刷新失败，请检查您的本地电脑时间设置是否正确\n"),
              std::string::npos)
        << out;
    // Nothing else changes: the timeline stays, and so do the tool buttons.
    EXPECT_TRUE(ShowsContainer(out, "window MicroBlogListPanel")) << out;
    EXPECT_TRUE(FindControl(out, "BtnMainForm")->enabled) << out;
    EXPECT_EQ(tavi.Close(), 0);
}

} // namespace
} // namespace panelstest
