// The timeline page: its element tree, the two files, the document paths, and the page as the
// browser shows it once the stylesheet is applied.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "data/json_reader.h"
#include "data/timeline_page.h"
#include "host/common.h"
#include "tests/data/xml_support.h"
#include "tests/support/test_env.h"

namespace microblog {
namespace {

using namespace datatest;

constexpr char kPicturePrefix[] = "http://t.vel.cn/";
constexpr std::time_t kNow = 1289880000; // Tue Nov 16 2010 12:00:00 +0800

std::string Fixture(const std::string& name) {
    return testenv::ReadFile(std::string(TAVI_SOURCE_DIR) + "/tests/fixtures/data/" + name);
}

class TimelinePage : public ::testing::Test {
protected:
    void SetUp() override {
        tavi::SetSystemCodePage("GB18030");
        const char* zone = std::getenv("TZ");
        oldZone_ = zone ? zone : "";
        hadZone_ = zone != nullptr;
        setenv("TZ", "CST-8", 1);
        tzset();
        settings.userFolder = scratch.path() + "/users/demo/microblog";
        settings.appPath = std::string(TAVI_APP_DIR) + "/";
        settings.picturePrefix = kPicturePrefix;
        std::filesystem::create_directories(settings.userFolder);
    }
    void TearDown() override {
        if (hadZone_)
            setenv("TZ", oldZone_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    void Load(JsonReader& reader, const std::string& text) {
        ASSERT_TRUE(reader.Parse(text.c_str())) << text;
    }
    void LoadFixtures() {
        Load(account, Fixture("account.json"));
        Load(reminds, Fixture("reminds.json"));
        Load(timeline, Fixture("home_timeline.json"));
    }
    TimelineSources Sources() const {
        return {account.root(), reminds.root(), timeline.root(), mentions.root()};
    }
    std::string PagePath() const { return DocumentPath(settings, kDocumentHome); }
    std::string TreePath() const { return DocumentPath(settings, kDocumentTimeline); }

    // Rebuilds and parses timeline.xml strictly; no error of any kind is allowed.
    Doc RebuildAndRead() {
        EXPECT_TRUE(RebuildTimelinePage(settings, Sources(), kNow));
        XmlErrors errors;
        Doc doc = ParseXml(testenv::ReadFile(TreePath()), errors);
        EXPECT_EQ(errors.count, 0) << errors.first;
        return doc;
    }

    testenv::ScratchDir scratch{"tavi-page"};
    TimelinePageSettings settings;
    JsonReader account, reminds, timeline, mentions;

private:
    std::string oldZone_;
    bool hadZone_ = false;
};

TEST_F(TimelinePage, RootHoldsAccountCountersAndStatusesInThatOrder) {
    LoadFixtures();
    Doc doc = RebuildAndRead();
    ASSERT_TRUE(doc);
    xmlNodePtr root = xmlDocGetRootElement(doc.get());
    EXPECT_EQ(Name(root), "VEDIDE");
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"uinfo", "msg", "wbinfo", "wbinfo", "wbinfo"}));
    std::vector<xmlNodePtr> statuses = ChildElements(root);
    EXPECT_EQ(Attribute(statuses[2], "id"), "5001");
    EXPECT_EQ(Attribute(statuses[3], "id"), "5002");
    EXPECT_EQ(Attribute(statuses[4], "id"), "5003");
    EXPECT_EQ(Attribute(statuses[1], "timelineCount"), "3");
    EXPECT_EQ(Attribute(statuses[0], "name"), "演示用户");
}

TEST_F(TimelinePage, StatusScalarsAreAttributesInNameOrderAndObjectsAreChildren) {
    LoadFixtures();
    Doc doc = RebuildAndRead();
    ASSERT_TRUE(doc);
    xmlNodePtr status = ChildElements(xmlDocGetRootElement(doc.get()))[2];
    // latitude (Real) and tags (Array) are left out.
    EXPECT_EQ(AttributeNames(status),
              (std::vector<std::string>{"created_at", "favorited", "id", "in_reply_to_status_id",
                                        "retweet_count", "source", "text", "truncated"}));
    EXPECT_EQ(Attribute(status, "favorited"), "FALSE");
    EXPECT_EQ(Attribute(status, "in_reply_to_status_id"), "NULL");
    EXPECT_EQ(Attribute(status, "retweet_count"), "2");
    EXPECT_EQ(Attribute(status, "created_at"), "今天 08:05");
    EXPECT_EQ(Attribute(status, "text"),
              "早上好！今天的照片 <a href=\"http://t.vel.cn/p0a1\" target=\"_blank\"></a><br >"
              "<a href=\"http://t.vel.cn/p0a1\" target=\"_blank\"><img class=\"wb_img\" "
              "src=\"http://t.vel.cn/p0a1\"/></a>");
    ASSERT_EQ(ChildNames(status), (std::vector<std::string>{"user"}));
    xmlNodePtr user = ChildElements(status)[0];
    EXPECT_EQ(AttributeNames(user),
              (std::vector<std::string>{"followers_count", "id", "name", "screen_name", "verified"}));
    EXPECT_EQ(Attribute(user, "verified"), "FALSE");

    xmlNodePtr favourite = ChildElements(xmlDocGetRootElement(doc.get()))[3];
    EXPECT_EQ(Attribute(favourite, "favorited"), "TRUE");
    EXPECT_EQ(Attribute(favourite, "created_at"), "昨天 22:40");
    xmlNodePtr retweet = ChildElements(xmlDocGetRootElement(doc.get()))[4];
    EXPECT_EQ(Attribute(retweet, "root_in_reply_to_status_text"),
              "&lt;b&gt;新版本&lt;/b&gt;发布了 <a href=\"http://www.velmora.com/news\" "
              "target=\"_blank\">http://www.velmora.com/news</a>");
    EXPECT_EQ(Attribute(retweet, "root_in_reply_to_user_name"), "维摩拉");
    EXPECT_EQ(Attribute(retweet, "created_at"), "11-14 10:00");
}

TEST_F(TimelinePage, ChildObjectsFollowNameOrderAndTextRulesApplyAtEveryDepth) {
    Load(timeline,
         R"([{"id":"9","z":{"k":1},"a":{"text":"http://a.cn/x","created_at":"Tue Nov 16 11:59:30 +0800 2010",
                        "b":{"created_at":"Tue Nov 16 09:00:00 +0800 2010"}}, "m":{}}])");
    Doc doc = RebuildAndRead();
    ASSERT_TRUE(doc);
    xmlNodePtr status = ChildElements(xmlDocGetRootElement(doc.get()))[0];
    EXPECT_EQ(ChildNames(status), (std::vector<std::string>{"a", "m", "z"}));
    xmlNodePtr a = ChildElements(status)[0];
    EXPECT_EQ(Attribute(a, "text"), "<a href=\"http://a.cn/x\" target=\"_blank\">http://a.cn/x</a>");
    EXPECT_EQ(Attribute(a, "created_at"), "30秒前");
    EXPECT_EQ(Attribute(ChildElements(a)[0], "created_at"), "今天 09:00");
}

