#include "devserver/mbservice/oauth_verifier.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include <oauth.h>

namespace mbservice {

namespace {

using MallocText = std::unique_ptr<char, decltype(&std::free)>;

const char* ProblemName(OAuthProblem problem) {
    switch (problem) {
    case OAuthProblem::ParameterAbsent:
        return "parameter_absent";
    case OAuthProblem::ParameterRejected:
        return "parameter_rejected";
    case OAuthProblem::VersionRejected:
        return "version_rejected";
    case OAuthProblem::SignatureMethodRejected:
        return "signature_method_rejected";
    case OAuthProblem::ConsumerKeyUnknown:
        return "consumer_key_unknown";
    case OAuthProblem::TimestampRefused:
        return "timestamp_refused";
    case OAuthProblem::TokenRejected:
        return "token_rejected";
    case OAuthProblem::SignatureInvalid:
        return "signature_invalid";
    case OAuthProblem::NonceUsed:
        return "nonce_used";
    case OAuthProblem::None:
        break;
    }
    return "";
}

OAuthVerdict Refuse(OAuthProblem problem, std::string detail = std::string()) {
    OAuthVerdict verdict;
    verdict.problem = problem;
    verdict.detail = std::move(detail);
    return verdict;
}

bool ParseTimestamp(const std::string& text, std::int64_t& out) {
    if (text.empty() || text.size() > 12 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    out = std::strtoll(text.c_str(), nullptr, 10);
    return true;
}

} // namespace

int OAuthVerdict::HttpStatus() const {
    switch (problem) {
    case OAuthProblem::None:
        return 200;
    case OAuthProblem::ParameterAbsent:
    case OAuthProblem::ParameterRejected:
    case OAuthProblem::VersionRejected:
    case OAuthProblem::SignatureMethodRejected:
        return 400;
    default:
        return 401;
    }
}

std::string OAuthVerdict::ReplyBody() const {
    std::string body = std::string("oauth_problem=") + ProblemName(problem);
    if (problem == OAuthProblem::ParameterAbsent)
        body += "&oauth_parameters_absent=" + OAuthEscape(detail);
    else if (problem == OAuthProblem::ParameterRejected)
        body += "&oauth_parameters_rejected=" + OAuthEscape(detail);
    else if (problem == OAuthProblem::TimestampRefused)
        body += "&oauth_acceptable_timestamps=" + OAuthEscape(detail);
    return body;
}

std::string OAuthEscape(const std::string& text) {
    MallocText escaped(oauth_url_escape(text.c_str()), &std::free);
    return escaped ? std::string(escaped.get()) : std::string();
}

std::string SignatureBaseString(const SignedRequest& request) {
    std::vector<std::pair<std::string, std::string>> encoded;
    encoded.reserve(request.params.size());
    for (const FormPair& param : request.params) {
        if (param.name != "oauth_signature")
            encoded.emplace_back(OAuthEscape(param.name), OAuthEscape(param.value));
    }
    std::sort(encoded.begin(), encoded.end());
    std::string normalized;
    for (const auto& [name, value] : encoded) {
        if (!normalized.empty())
            normalized.push_back('&');
        normalized += name;
        normalized.push_back('=');
        normalized += value;
    }
    return request.method + "&" + OAuthEscape(request.baseUri) + "&" + OAuthEscape(normalized);
}

std::string LiboauthSignature(const std::string& base, const std::string& consumerSecret,
                              const std::string& tokenSecret) {
    const std::string key = OAuthEscape(consumerSecret) + "&" + OAuthEscape(tokenSecret);
    // liboauth starts its crypto library on the first signature without a lock of its own: two
    // first requests at once crashed the service. Signatures are made one at a time.
    static std::mutex signing;
    std::lock_guard<std::mutex> lock(signing);
    MallocText signature(oauth_sign_hmac_sha1_raw(base.data(), base.size(), key.data(), key.size()),
                         &std::free);
    return signature ? std::string(signature.get()) : std::string();
}

OAuthVerdict OAuthVerifier::Verify(const SignedRequest& request, bool tokenRequired) {
    std::map<std::string, std::string> oauth;
    for (const FormPair& param : request.params) {
        if (param.name.rfind("oauth_", 0) != 0)
            continue;
        if (!oauth.emplace(param.name, param.value).second)
            return Refuse(OAuthProblem::ParameterRejected, param.name);
    }

    std::vector<std::string> required = {"oauth_consumer_key", "oauth_signature_method", "oauth_signature",
                                         "oauth_timestamp", "oauth_nonce"};
    if (tokenRequired)
        required.emplace_back("oauth_token");
    std::string absent;
    for (const std::string& name : required) {
        const auto found = oauth.find(name);
        if (found == oauth.end() || found->second.empty())
            absent += (absent.empty() ? "" : "&") + name;
    }
    if (!absent.empty())
        return Refuse(OAuthProblem::ParameterAbsent, absent);

    const auto version = oauth.find("oauth_version");
    if (version != oauth.end() && version->second != "1.0")
        return Refuse(OAuthProblem::VersionRejected);
    if (oauth["oauth_signature_method"] != "HMAC-SHA1")
        return Refuse(OAuthProblem::SignatureMethodRejected);

    const std::string& consumerKey = oauth["oauth_consumer_key"];
    const auto consumerSecret = microblog_.ConsumerSecret(consumerKey);
    if (!consumerSecret)
        return Refuse(OAuthProblem::ConsumerKeyUnknown);

    std::int64_t timestamp = 0;
    if (!ParseTimestamp(oauth["oauth_timestamp"], timestamp))
        return Refuse(OAuthProblem::ParameterRejected, "oauth_timestamp");
    const std::int64_t now = microblog_.Clock().Now();
    if (timestamp < now - kTimestampWindowSeconds || timestamp > now + kTimestampWindowSeconds) {
        return Refuse(OAuthProblem::TimestampRefused, std::to_string(now - kTimestampWindowSeconds) + "-" +
                                                          std::to_string(now + kTimestampWindowSeconds));
    }

    std::optional<TokenRecord> token;
    const auto tokenParam = oauth.find("oauth_token");
    if (tokenParam != oauth.end() && !tokenParam->second.empty()) {
        token = microblog_.FindToken(tokenParam->second);
        if (!token || token->consumerKey != consumerKey)
            return Refuse(OAuthProblem::TokenRejected);
    }

    const std::string expected = LiboauthSignature(SignatureBaseString(request), *consumerSecret,
                                                   token ? token->secret : std::string());
    if (expected.empty() ||
        oauth_time_independent_equals(expected.c_str(), oauth["oauth_signature"].c_str()) == 0)
        return Refuse(OAuthProblem::SignatureInvalid);

    // Only a request that proved its signature may use up a nonce.
    if (!microblog_.RememberNonce(consumerKey, token ? token->token : std::string(), timestamp,
                                  oauth["oauth_nonce"], kTimestampWindowSeconds))
        return Refuse(OAuthProblem::NonceUsed);

    OAuthVerdict verdict;
    verdict.consumerKey = consumerKey;
    verdict.token = std::move(token);
    return verdict;
}

} // namespace mbservice
