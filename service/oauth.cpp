#include "service/oauth.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

#include "host/common.h"

namespace microblog {

std::string PercentEncode(const std::string& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (unsigned char c : bytes) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

namespace {
int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}
} // namespace

std::string PercentDecode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        // The token reply is not an HTML form: '+' is a character of the value, not a blank.
        if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string OAuthParamMap::Join() const {
    std::string out;
    for (const auto& [name, value] : entries_) {
        if (!out.empty())
            out.push_back('&');
        out += name;
        out.push_back('=');
        out += value;
    }
    return out;
}

NonceCounter::NonceCounter() {
    std::random_device source;
    char text[24];
    std::snprintf(text, sizeof(text), "%08x%08x-", source(), source());
    salt_ = text;
}

unsigned NonceCounter::Next() {
    unsigned current = value_.load();
    unsigned next;
    do {
        next = current > 1000 ? 0 : current + 1;
    } while (!value_.compare_exchange_weak(current, next));
    return next;
}

void InitOAuthParams(OAuthParamMap& map, const OAuthSigner& signer) {
    map.Clear();
    map.Set("oauth_consumer_key", PercentEncode(signer.consumerKey));
    map.Set("oauth_signature_method", PercentEncode(signer.signatureMethod));
    map.Set("oauth_timestamp", "");
    map.Set("oauth_nonce", "");
    map.Set("oauth_version", PercentEncode(signer.version));
}

void AddRequestParams(OAuthParamMap& map, const OAuthSigner& signer, const RequestParams& params) {
    InitOAuthParams(map, signer);
    for (const auto& [name, value] : params)
        map.Insert(name, PercentEncode(tavi::string2CString(tavi::CString_to_utf8(value))));
}

std::string MakeTimestamp() {
    // Seconds since the epoch; through localtime and mktime, as the local clock gives them.
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::time_t back = std::mktime(&local);
    char text[32];
    std::snprintf(text, sizeof(text), "%d", static_cast<int>(back));
    return text;
}

std::string MakeNonce(unsigned counterValue, const std::string& salt) {
    char digits[16];
    std::snprintf(digits, sizeof(digits), "%d", static_cast<int>(counterValue));
    return tavi::GetMD5(salt + digits);
}

std::string ComputeSignature(OAuthParamMap& map, const OAuthSigner& signer, const std::string& methodPrefix,
                             const std::string& path, bool withToken, const std::string& timestamp,
                             const std::string& nonce, std::string* base) {
    if (withToken)
        map.Set("oauth_token", PercentEncode(signer.token));
    map.Set("oauth_timestamp", PercentEncode(timestamp));
    map.Set("oauth_nonce", PercentEncode(nonce));

    std::string baseString = methodPrefix + PercentEncode(signer.apiRoot + path) + "&" + PercentEncode(map.Join());
    baseString = tavi::CString_to_utf8(baseString);
    std::string key = signer.consumerSecret + "&" + (withToken ? signer.tokenSecret : std::string());

    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int digestLength = sizeof(digest);
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(baseString.data()),
         baseString.size(), digest, &digestLength);
    if (base)
        *base = baseString;
    return tavi::base64_encode(digest, digestLength);
}

std::string BuildSignedQuery(OAuthParamMap& map, const OAuthSigner& signer, const std::string& methodPrefix,
                             const std::string& path, bool withToken, const std::string& timestamp,
                             const std::string& nonce, std::string* base) {
    std::string signature = ComputeSignature(map, signer, methodPrefix, path, withToken, timestamp, nonce, base);
    map.Set("oauth_signature", PercentEncode(signature));
    std::string query = map.Join();
    map.Clear();
    return query;
}

bool ParseAccessTokenReply(const std::string& body, std::string& token, std::string& tokenSecret) {
    bool haveToken = false, haveSecret = false;
    std::string foundToken, foundSecret;
    std::size_t start = 0;
    // Form-encoded pairs; a line break ends the body as some services add one.
    std::string text = body.substr(0, body.find_first_of("\r\n"));
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string::npos)
            end = text.size();
        std::string pair = text.substr(start, end - start);
        std::size_t equals = pair.find('=');
        if (equals != std::string::npos) {
            std::string name = PercentDecode(pair.substr(0, equals));
            std::string value = PercentDecode(pair.substr(equals + 1));
            if (name == "oauth_token") {
                foundToken = value;
                haveToken = true;
            } else if (name == "oauth_token_secret") {
                foundSecret = value;
                haveSecret = true;
            }
        }
        start = end + 1;
    }
    if (!haveToken || !haveSecret || foundToken.empty() || foundSecret.empty())
        return false;
    token = foundToken;
    tokenSecret = foundSecret;
    return true;
}

} // namespace microblog
