// microblog-tool get and post: the status alone on the first line, then the body bytes as they came.
#include <gtest/gtest.h>

#include <string>

#include "tests/http/loopback_server.h"
#include "tests/http/test_proxies.h"
#include "tests/support/test_env.h"

namespace {

using httptest::Connection;

const std::string kTool = std::string(TAVI_BIN_DIR) + "/microblog-tool";

TEST(HttpTool, PrintsTheStatusThenTheBodyBytes) {
    // A body with a NUL, a CR LF and no final newline comes out byte for byte.
    const std::string body = std::string("{\"a\":1}\r\n\0tail", 14);
    httptest::LoopbackServer server([&body](Connection& c) {
        std::string request = c.ReadRequest();
        if (request.rfind("POST ", 0) == 0)
            c.Write(httptest::ReplyWithLength(201, request.substr(request.find("\r\n\r\n") + 4)));
        else
            c.Write(httptest::ReplyWithLength(200, body));
    });
    std::string output;
    EXPECT_EQ(testenv::RunCommand(kTool + " get '" + server.Url("/x.json") + "'", &output), 0);
    EXPECT_EQ(output, "200\n" + body);
    EXPECT_EQ(
        testenv::RunCommand(kTool + " post '" + server.Url("/u.json") + "' 'status=hi%20there'", &output), 0);
    EXPECT_EQ(output, "201\nstatus=hi%20there");
}

TEST(HttpTool, GoesThroughTheGivenProxy) {
    httptest::LoopbackServer server([](Connection& c) {
        c.ReadRequest();
        c.Write(httptest::ReplyWithLength(200, "tunnelled"));
    });
    httptest::Socks5Proxy socks("me", "pw");
    std::string output;
    std::string proxy = "socks5://me:pw@127.0.0.1:" + std::to_string(socks.port());
    EXPECT_EQ(testenv::RunCommand(kTool + " get " + server.Url("/x") + " --proxy " + proxy, &output), 0);
    EXPECT_EQ(output, "200\ntunnelled");
    EXPECT_EQ(socks.Tunnels(), 1);
}

TEST(HttpTool, FailuresPrintTheirCode) {
    std::string output;
    std::string dead = "http://127.0.0.1:" + std::to_string(httptest::UnusedLoopbackPort()) + "/x";
    EXPECT_EQ(testenv::RunCommand(kTool + " get " + dead, &output), 1);
    EXPECT_EQ(output, "-1\n");
    EXPECT_EQ(testenv::RunCommand(kTool + " get ''", &output), 1);
    EXPECT_EQ(output, "0\n");
    EXPECT_EQ(testenv::RunCommand(kTool + " get " + dead + " --proxy ftp://x:1", &output), 2);
    EXPECT_NE(output.find("proxy"), std::string::npos);
}

TEST(TaviProxyOption, IsTakenOrRefusedWithAReason) {
    testenv::ScratchDir app("tavi-proxy");
    testenv::WriteFile(app.path() + "/quit.txt", "quit\n");
    std::string tavi = std::string(TAVI_BIN_DIR) + "/tavi --app-dir " + app.path() +
                       " --user tester@velmora.com --password secret --script " + app.path() + "/quit.txt";
    std::string output;
    EXPECT_EQ(testenv::RunCommand(tavi + " --proxy socks5://me:pw@127.0.0.1:1080", &output), 0) << output;
    EXPECT_EQ(testenv::RunCommand(tavi + " --proxy http://127.0.0.1:3128", &output), 0) << output;
    EXPECT_EQ(testenv::RunCommand(tavi + " --proxy socks4://127.0.0.1:1080", &output), 2);
    EXPECT_NE(output.find("proxy"), std::string::npos) << output;
    EXPECT_EQ(testenv::RunCommand(tavi + " --proxy http://127.0.0.1", &output), 2);
    EXPECT_NE(output.find("port"), std::string::npos) << output;
}

} // namespace
