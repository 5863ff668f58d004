// HTTPS end to end: mbservice serving certificates of a throwaway authority made here, tavi trusting
// that authority through deploy.ini, and the client refusing every certificate that does not
// prove the server is the one addressed, directly and through each kind of proxy, before the
// request (with its credentials) leaves.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <ostream>

#include "http/http_client.h"
#include "http/http_exchanges.h"
#include "tests/e2e/harness.h"
#include "tests/http/test_proxies.h"

namespace e2e {
namespace {

constexpr const char* kDemo = "demo@velmora.com";
constexpr const char* kDemoPassword = "demo123";
constexpr long kDay = 86400;

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

struct Issued {
    std::string cert;
    std::string key;
};

// A certificate authority that lives as long as the test program, with the certificates it signs.
class TestAuthority {
public:
    TestAuthority() : key_(EVP_EC_gen("P-256"), EVP_PKEY_free), cert_(nullptr, X509_free) {
        cert_ = Make("Tavi Test Authority", "", key_.get(), nullptr, nullptr, -kDay, 2 * kDay);
        Write(cert_.get(), key_.get(), "authority");
    }
    std::string File() const { return dir_.path() + "/authority.pem"; }

    // A server certificate for the names (e.g. "DNS:localhost,IP:127.0.0.1"), valid from and to
    // the given offsets from now; signed by this authority, or by its own key when selfSigned.
    Issued Issue(const std::string& name, const std::string& altNames, long fromSeconds, long toSeconds,
                 bool selfSigned = false) {
        Key key(EVP_EC_gen("P-256"), EVP_PKEY_free);
        Certificate cert =
            selfSigned ? Make(name, altNames, key.get(), nullptr, nullptr, fromSeconds, toSeconds)
                       : Make(name, altNames, key.get(), cert_.get(), key_.get(), fromSeconds, toSeconds);
        return Write(cert.get(), key.get(), name);
    }

private:
    Certificate Make(const std::string& name, const std::string& altNames, EVP_PKEY* key, X509* issuer,
                     EVP_PKEY* issuerKey, long fromSeconds, long toSeconds) {
        Certificate cert(X509_new(), X509_free);
        X509_set_version(cert.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ++serial_);
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), fromSeconds);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), toSeconds);
        X509_set_pubkey(cert.get(), key);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
        X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer ? issuer : cert.get()));
        X509V3_CTX context;
        X509V3_set_ctx_nodb(&context);
        X509V3_set_ctx(&context, issuer ? issuer : cert.get(), cert.get(), nullptr, nullptr, 0);
        auto add = [&](int nid, const std::string& value) {
            X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
            EXPECT_NE(extension, nullptr) << value;
            if (extension) {
                X509_add_ext(cert.get(), extension, -1);
                X509_EXTENSION_free(extension);
            }
        };
        add(NID_basic_constraints, altNames.empty() ? "critical,CA:TRUE" : "critical,CA:FALSE");
        if (altNames.empty())
            add(NID_key_usage, "critical,keyCertSign,cRLSign");
        else
            add(NID_subject_alt_name, altNames);
        EXPECT_GT(X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()), 0);
        return cert;
    }

    Issued Write(X509* cert, EVP_PKEY* key, const std::string& name) {
        Issued paths{dir_.path() + "/" + name + ".pem", dir_.path() + "/" + name + ".key"};
        FILE* out = std::fopen(paths.cert.c_str(), "w");
        EXPECT_TRUE(out && PEM_write_X509(out, cert) == 1);
        if (out)
            std::fclose(out);
        out = std::fopen(paths.key.c_str(), "w");
        EXPECT_TRUE(out && PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr) == 1);
        if (out)
            std::fclose(out);
        return paths;
    }

    testenv::ScratchDir dir_{"tls-authority"};
    Key key_;
    Certificate cert_;
    long serial_ = 0;
};

TestAuthority& Authority() {
    static TestAuthority authority;
    return authority;
}

