// The plug-in library as the host sees it: only the two entry points are visible.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/test_env.h"

namespace {

TEST(PluginLibrary, ExportsOnlyTheTwoEntryPoints) {
    std::string output;
    ASSERT_EQ(testenv::RunCommand(std::string("nm -D --defined-only ") + TAVI_PLUGIN_PATH, &output), 0) << output;
    std::vector<std::string> ours;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, kind, name;
        fields >> address >> kind >> name;
        if (name.empty())
            continue;
        // The sanitizer runtimes and the C++ runtime may add weak symbols of their own.
        if (name.rfind("__asan", 0) == 0 || name.rfind("__ubsan", 0) == 0 || name.rfind("__sanitizer", 0) == 0 ||
            name.rfind("__sancov", 0) == 0 || name.rfind("__odr_asan", 0) == 0 || name == "_init" || name == "_fini")
            continue;
        ours.push_back(name);
    }
    std::sort(ours.begin(), ours.end());
    EXPECT_EQ(ours, (std::vector<std::string>{"GetTaviPluginInstance", "MyPreTranslateMessage"})) << output;
}

} // namespace
