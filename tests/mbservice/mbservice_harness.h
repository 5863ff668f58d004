// What the service's tests share: the built mbservice started on a free loopback port, a raw HTTP
// exchange over a socket, and an OAuth 1.0 signer of the test's own (OpenSSL HMAC-SHA1 and a base
// string built here), independent of the service's liboauth verification.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/test_env.h"

namespace mbtest {

// The plug-in's consumer credentials.
inline constexpr const char* kConsumerKey = "Rk4wZpT7mQs2Ly9B";
inline constexpr const char* kConsumerSecret = "w7Hc2LqN5tVbX9mR3kPz8YdJ4sFa6GeU";

// A running mbservice; stopped with SIGTERM when the object goes.
class MbServiceProcess {
public:
    // args are given after "--port 0" unless they name a port themselves.
    explicit MbServiceProcess(std::vector<std::string> args = {"--seed", "demo"});
    ~MbServiceProcess();
    MbServiceProcess(const MbServiceProcess&) = delete;
    MbServiceProcess& operator=(const MbServiceProcess&) = delete;

    bool Started() const { return port_ > 0; }
    int Port() const { return port_; }
    // SIGTERM, then waits at most boundMs for the exit; the exit status, or -1 when it had to be killed.
    int Stop(int boundMs = 10000);
    bool Running() const { return pid_ > 0; }
    // What the service wrote to stderr so far.
    std::string ErrorLog() const;

private:
    std::unique_ptr<testenv::ScratchDir> scratch_;
    pid_t pid_ = -1;
    int stdoutFd_ = -1;
    int port_ = 0;
};

struct HttpReply {
    int status = 0; // 0: no complete reply
    std::string head;
    std::string body;
    std::size_t firstReadBytes = 0;

    std::string Header(const std::string& name) const;
    nlohmann::json Json() const;
};

// Sends the bytes on a new loopback connection and reads one reply (bounded by boundMs).
HttpReply Exchange(int port, const std::string& request, int boundMs = 10000);

// RFC 3986 percent-encoding with upper-case hex digits.
std::string Encode(const std::string& text);
std::string Md5Hex(const std::string& text);

struct Credentials {
    std::string consumerKey = kConsumerKey;
    std::string consumerSecret = kConsumerSecret;
    std::string token; // empty: signed without a token (the access-token exchange)
    std::string tokenSecret;
};

using Params = std::map<std::string, std::string>;

// One request as the test signs it; the fields may be changed before Send to make it wrong.
struct SignedCall {
    std::string method = "GET";
    std::string path; // relative to the API root, such as "statuses/update.json"
    Params params;    // request parameters, unencoded UTF-8
    Credentials credentials;
    std::int64_t timestamp = 0; // 0: now
    std::string nonce;          // empty: a fresh one
    std::string apiRoot;        // empty: the service's own
    std::string baseString;     // filled by Sign
    std::string signedText;     // the query (GET) or body (POST), filled by Sign
};

class ServiceClient {
public:
    explicit ServiceClient(int port) : port_(port) {}
    std::string ApiRoot() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
    int Port() const { return port_; }

    // Fills the oauth parameters, the base string and the signed text of the call.
    void Sign(SignedCall& call) const;
    // Writes the request as the plug-in does: "Host:" with the host name only, the signed
    // parameters in the query of a GET or in the form body of a POST.
    HttpReply Send(const SignedCall& call) const;
    HttpReply Call(const std::string& method, const std::string& path, const Params& params,
                   const Credentials& credentials) const;
    HttpReply Get(const std::string& path, const Params& params, const Credentials& credentials) const {
        return Call("GET", path, params, credentials);
    }
    HttpReply Post(const std::string& path, const Params& params, const Credentials& credentials) const {
        return Call("POST", path, params, credentials);
    }

    // The xAuth exchange with the password sent as its MD5; the reply as given.
    HttpReply RequestToken(const std::string& account, const std::string& passwordForm) const;
    // Signs in (password in plain text, sent as its MD5); empty token when refused.
    Credentials SignIn(const std::string& account, const std::string& password) const;

private:
    int port_;
};

// The name=value pairs of a form-encoded reply, decoded.
std::map<std::string, std::string> ParseForm(const std::string& body);

// A demo-seeded service per test, with the demo account signed in.
class DemoServiceTest : public ::testing::Test {
protected:
    void SetUp() override;
    // The options the service is started with.
    virtual std::vector<std::string> ServiceArgs() const { return {"--seed", "demo"}; }
    virtual bool SignsInDemo() const { return true; }

    const ServiceClient& Client() const { return *client_; }
    Credentials SignIn(const std::string& account, const std::string& password) const;
    nlohmann::json Home(const Credentials& who, int count = 50) const;
    // Posts a status and returns its id (empty when refused).
    std::string PostStatus(const Credentials& who, const std::string& text) const;
    nlohmann::json Reminds(const Credentials& who) const;

    std::unique_ptr<MbServiceProcess> service_;
    std::unique_ptr<ServiceClient> client_;
    Credentials demo_;
};

} // namespace mbtest
