// The service's verification of signed requests and its xAuth exchange, judged with requests that
// the test signs itself.
#include <ctime>
#include <functional>

#include "tests/mbservice/mbservice_harness.h"

namespace {

using mbtest::Credentials;
using mbtest::HttpReply;
using mbtest::SignedCall;

class MbserviceOAuthTest : public mbtest::DemoServiceTest {
protected:
    SignedCall HomeCall() const {
        SignedCall call;
        call.path = "statuses/home_timeline.json";
        call.params = {{"count", "50"}, {"method", "hometl"}, {"keyfrom", "tavi"}};
        call.credentials = demo_;
        return call;
    }
};

TEST_F(MbserviceOAuthTest, SignedRequestOfTheSignedInUserIsAnswered) {
    const HttpReply reply = Client().Get("account/verify_credentials.json", {}, demo_);
    ASSERT_EQ(reply.status, 200) << reply.body;
    const nlohmann::json user = reply.Json();
    EXPECT_EQ(user["screen_name"], "demo");
    EXPECT_EQ(user["name"], "小维");
    EXPECT_TRUE(user["id"].is_string());
}

struct Refusal {
    const char* name;
    // Changes the call before it is signed.
    std::function<void(SignedCall&)> beforeSigning;
    // Changes the signed call after signing.
    std::function<void(SignedCall&)> afterSigning;
    int status;
    const char* problem;
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
    *out << refusal.name;
}

class MbserviceOAuthRefusalTest : public MbserviceOAuthTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(MbserviceOAuthRefusalTest, IsRefusedWithItsProblem) {
    const Refusal& refusal = GetParam();
    SignedCall call = HomeCall();
    if (refusal.beforeSigning)
        refusal.beforeSigning(call);
    Client().Sign(call);
    if (refusal.afterSigning)
        refusal.afterSigning(call);
    const HttpReply reply = Client().Send(call);
    EXPECT_EQ(reply.status, refusal.status) << reply.body;
    const std::string prefix = std::string("oauth_problem=") + refusal.problem;
    EXPECT_EQ(reply.body.substr(0, prefix.size()), prefix) << reply.body;
    // The same request signed right still goes through: nothing was spent on the refused one.
    EXPECT_EQ(Client()
                  .Send([this] {
                      SignedCall good = HomeCall();
                      Client().Sign(good);
                      return good;
                  }())
                  .status,
              200);
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from << " not in " << text;
    text.replace(at, from.size(), to);
}

INSTANTIATE_TEST_SUITE_P(
    Problems, MbserviceOAuthRefusalTest,
    ::testing::Values(
        Refusal{"ChangedParameter", nullptr,
                [](SignedCall& call) { Replace(call.signedText, "count=50", "count=49"); }, 401,
                "signature_invalid"},
        Refusal{"AddedParameter", nullptr, [](SignedCall& call) { call.signedText += "&since_id=1"; }, 401,
                "signature_invalid"},
        Refusal{"WrongTokenSecret", [](SignedCall& call) { call.credentials.tokenSecret += "0"; }, nullptr,
                401, "signature_invalid"},
        Refusal{"WrongConsumerSecret", [](SignedCall& call) { call.credentials.consumerSecret = "guess"; },
                nullptr, 401, "signature_invalid"},
        Refusal{"SignedForAnotherPort", [](SignedCall& call) { call.apiRoot = "http://127.0.0.1:1/"; },
                nullptr, 401, "signature_invalid"},
        Refusal{"SentToAnotherPath", nullptr, [](SignedCall& call) { call.path = "statuses/mentions.json"; },
                401, "signature_invalid"},
        Refusal{"StaleTimestamp", [](SignedCall& call) { call.timestamp = std::time(nullptr) - 301; },
                nullptr, 401, "timestamp_refused"},
        Refusal{"FutureTimestamp", [](SignedCall& call) { call.timestamp = std::time(nullptr) + 400; },
                nullptr, 401, "timestamp_refused"},
        Refusal{"UnknownToken", [](SignedCall& call) { call.credentials.token = "feedfacefeedface"; },
                nullptr, 401, "token_rejected"},
        Refusal{"UnknownConsumer", [](SignedCall& call) { call.credentials.consumerKey = "nobody"; }, nullptr,
                401, "consumer_key_unknown"},
        Refusal{"NoToken",
                [](SignedCall& call) {
                    call.credentials.token.clear();
                    call.credentials.tokenSecret.clear();
                },
                nullptr, 400, "parameter_absent"},
        Refusal{"TwoNonces", nullptr, [](SignedCall& call) { call.signedText += "&oauth_nonce=again"; }, 400,
                "parameter_rejected"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(MbserviceOAuthTest, RefusedTimestampIsNamedWhereClientsLookForIt) {
    SignedCall call = HomeCall();
    call.timestamp = std::time(nullptr) - 3600;
    Client().Sign(call);
    const HttpReply reply = Client().Send(call);
    ASSERT_EQ(reply.status, 401);
    const std::size_t at = reply.body.find("oauth_problem=");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(reply.body.substr(at + 14, 17), "timestamp_refused");
}

TEST_F(MbserviceOAuthTest, NonceIsSpentForItsTimestampOnly) {
    SignedCall call = HomeCall();
    call.nonce = mbtest::Md5Hex("1");
    call.timestamp = std::time(nullptr);
    Client().Sign(call);
    ASSERT_EQ(Client().Send(call).status, 200);

    const HttpReply replay = Client().Send(call);
    EXPECT_EQ(replay.status, 401);
    EXPECT_EQ(replay.body.rfind("oauth_problem=nonce_used", 0), 0u) << replay.body;

    // A client that starts again counts its nonces from 1 again, at another second.
    SignedCall restarted = HomeCall();
    restarted.nonce = call.nonce;
    restarted.timestamp = call.timestamp - 1;
    Client().Sign(restarted);
    EXPECT_EQ(Client().Send(restarted).status, 200);
}

TEST_F(MbserviceOAuthTest, HostHeaderWithPortIsSignedTheSameWay) {
    SignedCall call = HomeCall();
    Client().Sign(call);
    const std::string request = "GET /" + call.path + "?" + call.signedText +
                                " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(Client().Port()) +
                                "\r\nAccept: */*\r\n\r\n";
    EXPECT_EQ(mbtest::Exchange(Client().Port(), request).status, 200);
}

TEST_F(MbserviceOAuthTest, SignedFormBodyIsVerified) {
    SignedCall call;
    call.method = "POST";
    call.path = "statuses/update.json";
    call.params = {{"status", "a&b=c d ~ 中文"}, {"method", "addbutter"}, {"keyfrom", "tavi"}};
    call.credentials = demo_;
    Client().Sign(call);
    // The text is encoded once in the body and twice in the base string.
    EXPECT_NE(call.signedText.find("status=a%26b%3Dc%20d%20~%20%E4%B8%AD%E6%96%87"), std::string::npos);
    EXPECT_NE(call.baseString.find("a%2526b%253Dc%2520d%2520~%2520%25E4%25B8%25AD"), std::string::npos);
    const HttpReply reply = Client().Send(call);
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(reply.Json()["text"], "a&b=c d ~ 中文");
}

struct PasswordCase {
    const char* name;
    const char* account;
    std::function<std::string()> passwordForm;
    int status;
};

void PrintTo(const PasswordCase& entry, std::ostream* out) {
    *out << entry.name;
}

class MbserviceXAuthTest : public MbserviceOAuthTest, public ::testing::WithParamInterface<PasswordCase> {};

TEST_P(MbserviceXAuthTest, AnswersThePasswordForm) {
    const PasswordCase& entry = GetParam();
    const HttpReply reply = Client().RequestToken(entry.account, entry.passwordForm());
    EXPECT_EQ(reply.status, entry.status) << reply.body;
    EXPECT_FALSE(reply.body.empty());
    if (entry.status == 200) {
        // Token first, then its secret, both by name; more pairs may follow.
        EXPECT_EQ(reply.body.rfind("oauth_token=", 0), 0u) << reply.body;
        const auto form = mbtest::ParseForm(reply.body);
        EXPECT_FALSE(form.at("oauth_token").empty());
        EXPECT_FALSE(form.at("oauth_token_secret").empty());
        EXPECT_TRUE(form.count("user_id"));
    } else {
        EXPECT_EQ(reply.body.find("oauth_token="), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Passwords, MbserviceXAuthTest,
    ::testing::Values(
        PasswordCase{"Md5OfThePassword", "demo@velmora.com", [] { return mbtest::Md5Hex("demo123"); }, 200},
        PasswordCase{"UpperCaseMd5", "demo@velmora.com",
                     [] {
                         std::string md5 = mbtest::Md5Hex("demo123");
                         for (char& c : md5)
                             c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                         return md5;
                     },
                     200},
        PasswordCase{"AccountNameInCapitals", "Demo@Velmora.com", [] { return mbtest::Md5Hex("demo123"); },
                     200},
        PasswordCase{"AccountWithoutMicroblog", "newbie@velmora.com",
                     [] { return mbtest::Md5Hex("newbie123"); }, 200},
        PasswordCase{"WrongPassword", "demo@velmora.com", [] { return mbtest::Md5Hex("demo124"); }, 401},
        PasswordCase{"PlainPassword", "demo@velmora.com", [] { return std::string("demo123"); }, 401},
        PasswordCase{"UnknownAccount", "nobody@velmora.com", [] { return mbtest::Md5Hex("demo123"); }, 401}),
    [](const ::testing::TestParamInfo<PasswordCase>& info) { return std::string(info.param.name); });

TEST_F(MbserviceOAuthTest, EachSignInGetsItsOwnTokenAndBothWork) {
    const Credentials second = SignIn("demo@velmora.com", "demo123");
    EXPECT_NE(second.token, demo_.token);
    EXPECT_NE(second.tokenSecret, demo_.tokenSecret);
    EXPECT_EQ(Client().Get("account/verify_credentials.json", {}, demo_).status, 200);
    EXPECT_EQ(Client().Get("account/verify_credentials.json", {}, second).status, 200);
}

TEST_F(MbserviceOAuthTest, ExchangeChecksItsOwnSignatureAndMode) {
    Credentials wrongKey;
    wrongKey.consumerSecret = "guess";
    const HttpReply forged = Client().Get("oauth/access_token",
                                          {{"x_auth_username", "demo@velmora.com"},
                                           {"x_auth_password", mbtest::Md5Hex("demo123")},
                                           {"x_auth_mode", "client_auth"}},
                                          wrongKey);
    EXPECT_EQ(forged.status, 401);
    EXPECT_EQ(forged.body.rfind("oauth_problem=signature_invalid", 0), 0u) << forged.body;

    const HttpReply wrongMode = Client().Get("oauth/access_token",
                                             {{"x_auth_username", "demo@velmora.com"},
                                              {"x_auth_password", mbtest::Md5Hex("demo123")},
                                              {"x_auth_mode", "reverse_auth"}},
                                             Credentials{});
    EXPECT_EQ(wrongMode.status, 400);
}

class MbserviceSkewedClockTest : public mbtest::DemoServiceTest {
protected:
    std::vector<std::string> ServiceArgs() const override {
        return {"--seed", "demo", "--clock-skew", "3600"};
    }
    bool SignsInDemo() const override { return false; }
};

TEST_F(MbserviceSkewedClockTest, RightClockIsRefusedAndTheServicesTimeAccepted) {
    SignedCall exchange;
    exchange.path = "oauth/access_token";
    exchange.params = {{"x_auth_username", "demo@velmora.com"},
                       {"x_auth_password", mbtest::Md5Hex("demo123")},
                       {"x_auth_passtype", "0"},
                       {"x_auth_mode", "client_auth"}};
    Client().Sign(exchange);
    const HttpReply refused = Client().Send(exchange);
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(refused.body.rfind("oauth_problem=timestamp_refused", 0), 0u) << refused.body;

    exchange.nonce.clear();
    exchange.timestamp = std::time(nullptr) + 3600;
    Client().Sign(exchange);
    const HttpReply accepted = Client().Send(exchange);
    EXPECT_EQ(accepted.status, 200) << accepted.body;
}

} // namespace