std::vector<std::string> Serving(const Issued& issued) {
    return {"--tls-cert", issued.cert, "--tls-key", issued.key};
}

TEST(TlsE2E, SignInTimelineAndPublishOverHttpsTrustingThePrivateAuthority) {
    MbService service(Serving(Authority().Issue("localhost", "DNS:localhost,IP:127.0.0.1", -kDay, kDay)));
    ASSERT_TRUE(service.Started()) << service.Log();
    AppFolder app(service, Authority().File());
    TaviSession demo(app, kDemo, kDemoPassword);
    std::string signIn = SignIn(demo);
    ASSERT_NE(demo.Run("screen").find("MicroBlogListPanel"), std::string::npos) << signIn << service.Log();

    std::string sent =
        demo.Run("click BtnPublish\ntype EdtContent 经由加密连接的一条\nclick ButtonSend\nwait\npage");
    EXPECT_NE(sent.find("经由加密连接的一条"), std::string::npos) << sent;
    EXPECT_GE(service.Count("GET /oauth/access_token 200"), 1) << service.Log();
    EXPECT_GE(service.Count("GET /statuses/home_timeline.json 200"), 2) << service.Log();
    EXPECT_EQ(service.Count("POST /statuses/update.json 200"), 1) << service.Log();
}

struct ServedCase {
    const char* name;
    std::string altNames;
    long from, to;
    bool selfSigned;
    bool trusted;
};

void PrintTo(const ServedCase& c, std::ostream* out) {
    *out << c.name;
}

class ServedCertificate : public testing::TestWithParam<ServedCase> {};

// The token exchange's address carries the password credential: a server that cannot prove it is
// the one addressed must not see it, whichever way the connection goes.
TEST_P(ServedCertificate, OnlyAVerifiedServerSeesTheRequestOnEveryRoute) {
    const ServedCase& c = GetParam();
    // A plug-in unloaded in this process by an earlier test leaves its exchanges refused.
    microblog::AllowHttpExchanges();
    MbService service(Serving(Authority().Issue(c.name, c.altNames, c.from, c.to, c.selfSigned)));
    ASSERT_TRUE(service.Started()) << service.Log();
    httptest::HttpConnectProxy connect;
    httptest::Socks5Proxy socks;
    std::vector<std::pair<std::string, tavi::ProxyCfg>> routes = {
        {"direct", tavi::ProxyCfg{}}, {"http connect", connect.Settings()}, {"socks5", socks.Settings()}};
    std::string url = "https://localhost:" + std::to_string(service.Port()) +
                      "/oauth/access_token?x_auth_username=demo%40velmora.com&x_auth_password=secret";
    for (const auto& [route, proxy] : routes) {
        microblog::HttpClient client;
        client.SetAuthorityFile(Authority().File());
        std::string body = "stale";
        int status = client.Get(proxy, url, body);
        // Unsigned, the exchange is refused by the service: that it answers at all is the point.
        EXPECT_EQ(status, c.trusted ? 400 : -1) << route;
        if (!c.trusted) {
            EXPECT_EQ(body, "") << route;
        }
    }
    EXPECT_EQ(connect.Tunnels(), 1);
    EXPECT_EQ(socks.Tunnels(), 1);
    EXPECT_EQ(service.Requests().size(), c.trusted ? 3u : 0u) << service.Log();
}

INSTANTIATE_TEST_SUITE_P(
    Tls, ServedCertificate,
    testing::Values(ServedCase{"trusted", "DNS:localhost,IP:127.0.0.1", -kDay, kDay, false, true},
                    ServedCase{"expired", "DNS:localhost,IP:127.0.0.1", -3 * kDay, -kDay, false, false},
                    ServedCase{"other-host", "DNS:other.example,IP:192.0.2.1", -kDay, kDay, false, false},
                    ServedCase{"self-signed", "DNS:localhost,IP:127.0.0.1", -kDay, kDay, true, false}),
    [](const testing::TestParamInfo<ServedCase>& info) { return httptest::CaseName(info.param.name); });

} // namespace
} // namespace e2e
