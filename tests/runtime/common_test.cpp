// Common helpers: text conversion in both code pages, digests, the integer form, the string table.
#include <gtest/gtest.h>

#include "host/common.h"
#include "host/fast_delegate.h"
#include "host/win_thread.h"
#include "runtime/common/runtime_settings.h"
#include "tests/support/test_env.h"

namespace {

class CodePage : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override { tavi::SetSystemCodePage(GetParam()); }
    void TearDown() override { tavi::SetSystemCodePage("GB18030"); }
};

TEST_P(CodePage, ChineseTextSurvivesTheRoundTripAsTwoBytesACharacter) {
    std::string utf8 = "微博插件 ok";
    std::string narrow = tavi::utf8_to_CString(utf8);
    EXPECT_EQ(narrow.size(), 4u * 2 + 3);
    EXPECT_EQ(narrow.substr(0, 2), "\xce\xa2"); // 微 in GBK
    EXPECT_EQ(tavi::CString_to_utf8(narrow), utf8);
}

INSTANTIATE_TEST_SUITE_P(Both, CodePage, ::testing::Values("GB18030", "CP936"));

TEST(CodePageDefault, EmojiSurvivesInTheDefaultCodePageAndIsReplacedInCp936) {
    tavi::SetSystemCodePage("GB18030");
    std::string utf8 = "晚安 \xF0\x9F\x98\x80!";
    EXPECT_EQ(tavi::CString_to_utf8(tavi::utf8_to_CString(utf8)), utf8);

    tavi::SetSystemCodePage("CP936");
    std::string narrow = tavi::utf8_to_CString(utf8);
    // The emoji has no form there: it becomes question marks and the rest is kept.
    std::string back = tavi::CString_to_utf8(narrow);
    EXPECT_EQ(back.substr(0, 7), "晚安 ");
    EXPECT_EQ(back.back(), '!');
    EXPECT_NE(back.find('?'), std::string::npos);
    tavi::SetSystemCodePage("GB18030");
}

TEST(CodePageDefault, BrokenUtf8KeepsTheTextAroundIt) {
    tavi::SetSystemCodePage("GB18030");
    std::string broken = "ab\xff\xfe" "cd\xe5\xbe"; // stray bytes and a truncated character
    std::string narrow = tavi::utf8_to_CString(broken);
    EXPECT_EQ(narrow, "ab??cd??");
}

TEST(CodePageDefault, BulkConverterMatchesTheOneShotConversion) {
    tavi::CodePageConverter converter("UTF-8", "GB18030");
    ASSERT_TRUE(converter.IsValid());
    std::string out;
    converter.Convert("微", 3, out);
    converter.Convert("博", 3, out);
    EXPECT_EQ(out, tavi::utf8_to_CString("微博"));
}

