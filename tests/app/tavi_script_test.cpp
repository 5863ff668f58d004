// The tavi program with the built plug-in, driven by a script: it loads the plug-in, shows it and
// prints a screen, and a wrong command costs one line.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_env.h"

namespace apptest {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::size_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == line)
            return i;
    return lines.size();
}

TEST(TaviScript, LoadsThePluginShowsItAndPrintsTheScreen) {
    testenv::ScratchDir app("tavi-script");
    std::filesystem::copy(std::string(TAVI_APP_DIR) + "/plugin", app.path() + "/plugin",
                          std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(app.path() + "/users");
    testenv::WriteFile(app.path() + "/script.txt",
                       "show\nscreen\nscreen TaviMainForm\ntoolbar\nclick NoSuchControl\nwindows\nquit\n");
    std::string output;
    int status = testenv::RunCommand(std::string(TAVI_BIN_DIR) + "/tavi --app-dir " + app.path() +
                                         " --user tester@velmora.com --password secret --script " +
                                         app.path() + "/script.txt < /dev/null",
                                     &output);
    ASSERT_EQ(status, 0) << output;
    std::vector<std::string> lines = Lines(output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "loaded 微博插件 (8010)") << output;
    EXPECT_EQ(lines.back(), "unloaded 微博插件") << output;

    // The plug-in window's screen: its own line, then every line of its tree indented below it.
    std::size_t window = IndexOf(lines, "pluginwnd MicroBlogWindow");
    ASSERT_LT(window, lines.size()) << output;
    std::size_t main = IndexOf(lines, "form TaviMainForm title=\"TAVI\"");
    ASSERT_LT(window, main) << output;
    for (std::size_t i = window + 1; i < main; ++i)
        EXPECT_EQ(lines[i].rfind("  ", 0), 0u) << "part of the plug-in window: " << lines[i];

    // The main form holds the toolbar with the plug-in's button and the shown plug-in window.
    EXPECT_LT(IndexOf(lines, "  toolbar ButtonManager"), lines.size()) << output;
    EXPECT_LT(IndexOf(lines, "    pluginwnd MicroBlogWindow"), lines.size()) << output;
    bool button = false;
    for (const std::string& line : lines)
        button = button || line.rfind("ToolbarMicroBlog text=\"", 0) == 0;
    EXPECT_TRUE(button) << output;
    EXPECT_LT(IndexOf(lines, "error: click: no control NoSuchControl"), lines.size()) << output;
    bool listed = false;
    for (const std::string& line : lines)
        listed = listed || line.rfind("form TaviMainForm visible=1 foreground=", 0) == 0;
    EXPECT_TRUE(listed) << output;
}

} // namespace
} // namespace apptest
