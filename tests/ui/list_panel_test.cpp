// The list panel's one place for links: each link of a page, activated in the browser control as a
// click does, ends in exactly one action, decided by the first prefix in the fixed order.
#include <gtest/gtest.h>

#include "host/msgbox.h"
#include "runtime/service/msgbox_host.h"
#include "tests/ui/plugin_host.h"
#include "tests/ui/recording_service.h"

namespace panelstest {
namespace {

struct LinkCase {
    const char* name;
    const char* url;
    int answer;           // the answer to a confirmation box, 0 when none is expected
    const char* expected; // the service call, or "" for none
    const char* opened;   // the address handed to the web browser, or ""
};

class ListPanelLinks : public ::testing::TestWithParam<LinkCase> {
protected:
    void SetUp() override {
        host_.Load(service_);
        ASSERT_TRUE(host_.Idle());
        service_->calls.clear();
        tavi::runtime::ClearShownMessageBoxes();
        list_ = host_.main() ? host_.main()->GetListPanel() : nullptr;
        ASSERT_NE(list_, nullptr);
        ASSERT_NE(list_->GetBrowser(), nullptr);
    }
    void TearDown() override { tavi::runtime::SetMessageBoxResponder(nullptr); }

    // A page with the one link, shown in the panel.
    void ShowPageWith(const std::string& url) {
        std::string page = dir_.path() + "/page.html";
        testenv::WriteFile(page, "<html><head><title>t</title></head><body><a href=\"" + url +
                                     "\" target=\"_blank\">link</a></body></html>");
        ASSERT_EQ(list_->NavigateTo(page), 1);
        ASSERT_EQ(list_->GetBrowser()->GetLinks().size(), 1u);
    }

    PluginHost host_;
    RecordingService* service_ = new RecordingService(&host_.core());
    microblog::MicroBlogListPanel* list_ = nullptr;
    testenv::ScratchDir dir_{"list-panel"};
};

TEST_P(ListPanelLinks, RunsTheActionOfTheFirstPrefixAndNothingElse) {
    const LinkCase& c = GetParam();
    service_->signedIn = true;
    int boxes = 0;
    tavi::runtime::SetMessageBoxResponder([&](const tavi::runtime::MessageBoxRequest&) {
        ++boxes;
        return c.answer;
    });
    ShowPageWith(c.url);
    tavi::CSkinWebBrowser* browser = list_->GetBrowser();
    ASSERT_TRUE(browser->ActivateLink(0));
    host_.runtime().loop().RunUntilIdle();

    std::string calls;
    for (const std::string& call : service_->calls)
        calls += (calls.empty() ? "" : ", ") + call;
    EXPECT_EQ(calls, c.expected);
    EXPECT_EQ(boxes, c.answer != 0 ? 1 : 0);
    std::vector<tavi::runtime::OpenedWeb> opened = tavi::runtime::GetOpenedWebs();
    if (*c.opened) {
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].url, c.opened);
        EXPECT_EQ(opened[0].mode, 3);
    } else {
        EXPECT_TRUE(opened.empty()) << opened[0].url;
    }
    // Every reported link is cancelled: the browser control opens no window of its own.
    EXPECT_TRUE(browser->GetOpenedWindows().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, ListPanelLinks,
    ::testing::Values(
        LinkCase{"Retweet", "tavi://retweet/id=123", 0, "reply retweet 123", ""},
        LinkCase{"RetweetWithoutId", "tavi://retweet/id=", 0, "reply retweet ", ""},
        LinkCase{"Comment", "tavi://comments/id=77", 0, "reply comment 77", ""},
        LinkCase{"FavoriteAdd", "tavi://favorite_add/id=5", 0, "favorite+ 5", ""},
        LinkCase{"FavoriteDelete", "tavi://favorite_del/id=5", 0, "favorite- 5", ""},
        LinkCase{"Refresh", "tavi://refresh/", 0, "verify, home 50", ""},
        LinkCase{"Mentions", "tavi://mentions/", 0, "mentions 50", ""},
        // Before any home timeline was read, the home view has to read it.
        LinkCase{"HomeBeforeAnyTimeline", "tavi://home/", 0, "verify, home 50", ""},
        LinkCase{"DeleteConfirmed", "tavi://delete/id=9", tavi::kMsgBoxAnswerYes, "delete 9", ""},
        LinkCase{"DeleteDeclined", "tavi://delete/id=9", tavi::kMsgBoxAnswerNo, "", ""},
        LinkCase{"DeleteAfterOtherText", "tavi://x/tavi://delete/id=9", tavi::kMsgBoxAnswerYes, "delete 9",
                 ""},
        // A web address that carries an action link inside it is only a web page.
        LinkCase{"WebAddressHoldingAnActionLink", "http://x.example/?u=tavi://favorite_add/id=5", 0, "",
                 "http://x.example/?u=tavi://favorite_add/id=5"},
        LinkCase{"RetweetWinsOverAnEarlierPrefix", "tavi://comments/id=1tavi://retweet/id=2", 0,
                 "reply retweet 2", ""},
        LinkCase{"UnknownAction", "tavi://unknown/1", 0, "", ""},
        LinkCase{"OrdinaryAddress", "http://www.example.com/a?b=1", 0, "", "http://www.example.com/a?b=1"}),
    [](const ::testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.name); });

TEST_F(ListPanelLinks, ARequestBeforeAnyUrlWasReportedIsNotCancelled) {
    bool cancel = false;
    void* newBrowser = nullptr;
    tavi::EventSinkParams request;
    request.newDispatch = &newBrowser;
    request.cancel = &cancel;
    list_->OnEventSink(microblog::kBrowserControlId, tavi::DISPID_NEWWINDOW2, request);
    EXPECT_FALSE(cancel);
    EXPECT_TRUE(service_->calls.empty());
    EXPECT_TRUE(tavi::runtime::GetOpenedWebs().empty());
}

TEST_F(ListPanelLinks, APathWithoutAFileKeepsThePage) {
    ShowPageWith("tavi://refresh/");
    std::string shown = list_->GetBrowser()->GetLocationURL();
    EXPECT_EQ(list_->NavigateTo(dir_.path() + "/missing.xml"), 0);
    EXPECT_EQ(list_->NavigateTo(""), 0);
    EXPECT_EQ(list_->GetBrowser()->GetLocationURL(), shown);
}

} // namespace
} // namespace panelstest