TEST_F(TimelinePage, TimelineWhoseRootIsAnObjectGivesNoStatuses) {
    Load(timeline, R"({"error":"token_rejected","request":"/statuses/home_timeline.json"})");
    Load(account, Fixture("account.json"));
    Doc doc = RebuildAndRead();
    ASSERT_TRUE(doc);
    xmlNodePtr root = xmlDocGetRootElement(doc.get());
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"uinfo"}));
    EXPECT_TRUE(AttributeNames(root).empty());
}

TEST_F(TimelinePage, EmptyServiceStateGivesTheRootAlone) {
    ASSERT_TRUE(RebuildTimelinePage(settings, Sources(), kNow));
    std::string stylesheet = std::string(TAVI_APP_DIR) + "/plugin/microblog/vedide_home.xsl";
    EXPECT_EQ(testenv::ReadFile(PagePath()),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<?xml-stylesheet type=\"text/xsl\" href=\"" +
                  stylesheet + "\"?>\r\n<VEDIDE/>\n");
}

TEST_F(TimelinePage, PageIsTheHeaderFollowedByTheSavedTree) {
    LoadFixtures();
    ASSERT_TRUE(RebuildTimelinePage(settings, Sources(), kNow));
    std::string tree = testenv::ReadFile(TreePath());
    ASSERT_FALSE(tree.empty());
    EXPECT_EQ(tree.find("<?xml"), std::string::npos);
    EXPECT_EQ(testenv::ReadFile(PagePath()), PageHeader(DocumentPath(settings, kDocumentStylesheet)) + tree);
    XmlErrors errors;
    EXPECT_TRUE(ParseXml(testenv::ReadFile(PagePath()), errors));
    EXPECT_EQ(errors.count, 0) << errors.first;
}

