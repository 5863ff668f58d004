// Opening a microblog from the open panel in tavi against the local microblog service: the
// nickname checks made before anything is sent, the service's refusals, and a successful opening.
#include <gtest/gtest.h>

#include "tests/e2e/panels_session.h"

namespace panelstest {
namespace {

constexpr const char* kActivate = "POST /account/activate.json";
// The refusal the service gives an account it will not open a microblog for.
constexpr const char* kCreateUserFailed = "创建微博用户失败";

struct NickNameCase {
    const char* label;
    const char* typed;
    bool sent;
    const char* notice;      // string id shown in LabelAccountNotice, or null
    const char* shortNotice; // text shown in LabelAccountNoticeforShort, or null
};

// For barred@velmora.com, whose every well-formed and free nickname the service refuses with 403.
const NickNameCase kCases[] = {
    {"only blanks", "   ", false, "STRID_MB_STARTPANEL_ACCOUNTNOTICE_NULL", nullptr},
    {"24 bytes", "abcdefghijklmnopqrstuvwx", true, nullptr, kCreateUserFailed},
    {"25 bytes", "abcdefghijklmnopqrstuvwxy", false, "STRID_MB_STARTPANEL_ACCOUNTNOTICE_12", nullptr},
    {"12 double-byte characters", "一二三四五六七八九十百千", true, nullptr, kCreateUserFailed},
    {"13 double-byte characters", "一二三四五六七八九十百千万", false, "STRID_MB_STARTPANEL_ACCOUNTNOTICE_12",
     nullptr},
    {"blanks around 24 bytes", "  abcdefghijklmnopqrstuvwx  ", true, nullptr, kCreateUserFailed},
    {"a malformed nickname", "bad name!", true, "STRID_MB_STARTPANEL_ACCOUNTNOTICE_FEIFA", nullptr},
    {"a nickname in use", "小维", true, "STRID_MB_STARTPANEL_ACCOUNTNOTICE", nullptr},
};

TEST(PanelsOpen, NickNamesAreCheckedInBytesAndTheServicesRefusalsAreShown) {
    MbService service;
    ASSERT_GT(service.Port(), 0);
    AppFolder app(service);
    TaviSession tavi(app, "barred@velmora.com", "barred123");
    ASSERT_TRUE(tavi.Started());
    std::string start = tavi.Run("show\nwait\nclick LabelOpenThisAccount\nscreen");
    ASSERT_TRUE(ShowsContainer(start, "panel MicroBlogOpenPanel")) << start;
    EXPECT_FALSE(FindControl(start, "LabelAccountNotice")->visible);
    EXPECT_FALSE(FindControl(start, "LabelAccountNoticeforShort")->visible);

    for (const NickNameCase& c : kCases) {
        SCOPED_TRACE(c.label);
        int sent = service.Count(kActivate);
        std::string screen = tavi.Run(std::string("type EdtNickName \"") + c.typed +
                                      "\"\nclick BtnStartMicroBlog\nwait\nscreen");
        EXPECT_EQ(service.Count(kActivate), sent + (c.sent ? 1 : 0)) << screen;
        std::optional<ControlState> notice = FindControl(screen, "LabelAccountNotice");
        std::optional<ControlState> shortNotice = FindControl(screen, "LabelAccountNoticeforShort");
        ASSERT_TRUE(notice && shortNotice) << screen;
        // Each press hides the notices of the last one before it checks again.
        EXPECT_EQ(notice->visible, c.notice != nullptr) << screen;
        EXPECT_EQ(shortNotice->visible, c.shortNotice != nullptr) << screen;
        if (c.notice) {
            EXPECT_EQ(notice->text, StringTableText(c.notice));
        }
        if (c.shortNotice) {
            EXPECT_EQ(shortNotice->text, c.shortNotice);
        }
        EXPECT_TRUE(ShowsContainer(screen, "panel MicroBlogOpenPanel")) << screen;
    }
    EXPECT_EQ(service.Count(kActivate + std::string(" 403")), 3);
    EXPECT_EQ(service.Count(kActivate + std::string(" 400")), 2);

    EXPECT_EQ(tavi.Close(), 0);
}

TEST(PanelsOpen, AnOpenedMicroblogIsBoundAndTheTimelineShows) {
    MbService service;
    ASSERT_GT(service.Port(), 0);
    AppFolder app(service);
    TaviSession tavi(app, "newbie@velmora.com", "newbie123");
    ASSERT_TRUE(tavi.Started());
    std::string open = tavi.Run("show\nwait\nclick LabelOpenThisAccount\ntype EdtNickName 新来的\nclick "
                                "BtnStartMicroBlog\nwait\nscreen");
    EXPECT_EQ(service.Count(kActivate + std::string(" 200")), 1) << open;
    // The account is stored as bound; the settings change signs in again and ends in the timeline.
    EXPECT_TRUE(ShowsContainer(open, "window MicroBlogListPanel")) << open;
    EXPECT_TRUE(FindControl(open, "BtnPublish")->enabled) << open;
    EXPECT_TRUE(FindControl(open, "BtnMainForm")->enabled) << open;
    EXPECT_GE(service.Count("GET /statuses/home_timeline.json 200"), 1);
    EXPECT_EQ(tavi.Close(), 0);
}

} // namespace
} // namespace panelstest
