// The service as a process: malformed requests, replies in one piece, many clients at once, a data
// file that outlives the process, the web pages, and a clean stop.
#include <atomic>
#include <cctype>
#include <thread>
#include <vector>

#include "tests/mbservice/mbservice_harness.h"

namespace {

using mbtest::HttpReply;

class MbserviceProcessTest : public mbtest::DemoServiceTest {};

struct MalformedCase {
    const char* name;
    std::string request;
    int status;
};

void PrintTo(const MalformedCase& entry, std::ostream* out) {
    *out << entry.name;
}

class MbserviceMalformedRequestTest : public MbserviceProcessTest,
                                      public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MbserviceMalformedRequestTest, GetsAClearAnswerAndTheServiceGoesOn) {
    const HttpReply reply = mbtest::Exchange(Client().Port(), GetParam().request, 15000);
    EXPECT_EQ(reply.status, GetParam().status) << reply.head << reply.body;
    EXPECT_FALSE(reply.body.empty());
    EXPECT_EQ(Client().Get("account/verify_credentials.json", {}, demo_).status, 200);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, MbserviceMalformedRequestTest,
    ::testing::Values(
        MalformedCase{"NotHttp", "hello there\r\n\r\n", 400},
        MalformedCase{"BrokenEscapeInQuery",
                      "GET /statuses/home_timeline.json?count=%5&x=%zz HTTP/1.1\r\nHost:127.0.0.1\r\n\r\n",
                      400},
        MalformedCase{"BrokenEscapeInBody",
                      "POST /statuses/update.json HTTP/1.1\r\nHost:127.0.0.1\r\nContent-Type: "
                      "application/x-www-form-urlencoded\r\nContent-Length: 9\r\n\r\nstatus=%E",
                      400},
        MalformedCase{"NoHost", "GET /statuses/home_timeline.json HTTP/1.1\r\nAccept:*/*\r\n\r\n", 400},
        MalformedCase{"HostileHost", "GET /statuses/home_timeline.json HTTP/1.1\r\nHost:evil/../x\r\n\r\n",
                      400},
        MalformedCase{"NamelessParameter",
                      "GET /statuses/home_timeline.json?=1 HTTP/1.1\r\nHost:127.0.0.1\r\n\r\n", 400},
        MalformedCase{"UnsignedCall",
                      "GET /statuses/home_timeline.json?count=5 HTTP/1.1\r\nHost:127.0.0.1\r\n\r\n", 400},
        MalformedCase{"UnknownEndpoint",
                      "GET /statuses/public_secrets.json HTTP/1.1\r\nHost:127.0.0.1\r\n\r\n", 404},
        MalformedCase{"WrongMethod", "DELETE /statuses/update.json HTTP/1.1\r\nHost:127.0.0.1\r\n\r\n", 404},
        MalformedCase{"OversizeBody",
                      "POST /statuses/update.json HTTP/1.1\r\nHost:127.0.0.1\r\nContent-Type: "
                      "application/x-www-form-urlencoded\r\nContent-Length: 100007\r\n\r\nstatus=" +
                          std::string(100000, 'x'),
                      413}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

TEST_F(MbserviceProcessTest, ParameterGivenTwiceIsRefused) {
    mbtest::SignedCall call;
    call.path = "statuses/home_timeline.json";
    call.params = {{"count", "5"}};
    call.credentials = demo_;
    Client().Sign(call);
    call.signedText += "&count=6";
    const HttpReply reply = Client().Send(call);
    EXPECT_EQ(reply.status, 400);
    EXPECT_NE(reply.body.find("more than once"), std::string::npos) << reply.body;
}

TEST_F(MbserviceProcessTest, HeadersAndBodyArriveInOneRead) {
    // Clients that read a short reply once get all of it: the service writes it in one piece.
    for (int i = 0; i < 20; ++i) {
        const HttpReply verify = Client().Get("account/verify_credentials.json", {}, demo_);
        ASSERT_EQ(verify.status, 200);
        EXPECT_EQ(verify.firstReadBytes, verify.head.size() + 2 + verify.body.size());
        mbtest::Credentials wrong = demo_;
        wrong.tokenSecret = "x";
        const HttpReply refused = Client().Get("account/verify_credentials.json", {}, wrong);
        ASSERT_EQ(refused.status, 401);
        EXPECT_EQ(refused.firstReadBytes, refused.head.size() + 2 + refused.body.size());
        EXPECT_LT(refused.head.size(), 1000u);
    }
}

TEST_F(MbserviceProcessTest, TwentyClientsSigningAtOnceAreAllAccepted) {
    std::atomic<int> accepted{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> clients;
    clients.reserve(20);
    for (int i = 0; i < 20; ++i) {
        clients.emplace_back([&, i] {
            for (int k = 0; k < 5; ++k) {
                const HttpReply reply =
                    k % 2 == 0
                        ? Client().Get("statuses/home_timeline.json", {{"count", "5"}}, demo_)
                        : Client().Post("statuses/update.json",
                                        {{"status", "client " + std::to_string(i) + "." + std::to_string(k)}},
                                        demo_);
                (reply.status == 200 ? accepted : refused)++;
            }
        });
    }
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(accepted.load(), 100);
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(Client().Get("account/verify_credentials.json", {}, demo_).Json()["statuses_count"], 16 + 40);
}

TEST_F(MbserviceProcessTest, StopsCleanlyOnTerminationAndLoggedEachRequest) {
    Client().Get("account/verify_credentials.json", {}, demo_);
    mbtest::Exchange(Client().Port(), "GET /nowhere HTTP/1.1\r\nHost:127.0.0.1\r\n\r\n");
    EXPECT_EQ(service_->Stop(), 0);
    const std::string log = service_->ErrorLog();
    EXPECT_NE(log.find("GET /oauth/access_token 200\n"), std::string::npos) << log;
    EXPECT_NE(log.find("GET /account/verify_credentials.json 200\n"), std::string::npos) << log;
    EXPECT_NE(log.find("GET /nowhere 404\n"), std::string::npos) << log;
}

TEST_F(MbserviceProcessTest, UserPagesAndPicturesAreServed) {
    const HttpReply page =
        mbtest::Exchange(Client().Port(), "GET /web/demo HTTP/1.1\r\nHost:127.0.0.1\r\n\r\n");
    EXPECT_EQ(page.status, 200);
    for (const char* section : {"id=\"mine\"", "id=\"replies\"", "id=\"reply\"", "id=\"favorites\""})
        EXPECT_NE(page.body.find(section), std::string::npos) << section;
    EXPECT_EQ(mbtest::Exchange(Client().Port(), "GET /web/nobody HTTP/1.1\r\nHost:127.0.0.1\r\n\r\n").status,
              404);

    std::string picture;
    const std::string prefix = Client().ApiRoot() + "p/";
    for (const nlohmann::json& status : Home(demo_, 200)) {
        const std::string text = status["text"];
        const std::size_t at = text.find(prefix);
        if (at == std::string::npos)
            continue;
        std::size_t end = at + prefix.size();
        while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end])))
            ++end;
        picture = "/p/" + text.substr(at + prefix.size(), end - at - prefix.size());
        break;
    }
    ASSERT_FALSE(picture.empty());
    const HttpReply image =
        mbtest::Exchange(Client().Port(), "GET " + picture + " HTTP/1.1\r\nHost:127.0.0.1\r\n\r\n");
    EXPECT_EQ(image.status, 200) << picture;
    EXPECT_EQ(image.Header("Content-Type"), "image/svg+xml");
    EXPECT_EQ(mbtest::Exchange(Client().Port(), "GET /p/none00 HTTP/1.1\r\nHost:127.0.0.1\r\n\r\n").status,
              404);
}

