// The browser control: pages transformed by their stylesheet, the page's text and links, the events
// and their order, link activation through the sink and NewWindow2, and pages it must not show.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "data/json_reader.h"
#include "data/timeline_page.h"
#include "host/skin.h"
#include "tests/skin/skin_fixture.h"
#include "tests/support/test_env.h"

namespace skintest {
namespace {

constexpr int kBrowserId = 3345;

// The window that hosts the browser, with the event sink map of the list panel: it records every
// event and answers NewWindow2 with the cancel flag it is told.
class BrowserHost : public tavi::CSkinWnd, public tavi::ILinkUrlSink {
public:
    explicit BrowserHost(std::vector<std::string>& log) : log_(log) {}
    long OnLinkUrl(unsigned long, const wchar_t* url, void**) override {
        log_.push_back("sink " + tavi::WideToCString(url));
        return 0;
    }
    int OnEventSink(int controlId, int dispatchId, tavi::EventSinkParams& params) override {
        if (controlId != kBrowserId)
            return 0;
        if (dispatchId == tavi::DISPID_DOWNLOADBEGIN)
            log_.push_back("download");
        else if (dispatchId == tavi::DISPID_DOCUMENTCOMPLETE)
            log_.push_back("complete " + (params.url ? *params.url : std::string("?")));
        else if (dispatchId == tavi::DISPID_NEWWINDOW2) {
            log_.push_back("newwindow " + (params.url ? *params.url : std::string("?")));
            if (params.cancel && answerNewWindows)
                *params.cancel = cancelNewWindows;
        }
        return 1;
    }
    bool cancelNewWindows = true;
    bool answerNewWindows = true;

private:
    std::vector<std::string>& log_;
};

class WebBrowser : public SkinTest {
protected:
    void SetUp() override {
        SkinTest::SetUp();
        tavi::CSkinWebBrowser::InitControlContainer();
        top = std::make_unique<tavi::CWnd>();
        ASSERT_TRUE(top->CreateEx(tavi::WS_POPUP, "Top", "top", tavi::SkinRect{0, 0, 400, 300}, nullptr, 0));
        host = std::make_unique<BrowserHost>(log);
        ASSERT_EQ(host->Create(0x50000000, "VELMORA TAVI2006 Test", "test", top->GetSafeHwnd(), -1), 1);
        browser = new tavi::CSkinWebBrowser();
        browser->SetObjectID("Test.Navigator");
        host->GetSkinObject()->RegisterControl(browser->GetSkinObject());
        browser->SetLinkUrlSink(host.get());
        ASSERT_TRUE(browser->Create("Test.Navigator", 0x50000000, tavi::SkinRect{0, 0, 1, 1},
                                    host->GetSafeHwnd(), kBrowserId, 132, 0, nullptr, 0, nullptr));
        browser->SetOptionFlags(browser->GetOptionFlags() & ~(0x2u | 0x80u));
    }
    void TearDown() override {
        host.reset(); // releases the browser with the tree
        top.reset();
        SkinTest::TearDown();
    }
    std::vector<std::string> Urls() const {
        std::vector<std::string> urls;
        for (const auto& link : browser->GetLinks())
            urls.push_back(link.url);
        return urls;
    }

