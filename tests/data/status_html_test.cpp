// The HTML form of status texts: links, pictures, and text that is shown as text.
#include <gtest/gtest.h>

#include "data/status_html.h"
#include "host/common.h"

namespace microblog {
namespace {

constexpr char kPrefix[] = "http://t.vel.cn/";

struct HtmlCase {
    const char* name;
    const char* text; // UTF-8
    const char* html; // UTF-8
};

class StatusHtml : public ::testing::TestWithParam<HtmlCase> {
protected:
    void SetUp() override { tavi::SetSystemCodePage("GB18030"); }
};

TEST_P(StatusHtml, ConvertsTheText) {
    std::string html = StatusTextToHtml(tavi::utf8_to_CString(GetParam().text), kPrefix);
    EXPECT_EQ(tavi::CString_to_utf8(html), GetParam().html);
}

INSTANTIATE_TEST_SUITE_P(
    Links, StatusHtml,
    ::testing::Values(
        HtmlCase{"NoLink", "just words", "just words"},
        HtmlCase{"PlainLink", "see http://example.com/a and more",
                 "see <a href=\"http://example.com/a\" target=\"_blank\">http://example.com/a</a> and more"},
        HtmlCase{"FullStopStaysInTheLink", "read http://example.com/a.",
                 "read <a href=\"http://example.com/a.\" target=\"_blank\">http://example.com/a.</a>"},
        HtmlCase{"CommaEndsTheLink", "http://a.com/x,y",
                 "<a href=\"http://a.com/x\" target=\"_blank\">http://a.com/x</a>,y"},
        HtmlCase{"NonAsciiEndsTheLink", "http://a.com/x你好",
                 "<a href=\"http://a.com/x\" target=\"_blank\">http://a.com/x</a>你好"},
        HtmlCase{"QueryAmpersandIsAnEntity", "http://a.com/?p=1&q=2",
                 "<a href=\"http://a.com/?p=1&amp;q=2\" target=\"_blank\">http://a.com/?p=1&amp;q=2</a>"},
        HtmlCase{"TwoLinks", "http://a.com http://b.com",
                 "<a href=\"http://a.com\" target=\"_blank\">http://a.com</a> "
                 "<a href=\"http://b.com\" target=\"_blank\">http://b.com</a>"},
        HtmlCase{"HttpsIsNotALink", "https://a.com/x", "https://a.com/x"},
        HtmlCase{"UpperCaseSchemeIsNotALink", "HTTP://a.com/x", "HTTP://a.com/x"},
        HtmlCase{"BareScheme", "go http://", "go <a href=\"http://\" target=\"_blank\">http://</a>"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Pictures, StatusHtml,
    ::testing::Values(HtmlCase{"OnePicture", "look http://t.vel.cn/ab12 wow",
                               "look <a href=\"http://t.vel.cn/ab12\" target=\"_blank\"></a> wow<br >"
                               "<a href=\"http://t.vel.cn/ab12\" target=\"_blank\"><img class=\"wb_img\" "
                               "src=\"http://t.vel.cn/ab12\"/></a>"},
                      HtmlCase{"TwoPicturesInOrderAfterOneBreak", "http://t.vel.cn/1 and http://t.vel.cn/2",
                               "<a href=\"http://t.vel.cn/1\" target=\"_blank\"></a> and "
                               "<a href=\"http://t.vel.cn/2\" target=\"_blank\"></a><br >"
                               "<a href=\"http://t.vel.cn/1\" target=\"_blank\"><img class=\"wb_img\" "
                               "src=\"http://t.vel.cn/1\"/></a>"
                               "<a href=\"http://t.vel.cn/2\" target=\"_blank\"><img class=\"wb_img\" "
                               "src=\"http://t.vel.cn/2\"/></a>"},
                      HtmlCase{"PictureAndLink", "http://a.com http://t.vel.cn/z",
                               "<a href=\"http://a.com\" target=\"_blank\">http://a.com</a> "
                               "<a href=\"http://t.vel.cn/z\" target=\"_blank\"></a><br >"
                               "<a href=\"http://t.vel.cn/z\" target=\"_blank\"><img class=\"wb_img\" "
                               "src=\"http://t.vel.cn/z\"/></a>"},
                      HtmlCase{"PrefixHostWithoutSlashIsALink", "http://t.vel.cn",
                               "<a href=\"http://t.vel.cn\" target=\"_blank\">http://t.vel.cn</a>"}),
    [](const auto& info) { return std::string(info.param.name); });

// What a user wrote is shown as text: markup in a status never reaches the page as markup.
INSTANTIATE_TEST_SUITE_P(
    Escaping, StatusHtml,
    ::testing::Values(HtmlCase{"Script", "<script>alert(1)</script>",
                               "&lt;script&gt;alert(1)&lt;/script&gt;"},
                      HtmlCase{"ImageWithHandler", "<img src=x onerror=\"alert(1)\">",
                               "&lt;img src=x onerror=&quot;alert(1)&quot;&gt;"},
                      HtmlCase{"AmpersandAndEntities", "Tom & Jerry &lt;3", "Tom &amp; Jerry &amp;lt;3"},
                      HtmlCase{"MarkupRightAfterALink", "http://a.com/\"><script>x</script>",
                               "<a href=\"http://a.com/\" "
                               "target=\"_blank\">http://a.com/</a>&quot;&gt;&lt;script&gt;x&lt;/script&gt;"},
                      HtmlCase{"LineBreaksPass", "one\ntwo", "one\ntwo"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StatusHtmlPrefix, EmptyPrefixMakesNoPictures) {
    EXPECT_EQ(StatusTextToHtml("http://t.vel.cn/1", ""),
              "<a href=\"http://t.vel.cn/1\" target=\"_blank\">http://t.vel.cn/1</a>");
}

} // namespace
} // namespace microblog