TEST(MbserviceDataFile, OutlivesTheProcessAndIsSeededOnce) {
    testenv::ScratchDir folder("mbs-db");
    const std::string db = folder.path() + "/microblog.sqlite";
    std::string id;
    {
        mbtest::MbServiceProcess first({"--seed", "demo", "--db", db});
        ASSERT_TRUE(first.Started());
        const mbtest::ServiceClient client(first.Port());
        const mbtest::Credentials demo = client.SignIn("demo@velmora.com", "demo123");
        id = client.Post("statuses/update.json", {{"status", "still here"}}, demo).Json().value("id", "");
        ASSERT_FALSE(id.empty());
        EXPECT_EQ(first.Stop(), 0);
    }
    mbtest::MbServiceProcess second({"--seed", "demo", "--db", db});
    ASSERT_TRUE(second.Started());
    const mbtest::ServiceClient client(second.Port());
    const mbtest::Credentials demo = client.SignIn("demo@velmora.com", "demo123");
    const nlohmann::json timeline =
        client.Get("statuses/home_timeline.json", {{"count", "200"}}, demo).Json();
    ASSERT_TRUE(timeline.is_array());
    EXPECT_EQ(timeline.at(0)["id"], id);
    EXPECT_EQ(timeline.size(), 61u);
}

TEST(MbserviceCommandLine, RefusesOptionsItCannotUse) {
    std::string output;
    const std::string program = std::string(TAVI_BIN_DIR) + "/mbservice";
    EXPECT_EQ(testenv::RunCommand(program + " --port seventy", &output), 2);
    EXPECT_NE(output.find("--port"), std::string::npos) << output;
    EXPECT_EQ(testenv::RunCommand(program + " --seed everything", &output), 2);
    EXPECT_EQ(testenv::RunCommand(program + " --help", &output), 0);
    EXPECT_NE(output.find("--clock-skew"), std::string::npos);
}

} // namespace
