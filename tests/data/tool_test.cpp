// microblog-tool's data commands, run as a developer runs them.
#include <gtest/gtest.h>

#include "tests/support/test_env.h"

namespace {

const std::string kTool = std::string(TAVI_BIN_DIR) + "/microblog-tool";

std::string Fixture(const std::string& name) {
    return std::string(TAVI_SOURCE_DIR) + "/tests/fixtures/data/" + name;
}

TEST(DataTool, JsonPrintsTheTreeAndExitsWithTheParseResult) {
    testenv::ScratchDir scratch("tavi-tool");
    testenv::WriteFile(scratch.path() + "/ok.json", R"({"b": [1, 2.5, null], "a": "\u4e2d", "b": true})");
    testenv::WriteFile(scratch.path() + "/bad.json", R"({"a": [1, 2})");
    std::string out;
    EXPECT_EQ(testenv::RunCommand(kTool + " json " + scratch.path() + "/ok.json", &out), 0);
    EXPECT_EQ(out, "Object (2) keyOrder: \"b\" \"a\"\n"
                   "  \"a\": String \"中\"\n"
                   "  \"b\": Boolean true\n");
    EXPECT_EQ(testenv::RunCommand("(" + kTool + " json " + scratch.path() + "/bad.json 2>/dev/null)", &out),
              1);
    EXPECT_EQ(out, "Object (1) keyOrder: \"a\"\n"
                   "  \"a\": Array (2)\n"
                   "    [0] Integer 1\n"
                   "    [1] Integer 2\n");
    EXPECT_EQ(testenv::RunCommand(kTool + " json " + scratch.path() + "/missing.json", &out), 2);
}

TEST(DataTool, TimeAndHtmlTakeUtf8AndPrintUtf8) {
    std::string out;
    ASSERT_EQ(testenv::RunCommand(
                  "TZ=CST-8 " + kTool + " time 'Tue Nov 16 22:05:33 +0800 2010' --now 1289916363", &out),
              0);
    EXPECT_EQ(out, "30秒前\n");
    ASSERT_EQ(
        testenv::RunCommand(kTool + " html '看 http://a.cn/x。<b>' --picture-prefix http://t.vel.cn/", &out),
        0);
    EXPECT_EQ(out, "看 <a href=\"http://a.cn/x\" target=\"_blank\">http://a.cn/x</a>。&lt;b&gt;\n");
    EXPECT_NE(testenv::RunCommand(kTool + " time", &out), 0);
}

TEST(DataTool, PageWritesBothFilesFromSavedReplies) {
    testenv::ScratchDir scratch("tavi-tool");
    std::string out;
    ASSERT_EQ(testenv::RunCommand(kTool + " page --account " + Fixture("account.json") + " --timeline " +
                                      Fixture("home_timeline.json") + " --out " + scratch.path() + "/page",
                                  &out),
              0)
        << out;
    std::string page = testenv::ReadFile(scratch.path() + "/page/home.xml");
    EXPECT_EQ(page.find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<?xml-stylesheet"), 0u);
    EXPECT_NE(page.find("vedide_home.xsl"), std::string::npos);
    EXPECT_NE(page.find("<uinfo "), std::string::npos);
    EXPECT_EQ(page.find("<msg"), std::string::npos);
    EXPECT_NE(page.find("id=\"5003\""), std::string::npos);
    EXPECT_FALSE(testenv::ReadFile(scratch.path() + "/page/timeline.xml").empty());
}

} // namespace
