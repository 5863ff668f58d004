// Shared setup of the UI library tests: the skin manager reset and loaded with the fixture skin
// files, a string table of the tests' own, and the paths of the fixtures.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host/common.h"
#include "host/skin.h"
#include "runtime/common/runtime_settings.h"
#include "tests/support/test_env.h"

namespace skintest {

inline std::string FixturePath(const std::string& name) {
    return std::string(TAVI_SOURCE_DIR) + "/tests/fixtures/skin/" + name;
}

inline std::string ResourcePath(const std::string& name) {
    return std::string(TAVI_SOURCE_DIR) + "/resources/microblog/" + name;
}

// Loads the fixture build and skin files and a small string table into a fresh skin manager.
class SkinTest : public ::testing::Test {
protected:
    void SetUp() override {
        tavi::SetSystemCodePage("GB18030");
        tavi::runtime::SetLanguage("zh-CN");
        tavi::runtime::ClearStringTable();
        testenv::WriteFile(strings_.path() + "/stringid.ini",
                           "[zh-CN]\nSTRID_TEST_TITLE = 测试标题\n[en]\nSTRID_TEST_TITLE = Test title\n");
        ASSERT_TRUE(tavi::runtime::LoadStringTable(strings_.path() + "/stringid.ini"));
        manager()->Reset();
        ASSERT_EQ(manager()->IncludeSkinBuildFile(FixturePath("build.xml")), 1) << manager()->GetLastError();
        ASSERT_EQ(manager()->IncludeSkinFile(FixturePath("skin.xml")), 1) << manager()->GetLastError();
    }
    void TearDown() override {
        tavi::runtime::ClearStringTable();
        manager()->Reset();
    }
    static tavi::CSkinManager* manager() { return tavi::CSkinManager::GetInstance(); }

private:
    testenv::ScratchDir strings_{"tavi-strings"};
};

// Text in the system code page from UTF-8, as the plug-in's code holds it.
inline std::string Narrow(const char* utf8) {
    return tavi::utf8_to_CString(utf8);
}

} // namespace skintest