    std::vector<std::string> log;
    std::unique_ptr<tavi::CWnd> top;
    std::unique_ptr<BrowserHost> host;
    tavi::CSkinWebBrowser* browser = nullptr;
};

TEST_F(WebBrowser, AnXmlPageIsTransformedByItsStylesheetAndKeepsTextAndLinks) {
    ASSERT_TRUE(browser->Navigate2(FixturePath("page.xml"), tavi::navNoHistory)) << browser->GetLastError();
    EXPECT_EQ(log, (std::vector<std::string>{"download", "complete " + FixturePath("page.xml")}));
    EXPECT_EQ(browser->GetTitle(), "Test feed");
    const std::string& text = browser->GetPageText();
    EXPECT_NE(text.find("Hello world"), std::string::npos) << "markup emitted unescaped is markup: " << text;
    EXPECT_NE(text.find("你好，微博"), std::string::npos);
    EXPECT_EQ(text.find("no scripts"), std::string::npos) << "scripts are not page text";
    EXPECT_EQ(text.find("color: black"), std::string::npos);
    EXPECT_EQ(Urls(), (std::vector<std::string>{"tavi://refresh/", "tavi://retweet/id=11",
                                                "http://example.com/u/11", "tavi://retweet/id=12",
                                                "http://example.com/u/12", FixturePath("other.html")}))
        << "a relative address is resolved against the page";
    EXPECT_EQ(browser->GetLinks()[1].text, "Retweet");
    EXPECT_EQ(browser->GetLinks()[1].target, "_blank");
    EXPECT_EQ(browser->GetLinks()[5].target, "");
    EXPECT_NE(browser->GetReadableText().find("Retweet [2]"), std::string::npos)
        << browser->GetReadableText();
    EXPECT_EQ(browser->GetSkinObject()->GetText(), "Test feed");
}

TEST_F(WebBrowser, ActivatingALinkReportsItsUrlToTheSinkBeforeNewWindow2) {
    ASSERT_TRUE(browser->Navigate2(FixturePath("page.xml")));
    log.clear();
    ASSERT_TRUE(browser->ActivateLink(1));
    EXPECT_EQ(log, (std::vector<std::string>{"sink tavi://retweet/id=11", "newwindow tavi://retweet/id=11"}));
    EXPECT_TRUE(browser->GetOpenedWindows().empty()) << "a cancelled request opens nothing";
    EXPECT_FALSE(browser->ActivateLink(6));
}

TEST_F(WebBrowser, ARequestNotCancelledOpensANewBrowserWindow) {
    host->cancelNewWindows = false;
    ASSERT_TRUE(browser->Navigate2(FixturePath("page.xml")));
    ASSERT_TRUE(browser->ActivateLink(2));
    EXPECT_EQ(browser->GetOpenedWindows(), (std::vector<std::string>{"http://example.com/u/11"}));
    EXPECT_EQ(browser->GetTitle(), "Test feed") << "the page itself stays";
}

TEST_F(WebBrowser, ARequestTheParentLeavesAloneOpensANewBrowserWindow) {
    host->answerNewWindows = false;
    ASSERT_TRUE(browser->Navigate2(FixturePath("page.xml")));
    ASSERT_TRUE(browser->ActivateLink(0));
    EXPECT_EQ(browser->GetOpenedWindows(), (std::vector<std::string>{"tavi://refresh/"}));
}

TEST_F(WebBrowser, ALinkWithoutATargetReplacesThePage) {
    ASSERT_TRUE(browser->Navigate2(FixturePath("page.xml")));
    log.clear();
    ASSERT_TRUE(browser->ActivateLink(5));
    EXPECT_EQ(log, (std::vector<std::string>{"sink " + FixturePath("other.html"), "download",
                                             "complete " + FixturePath("other.html")}));
    EXPECT_EQ(browser->GetTitle(), "Other");
    EXPECT_EQ(browser->GetPageText(), "The other page.\nSecond line with [image pic.png] inline.\nBack");
    EXPECT_EQ(browser->GetHistoryLength(), 2);
    ASSERT_TRUE(browser->Navigate2(FixturePath("page.xml"), tavi::navNoHistory));
    EXPECT_EQ(browser->GetHistoryLength(), 2) << "no history entry for navNoHistory";
}

struct Unshown {
    const char* name;
    const char* url;
};

class PageNotNavigated : public WebBrowser, public ::testing::WithParamInterface<Unshown> {};

TEST_P(PageNotNavigated, KeepsThePageAndRaisesNothing) {
    ASSERT_TRUE(browser->Navigate2(FixturePath("page.xml")));
    log.clear();
    std::string url = GetParam().url;
    if (url.rfind("fixture:", 0) == 0)
        url = FixturePath(url.substr(8));
    EXPECT_FALSE(browser->Navigate2(url));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(browser->GetTitle(), "Test feed");
    EXPECT_EQ(browser->GetLinks().size(), 6u);
    EXPECT_FALSE(browser->GetLastError().empty());
}

INSTANTIATE_TEST_SUITE_P(Pages, PageNotNavigated,
                         ::testing::Values(Unshown{"missing", "fixture:no_such_page.xml"},
                                           Unshown{"folder", "fixture:"},
                                           Unshown{"remote", "http://example.com/"}, Unshown{"empty", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WebBrowser, AFileUrlNamesALocalPage) {
    ASSERT_TRUE(browser->Navigate2("file://" + FixturePath("page.xml")));
    EXPECT_EQ(browser->GetTitle(), "Test feed");
}

TEST_F(WebBrowser, WithoutAWindowNothingIsNavigated) {
    tavi::CSkinWebBrowser loose;
    EXPECT_FALSE(loose.Create("x", 0x50000000, tavi::SkinRect{}, nullptr, 1)) << "the control needs a parent";
    EXPECT_FALSE(loose.Navigate2(FixturePath("page.xml")));
}

TEST_F(WebBrowser, APageThatCannotBeTransformedShowsWhatWentWrong) {
    for (const char* page : {"broken.xml", "missing_style.xml"}) {
        log.clear();
        ASSERT_TRUE(browser->Navigate2(FixturePath(page))) << page;
        EXPECT_EQ(log.size(), 2u) << page;
        EXPECT_EQ(browser->GetTitle(), "Error") << page;
        EXPECT_TRUE(browser->GetLinks().empty()) << page;
        EXPECT_NE(browser->GetPageText().find("cannot be shown"), std::string::npos) << page;
    }
    EXPECT_NE(browser->GetLastError().find("no_such_style.xsl"), std::string::npos)
        << browser->GetLastError();
}

TEST_F(WebBrowser, AnXmlDocumentWithoutAStylesheetShowsItsText) {
    ASSERT_TRUE(browser->Navigate2(FixturePath("plain.xml")));
    EXPECT_EQ(browser->GetPageText(), "Tove\nRemember the meeting");
}

TEST_F(WebBrowser, AStylesheetCannotWriteFiles) {
    testenv::ScratchDir scratch("tavi-hostile");
    std::string target = scratch.path() + "/written.txt";
    testenv::WriteFile(
        scratch.path() + "/hostile.xsl",
        "<xsl:stylesheet version=\"1.1\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:template match=\"/\"><xsl:document href=\"" +
            target +
            "\" method=\"text\">owned</xsl:document>"
            "<html><body><p>after the write</p></body></html></xsl:template></xsl:stylesheet>");
    testenv::WriteFile(
        scratch.path() + "/hostile.xml",
        "<?xml version=\"1.0\"?><?xml-stylesheet type=\"text/xsl\" href=\"hostile.xsl\"?><feed/>");
    ASSERT_TRUE(browser->Navigate2(scratch.path() + "/hostile.xml"));
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(browser->GetTitle(), "Error");
}

// Text a stylesheet puts out unescaped reads as it would in the page written out and parsed again,
// whether it is well-formed HTML or reaches outside its element; an edited stylesheet is used at once.
TEST_F(WebBrowser, UnescapedTextReadsAsTheWrittenPageAndAnEditedStylesheetApplies) {
    testenv::ScratchDir scratch("tavi-unescaped");
    auto writeStyle = [&](const std::string& title) {
        testenv::WriteFile(
            scratch.path() + "/s.xsl",
            "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
            "<xsl:output method=\"html\"/><xsl:template match=\"/feed\"><html><head><title>" +
                title +
                "</title></head><body><xsl:for-each select=\"post\"><div class=\"text\">"
                "<xsl:value-of select=\"@text\" disable-output-escaping=\"yes\"/></div>"
                "</xsl:for-each><p><a href=\"{@home}\">home</a> end</p></body></html></xsl:template>"
                "</xsl:stylesheet>");
    };
    auto writePage = [&](const std::string& name, const std::string& home, const std::string& posts) {
        testenv::WriteFile(
            scratch.path() + "/" + name,
            "<?xml version=\"1.0\"?><?xml-stylesheet type=\"text/xsl\" href=\"s.xsl\"?><feed home=\"" + home +
                "\">" + posts + "</feed>");
    };
    writeStyle("One");
    writePage("fine.xml", "http://x/home",
              "<post text=\"a &lt;a href=&quot;http://x/中 文&quot;&gt;链接&lt;/a&gt; &amp;amp;b\"/>"
              "<post text=\"c &lt;i&gt;d&lt;/i&gt;\"/>");
    writePage("reaching.xml", "http://x/home",
              "<post text=\"x&lt;/div&gt;after &lt;b&gt;open\"/><post text=\"y\"/>");
    writePage("address.xml", "http://x/主页 1", "<post text=\"z\"/>");

    ASSERT_TRUE(browser->Navigate2(scratch.path() + "/fine.xml")) << browser->GetLastError();
    EXPECT_EQ(browser->GetTitle(), "One");
    EXPECT_EQ(browser->GetReadableText(), "a 链接 [1] &b\nc d\nhome [2] end");
    EXPECT_EQ(Urls(), (std::vector<std::string>{"http://x/中 文", "http://x/home"}))
        << "markup in a text is taken as it stands";
    ASSERT_TRUE(browser->Navigate2(scratch.path() + "/reaching.xml")) << browser->GetLastError();
    EXPECT_EQ(browser->GetReadableText(), "x\nafter open\ny\nhome [1] end")
        << "the end tag closes the text's block";
    ASSERT_TRUE(browser->Navigate2(scratch.path() + "/address.xml")) << browser->GetLastError();
    EXPECT_EQ(Urls(), (std::vector<std::string>{"http://x/%E4%B8%BB%E9%A1%B5%201"}))
        << "an address the stylesheet makes is written out escaped";

    writeStyle("Two, edited");
    ASSERT_TRUE(browser->Navigate2(scratch.path() + "/fine.xml"));
    EXPECT_EQ(browser->GetTitle(), "Two, edited");
}

TEST(WideText, BrowserUrlsArriveInTheSystemCodePage) {
    tavi::SetSystemCodePage("GB18030");
    EXPECT_EQ(tavi::WideToCString(nullptr), "");
    EXPECT_EQ(tavi::WideToCString(L"tavi://delete/id=7"), "tavi://delete/id=7");
    EXPECT_EQ(tavi::WideToCString(L"转发"), tavi::utf8_to_CString("转发"));
    tavi::SetSystemCodePage("CP936");
    EXPECT_EQ(tavi::WideToCString(L"a\U0001F600b"), "a?b") << "a character CP936 has no form for";
    tavi::SetSystemCodePage("GB18030");
}

// The plug-in's own page: the data room's writer and the plug-in's stylesheet, shown in the
// control, give the action links the list panel dispatches.
class TimelinePageInBrowser : public WebBrowser {
protected:
    void SetUp() override {
        WebBrowser::SetUp();
        std::string appPath = scratch.path() + "/";
        std::filesystem::create_directories(appPath + "plugin/microblog");
        std::filesystem::copy_file(ResourcePath("vedide_home.xsl"), appPath + microblog::kStylesheetPath);
        settings.userFolder = appPath + "users/tester/microblog";
        settings.appPath = appPath;
        settings.picturePrefix = "http://t.vel.cn/";
        std::filesystem::create_directories(settings.userFolder);
        ASSERT_TRUE(account.Parse(testenv::ReadFile(FixturePath("account.json")).c_str()));
        ASSERT_TRUE(timeline.Parse(testenv::ReadFile(FixturePath("timeline.json")).c_str()));
    }
    std::string BuildPage() {
        microblog::TimelineSources sources{account.root(), nullptr, timeline.root()};
        return microblog::GetDocumentPath(settings, microblog::kDocumentHome, true, sources);
    }

    testenv::ScratchDir scratch{"tavi-timeline"};
    microblog::TimelinePageSettings settings;
    microblog::JsonReader account, timeline;
};

TEST_F(TimelinePageInBrowser, AGeneratedTimelinePageYieldsItsActionLinks) {
    std::string page = BuildPage();
    ASSERT_FALSE(page.empty());
    ASSERT_TRUE(browser->Navigate2(page, tavi::navNoHistory)) << browser->GetLastError();
    ASSERT_NE(browser->GetTitle(), "Error") << browser->GetLastError();
    std::vector<std::string> urls = Urls();
    auto has = [&](const std::string& url) { return std::find(urls.begin(), urls.end(), url) != urls.end(); };
    for (const char* expected :
         {"tavi://refresh/", "tavi://retweet/id=7001", "tavi://comments/id=7001",
          "tavi://favorite_add/id=7001", "tavi://delete/id=7001", "tavi://retweet/id=7002",
          "tavi://comments/id=7002", "tavi://favorite_del/id=7002", "http://example.com/a"})
        EXPECT_TRUE(has(expected)) << expected << " in\n" << browser->GetReadableText();
    EXPECT_FALSE(has("tavi://delete/id=7002")) << "only the user's own statuses can be deleted";
    EXPECT_FALSE(has("tavi://favorite_add/id=7002")) << "a favourite offers only its removal";
    for (const auto& link : browser->GetLinks())
        if (link.url.rfind("tavi://", 0) == 0) {
            EXPECT_EQ(link.target, "_blank") << link.url;
        }
}

TEST_F(TimelinePageInBrowser, ReadsAsTextOneStatusABlockWithItsLinksNumberedAndNoAvatars) {
    ASSERT_TRUE(browser->Navigate2(BuildPage(), tavi::navNoHistory)) << browser->GetLastError();
    // Author and time as words of their own, the avatars (decorative, with an empty alternative
    // text) left out, a blank after each link number, and an empty line between the statuses.
    // (The display times depend on the day the test runs.)
    const std::string& text = browser->GetReadableText();
    EXPECT_EQ(text.rfind("刷新 [1] 测试员 @tester 首页 [2] 提到我的 [3]\n\n测试员 ", 0), 0u) << text;
    EXPECT_NE(
        text.find(
            "\n我自己的微博 http://example.com/a [4]\n转发 [5] | 评论 [6] | 收藏 [7] | 删除 [8]\n\nCarol "),
        std::string::npos)
        << text;
    const std::string last = "\nSomeone else's post\n转发 [9] | 评论 [10] | 取消收藏 [11]";
    EXPECT_EQ(text.compare(text.size() - std::min(text.size(), last.size()), last.size(), last), 0) << text;
    EXPECT_EQ(text.find("[image"), std::string::npos) << text;
}

TEST_F(TimelinePageInBrowser, ActivatingAnActionLinkReachesTheSinkBeforeNewWindow2) {
    ASSERT_TRUE(browser->Navigate2(BuildPage(), tavi::navNoHistory));
    std::vector<std::string> urls = Urls();
    auto found = std::find(urls.begin(), urls.end(), "tavi://delete/id=7001");
    ASSERT_NE(found, urls.end());
    log.clear();
    ASSERT_TRUE(browser->ActivateLink(static_cast<std::size_t>(found - urls.begin())));
    EXPECT_EQ(log,
              (std::vector<std::string>{"sink tavi://delete/id=7001", "newwindow tavi://delete/id=7001"}));
    EXPECT_TRUE(browser->GetOpenedWindows().empty());
}

} // namespace
} // namespace skintest
