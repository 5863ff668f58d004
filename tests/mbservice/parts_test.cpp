// Rules of the service checked in-process: nicknames, creation times, form decoding, the JSON
// written as text, and the liboauth base string and signature against the test's own signer.
#include <cstdio>
#include <ctime>
#include <thread>

#include "devserver/mbservice/activity.h"
#include "devserver/mbservice/json_text.h"
#include "devserver/mbservice/microblog.h"
#include "devserver/mbservice/oauth_verifier.h"
#include "devserver/mbservice/text_codec.h"
#include "tests/mbservice/mbservice_harness.h"

namespace {

struct NicknameCase {
    const char* nickname;
    bool valid;
};

void PrintTo(const NicknameCase& entry, std::ostream* out) {
    *out << '"' << entry.nickname << '"';
}

class MbserviceNicknameTest : public ::testing::TestWithParam<NicknameCase> {};

TEST_P(MbserviceNicknameTest, FollowsTheServicesRules) {
    EXPECT_EQ(mbservice::IsValidNickname(GetParam().nickname), GetParam().valid) << GetParam().nickname;
}

INSTANTIATE_TEST_SUITE_P(Rules, MbserviceNicknameTest,
                         ::testing::Values(NicknameCase{"新人小王", true}, NicknameCase{"王", true},
                                           NicknameCase{"ab", true}, NicknameCase{"Emma_Li-2", true},
                                           NicknameCase{"一二三四五六七八九十一二", true},
                                           NicknameCase{"一二三四五六七八九十一二三", false},
                                           NicknameCase{"abcdefghijklmnopqrstuvwx", true},
                                           NicknameCase{"abcdefghijklmnopqrstuvwxy", false},
                                           NicknameCase{"a", false}, NicknameCase{"", false},
                                           NicknameCase{"new user", false}, NicknameCase{"me@home", false},
                                           NicknameCase{"笑😀", false}, NicknameCase{"<b>", false},
                                           NicknameCase{"\xD6\xD0\xCE\xC4", false}));

TEST(MbserviceCreatedAtTest, ReadsBackWithTheClientsPatternAsTheSameLocalTime) {
    for (const std::int64_t when : {std::int64_t{0}, std::int64_t{1700000000}, std::int64_t{1735689599}}) {
        const std::string text = mbservice::FormatCreatedAt(when);
        char day[4] = {}, month[4] = {}, zone[6] = {};
        int date = 0, hour = 0, minute = 0, second = 0, year = 0;
        ASSERT_EQ(std::sscanf(text.c_str(), "%3s %3s %d %d:%d:%d %5s %d", day, month, &date, &hour, &minute,
                              &second, zone, &year),
                  8)
            << text;
        const auto t = static_cast<std::time_t>(when);
        std::tm local{};
        localtime_r(&t, &local);
        EXPECT_EQ(date, local.tm_mday);
        EXPECT_EQ(hour, local.tm_hour);
        EXPECT_EQ(minute, local.tm_min);
        EXPECT_EQ(second, local.tm_sec);
        EXPECT_EQ(year, local.tm_year + 1900);
        std::array<char, 8> expectedMonth{};
        std::strftime(expectedMonth.data(), expectedMonth.size(), "%b", &local);
        EXPECT_STREQ(month, expectedMonth.data());
        EXPECT_TRUE(zone[0] == '+' || zone[0] == '-') << text;
    }
}

// The service's signal thread stops the generator while the main thread may still be starting it,
// and the main thread stops it again at the end: each order ends with one join and no race (the
// ThreadSanitizer stage of scripts/test checks the last).
TEST(MbserviceActivityThreadTest, StopsFromAnyThreadBeforeOrAfterItsStartAndTwiceAtOnce) {
    mbservice::Database database("");
    mbservice::ServiceClock clock;
    mbservice::Microblog microblog(database, clock, mbservice::ServiceUrls{"http://127.0.0.1:1", ""});
    for (int round = 0; round < 20; ++round) {
        mbservice::ActivityGenerator activity(microblog, 3600);
        std::thread signalled([&] { activity.Stop(); });
        activity.Start();
        std::thread again([&] { activity.Stop(); });
        activity.Stop();
        signalled.join();
        again.join();
    }
}

// The timelines are written as text, the other replies by the JSON library: both must give the
// same bytes for any status text, broken UTF-8 included.
TEST(MbserviceJsonTextTest, WritesTheBytesTheJsonLibraryWrites) {
    std::string everyAscii;
    for (int c = 0; c < 0x80; ++c)
        everyAscii.push_back(static_cast<char>(c));
    const std::string texts[] = {"",
                                 everyAscii,
                                 "中文 😀 \xe2\x80\xa8 \xc2\x85",
                                 "bad \xff\xfe \xc3\x28 \xed\xa0\x80 end",
                                 "cut \xf0\x9f\x98",
                                 "\xc0\xaf overlong"};
    for (const std::string& text : texts) {
        std::string written;
        mbservice::AppendJsonString(written, text);
        EXPECT_EQ(written,
                  nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    }

    mbservice::JsonObjectText object;
    object.String("text", "first");
    object.Integer("count", -3);
    object.Json("user", R"({"id":"7"})");
    object.Boolean("favorited", true);
    object.String("text", "set again");
    std::string written;
    object.AppendTo(written);
    const nlohmann::json expected{
        {"text", "set again"}, {"count", -3}, {"user", {{"id", "7"}}}, {"favorited", true}};
    EXPECT_EQ(written, expected.dump());
}

TEST(MbserviceFormTextTest, DecodesPairsAndRefusesBrokenEscapes) {
    std::vector<mbservice::FormPair> pairs;
    std::string error;
    ASSERT_TRUE(mbservice::ParseFormText("a=1&&b&c=x+y%20z%E4%B8%AD&d=", pairs, error));
    ASSERT_EQ(pairs.size(), 4u);
    EXPECT_EQ(pairs[1].name, "b");
    EXPECT_EQ(pairs[1].value, "");
    EXPECT_EQ(pairs[2].value, "x y z中");
    EXPECT_EQ(pairs[3].value, "");
    for (const char* broken : {"a=%", "a=%4", "a=%zz", "%G1=2", "=x"}) {
        pairs.clear();
        EXPECT_FALSE(mbservice::ParseFormText(broken, pairs, error)) << broken;
        EXPECT_FALSE(error.empty());
    }
}

struct SigningCase {
    const char* name;
    const char* method;
    const char* path;
    mbtest::Params params;
    bool withToken;
};

void PrintTo(const SigningCase& entry, std::ostream* out) {
    *out << entry.name;
}

class MbserviceLiboauthAgreementTest : public ::testing::TestWithParam<SigningCase> {};

TEST_P(MbserviceLiboauthAgreementTest, BaseStringAndSignatureEqualTheIndependentSigner) {
    const SigningCase& entry = GetParam();
    mbtest::ServiceClient signer(8990);
    mbtest::SignedCall call;
    call.method = entry.method;
    call.path = entry.path;
    call.params = entry.params;
    call.timestamp = 1700000000;
    call.nonce = mbtest::Md5Hex("1");
    if (entry.withToken) {
        call.credentials.token = "0123456789abcdef0123456789abcdef";
        call.credentials.tokenSecret = "fedcba9876543210fedcba9876543210fedcba98";
    }
    signer.Sign(call);

    mbservice::SignedRequest request;
    request.method = entry.method;
    request.baseUri = signer.ApiRoot() + entry.path;
    std::string error;
    ASSERT_TRUE(mbservice::ParseFormText(call.signedText, request.params, error)) << error;
    EXPECT_EQ(mbservice::SignatureBaseString(request), call.baseString);
    std::string signature;
    for (const mbservice::FormPair& param : request.params) {
        if (param.name == "oauth_signature")
            signature = param.value;
    }
    EXPECT_EQ(mbservice::LiboauthSignature(mbservice::SignatureBaseString(request), mbtest::kConsumerSecret,
                                           call.credentials.tokenSecret),
              signature);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, MbserviceLiboauthAgreementTest,
    ::testing::Values(
        SigningCase{"HomeTimeline",
                    "GET",
                    "statuses/home_timeline.json",
                    {{"count", "50"}, {"method", "hometl"}, {"keyfrom", "tavi"}},
                    true},
        SigningCase{"ReservedAndTilde",
                    "POST",
                    "statuses/update.json",
                    {{"status", "a&b=c d ~ 100% +x/y:z?"}, {"method", "addbutter"}, {"keyfrom", "tavi"}},
                    true},
        SigningCase{
            "Chinese", "POST", "statuses/reply.json", {{"id", "3510000012"}, {"status", "中文评论 🌙"}}, true},
        SigningCase{"Exchange",
                    "GET",
                    "oauth/access_token",
                    {{"x_auth_username", "demo@velmora.com"},
                     {"x_auth_password", "62cc2d8b4bf2d8728120d052163a77df"},
                     {"x_auth_passtype", "0"},
                     {"x_auth_mode", "client_auth"}},
                    false}),
    [](const ::testing::TestParamInfo<SigningCase>& info) { return std::string(info.param.name); });

} // namespace
