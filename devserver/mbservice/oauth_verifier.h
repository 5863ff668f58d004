// Verification of OAuth 1.0 HMAC-SHA1 requests: the base string is rebuilt from what the request
// carries and signed again with liboauth, then the timestamp window and the nonce are checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devserver/mbservice/microblog.h"
#include "devserver/mbservice/text_codec.h"

namespace mbservice {

// How far a request's timestamp may be from the service's clock, either way.
inline constexpr std::int64_t kTimestampWindowSeconds = 300;

// A request as its signature covers it.
struct SignedRequest {
    std::string method;           // "GET", "POST"
    std::string baseUri;          // "http://host:port/path", without the query
    std::vector<FormPair> params; // the query and the form body, decoded, oauth_signature included
};

enum class OAuthProblem {
    None,
    ParameterAbsent,
    ParameterRejected,
    VersionRejected,
    SignatureMethodRejected,
    ConsumerKeyUnknown,
    TimestampRefused,
    TokenRejected,
    SignatureInvalid,
    NonceUsed,
};

struct OAuthVerdict {
    OAuthProblem problem = OAuthProblem::None;
    // Names of the absent or rejected parameters; the acceptable timestamps for a refused one.
    std::string detail;
    std::string consumerKey;
    std::optional<TokenRecord> token;

    bool Accepted() const { return problem == OAuthProblem::None; }
    // 400 for a request that cannot be judged, 401 for one that is refused.
    int HttpStatus() const;
    // The form-encoded problem report, "oauth_problem=..." first.
    std::string ReplyBody() const;
};

// The signature base string: method, the encoded base URI and the encoded, sorted parameters
// (oauth_signature left out), joined by "&"; the encoding is liboauth's.
std::string SignatureBaseString(const SignedRequest& request);
// liboauth's HMAC-SHA1 signature (Base64) of a base string, keyed with the two secrets.
std::string LiboauthSignature(const std::string& base, const std::string& consumerSecret,
                              const std::string& tokenSecret);
// liboauth's percent-encoding.
std::string OAuthEscape(const std::string& text);

class OAuthVerifier {
public:
    explicit OAuthVerifier(Microblog& microblog) : microblog_(microblog) {}
    // tokenRequired: the request must be made with an access token (all calls but the exchange).
    OAuthVerdict Verify(const SignedRequest& request, bool tokenRequired);

private:
    Microblog& microblog_;
};

} // namespace mbservice
