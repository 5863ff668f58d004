// The text side of the transport: how an address is split, the exact request bytes, and how the
// reply's bytes become a status and a body whatever the reads' sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "http/http_request.h"
#include "http/http_response_decoder.h"
#include "http/http_url.h"
#include "tests/http/loopback_server.h"

namespace {

using microblog::BuildHttpRequest;
using microblog::HttpRequestDescription;
using microblog::HttpResponseDecoder;
using microblog::SplitHttpUrl;
using Result = HttpResponseDecoder::Result;

// ---- addresses

struct UrlCase {
    const char* url;
    const char* host;
    int port;
    const char* path;
    const char* referer;
    bool secure = false;
};

class SplitUrl : public testing::TestWithParam<UrlCase> {};

TEST_P(SplitUrl, GivesHostPortPathAndReferer) {
    const auto& c = GetParam();
    auto parts = SplitHttpUrl(c.url);
    ASSERT_TRUE(parts.has_value()) << c.url;
    EXPECT_EQ(parts->host, c.host);
    EXPECT_EQ(parts->port, c.port);
    EXPECT_EQ(parts->path, c.path);
    EXPECT_EQ(parts->referer, c.referer);
    EXPECT_EQ(parts->secure, c.secure);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, SplitUrl,
    testing::Values(UrlCase{"http://api.velmora.com/statuses/home_timeline.json?count=50&method=get",
                            "api.velmora.com", 80, "/statuses/home_timeline.json?count=50&method=get",
                            "http://api.velmora.com/statuses"},
                    UrlCase{"http://127.0.0.1:8080/oauth/access_token", "127.0.0.1", 8080,
                            "/oauth/access_token", "http://127.0.0.1:8080/oauth"},
                    UrlCase{"http://host", "host", 80, "/", "http://host"},
                    UrlCase{"http://host/", "host", 80, "/", "http://host"},
                    UrlCase{"HTTP://Host.Example:81/a", "Host.Example", 81, "/a", "HTTP://Host.Example:81"},
                    // A slash inside the query does not move the referer.
                    UrlCase{"http://h/a/b.json?next=/c/d", "h", 80, "/a/b.json?next=/c/d", "http://h/a"},
                    UrlCase{"http://h?x=1", "h", 80, "/?x=1", "http://h"},
                    UrlCase{"http://h/page#part", "h", 80, "/page", "http://h"},
                    UrlCase{"http://[::1]:8081/x/y", "::1", 8081, "/x/y", "http://[::1]:8081/x"},
                    UrlCase{"https://api.velmora.com/oauth/access_token?x=1", "api.velmora.com", 443,
                            "/oauth/access_token?x=1", "https://api.velmora.com/oauth", true},
                    UrlCase{"HTTPS://h:8443/a/b", "h", 8443, "/a/b", "HTTPS://h:8443/a", true}));

class RefusedUrl : public testing::TestWithParam<std::string> {};

TEST_P(RefusedUrl, IsNotSplit) {
    EXPECT_FALSE(SplitHttpUrl(GetParam()).has_value()) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Addresses, RefusedUrl,
                         testing::Values("", "https://", "httpss://h/", "ftp://h/", "http://", "http:///x",
                                         "http://:80/", "http://h:0/", "http://h:65536/", "http://h:8a/",
                                         "http://h:/x", "http://user@h/", "http://h/a b",
                                         std::string("http://h/a\r\nX-Injected: 1"),
                                         std::string("http://h/\0x", 10), "http://[::1/", "//h/x"));

// ---- requests

TEST(RequestText, GetEndsWithTheEmptyLine) {
    HttpRequestDescription get;
    get.host = "api.velmora.com";
    get.path = "/statuses/home_timeline.json?count=50";
    get.referer = "http://api.velmora.com/statuses";
    EXPECT_EQ(BuildHttpRequest(get), "GET /statuses/home_timeline.json?count=50 HTTP/1.1\r\n"
                                     "Host:api.velmora.com\r\n"
                                     "Referer:http://api.velmora.com/statuses\r\n"
                                     "Accept:*/*\r\n"
                                     "User-Agent: Mozilla/4.0 (compatible; TAVI)\r\n"
                                     "Connection:Keep-Alive\r\n"
                                     "\r\n");
}

TEST(RequestText, PostCarriesItsBodyAndItsLength) {
    HttpRequestDescription post;
    post.isPost = true;
    post.host = "h";
    post.path = "/statuses/update.json";
    post.body = "status=%E4%BD%A0%E5%A5%BD&x=1";
    std::string text = BuildHttpRequest(post);
    EXPECT_EQ(text, "POST /statuses/update.json HTTP/1.1\r\n"
                    "Host:h\r\n"
                    "Accept:*/*\r\n"
                    "User-Agent: Mozilla/4.0 (compatible; TAVI)\r\n"
                    "Connection:Keep-Alive\r\n"
                    "Content-Type: application/x-www-form-urlencoded\r\n"
                    "Content-Length: 29\r\n"
                    "\r\n"
                    "status=%E4%BD%A0%E5%A5%BD&x=1");
    EXPECT_EQ(text.substr(text.find("\r\n\r\n") + 4), post.body);
}

// The Host line names the authority of the address: its port too, unless that is the scheme's default.
TEST(RequestText, HostLineCarriesAPortOtherThanTheDefault) {
    for (auto [url, host] :
         {std::pair{"http://127.0.0.1:18080/s.json", "127.0.0.1:18080"}, std::pair{"http://h:80/s.json", "h"},
          std::pair{"http://h/s.json", "h"}, std::pair{"http://[::1]:8081/s.json", "[::1]:8081"},
          std::pair{"https://h/s.json", "h"}, std::pair{"https://h:443/s.json", "h"},
          std::pair{"https://h:80/s.json", "h:80"}}) {
        auto parts = SplitHttpUrl(url);
        ASSERT_TRUE(parts) << url;
        HttpRequestDescription get;
        get.secure = parts->secure;
        get.host = parts->host;
        get.port = parts->port;
        get.path = parts->path;
        std::string text = BuildHttpRequest(get);
        EXPECT_NE(text.find("\r\nHost:" + std::string(host) + "\r\n"), std::string::npos) << text;
    }
}

TEST(RequestText, RequestLongerThanTheBufferIsWrittenWhole) {
    HttpRequestDescription post;
    post.isPost = true;
    post.host = "h";
    post.path = "/statuses/update.json";
    post.body = std::string(10000, 'a');
    std::vector<char> buffer(microblog::kRequestBufferSize);
    int length = BuildHttpRequest(post, buffer);
    std::string expected = BuildHttpRequest(post);
    ASSERT_EQ(length, static_cast<int>(expected.size()));
    EXPECT_GT(length, static_cast<int>(microblog::kRequestBufferSize));
    EXPECT_EQ(std::string(buffer.data(), static_cast<std::size_t>(length)), expected);
    EXPECT_NE(expected.find("Content-Length: 10000\r\n\r\n"), std::string::npos);
}

// ---- replies

struct Outcome {
    Result result;
    int status;
    std::string body;
};

// Feeds the reply in pieces of the given size (0: as one read), then, if asked, the peer's close.
Outcome Decode(const std::string& reply, std::size_t piece, bool close) {
    HttpResponseDecoder decoder;
    Result result = Result::kContinue;
    std::size_t step = piece == 0 ? reply.size() : piece;
    for (std::size_t at = 0; at < reply.size() && result == Result::kContinue; at += step) {
        std::size_t n = std::min(step, reply.size() - at);
        result = decoder.Decode(reply.data() + at, static_cast<int>(n));
    }
    if (close && result == Result::kContinue)
        result = decoder.Decode("", 0);
    return {result, decoder.statusCode(), decoder.body()};
}

struct ReplyCase {
    const char* name;
    std::string reply;
    bool close; // the server closes after the reply
    Result result;
    int status;
    std::string body;
};

void PrintTo(const ReplyCase& c, std::ostream* out) {
    *out << c.name;
}

std::string CaseName(const testing::TestParamInfo<ReplyCase>& info) {
    return httptest::CaseName(info.param.name);
}

class ReplyAnySplit : public testing::TestWithParam<ReplyCase> {};

// Every piece size from one byte per read up to the whole reply in one read gives the same outcome.
TEST_P(ReplyAnySplit, DecodesTheSameWhateverTheReads) {
    const auto& c = GetParam();
    for (std::size_t piece = 0; piece <= c.reply.size(); ++piece) {
        Outcome got = Decode(c.reply, piece, c.close);
        ASSERT_EQ(static_cast<int>(got.result), static_cast<int>(c.result))
            << c.name << ", reads of " << piece;
        if (c.result == Result::kComplete) {
            ASSERT_EQ(got.status, c.status) << c.name << ", reads of " << piece;
            ASSERT_EQ(got.body, c.body) << c.name << ", reads of " << piece;
        }
    }
}

const std::string kHello = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Basics, ReplyAnySplit,
    testing::Values(
        ReplyCase{"ten byte body", httptest::ReplyWithLength(200, "0123456789"), false, Result::kComplete,
                  200, "0123456789"},
        ReplyCase{"404 body decoded", httptest::ReplyWithLength(404, "{\"error\":\"nope\"}"), false,
                  Result::kComplete, 404, "{\"error\":\"nope\"}"},
        ReplyCase{"chunked hello", kHello, false, Result::kComplete, 200, "hello"},
        ReplyCase{"chunked capital C",
                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", false,
                  Result::kComplete, 200, "hello"},
        ReplyCase{"chunk extension",
                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;ext=1\r\nhello\r\n6 ; q=\"x\"\r\n "
                  "world\r\nA\r\n0123456789\r\n0\r\nTrailer: x\r\n\r\n",
                  false, Result::kComplete, 200, "hello world0123456789"},
        ReplyCase{"bytes past Content-Length dropped", httptest::ReplyWithLength(200, "abc") + "GARBAGE",
                  false, Result::kComplete, 200, "abc"},
        ReplyCase{"gzip, chunked refused",
                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", true,
                  Result::kFail, 0, ""},
        ReplyCase{"no header block", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nhello", true, Result::kFail, 0,
                  ""}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Framing, ReplyAnySplit,
    testing::Values(
        // A Content-Length body is complete only when all of it came.
        ReplyCase{"closed before the length", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n01234", true,
                  Result::kFail, 0, ""},
        ReplyCase{"short reply waits for the rest", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n01234",
                  false, Result::kContinue, 0, ""},
        // The header block may be longer than one read.
        ReplyCase{"long header block",
                  "HTTP/1.1 200 OK\r\nX-Padding: " + std::string(3000, 'p') +
                      "\r\nContent-Length: 2\r\n\r\nok",
                  false, Result::kComplete, 200, "ok"},
        // Names at the start of a line, any case, the value after any blanks.
        ReplyCase{"no blank after the colon", "HTTP/1.1 200 OK\r\nContent-Length:3\r\n\r\nabc", false,
                  Result::kComplete, 200, "abc"},
        ReplyCase{"lower-case name, tab", "HTTP/1.1 200 OK\r\ncontent-length:\t3 \r\n\r\nabc", false,
                  Result::kComplete, 200, "abc"},
        ReplyCase{"name inside another header",
                  "HTTP/1.1 200 OK\r\nX-Old-Content-Length: 1\r\nContent-Length: 4\r\n\r\nabcd", false,
                  Result::kComplete, 200, "abcd"},
        ReplyCase{"name only in the body", "HTTP/1.1 200 OK\r\n\r\nContent-Length: 1\r\n", true,
                  Result::kComplete, 200, "Content-Length: 1\r\n"},
        // An empty body, and a body that ends with the connection.
        ReplyCase{"Content-Length 0", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false,
                  Result::kComplete, 200, ""},
        ReplyCase{"until close", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n[1,2,3]", true,
                  Result::kComplete, 200, "[1,2,3]"},
        ReplyCase{"until close, still open", "HTTP/1.1 200 OK\r\n\r\n[1,2,3]", false, Result::kContinue, 0,
                  ""},
        // A malformed or oversize size line fails; so do other breaks of the chunk framing.
        ReplyCase{"size line not hex",
                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n", false,
                  Result::kFail, 0, ""},
        ReplyCase{"size line with junk",
                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5x\r\nhello\r\n", false,
                  Result::kFail, 0, ""},
        ReplyCase{"empty size line", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n\r\nhello\r\n",
                  false, Result::kFail, 0, ""},
        ReplyCase{"oversize size line",
                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;" + std::string(1100, 'e') +
                      "\r\nhello\r\n0\r\n\r\n",
                  false, Result::kFail, 0, ""},
        ReplyCase{"chunk without its CR LF",
                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhelloXY0\r\n\r\n", false,
                  Result::kFail, 0, ""},
        ReplyCase{"chunked closed before the last chunk",
                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", true, Result::kFail,
                  0, ""},
        // Other replies that must not pass as good ones.
        ReplyCase{"Content-Length not a number", "HTTP/1.1 200 OK\r\nContent-Length: 3abc\r\n\r\nabc", false,
                  Result::kFail, 0, ""},
        ReplyCase{"negative Content-Length", "HTTP/1.1 200 OK\r\nContent-Length: -3\r\n\r\nabc", false,
                  Result::kFail, 0, ""},
        ReplyCase{"not a status line", "HELLO\r\nContent-Length: 2\r\n\r\nok", false, Result::kFail, 0, ""},
        ReplyCase{"status without digits", "HTTP/1.1 OK\r\nContent-Length: 2\r\n\r\nok", false, Result::kFail,
                  0, ""},
        ReplyCase{"closed inside the header block", "HTTP/1.1 200 OK\r\nContent-Len", true, Result::kFail, 0,
                  ""},
        // Replies without a body, and an interim reply before the real one.
        ReplyCase{"204 without length", "HTTP/1.1 204 No Content\r\n\r\n", false, Result::kComplete, 204, ""},
        ReplyCase{"100 Continue first",
                  "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", false,
                  Result::kComplete, 200, "ok"}),
    CaseName);

// The plain chunked body, cut at every byte boundary into two reads and, for the
// LF after the data, into a read of that one byte alone.
TEST(ChunkedReply, AnyCutGivesHello) {
    for (std::size_t cut = 1; cut < kHello.size(); ++cut) {
        HttpResponseDecoder decoder;
        Result first = decoder.Decode(kHello.data(), static_cast<int>(cut));
        Result second = first == Result::kContinue
                            ? decoder.Decode(kHello.data() + cut, static_cast<int>(kHello.size() - cut))
                            : first;
        ASSERT_EQ(static_cast<int>(second), static_cast<int>(Result::kComplete)) << "cut at " << cut;
        ASSERT_EQ(decoder.body(), "hello") << "cut at " << cut;
    }
    std::size_t lf = kHello.find("hello\r\n") + 6;
    HttpResponseDecoder decoder;
    ASSERT_EQ(static_cast<int>(decoder.Decode(kHello.data(), static_cast<int>(lf))),
              static_cast<int>(Result::kContinue));
    ASSERT_EQ(static_cast<int>(decoder.Decode(kHello.data() + lf, 1)), static_cast<int>(Result::kContinue));
    ASSERT_EQ(
        static_cast<int>(decoder.Decode(kHello.data() + lf + 1, static_cast<int>(kHello.size() - lf - 1))),
        static_cast<int>(Result::kComplete));
    EXPECT_EQ(decoder.body(), "hello");
}

// The worker's reads: 1024-byte buffers, filled with zeros, with the count the read returned.
TEST(ReplyReads, BodyLongerThanOneBufferNeedsEveryByte) {
    std::string body(5000, 'x');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>('a' + i % 26);
    std::string reply = httptest::ReplyWithLength(200, body);
    HttpResponseDecoder decoder;
    char buffer[1024];
    Result result = Result::kContinue;
    std::size_t at = 0;
    int reads = 0;
    while (at < reply.size()) {
        std::memset(buffer, 0, sizeof(buffer));
        std::size_t n = std::min(sizeof(buffer), reply.size() - at);
        std::copy_n(reply.data() + at, n, buffer);
        at += n;
        result = decoder.Decode(buffer, static_cast<int>(n));
        ++reads;
        if (at < reply.size()) {
            ASSERT_EQ(static_cast<int>(result), static_cast<int>(Result::kContinue))
                << "after read " << reads;
        }
    }
    EXPECT_EQ(static_cast<int>(result), static_cast<int>(Result::kComplete));
    EXPECT_EQ(decoder.body(), body);
    EXPECT_EQ(decoder.bodyBytes(), 5000);
    EXPECT_EQ(decoder.contentLength(), 5000);
}

TEST(ReplyReads, HeaderBlockBeyondTheLimitFails) {
    std::string reply = "HTTP/1.1 200 OK\r\n";
    while (reply.size() < HttpResponseDecoder::kMaxHeaderBytes)
        reply += "X-Filler: " + std::string(100, 'f') + "\r\n";
    reply += "Content-Length: 2\r\n\r\nok";
    EXPECT_EQ(static_cast<int>(Decode(reply, 1024, false).result), static_cast<int>(Result::kFail));
    EXPECT_EQ(static_cast<int>(Decode(reply, 0, false).result), static_cast<int>(Result::kFail));
}

TEST(ReplyReads, HeaderBlockAtTheLimitIsTaken) {
    std::string tail = "Content-Length: 2\r\n\r\n";
    std::string reply = "HTTP/1.1 200 OK\r\nX-Filler: ";
    reply += std::string(HttpResponseDecoder::kMaxHeaderBytes - reply.size() - 2 - tail.size(), 'f') +
             "\r\n" + tail;
    ASSERT_EQ(reply.size(), HttpResponseDecoder::kMaxHeaderBytes);
    Outcome got = Decode(reply + "ok", 1000, false);
    EXPECT_EQ(static_cast<int>(got.result), static_cast<int>(Result::kComplete));
    EXPECT_EQ(got.body, "ok");
}

TEST(ReplyReads, BodyBeyondTheLimitFails) {
    HttpResponseDecoder announced;
    announced.SetMaxBodyBytes(100);
    std::string big = httptest::ReplyWithLength(200, std::string(101, 'b'));
    EXPECT_EQ(static_cast<int>(announced.Decode(big.data(), static_cast<int>(big.size()))),
              static_cast<int>(Result::kFail));

    HttpResponseDecoder chunked;
    chunked.SetMaxBodyBytes(100);
    std::string reply = httptest::ChunkedReply({std::string(60, 'a'), std::string(60, 'b')});
    EXPECT_EQ(static_cast<int>(chunked.Decode(reply.data(), static_cast<int>(reply.size()))),
              static_cast<int>(Result::kFail));

    HttpResponseDecoder untilClose;
    untilClose.SetMaxBodyBytes(100);
    std::string open = "HTTP/1.1 200 OK\r\n\r\n" + std::string(101, 'c');
    EXPECT_EQ(static_cast<int>(untilClose.Decode(open.data(), static_cast<int>(open.size()))),
              static_cast<int>(Result::kFail));
}

TEST(ReplyReads, OutcomeIsFinal) {
    HttpResponseDecoder decoder;
    std::string reply = httptest::ReplyWithLength(200, "done");
    ASSERT_EQ(static_cast<int>(decoder.Decode(reply.data(), static_cast<int>(reply.size()))),
              static_cast<int>(Result::kComplete));
    EXPECT_EQ(static_cast<int>(decoder.Decode("more", 4)), static_cast<int>(Result::kComplete));
    EXPECT_EQ(static_cast<int>(decoder.Decode("", 0)), static_cast<int>(Result::kComplete));
    EXPECT_EQ(decoder.body(), "done");

    HttpResponseDecoder failed;
    ASSERT_EQ(static_cast<int>(failed.Decode("", 0)), static_cast<int>(Result::kFail));
    std::string good = httptest::ReplyWithLength(200, "x");
    EXPECT_EQ(static_cast<int>(failed.Decode(good.data(), static_cast<int>(good.size()))),
              static_cast<int>(Result::kFail));
}

} // namespace