TEST_F(TimelinePage, DocumentPathsByKindAndOnlyThePagesRebuild) {
    LoadFixtures();
    EXPECT_EQ(GetDocumentPath(settings, 0, true, Sources()), settings.userFolder + "/timeline.xml");
    EXPECT_EQ(GetDocumentPath(settings, 3, true, Sources()),
              std::string(TAVI_APP_DIR) + "/plugin/microblog/vedide_home.xsl");
    for (int kind : {-1, 1, 5, 100})
        EXPECT_EQ(GetDocumentPath(settings, kind, true, Sources()), "") << kind;
    EXPECT_EQ(GetDocumentPath(settings, 2, false, Sources()), settings.userFolder + "/home.xml");
    EXPECT_EQ(GetDocumentPath(settings, 4, false, Sources()), settings.userFolder + "/mentions.xml");
    EXPECT_FALSE(tavi::IsFileExist(settings.userFolder + "/mentions.xml"));
    EXPECT_FALSE(tavi::IsFileExist(TreePath()));
    EXPECT_FALSE(tavi::IsFileExist(PagePath()));

    EXPECT_EQ(GetDocumentPath(settings, 2, true, Sources()), settings.userFolder + "/home.xml");
    EXPECT_TRUE(tavi::IsFileExist(TreePath()));
    EXPECT_NE(testenv::ReadFile(PagePath()).find("id=\"5002\""), std::string::npos);

    TimelinePageSettings noFolder = settings;
    noFolder.userFolder.clear();
    EXPECT_EQ(GetDocumentPath(noFolder, 2, true, Sources()), "");
}

TEST_F(TimelinePage, RebuildThatCannotSaveLeavesThePreviousPage) {
    LoadFixtures();
    ASSERT_TRUE(RebuildTimelinePage(settings, Sources(), kNow));
    std::string before = testenv::ReadFile(PagePath());
    // The intermediate file cannot be written when a folder stands in its place.
    std::filesystem::remove(TreePath());
    std::filesystem::create_directory(TreePath());
    timeline.Clear();
    EXPECT_FALSE(RebuildTimelinePage(settings, Sources(), kNow));
    EXPECT_EQ(testenv::ReadFile(PagePath()), before);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(settings.userFolder))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1) << "only home.xml; no half-written page left behind";
}

int ElementDepth(xmlNodePtr node) {
    int depth = 0;
    while (node != nullptr) {
        ++depth;
        std::vector<xmlNodePtr> children = ChildElements(node);
        node = children.empty() ? nullptr : children[0];
    }
    return depth;
}

TEST_F(TimelinePage, NestedObjectsStopAtTheDepthLimit) {
    for (int levels : {100, 100000}) {
        std::string text = "[{\"id\":\"1\",\"n\":";
        for (int i = 0; i < levels; ++i)
            text += "{\"v\":" + std::to_string(i) + ",\"n\":";
        text += "0";
        text.append(levels, '}');
        text += "}]";
        Load(timeline, text);
        Doc doc = RebuildAndRead();
        ASSERT_TRUE(doc);
        xmlNodePtr status = ChildElements(xmlDocGetRootElement(doc.get()))[0];
        EXPECT_EQ(ElementDepth(status), kPageMaxDepth) << levels << " levels";
    }
}

