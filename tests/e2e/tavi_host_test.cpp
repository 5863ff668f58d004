// The host program driven by a script, as a test or a person would drive it.
#include <gtest/gtest.h>

#include "tests/support/test_env.h"

namespace {

std::string RunTavi(const std::string& script, int* status, const std::string& appDir) {
    testenv::ScratchDir dir("tavi-script");
    std::string path = dir.path() + "/script.txt";
    testenv::WriteFile(path, script);
    std::string output;
    *status = testenv::RunCommand(std::string(TAVI_BIN_DIR) + "/tavi --app-dir " + appDir +
                                      " --user demo@velmora.com --password demo123 --script " + path,
                                  &output);
    return output;
}

// A copy of the staged app folder, so that tests never share user data.
class TaviScript : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(testenv::RunCommand("cp -r " + std::string(TAVI_APP_DIR) + "/. " + app_.path()), 0);
    }
    testenv::ScratchDir app_{"tavi-app"};
};

TEST_F(TaviScript, LoadsThePluginRunsCommandsAndUnloadsAtQuit) {
    int status = -1;
    std::string out = RunTavi("help\nmenu\nwait\nquit\nmenu\n", &status, app_.path());
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("loaded "), std::string::npos) << out;
    EXPECT_NE(out.find("(8010)"), std::string::npos) << out;
    EXPECT_NE(out.find("10090 "), std::string::npos) << out;
    EXPECT_NE(out.find("advance SECONDS"), std::string::npos) << out;
    EXPECT_NE(out.find("unloaded "), std::string::npos) << out;
    // Nothing runs after quit: the second menu would print the item again.
    EXPECT_EQ(out.find("10090 "), out.rfind("10090 ")) << out;
}

TEST_F(TaviScript, BadCommandsGetOneLineAndTheSessionGoesOn) {
    int status = -1;
    std::string out = RunTavi("frobnicate\nadvance\nadvance soon\nmenu 77\nload\nunload\nmenu\nunload\nload\nmenu\n",
                              &status, app_.path());
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("error: unknown command: frobnicate"), std::string::npos) << out;
    EXPECT_NE(out.find("error: advance: give a number of seconds"), std::string::npos) << out;
    EXPECT_NE(out.find("error: menu: no item 77"), std::string::npos) << out;
    EXPECT_NE(out.find("error: plug-ins are loaded already"), std::string::npos) << out;
    EXPECT_NE(out.find("error: no plug-in is loaded"), std::string::npos) << out;
    // Loaded again after unload, the menu is back; at the end of input the plug-in unloads.
    std::size_t reload = out.rfind("\nloaded ");
    ASSERT_NE(reload, std::string::npos) << out;
    EXPECT_NE(out.find("\n10090 ", reload), std::string::npos) << out;
    std::size_t lastLine = out.rfind('\n', out.size() - 2);
    EXPECT_EQ(out.compare(lastLine + 1, 9, "unloaded "), 0) << out;
}

} // namespace
