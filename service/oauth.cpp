#include "service/oauth.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <stdexcept>
#include <vector>

#include "host/common.h"

namespace microblog {

namespace {

// For each byte, what goes out for it (itself, or '%' and two upper-case hex digits) in the first
// bytes of a word, and how many bytes of it count.
struct EncodedBytes {
    char text[256][4];
    unsigned char length[256];
};

constexpr EncodedBytes MakeEncodedBytes() {
    EncodedBytes table{};
    const char hex[] = "0123456789ABCDEF";
    for (int c = 0; c < 256; ++c) {
        bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '.' || c == '_' || c == '~';
        if (keep) {
            table.text[c][0] = static_cast<char>(c);
            table.length[c] = 1;
        } else {
            table.text[c][0] = '%';
            table.text[c][1] = hex[c >> 4];
            table.text[c][2] = hex[c & 15];
            table.length[c] = 3;
        }
    }
    return table;
}

constexpr EncodedBytes kEncoded = MakeEncodedBytes();

// Appends the encoding of the bytes to out. The exact room (and three bytes of slack) is made
// once, so a short result stays inside the string itself; each byte then writes its whole word
// and advances by its length, with no branch on the kind of byte.
void AppendPercentEncoded(std::string& out, const char* bytes, std::size_t n) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < n; ++i)
        length += kEncoded.length[static_cast<unsigned char>(bytes[i])];
    std::size_t start = out.size();
    out.resize(start + length + 3);
    char* to = out.data() + start;
    for (std::size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(bytes[i]);
        std::memcpy(to, kEncoded.text[c], 4);
        to += kEncoded.length[c];
    }
    out.resize(start + length);
}

} // namespace

std::string PercentEncode(const std::string& bytes) {
    std::string out;
    AppendPercentEncoded(out, bytes.data(), bytes.size());
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

namespace {
// Room for the OAuth parameters and a few request parameters, made with the first entry.
constexpr std::size_t kTypicalEntries = 16;
} // namespace

std::vector<OAuthParamMap::Map::value_type>::iterator OAuthParamMap::Map::LowerBound(std::string_view name) {
    return std::lower_bound(
        items_.begin(), items_.end(), name,
        [](const value_type& entry, std::string_view wanted) { return entry.first < wanted; });
}

std::size_t OAuthParamMap::Map::count(std::string_view name) const {
    auto found = const_cast<Map*>(this)->LowerBound(name);
    return found != items_.end() && found->first == name ? 1 : 0;
}

const std::string& OAuthParamMap::Map::at(std::string_view name) const {
    auto found = const_cast<Map*>(this)->LowerBound(name);
    if (found == items_.end() || found->first != name)
        throw std::out_of_range("no such OAuth parameter");
    return found->second;
}

void OAuthParamMap::Insert(std::string_view name, std::string encodedValue) {
    if (entries_.items_.capacity() == 0)
        entries_.items_.reserve(kTypicalEntries);
    auto at = entries_.LowerBound(name);
    if (at != entries_.items_.end() && at->first == name)
        return;
    entries_.items_.emplace(at, std::string(name), std::move(encodedValue));
}

void OAuthParamMap::Set(std::string_view name, std::string encodedValue) {
    if (entries_.items_.capacity() == 0)
        entries_.items_.reserve(kTypicalEntries);
    auto at = entries_.LowerBound(name);
    if (at != entries_.items_.end() && at->first == name) {
        at->second = std::move(encodedValue);
        return;
    }
    entries_.items_.emplace(at, std::string(name), std::move(encodedValue));
}

std::string OAuthParamMap::Join() const {
    std::size_t length = 0;
    for (const auto& [name, value] : entries_)
        length += name.size() + value.size() + 2;
    std::string out;
    out.reserve(length);
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
    // The UTF-8 text is already the narrow string the encoder takes (the host's string2CString is
    // the identity here), so it is encoded as it comes from the conversion.
    for (const auto& [name, value] : params)
        map.Insert(name, PercentEncode(tavi::CString_to_utf8(value)));
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

    // The base string is made in one piece: the joined parameters are encoded as they are joined
    // (each name, "=" as %3D, each stored value encoded once more, "&" as %26) rather than joined
    // into a text of their own first. Everything in it is the output of the encoder, plain ASCII,
    // which the conversion to UTF-8 would leave as it is, so it is not converted.
    std::string baseString;
    std::size_t joinedLength = 0;
    for (const auto& [name, value] : map.Entries())
        joinedLength += name.size() + value.size() + 2;
    baseString.reserve(methodPrefix.size() + 3 * (signer.apiRoot.size() + path.size() + joinedLength) + 1);
    baseString += methodPrefix;
    AppendPercentEncoded(baseString, signer.apiRoot.data(), signer.apiRoot.size());
    AppendPercentEncoded(baseString, path.data(), path.size());
    baseString.push_back('&');
    bool first = true;
    for (const auto& [name, value] : map.Entries()) {
        if (!first)
            baseString += "%26";
        first = false;
        AppendPercentEncoded(baseString, name.data(), name.size());
        baseString += "%3D";
        AppendPercentEncoded(baseString, value.data(), value.size());
    }
    std::string key;
    key.reserve(signer.consumerSecret.size() + 1 + signer.tokenSecret.size());
    key += signer.consumerSecret;
    key.push_back('&');
    if (withToken)
        key += signer.tokenSecret;

    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int digestLength = sizeof(digest);
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(baseString.data()), baseString.size(), digest, &digestLength);
    if (base)
        *base = std::move(baseString);
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