TEST_F(TimelinePage, NamesXmlCannotCarryAreLeftOutAndValuesAreMadeSafe) {
    Load(timeline, "[{\"id\":\"1\",\"a b\":\"x\",\"1st\":\"x\",\"xmlns\":\"urn:x\",\"p:q\":\"x\",\"\":\"x\","
                   "\"<t>\":\"x\",\"ok\":\"c\\u0001d\\u0000e\\uFFFF\",\"w\\u00e9\":{\"k\":\"v\"},"
                   "\"s p\":{\"k\":\"v\"},\"text\":\"<b>&\\\"\"}]");
    Doc doc = RebuildAndRead();
    ASSERT_TRUE(doc);
    xmlNodePtr status = ChildElements(xmlDocGetRootElement(doc.get()))[0];
    EXPECT_EQ(AttributeNames(status), (std::vector<std::string>{"id", "ok", "text"}));
    EXPECT_EQ(Attribute(status, "ok"), "c\xEF\xBF\xBD"
                                       "d\xEF\xBF\xBD"
                                       "e\xEF\xBF\xBD");
    EXPECT_EQ(Attribute(status, "text"), "&lt;b&gt;&amp;&quot;");
    EXPECT_EQ(ChildNames(status), (std::vector<std::string>{"w\xC3\xA9"}));
}