TEST(Digests, Md5IsLowerCaseHexAndBase64IsStandard) {
    EXPECT_EQ(tavi::GetMD5(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(tavi::GetMD5("demo123"), "62cc2d8b4bf2d8728120d052163a77df");
    EXPECT_EQ(tavi::base64_encode(std::string("")), "");
    EXPECT_EQ(tavi::base64_encode(std::string("f")), "Zg==");
    EXPECT_EQ(tavi::base64_encode(std::string("foob")), "Zm9vYg==");
    EXPECT_EQ(tavi::base64_encode(std::string("\x00\xff\x10", 3)), "AP8Q");
}

TEST(IntegerForm, FourBytesLittleEndianAndBack) {
    EXPECT_EQ(tavi::Int2Bytes(1), std::string("\x01\0\0\0", 4));
    EXPECT_EQ(tavi::Int2Bytes(-1), std::string(4, '\xff'));
    for (int value : {0, 1, 15, 999, -1, -15, 0x7fffffff, static_cast<int>(0x80000000u)})
        EXPECT_EQ(tavi::Bytes2Int(tavi::Int2Bytes(value)), value);
    EXPECT_EQ(tavi::Bytes2Int(std::string("\x02", 1)), 2);
    EXPECT_EQ(tavi::Bytes2Int(""), 0);
}

TEST(StringTable, TextsComeInTheSystemCodePageForTheChosenLanguage) {
    testenv::ScratchDir dir;
    std::string path = dir.path() + "/stringid.ini";
    // Lines that are no entry (before the first language, or saying nothing) cost only themselves.
    testenv::WriteFile(path, "\xEF\xBB\xBF; strings\nSTRID_LOST = no language\n[zh-CN]\nSTRID_X = 设置\n"
                             "not an entry\nSTRID_Q = \"  spaced \"\n"
                             "[en]\nSTRID_X=Settings\nSTRID_N = line\\nbreak\n");
    tavi::runtime::ClearStringTable();
    ASSERT_TRUE(tavi::runtime::LoadStringTable(path));
    tavi::runtime::SetLanguage("zh-CN");
    EXPECT_EQ(tavi::CMutiLanSupport::GetStringViaID("STRID_X"), tavi::utf8_to_CString("设置"));
    EXPECT_EQ(tavi::CMutiLanSupport::GetStringViaID("STRID_Q"), "  spaced ");
    EXPECT_EQ(tavi::CMutiLanSupport::GetStringViaID("STRID_MISSING"), "");
    EXPECT_EQ(tavi::CMutiLanSupport::GetStringViaID("STRID_LOST"), "");
    tavi::runtime::SetLanguage("en");
    EXPECT_EQ(tavi::CMutiLanSupport::GetStringViaID("STRID_X"), "Settings");
    EXPECT_EQ(tavi::CMutiLanSupport::GetStringViaID("STRID_N"), "line\nbreak");
    EXPECT_FALSE(tavi::runtime::LoadStringTable(dir.path() + "/missing.ini"));
    tavi::runtime::SetLanguage("zh-CN");
    tavi::runtime::ClearStringTable();
}

TEST(AppPath, AlwaysEndsInASlash) {
    tavi::runtime::SetAppPath("/opt/tavi");
    EXPECT_EQ(tavi::GetAppPath(), "/opt/tavi/");
    tavi::runtime::SetAppPath("/opt/tavi/");
    EXPECT_EQ(tavi::GetAppPath(), "/opt/tavi/");
}

struct Target {
    int Add(int a, int b) { return a + b + base; }
    int Sub(int a, int b) { return a - b; }
    int base = 0;
};

TEST(Delegates, CallTheBoundMemberAndCompareByObjectAndMember) {
    Target one, two;
    one.base = 100;
    tavi::FastDelegate2<int, int, int> add(&one, &Target::Add);
    EXPECT_EQ(add(2, 3), 105);
    EXPECT_EQ(add, (tavi::FastDelegate2<int, int, int>(&one, &Target::Add)));
    EXPECT_NE(add, (tavi::FastDelegate2<int, int, int>(&two, &Target::Add)));
    EXPECT_NE(add, (tavi::FastDelegate2<int, int, int>(&one, &Target::Sub)));
    tavi::FastDelegate2<int, int, int> empty;
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_EQ(empty(1, 2), 0);
}

// A thread with its own queue: messages posted to it arrive in order and WM_QUIT ends its loop.
class CollectingThread : public tavi::CWinThread {
public:
    explicit CollectingThread(std::vector<unsigned>* seen) : seen_(seen) { autoDelete = true; }
    bool PreTranslateMessage(tavi::MSG* msg) override {
        seen_->push_back(msg->message);
        return true;
    }

private:
    std::vector<unsigned>* seen_;
};

TEST(MessageThread, PostedMessagesArriveInOrderAndQuitEndsTheThread) {
    std::vector<unsigned> seen;
    auto* thread = new CollectingThread(&seen);
    auto handle = thread->GetHandle();
    ASSERT_TRUE(thread->CreateThread());
    tavi::ThreadId id = thread->GetThreadId();
    EXPECT_TRUE(tavi::PostThreadMessageA(id, tavi::WM_USER + 1, 0, 0));
    EXPECT_TRUE(tavi::PostThreadMessageA(id, tavi::WM_USER + 2, 0, 0));
    EXPECT_TRUE(tavi::PostThreadMessageA(id, tavi::WM_QUIT, 0, 0));
    ASSERT_TRUE(handle.WaitFor(5000));
    EXPECT_EQ(seen, (std::vector<unsigned>{tavi::WM_USER + 1, tavi::WM_USER + 2}));
    // Its queue is gone with it.
    EXPECT_FALSE(tavi::PostThreadMessageA(id, tavi::WM_USER, 0, 0));
}

TEST(MessageThread, PeekDoesNotWaitAndGetTakesInOrder) {
    std::thread([] {
        tavi::MSG msg;
        EXPECT_FALSE(tavi::PeekMessageA(&msg, false));
        tavi::PostThreadMessageA(tavi::GetCurrentThreadId(), tavi::WM_USER + 5, 1, 2);
        EXPECT_TRUE(tavi::PeekMessageA(&msg, false));
        EXPECT_EQ(msg.message, tavi::WM_USER + 5);
        EXPECT_TRUE(tavi::GetMessageA(&msg));
        EXPECT_EQ(msg.wParam, 1u);
        EXPECT_EQ(msg.lParam, 2);
        EXPECT_FALSE(tavi::WaitMessageFor(10));
        tavi::PostQuitMessage(0);
        EXPECT_FALSE(tavi::GetMessageA(&msg));
    }).join();
}

} // namespace
