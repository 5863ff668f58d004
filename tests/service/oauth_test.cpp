// Request signing checked against liboauth, an independent signer, and the encoding rules.
#include <stddef.h>

#include <gtest/gtest.h>
#include <oauth.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <thread>

#include "host/common.h"
#include "service/oauth.h"

namespace {

using namespace microblog;

OAuthSigner TestSigner() {
    OAuthSigner signer;
    signer.apiRoot = "http://127.0.0.1:8790/";
    signer.consumerKey = "Rk4wZpT7mQs2Ly9B";
    signer.consumerSecret = "w7Hc2LqN5tVbX9mR3kPz8YdJ4sFa6GeU";
    signer.token = "t0k3n";
    signer.tokenSecret = "s3cr3t";
    return signer;
}

// liboauth's signature over the same request: the request parameters, the nonce, the timestamp and
// the version travel in the URL, and liboauth adds the consumer key, the method and the token.
std::string LiboauthSignature(const std::string& method, const std::string& url, const RequestParams& params,
                              const std::string& timestamp, const std::string& nonce, const OAuthSigner& signer,
                              bool withToken) {
    std::string query;
    for (const auto& [name, value] : params)
        query += "&" + name + "=" + PercentEncode(tavi::CString_to_utf8(value));
    query += "&oauth_nonce=" + nonce + "&oauth_timestamp=" + timestamp + "&oauth_version=1.0";
    std::string full = url + "?" + query.substr(1);
    char* post = nullptr;
    char* signedUrl = oauth_sign_url2(full.c_str(), method == "POST" ? &post : nullptr, OA_HMAC, method.c_str(),
                                      signer.consumerKey.c_str(), signer.consumerSecret.c_str(),
                                      withToken ? signer.token.c_str() : nullptr,
                                      withToken ? signer.tokenSecret.c_str() : nullptr);
    std::string text = post ? post : (signedUrl ? signedUrl : "");
    std::free(post);
    std::free(signedUrl);
    std::size_t at = text.find("oauth_signature=");
    return at == std::string::npos ? "" : text.substr(at + 16, text.find('&', at) - at - 16);
}

std::string OurQuery(const std::string& methodPrefix, const std::string& path, const RequestParams& params,
                     const std::string& timestamp, const std::string& nonce, const OAuthSigner& signer, bool withToken,
                     std::string* base = nullptr) {
    OAuthParamMap map;
    AddRequestParams(map, signer, params);
    return BuildSignedQuery(map, signer, methodPrefix, path, withToken, timestamp, nonce, base);
}

std::string Field(const std::string& query, const std::string& name) {
    std::string prefix = name + "=";
    std::size_t at = query.rfind("&" + prefix);
    at = query.compare(0, prefix.size(), prefix) == 0 ? 0 : at == std::string::npos ? at : at + 1;
    if (at == std::string::npos)
        return "<none>";
    std::size_t end = query.find('&', at);
    return query.substr(at + prefix.size(), end == std::string::npos ? std::string::npos : end - at - prefix.size());
}

struct SignCase {
    const char* name;
    const char* method;
    const char* path;
    RequestParams params;
    bool withToken;
};

class SignatureMatchesLiboauth : public ::testing::TestWithParam<SignCase> {};

TEST_P(SignatureMatchesLiboauth, ForTheSameInputs) {
    tavi::SetSystemCodePage("GB18030");
    const SignCase& c = GetParam();
    OAuthSigner signer = TestSigner();
    std::string nonce = MakeNonce(1), timestamp = "1765170000";
    std::string query =
        OurQuery(std::string(c.method) + "&", c.path, c.params, timestamp, nonce, signer, c.withToken);
    std::string theirs =
        LiboauthSignature(c.method, signer.apiRoot + c.path, c.params, timestamp, nonce, signer, c.withToken);
    ASSERT_FALSE(theirs.empty());
    EXPECT_EQ(Field(query, "oauth_signature"), theirs) << query;
    EXPECT_EQ(Field(query, "oauth_token"), c.withToken ? std::string("t0k3n") : std::string("<none>"));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, SignatureMatchesLiboauth,
    ::testing::Values(
        SignCase{"HomeTimeline", "GET", "statuses/home_timeline.json",
                 {{"count", "50"}, {"method", "hometl"}, {"keyfrom", "tavi"}}, true},
        SignCase{"UpdateWithReservedCharacters", "POST", "statuses/update.json",
                 {{"status", "a&b=c d ~x+y/z?%"}, {"method", "addbutter"}, {"keyfrom", "tavi"}}, true},
        SignCase{"UpdateInChinese", "POST", "statuses/update.json",
                 {{"status", tavi::utf8_to_CString("中文 微博 \xF0\x9F\x98\x80")}, {"keyfrom", "tavi"}}, true},
        SignCase{"RetweetWithId", "POST", "statuses/retweet/123.json",
                 {{"id", "123"}, {"status", "rt"}, {"is_comment", "1"}, {"is_comment_to_root", "0"}}, true},
        SignCase{"AccessTokenExchange", "GET", "oauth/access_token",
                 {{"x_auth_username", "demo@velmora.com"},
                  {"x_auth_password", "62cc2d8b4bf2d8728120d052163a77df"},
                  {"x_auth_passtype", "0"},
                  {"x_auth_mode", "client_auth"}},
                 false},
        SignCase{"NoRequestParameters", "GET", "account/verify_credentials.json", {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Signing, HomeTimelineBaseStringHasTheDocumentedForm) {
    OAuthSigner signer = TestSigner();
    std::string base;
    std::string nonce = MakeNonce(1);
    OurQuery("GET&", "statuses/home_timeline.json", {{"count", "50"}, {"method", "hometl"}, {"keyfrom", "tavi"}},
             "1765170000", nonce, signer, true, &base);
    EXPECT_EQ(base, "GET&http%3A%2F%2F127.0.0.1%3A8790%2Fstatuses%2Fhome_timeline.json&count%3D50%26keyfrom%3Dtavi%26"
                    "method%3Dhometl%26oauth_consumer_key%3DRk4wZpT7mQs2Ly9B%26oauth_nonce%3D" +
                        nonce +
                        "%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%3D1765170000%26oauth_token%3Dt0k3n%"
                        "26oauth_version%3D1.0");
}

TEST(Signing, ReservedCharactersAreEncodedOnceInTheBodyAndTwiceInTheBase) {
    std::string base;
    std::string body = OurQuery("POST&", "statuses/update.json", {{"status", "a&b=c d"}}, "1", MakeNonce(1),
                                TestSigner(), true, &base);
    EXPECT_NE(body.find("status=a%26b%3Dc%20d"), std::string::npos) << body;
    EXPECT_NE(base.find("status%3Da%2526b%253Dc%2520d"), std::string::npos) << base;
    // The signature sits between the nonce and the signature method.
    EXPECT_LT(body.find("oauth_nonce="), body.find("oauth_signature="));
    EXPECT_LT(body.find("oauth_signature="), body.find("oauth_signature_method="));
}

TEST(Signing, ExchangeWithoutTokenIsKeyedWithTheConsumerSecretAlone) {
    OAuthSigner signer = TestSigner();
    std::string base;
    std::string query = OurQuery("GET&", "oauth/access_token", {{"x_auth_mode", "client_auth"}}, "5", MakeNonce(2),
                                 signer, false, &base);
    EXPECT_EQ(query.find("oauth_token"), std::string::npos);
    char* expected = oauth_sign_hmac_sha1(base.c_str(), (signer.consumerSecret + "&").c_str());
    EXPECT_EQ(Field(query, "oauth_signature"), PercentEncode(expected));
    std::free(expected);
}

struct EncodeCase {
    std::string in;
    std::string out;
};

class PercentEncoding : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(PercentEncoding, KeepsOnlyUnreservedBytes) { EXPECT_EQ(PercentEncode(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(Bytes, PercentEncoding,
                         ::testing::Values(EncodeCase{"a b", "a%20b"}, EncodeCase{"~x-y_z.1", "~x-y_z.1"},
                                           EncodeCase{":/", "%3A%2F"}, EncodeCase{"+&=%", "%2B%26%3D%25"},
                                           EncodeCase{std::string("\x01\x7f\xff", 3), "%01%7F%FF"},
                                           EncodeCase{"\xe4\xb8\xad", "%E4%B8%AD"}, EncodeCase{"", ""}));

TEST(Signing, RequestValuesGoOutAsUtf8OfTheSystemCodePage) {
    tavi::SetSystemCodePage("CP936");
    OAuthSigner signer = TestSigner();
    OAuthParamMap map;
    AddRequestParams(map, signer, {{"status", std::string("\xd6\xd0", 2)}}); // 中 in GBK
    EXPECT_EQ(map.Entries().at("status"), "%E4%B8%AD");
    tavi::SetSystemCodePage("GB18030");
}

TEST(Signing, RequestParametersNeverReplaceAndOAuthParametersAlwaysDo) {
    OAuthParamMap map;
    map.Insert("count", "50");
    map.Insert("count", "20");
    map.Set("oauth_nonce", "a");
    map.Set("oauth_nonce", "b");
    EXPECT_EQ(map.Join(), "count=50&oauth_nonce=b");
    // Names sort byte-wise: upper case first, oauth_signature before oauth_signature_method.
    map.Insert("Zeta", "1");
    map.Set("oauth_signature_method", "m");
    map.Set("oauth_signature", "s");
    EXPECT_EQ(map.Join(), "Zeta=1&count=50&oauth_nonce=b&oauth_signature=s&oauth_signature_method=m");
}

TEST(Nonce, RunsFromOneToThousandAndOneThenZero) {
    NonceCounter counter;
    EXPECT_EQ(counter.Next(), 1u);
    for (unsigned i = 2; i <= 1001; ++i)
        ASSERT_EQ(counter.Next(), i);
    EXPECT_EQ(counter.Next(), 0u);
    EXPECT_EQ(counter.Next(), 1u);
    EXPECT_EQ(MakeNonce(1), tavi::GetMD5("1"));
}

TEST(Nonce, TwoServicesSendDifferentNoncesForTheSameCounterValue) {
    NonceCounter first, second;
    ASSERT_FALSE(first.Salt().empty());
    EXPECT_NE(first.Salt(), second.Salt());
    EXPECT_EQ(MakeNonce(1, first.Salt()), tavi::GetMD5(first.Salt() + "1"));
    EXPECT_NE(MakeNonce(first.Next(), first.Salt()), MakeNonce(second.Next(), second.Salt()));
}

TEST(Nonce, WorkersAdvancingAtOnceNeverShareAValue) {
    NonceCounter counter;
    constexpr int kThreads = 8, kEach = 100; // 800 values: no wrap-around
    std::vector<std::vector<unsigned>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                seen[t].push_back(counter.Next());
        });
    for (auto& thread : threads)
        thread.join();
    std::set<unsigned> all;
    for (auto& values : seen)
        all.insert(values.begin(), values.end());
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
}

struct ReplyCase {
    const char* name;
    const char* body;
    bool ok;
    const char* token;
    const char* secret;
};

class AccessTokenReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(AccessTokenReply, IsReadByNameAndNeedsBothValues) {
    const ReplyCase& c = GetParam();
    std::string token = "before", secret = "before";
    EXPECT_EQ(ParseAccessTokenReply(c.body, token, secret), c.ok);
    EXPECT_EQ(token, c.ok ? c.token : "before");
    EXPECT_EQ(secret, c.ok ? c.secret : "before");
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, AccessTokenReply,
    ::testing::Values(ReplyCase{"Plain", "oauth_token=abc&oauth_token_secret=def", true, "abc", "def"},
                      ReplyCase{"TrailingPairs", "oauth_token=abc&oauth_token_secret=def&user_id=7", true, "abc", "def"},
                      ReplyCase{"OtherOrder", "oauth_token_secret=def&user_id=7&oauth_token=abc", true, "abc", "def"},
                      ReplyCase{"Encoded", "oauth_token=a%2Fb+1&oauth_token_secret=c%3Dd%2B+", true, "a/b+1", "c=d++"},
                      ReplyCase{"Short", "oauth_token=", false, "", ""},
                      ReplyCase{"NoSecret", "oauth_token=abc", false, "", ""},
                      ReplyCase{"Empty", "", false, "", ""},
                      ReplyCase{"Garbage", "<html>error</html>", false, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
