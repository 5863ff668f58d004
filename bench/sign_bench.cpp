// Signing one home-timeline request: ours against liboauth's, on the same inputs, and against the
// floor of the work, the HMAC-SHA1 and Base64 of the request's base string alone.
#include <stddef.h>

#include <benchmark/benchmark.h>
#include <oauth.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdlib>

#include "service/oauth.h"
#include "service/settings.h"

namespace {

microblog::OAuthSigner Signer() {
    microblog::OAuthSigner signer;
    signer.apiRoot = "http://127.0.0.1:8790/";
    signer.consumerKey = microblog::kConsumerKey;
    signer.consumerSecret = microblog::kConsumerSecret;
    signer.token = "8f14e45fceea167a5a36dedd4bea2543";
    signer.tokenSecret = "c9f0f895fb98ab9159f51fd0297e236d";
    return signer;
}

const microblog::RequestParams kParams{{"count", "50"}, {"method", "hometl"}, {"keyfrom", "tavi"}};

// Parameters, percent-encoding, base string, HMAC-SHA1, Base64 and the joined query.
void BM_Sign_HomeTimeline(benchmark::State& state) {
    microblog::OAuthSigner signer = Signer();
    microblog::NonceCounter counter;
    std::string timestamp = "1765170000";
    for (auto _ : state) {
        microblog::OAuthParamMap map;
        microblog::AddRequestParams(map, signer, kParams);
        std::string query =
            microblog::BuildSignedQuery(map, signer, "GET&", "statuses/home_timeline.json", true, timestamp,
                                        microblog::MakeNonce(counter.Next()));
        benchmark::DoNotOptimize(query);
    }
}
BENCHMARK(BM_Sign_HomeTimeline);

// liboauth signing the same request, with the same timestamp and nonce form.
void BM_Liboauth_HomeTimeline(benchmark::State& state) {
    microblog::OAuthSigner signer = Signer();
    microblog::NonceCounter counter;
    for (auto _ : state) {
        std::string url = signer.apiRoot +
                          "statuses/home_timeline.json?count=50&keyfrom=tavi&method=hometl"
                          "&oauth_nonce=" +
                          microblog::MakeNonce(counter.Next()) +
                          "&oauth_timestamp=1765170000&oauth_version=1.0";
        char* signedUrl =
            oauth_sign_url2(url.c_str(), nullptr, OA_HMAC, "GET", signer.consumerKey.c_str(),
                            signer.consumerSecret.c_str(), signer.token.c_str(), signer.tokenSecret.c_str());
        benchmark::DoNotOptimize(signedUrl);
        std::free(signedUrl);
    }
}
BENCHMARK(BM_Liboauth_HomeTimeline);

// The digest and its text, nothing else: the base string is made once, outside the loop.
void BM_Floor_HmacBase64(benchmark::State& state) {
    microblog::OAuthSigner signer = Signer();
    microblog::NonceCounter counter;
    microblog::OAuthParamMap map;
    microblog::AddRequestParams(map, signer, kParams);
    std::string base;
    microblog::ComputeSignature(map, signer, "GET&", "statuses/home_timeline.json", true, "1765170000",
                                microblog::MakeNonce(counter.Next()), &base);
    std::string key = signer.consumerSecret + "&" + signer.tokenSecret;
    for (auto _ : state) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = sizeof(digest);
        HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
             reinterpret_cast<const unsigned char*>(base.data()), base.size(), digest, &digestLength);
        unsigned char text[64];
        int written = EVP_EncodeBlock(text, digest, static_cast<int>(digestLength));
        benchmark::DoNotOptimize(text);
        benchmark::DoNotOptimize(written);
    }
}
BENCHMARK(BM_Floor_HmacBase64);

} // namespace

BENCHMARK_MAIN();