TEST_F(TimelinePage, StylesheetPathIsAUriReference) {
    EXPECT_EQ(PageHeader(tavi::utf8_to_CString("/home/user/my app/插件&x/vedide_home.xsl")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<?xml-stylesheet type=\"text/xsl\" "
              "href=\"/home/user/my%20app/%E6%8F%92%E4%BB%B6%26x/vedide_home.xsl\"?>\r\n");
}

// The page as the list panel's browser shows it.
class RenderedPage : public TimelinePage {
protected:
    struct Link {
        std::string href, target, text;
    };

    // Transforms the page with its stylesheet; the HTML must parse without a single error.
    Doc Render() {
        EXPECT_TRUE(RebuildTimelinePage(settings, Sources(), kNow));
        std::string html = TransformPage(PagePath());
        EXPECT_FALSE(html.empty());
        XmlErrors errors;
        Doc doc = ParseHtml(html, errors);
        EXPECT_EQ(errors.count, 0) << errors.first << "\n" << html;
        return doc;
    }
    static std::vector<Link> Links(xmlDocPtr doc) {
        std::vector<xmlNodePtr> anchors;
        Collect(reinterpret_cast<xmlNodePtr>(doc), "a", anchors);
        std::vector<Link> links;
        links.reserve(anchors.size());
        for (xmlNodePtr anchor : anchors)
            links.push_back({Attribute(anchor, "href"), Attribute(anchor, "target"), Text(anchor)});
        return links;
    }
    static std::vector<std::string> Hrefs(const std::vector<Link>& links, const std::string& start) {
        std::vector<std::string> found;
        for (const Link& link : links)
            if (link.href.compare(0, start.size(), start) == 0)
                found.push_back(link.href);
        return found;
    }
};

TEST_F(RenderedPage, HoldsTheActionLinksOfEachStatus) {
    LoadFixtures();
    Doc doc = Render();
    ASSERT_TRUE(doc);
    std::vector<Link> links = Links(doc.get());
    EXPECT_EQ(Hrefs(links, "tavi://refresh/"), (std::vector<std::string>{"tavi://refresh/"}));
    EXPECT_EQ(Hrefs(links, "tavi://retweet/"),
              (std::vector<std::string>{"tavi://retweet/id=5001", "tavi://retweet/id=5002",
                                        "tavi://retweet/id=5003"}));
    EXPECT_EQ(Hrefs(links, "tavi://comments/"),
              (std::vector<std::string>{"tavi://comments/id=5001", "tavi://comments/id=5002",
                                        "tavi://comments/id=5003"}));
    EXPECT_EQ(Hrefs(links, "tavi://favorite_add/"),
              (std::vector<std::string>{"tavi://favorite_add/id=5001", "tavi://favorite_add/id=5003"}));
    EXPECT_EQ(Hrefs(links, "tavi://favorite_del/"),
              (std::vector<std::string>{"tavi://favorite_del/id=5002"}));
    // Only the signed-in user's own status can be deleted.
    EXPECT_EQ(Hrefs(links, "tavi://delete/"), (std::vector<std::string>{"tavi://delete/id=5001"}));
    for (const Link& link : links)
        EXPECT_EQ(link.target, "_blank") << link.href;
    // The web link of a status keeps its query as written.
    EXPECT_EQ(Hrefs(links, "http://example.com/"),
              (std::vector<std::string>{"http://example.com/post?id=7&lang=en."}));
}

TEST_F(RenderedPage, ShowsAuthorsTimesTextsPicturesAndCounters) {
    LoadFixtures();
    Doc doc = Render();
    ASSERT_TRUE(doc);
    std::string text = Text(xmlDocGetRootElement(doc.get()));
    for (const char* shown :
         {"演示用户", "Alice", "Bob", "今天 08:05", "昨天 22:40", "11-14 10:00", "早上好！今天的照片",
          "Reading", "<b>新版本</b>发布了", "维摩拉", "新微博 3", "新评论 2"})
        EXPECT_NE(text.find(shown), std::string::npos) << shown;
    std::vector<xmlNodePtr> images;
    Collect(xmlDocGetRootElement(doc.get()), "img", images);
    int pictures = 0;
    for (xmlNodePtr image : images)
        if (Attribute(image, "class") == "wb_img") {
            ++pictures;
            EXPECT_EQ(Attribute(image, "src"), "http://t.vel.cn/p0a1");
        }
    EXPECT_EQ(pictures, 1);
    std::vector<xmlNodePtr> bold;
    Collect(xmlDocGetRootElement(doc.get()), "b", bold);
    EXPECT_TRUE(bold.empty()) << "markup in a root text is shown as text";
}

TEST_F(RenderedPage, MarkupInAStatusNeverBecomesMarkup) {
    Load(account, Fixture("account.json"));
    Load(
        timeline,
        R"([{"id":"1","text":"<script>alert(1)</script><img src=x onerror=alert(2)> http://a.cn/\"onmouseover=x",
                        "source":"<a href=\"javascript:alert(3)\">web</a>","user":{"id":"2","name":"<i>mallory</i>"}}])");
    Doc doc = Render();
    ASSERT_TRUE(doc);
    for (const char* element : {"script", "i"}) {
        std::vector<xmlNodePtr> found;
        Collect(xmlDocGetRootElement(doc.get()), element, found);
        EXPECT_TRUE(found.empty()) << element;
    }
    std::vector<xmlNodePtr> images;
    Collect(xmlDocGetRootElement(doc.get()), "img", images);
    for (xmlNodePtr image : images)
        EXPECT_FALSE(HasAttribute(image, "onerror"));
    for (const Link& link : Links(doc.get()))
        EXPECT_EQ(link.href.find("javascript:"), std::string::npos) << link.href;
    std::string text = Text(xmlDocGetRootElement(doc.get()));
    EXPECT_NE(text.find("<script>alert(1)</script>"), std::string::npos);
    EXPECT_NE(text.find("<i>mallory</i>"), std::string::npos);
}

// A service sends every member, empty or null ones too: those show nothing, counters show only when
// above 0, and only a web address becomes an avatar.
TEST_F(RenderedPage, EmptyNullAndZeroMembersShowNothing) {
    Load(account, Fixture("account.json"));
    Load(reminds, R"({"timelineCount":"0","replyCount":"1","commentOfMeCount":null})");
    Load(timeline, R"json([
      {"id":"1","text":"a","flag":"ORIGINAL","root_in_reply_to_status_text":"","root_in_reply_to_user_name":"",
       "source":"","user":{"id":"2","name":"n","profile_image_url":"javascript:alert(1)"}},
      {"id":"2","text":"b","root_in_reply_to_status_text":null,"user":{"id":"2","name":"n","profile_image_url":""}},
      {"id":"3","text":"c","flag":"RETWEET","root_in_reply_to_status_text":"root","root_in_reply_to_user_name":"r",
       "user":{"id":"2","name":"n","profile_image_url":"https://a.example/p.png"}}])json");
    Doc doc = Render();
    ASSERT_TRUE(doc);
    xmlNodePtr root = xmlDocGetRootElement(doc.get());
    std::vector<xmlNodePtr> divs, images;
    Collect(root, "div", divs);
    Collect(root, "img", images);
    int quotes = 0;
    for (xmlNodePtr div : divs)
        quotes += Attribute(div, "class") == "root" ? 1 : 0;
    EXPECT_EQ(quotes, 1);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(Attribute(images[0], "src"), "https://a.example/p.png");
    std::string text = Text(root);
    EXPECT_NE(text.find("新回复 1"), std::string::npos) << text;
    for (const char* hidden : {"新微博", "新评论", "来自"})
        EXPECT_EQ(text.find(hidden), std::string::npos) << hidden;
}

