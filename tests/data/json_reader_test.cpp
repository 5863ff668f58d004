// The JSON reader: the trees it builds, what it accepts and rejects, how it treats the previous
// tree, and that it survives any depth.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "data/json_reader.h"
#include "host/common.h"
#include "tests/support/test_env.h"

namespace microblog {
namespace {

class JsonReaderTest : public ::testing::Test {
protected:
    void SetUp() override { tavi::SetSystemCodePage("GB18030"); }
    void TearDown() override { tavi::SetSystemCodePage("GB18030"); }
    JsonReader reader;
};

std::vector<std::string> Names(const JsonValue& object) {
    std::vector<std::string> names;
    for (const auto& member : object.members())
        names.push_back(member.first);
    return names;
}

TEST_F(JsonReaderTest, ScalarsKeepTypeAndPayloadInDocumentOrder) {
    ASSERT_TRUE(reader.Parse(R"([1, 2.5, "x", true, false, null, -7, 1e2])"));
    const JsonValue* root = reader.root();
    ASSERT_NE(root, nullptr);
    ASSERT_TRUE(root->Is(JsonValueType::Array));
    ASSERT_EQ(root->size(), 8u);
    EXPECT_EQ(root->at(0)->type(), JsonValueType::Integer);
    EXPECT_EQ(root->at(0)->integer(), 1);
    EXPECT_EQ(root->at(1)->type(), JsonValueType::Real);
    EXPECT_DOUBLE_EQ(root->at(1)->real(), 2.5);
    EXPECT_EQ(root->at(2)->type(), JsonValueType::String);
    EXPECT_EQ(root->at(2)->string(), "x");
    EXPECT_EQ(root->at(3)->type(), JsonValueType::Boolean);
    EXPECT_TRUE(root->at(3)->boolean());
    EXPECT_EQ(root->at(4)->type(), JsonValueType::Boolean);
    EXPECT_FALSE(root->at(4)->boolean());
    EXPECT_EQ(root->at(5)->type(), JsonValueType::Null);
    EXPECT_EQ(root->at(6)->integer(), -7);
    EXPECT_EQ(root->at(7)->type(), JsonValueType::Real);
    EXPECT_DOUBLE_EQ(root->at(7)->real(), 100.0);
    EXPECT_EQ(root->parent(), nullptr);
    EXPECT_EQ(root->at(0)->parent(), nullptr);
}

TEST_F(JsonReaderTest, ContainersKnowTheirParent) {
    ASSERT_TRUE(reader.Parse(R"({"user": {"tags": [[]]}})"));
    const JsonValue* user = reader.root()->Find("user");
    ASSERT_NE(user, nullptr);
    const JsonValue* tags = user->Find("tags");
    ASSERT_NE(tags, nullptr);
    EXPECT_EQ(user->parent(), reader.root());
    EXPECT_EQ(tags->parent(), user);
    EXPECT_EQ(tags->at(0)->parent(), tags);
}

TEST_F(JsonReaderTest, RepeatedNameKeepsFirstPositionAndLastValue) {
    ASSERT_TRUE(reader.Parse(R"({"a": 1, "b": 2, "a": 3})"));
    const JsonValue* root = reader.root();
    ASSERT_EQ(root->members().size(), 2u);
    EXPECT_EQ(root->Find("a")->integer(), 3);
    EXPECT_EQ(root->Find("b")->integer(), 2);
    EXPECT_EQ(root->keyOrder(), (std::vector<std::string>{"a", "b"}));
    // The same name used inside a member's value, or by a sibling Object, between the two uses.
    ASSERT_TRUE(reader.Parse(R"({"a": {"a": 1}, "b": [{"a": 2}], "a": 4})"));
    root = reader.root();
    ASSERT_EQ(root->members().size(), 2u);
    EXPECT_EQ(root->Find("a")->integer(), 4);
    EXPECT_EQ(root->keyOrder(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(root->Find("b")->at(0)->Find("a")->integer(), 2);
}

TEST_F(JsonReaderTest, MembersIterateInByteOrderOfNamesKeyOrderInDocumentOrder) {
    // "中" in the system code page starts with a byte above 0x7F, so it sorts after every ASCII name.
    ASSERT_TRUE(reader.Parse("{\"a\": 1, \"\xE4\xB8\xAD\": 2, \"B\": 3, \"_\": 4}"));
    const JsonValue* root = reader.root();
    std::string middle = tavi::utf8_to_CString("\xE4\xB8\xAD");
    EXPECT_EQ(Names(*root), (std::vector<std::string>{"B", "_", "a", middle}));
    EXPECT_EQ(root->keyOrder(), (std::vector<std::string>{"a", middle, "B", "_"}));
    EXPECT_EQ(root->Find(middle)->integer(), 2);
    EXPECT_EQ(root->Find("b"), nullptr);
    EXPECT_EQ(root->Find("a", JsonValueType::String), nullptr);
    EXPECT_EQ(root->FindString("a"), nullptr);
}

// Objects past a few dozen members are indexed differently while they are built; the rules stay.
TEST_F(JsonReaderTest, LargeObjectsKeepNameOrderKeyOrderAndTheLastValue) {
    for (bool closed : {true, false}) {
        std::string text = "{";
        const int count = 3000;
        for (int i = count - 1; i >= 0; --i)
            text += "\"k" + std::to_string(100000 + i) + "\":" + std::to_string(i) + ",";
        text += "\"k100007\":-1,\"k100000\":-2";
        text += closed ? "}" : "";
        ASSERT_TRUE(reader.Parse(text.c_str()));
        const JsonValue* root = reader.root();
        ASSERT_EQ(root->members().size(), static_cast<std::size_t>(count));
        std::vector<std::string> names = Names(*root);
        EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
        std::vector<std::string> order = root->keyOrder();
        EXPECT_EQ(order.front(), "k" + std::to_string(100000 + count - 1));
        EXPECT_EQ(order.back(), "k100000");
        EXPECT_EQ(root->Find("k100007")->integer(), -1);
        // Left open, the last number has no delimiter and is not in the tree.
        EXPECT_EQ(root->Find("k100000")->integer(), closed ? -2 : 0);
        EXPECT_EQ(root->Find("k100500")->integer(), 500);
        EXPECT_EQ(root->Find("k99999"), nullptr);
    }
}

// The builder reserves room after the shapes it saw; a large container followed by many small
// ones, and a new text after them, still gives exact trees.
TEST_F(JsonReaderTest, ShapesOfEarlierContainersDoNotLeakIntoLaterOnes) {
    std::string text = "[{";
    for (int i = 0; i < 300; ++i)
        text += std::string(i ? "," : "") + "\"m" + std::to_string(i) + "\":" + std::to_string(i);
    text += "}";
    for (int i = 0; i < 2000; ++i)
        text += ",{\"a\":" + std::to_string(i) + "}";
    text += "]";
    ASSERT_TRUE(reader.Parse(text.c_str()));
    ASSERT_EQ(reader.root()->size(), 2001u);
    EXPECT_EQ(reader.root()->at(0)->members().size(), 300u);
    EXPECT_EQ(reader.root()->at(2000)->members().size(), 1u);
    EXPECT_EQ(reader.root()->at(2000)->Find("a")->integer(), 1999);
    ASSERT_TRUE(reader.Parse(R"([{"x":[1,2,3]}])"));
    EXPECT_EQ(reader.root()->size(), 1u);
    EXPECT_EQ(reader.root()->at(0)->Find("x")->size(), 3u);
    EXPECT_EQ(reader.root()->at(0)->Find("x")->parent(), reader.root()->at(0));
}

struct KeptTreeCase {
    const char* name;
    const char* text;
};

class PreviousTreeKept : public JsonReaderTest, public ::testing::WithParamInterface<KeptTreeCase> {};

// A text rejected before its first bracket or brace leaves the tree of the last good reply.
TEST_P(PreviousTreeKept, WhenTheTextFailsBeforeItsFirstContainer) {
    ASSERT_TRUE(reader.Parse(R"({"kept": true})"));
    const JsonValue* before = reader.root();
    EXPECT_FALSE(reader.Parse(GetParam().text));
    ASSERT_EQ(reader.root(), before);
    EXPECT_TRUE(reader.root()->Find("kept")->boolean());
}

INSTANTIATE_TEST_SUITE_P(Texts, PreviousTreeKept,
                         ::testing::Values(KeptTreeCase{"Null", nullptr}, KeptTreeCase{"Empty", ""},
                                           KeptTreeCase{"LoneString", "\"just text\""},
                                           KeptTreeCase{"LoneNumber", "42"}, KeptTreeCase{"Blanks", "   x"},
                                           KeptTreeCase{"LineComment", "// no\n[]"},
                                           KeptTreeCase{"HtmlErrorPage", "<html>502 Bad Gateway</html>"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(JsonReaderTest, TextFailingInsideItsContainerLeavesThePartialNewTree) {
    ASSERT_TRUE(reader.Parse("[\"old\"]"));
    EXPECT_FALSE(reader.Parse(R"({"a": [1, 2})"));
    const JsonValue* root = reader.root();
    ASSERT_TRUE(root->Is(JsonValueType::Object));
    const JsonValue* a = root->Find("a", JsonValueType::Array);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->size(), 2u);
    EXPECT_EQ(a->at(0)->integer(), 1);
    EXPECT_EQ(a->at(1)->integer(), 2);
}

struct OpenEndCase {
    const char* name;
    const char* text;
    const char* members; // names present in the root Object, joined by ','
};

class OpenEnd : public JsonReaderTest, public ::testing::WithParamInterface<OpenEndCase> {};

// A text that stops inside an open container is a success with what was complete.
TEST_P(OpenEnd, IsSuccessWithTheCompleteValuesOnly) {
    ASSERT_TRUE(reader.Parse(GetParam().text));
    std::string names;
    for (const auto& member : reader.root()->members())
        names += (names.empty() ? "" : ",") + member.first;
    EXPECT_EQ(names, GetParam().members);
}

INSTANTIATE_TEST_SUITE_P(Texts, OpenEnd,
                         ::testing::Values(OpenEndCase{"StringValue", R"({"a": "x")", "a"},
                                           OpenEndCase{"NumberNotDelimited", R"({"a": 1)", ""},
                                           OpenEndCase{"NumberThenBlank", R"({"a": 1 )", ""},
                                           OpenEndCase{"KeywordNotDelimited", R"({"a": "x", "b": true)", "a"},
                                           OpenEndCase{"OpenString", R"({"a": "x", "b": "unfinished)", "a"},
                                           OpenEndCase{"InnerObject", R"({"a": {"b": )", "a"},
                                           OpenEndCase{"AfterComma", R"({"a": null,)", "a"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(JsonReaderTest, OpenStringValueIsLeftOut) {
    ASSERT_TRUE(reader.Parse(R"({"a": "x")"));
    EXPECT_EQ(reader.root()->Find("a")->string(), "x");
    ASSERT_TRUE(reader.Parse("[1, 2"));
    EXPECT_EQ(reader.root()->size(), 1u);
}

struct GrammarCase {
    const char* name;
    const char* text;
    bool accepted;
};

class Grammar : public JsonReaderTest, public ::testing::WithParamInterface<GrammarCase> {};

TEST_P(Grammar, AcceptsOrRejects) {
    EXPECT_EQ(reader.Parse(GetParam().text), GetParam().accepted) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, Grammar,
    ::testing::Values(GrammarCase{"LeadingZero", "[01]", false}, GrammarCase{"BareMinus", "[-]", false},
                      GrammarCase{"ExponentWithoutDigits", "[1e]", false},
                      GrammarCase{"ExponentSignWithoutDigits", "[1e+]", false},
                      GrammarCase{"ZeroWithExponent", "[0e5]", false},
                      GrammarCase{"ZeroPointZeroWithExponent", "[0.0e5]", true},
                      GrammarCase{"PointWithoutDigits", "[1.]", true},
                      GrammarCase{"PointThenExponent", "[1.e5]", true},
                      GrammarCase{"LeadingPoint", "[.5]", false}, GrammarCase{"MinusZero", "[-0]", true},
                      GrammarCase{"PlusSign", "[+1]", false}, GrammarCase{"NumberThenColon", "[1:2]", false},
                      GrammarCase{"NumberThenLetter", "[1x]", false}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Structure, Grammar,
                         ::testing::Values(GrammarCase{"CommaBeforeBracket", "[1,]", false},
                                           GrammarCase{"CommaBeforeBrace", R"({"a":1,})", false},
                                           GrammarCase{"DoubleComma", "[1,,2]", false},
                                           GrammarCase{"MissingColon", R"({"a" 1})", false},
                                           GrammarCase{"NumberAsName", "{1:2}", false},
                                           GrammarCase{"EmptyContainers", R"({"a":{},"b":[]})", true},
                                           GrammarCase{"TrailingGarbage", "[1]x", false},
                                           GrammarCase{"SecondTopLevel", "[1][2]", false},
                                           GrammarCase{"TrailingBlanks", "[1] \r\n\t", true},
                                           GrammarCase{"UpperCaseKeyword", "[True]", false},
                                           GrammarCase{"ControlByteBetweenTokens", "[1,\x01 2]", false}),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Strings, Grammar,
                         ::testing::Values(GrammarCase{"RawTab", "[\"a\tb\"]", false},
                                           GrammarCase{"RawLineFeed", "[\"a\nb\"]", false},
                                           GrammarCase{"RawCarriageReturn", "[\"a\rb\"]", false},
                                           GrammarCase{"RawControlByte", "[\"a\x1f\"]", false},
                                           GrammarCase{"UnknownEscape", R"(["\x"])", false},
                                           GrammarCase{"BadHexDigit", R"(["\u12G4"])", false},
                                           GrammarCase{"LoneLowSurrogate", R"(["\uDE00"])", false},
                                           GrammarCase{"HighSurrogateThenText", R"(["\uD83Dx"])", false},
                                           GrammarCase{"HighSurrogateThenOtherEscape", R"(["\uD83D\n"])",
                                                       false},
                                           GrammarCase{"TwoHighSurrogates", R"(["\uD83D\uD83D"])", false},
                                           GrammarCase{"HighSurrogateAtEnd", R"(["\uD83D"])", false},
                                           GrammarCase{"BytesAbove7FInString", "[\"\xE4\xB8\xAD\"]", true},
                                           GrammarCase{"BytesAbove7FOutsideString", "[\xE4\xB8\xAD]", false}),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Comments, Grammar,
    ::testing::Values(
        GrammarCase{"Everywhere", "/*a*/[/*b*/1/*c*/,/*d*/{/*e*/\"k\"/*f*/:/*g*/2/*h*/}/*i*/]/*j*/", true},
        GrammarCase{"AfterFraction", "[1.5/**/]", true}, GrammarCase{"AfterBarePoint", "[1./**/]", false},
        GrammarCase{"AfterExponent", "[1e5/**/]", false}, GrammarCase{"AfterKeyword", "[true/**/]", true},
        GrammarCase{"StarsInside", "[/***x**/1]", true},
        GrammarCase{"SlashNotFollowedByStar", "[1,/2]", false},
        GrammarCase{"LineComment", "[1 // two\n]", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(JsonReaderTest, NumbersConvertAsThePartSays) {
    ASSERT_TRUE(reader.Parse("[1., 0.0e5, -0, 2147483647, 99999999999, -99999999999, 1.5E-3]"));
    const JsonValue* root = reader.root();
    EXPECT_EQ(root->at(0)->type(), JsonValueType::Real);
    EXPECT_DOUBLE_EQ(root->at(0)->real(), 1.0);
    EXPECT_DOUBLE_EQ(root->at(1)->real(), 0.0);
    EXPECT_EQ(root->at(2)->type(), JsonValueType::Integer);
    EXPECT_EQ(root->at(2)->integer(), 0);
    EXPECT_EQ(root->at(3)->integer(), 2147483647);
    // Out of the 32-bit range: held at the end of the range.
    EXPECT_EQ(root->at(4)->integer(), 2147483647);
    EXPECT_EQ(root->at(5)->integer(), -2147483647 - 1);
    EXPECT_DOUBLE_EQ(root->at(6)->real(), 0.0015);
}

std::string Bytes(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
    }
    return out;
}

TEST_F(JsonReaderTest, EscapesBecomeUtf8BeforeTheCodePageConversion) {
    // With UTF-8 as the system code page the conversion keeps the bytes the parser made.
    tavi::SetSystemCodePage("UTF-8");
    ASSERT_TRUE(reader.Parse(R"(["\u00e9", "\uD83D\uDE00", "\u4e2D", "\u0041\/\"\\\b\f\n\r\t"])"));
    EXPECT_EQ(Bytes(reader.root()->at(0)->string()), "C3A9");
    EXPECT_EQ(Bytes(reader.root()->at(1)->string()), "F09F9880");
    EXPECT_EQ(Bytes(reader.root()->at(2)->string()), "E4B8AD");
    EXPECT_EQ(reader.root()->at(3)->string(), "A/\"\\\b\f\n\r\t");

    tavi::SetSystemCodePage("GB18030");
    ASSERT_TRUE(reader.Parse(R"({"\u00e9": "\uD83D\uDE00", "raw": "\u4e2d)"
                             "\xE4\xB8\xAD\"}"));
    EXPECT_EQ(reader.root()->keyOrder().at(0), "\xA8\xA6");
    EXPECT_EQ(Bytes(reader.root()->Find("\xA8\xA6")->string()), "9439FC36");
    EXPECT_EQ(Bytes(reader.root()->Find("raw")->string()), "D6D0D6D0");

    tavi::SetSystemCodePage("CP936");
    ASSERT_TRUE(reader.Parse(R"(["\u00e9"])"));
    EXPECT_EQ(Bytes(reader.root()->at(0)->string()), "A8A6");
}

TEST_F(JsonReaderTest, EmbeddedNulFromEscapeIsKeptInTheString) {
    ASSERT_TRUE(reader.Parse(R"(["a\u0000b"])"));
    EXPECT_EQ(reader.root()->at(0)->string(), std::string("a\0b", 3));
}

TEST_F(JsonReaderTest, LongStringsOutgrowTheTokenBuffer) {
    std::string text(20000, 'x');
    text[7777] = '\xE4';
    text[7778] = '\xB8';
    text[7779] = '\xAD';
    std::string json = "{\"" + std::string(5000, 'k') + "\": \"" + text + "\"}";
    ASSERT_TRUE(reader.Parse(json.c_str()));
    const JsonValue* value = reader.root()->Find(std::string(5000, 'k'));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(tavi::CString_to_utf8(value->string()), text);
}

// Finds or builds a locale whose decimal point is a comma; empty when the machine has none.
std::string CommaLocale(const std::string& scratch) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            std::setlocale(LC_NUMERIC, "C");
            return name;
        }
    }
    if (testenv::RunCommand("localedef -i de_DE -f UTF-8 " + scratch + "/de_DE.UTF-8") != 0)
        return std::string();
    setenv("LOCPATH", scratch.c_str(), 1);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
        return std::string();
    std::setlocale(LC_NUMERIC, "C");
    return "de_DE.UTF-8";
}

TEST_F(JsonReaderTest, FractionsConvertUnderALocaleWithACommaAsDecimalPoint) {
    testenv::ScratchDir scratch("tavi-locale");
    std::string locale = CommaLocale(scratch.path());
    if (locale.empty())
        GTEST_SKIP() << "no locale with a decimal comma here (the locales package is missing)";
    ASSERT_NE(std::setlocale(LC_NUMERIC, locale.c_str()), nullptr);
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    bool parsed = reader.Parse(R"({"x": 3.25, "y": [1.5e1, -0.5]})");
    std::setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");
    ASSERT_TRUE(parsed);
    EXPECT_DOUBLE_EQ(reader.root()->Find("x")->real(), 3.25);
    EXPECT_DOUBLE_EQ(reader.root()->Find("y")->at(0)->real(), 15.0);
    EXPECT_DOUBLE_EQ(reader.root()->Find("y")->at(1)->real(), -0.5);
}

TEST_F(JsonReaderTest, ClearEmptiesTheReaderAndTheNextParseStartsFresh) {
    ASSERT_TRUE(reader.Parse("[1]"));
    reader.Clear();
    EXPECT_EQ(reader.root(), nullptr);
    EXPECT_FALSE(reader.Parse("\"no container\""));
    EXPECT_EQ(reader.root(), nullptr);
    ASSERT_TRUE(reader.Parse("[2]"));
    EXPECT_EQ(reader.root()->at(0)->integer(), 2);
}

constexpr int kDeep = 100000;

TEST_F(JsonReaderTest, HundredThousandNestedArraysParseWalkAndDestroy) {
    std::string text(kDeep, '[');
    text.append(kDeep, ']');
    ASSERT_TRUE(reader.Parse(text.c_str()));
    int depth = 1;
    const JsonValue* node = reader.root();
    while (node->size() == 1) {
        node = node->at(0);
        ++depth;
    }
    EXPECT_EQ(depth, kDeep);
    // Replacing and clearing destroy the deep tree.
    ASSERT_TRUE(reader.Parse(text.c_str()));
    reader.Clear();
    EXPECT_EQ(reader.root(), nullptr);
}

TEST_F(JsonReaderTest, HundredThousandNestedObjectsLookUpToTheBottom) {
    std::string text;
    for (int i = 0; i < kDeep; ++i)
        text += "{\"a\":";
    text += "\"bottom\"";
    text.append(kDeep, '}');
    ASSERT_TRUE(reader.Parse(text.c_str()));
    const JsonValue* node = reader.root();
    for (int i = 1; i < kDeep; ++i) {
        node = node->Find("a", JsonValueType::Object);
        ASSERT_NE(node, nullptr) << "at depth " << i;
    }
    ASSERT_NE(node->FindString("a"), nullptr);
    EXPECT_EQ(*node->FindString("a"), "bottom");
    // A text left open at that depth is a success too.
    std::string open(kDeep, '[');
    EXPECT_TRUE(reader.Parse(open.c_str()));
}

// The reader as the conformance suite sees it: every file's verdict from EXPECTED.tsv.
struct SuiteCase {
    std::string file;
    bool expected;
};

// The public conformance data lives beside the repository, not in it; a clone without it still
// passes, reporting the skip.
const std::string kSuiteDir = std::string(TAVI_SHARED_DIR) + "/testdata/jsontestsuite";

std::vector<SuiteCase> SuiteCases(std::ifstream& table) {
    std::vector<SuiteCase> cases;
    std::string line;
    std::getline(table, line); // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string file, parse, certainty;
        std::getline(fields, file, '\t');
        std::getline(fields, parse, '\t');
        std::getline(fields, certainty, '\t');
        if (file.empty() || certainty == "choice")
            continue;
        cases.push_back({file, parse == "true"});
    }
    return cases;
}

TEST(JsonConformance, EveryFileGivesTheExpectedVerdict) {
    std::ifstream table(kSuiteDir + "/EXPECTED.tsv");
    if (!table)
        GTEST_SKIP() << "no conformance data at " << kSuiteDir << "/EXPECTED.tsv (optional, kept beside the "
                     << "repository); the reader's verdicts on it were not checked";
    std::vector<SuiteCase> cases = SuiteCases(table);
    // The table is there, so a short one means it is damaged, not absent.
    ASSERT_GT(cases.size(), 300u) << "conformance table at " << kSuiteDir << " is incomplete";
    int wrong = 0;
    for (const SuiteCase& test : cases) {
        std::string bytes = testenv::ReadFile(kSuiteDir + "/" + test.file);
        JsonReader reader;
        bool parsed = reader.Parse(bytes.c_str());
        if (parsed != test.expected) {
            ++wrong;
            ADD_FAILURE() << test.file << ": expected " << test.expected << ", parse returned " << parsed;
        }
    }
    EXPECT_EQ(wrong, 0);
}

} // namespace
} // namespace microblog