TEST_F(RenderedPage, EmptyTimelineStillShowsRefreshAndTheTwoViews) {
    Doc doc = Render();
    ASSERT_TRUE(doc);
    std::vector<Link> links = Links(doc.get());
    ASSERT_EQ(links.size(), 3u);
    EXPECT_EQ(links[0].href, "tavi://refresh/");
    EXPECT_EQ(links[1].href, "tavi://home/");
    EXPECT_EQ(links[2].href, "tavi://mentions/");
}

// The mentions page is written from the mentions alone, beside the home page, and its links reload
// the mentions; the header marks which view is shown.
TEST_F(RenderedPage, MentionsPageShowsTheMentionsWithTheSameActions) {
    LoadFixtures();
    Load(mentions, R"([{"id":"7001","text":"@演示用户 周末见","created_at":"Tue Nov 16 09:30:00 +0800 2010",
                       "user":{"id":"42","name":"Lin"}}])");
    ASSERT_EQ(GetDocumentPath(settings, kDocumentMentions, true, Sources()),
              settings.userFolder + "/mentions.xml");
    EXPECT_FALSE(tavi::IsFileExist(PagePath())) << "the home page is not written with the mentions";
    std::string html = TransformPage(settings.userFolder + "/mentions.xml");
    XmlErrors errors;
    Doc doc = ParseHtml(html, errors);
    ASSERT_TRUE(doc);
    EXPECT_EQ(errors.count, 0) << errors.first;
    std::string text = Text(xmlDocGetRootElement(doc.get()));
    EXPECT_NE(text.find("@演示用户 周末见"), std::string::npos) << text;
    EXPECT_NE(text.find("Lin"), std::string::npos) << text;
    EXPECT_EQ(text.find("Alice"), std::string::npos) << "a home status on the mentions page";
    std::vector<Link> links = Links(doc.get());
    EXPECT_EQ(Hrefs(links, "tavi://refresh/"), std::vector<std::string>{});
    EXPECT_EQ(Hrefs(links, "tavi://mentions/"),
              (std::vector<std::string>{"tavi://mentions/", "tavi://mentions/"}));
    EXPECT_EQ(Hrefs(links, "tavi://retweet/"), std::vector<std::string>{"tavi://retweet/id=7001"});
    EXPECT_EQ(Hrefs(links, "tavi://favorite_add/"), std::vector<std::string>{"tavi://favorite_add/id=7001"});
    EXPECT_NE(
        html.find(
            "class=\"view-mentions\" href=\"tavi://mentions/\" target=\"_blank\" aria-current=\"page\""),
        std::string::npos)
        << html;
}

TEST_F(RenderedPage, StylesheetIsFoundFromAFolderWithBlanksAndChineseInItsName) {
    std::string app = scratch.path() + "/my app/应用/";
    std::filesystem::create_directories(app + "plugin/microblog");
    std::filesystem::copy_file(std::string(TAVI_SOURCE_DIR) + "/resources/microblog/vedide_home.xsl",
                               app + "plugin/microblog/vedide_home.xsl");
    settings.appPath = tavi::utf8_to_CString(app);
    LoadFixtures();
    Doc doc = Render();
    ASSERT_TRUE(doc);
    EXPECT_EQ(Hrefs(Links(doc.get()), "tavi://retweet/").size(), 3u);
}

} // namespace
} // namespace microblog
