#include "service/oauth.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/params.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
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

// Writes the encoding of the bytes at to, which has room for three bytes per input byte and three
// more, and returns the end of what was written. Each byte writes its whole word and advances by
// its length, with no branch on the kind of byte.
char* WritePercentEncoded(char* to, const char* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(bytes[i]);
        std::memcpy(to, kEncoded.text[c], 4);
        to += kEncoded.length[c];
    }
    return to;
}

char* WriteText(char* to, std::string_view text) {
    std::memcpy(to, text.data(), text.size());
    return to + text.size();
}

} // namespace

std::string PercentEncode(const std::string& bytes) {
    // Encoded on the stack first when short, so that the result is made at its exact size and a
    // short one stays inside the string itself.
    constexpr std::size_t kOnStack = 256;
    if (bytes.size() > kOnStack) {
        std::string out(3 * bytes.size() + 3, '\0');
        out.resize(static_cast<std::size_t>(WritePercentEncoded(out.data(), bytes.data(), bytes.size()) -
                                            out.data()));
        return out;
    }
    char text[3 * kOnStack + 3];
    return std::string(
        text, static_cast<std::size_t>(WritePercentEncoded(text, bytes.data(), bytes.size()) - text));
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

void OAuthParamMap::InsertInOrder(std::span<Map::value_type> entries) {
    // Merged in place: the present entries move to the back of the grown list, and the merge
    // writes from the front, never past what it has still to read.
    std::vector<Map::value_type>& items = entries_.items_;
    std::size_t present = items.size();
    std::size_t gap = entries.size();
    // Nothing to insert: the entries stay where they are (moving them onto themselves would
    // empty them).
    if (gap == 0)
        return;
    if (items.capacity() < present + gap)
        items.reserve(std::max(kTypicalEntries, present + gap));
    items.resize(present + gap);
    std::move_backward(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(present), items.end());
    std::size_t read = gap;
    std::size_t write = 0;
    for (Map::value_type& entry : entries) {
        while (read < items.size() && items[read].first < entry.first)
            items[write++] = std::move(items[read++]);
        if (read < items.size() && items[read].first == entry.first)
            continue;
        items[write++] = std::move(entry);
    }
    // With nothing inserted the rest is already in place.
    if (write != read)
        while (read < items.size())
            items[write++] = std::move(items[read++]);
    else
        write = items.size();
    items.resize(write);
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

void OAuthParamMap::Append(const char* name, std::string encodedValue) {
    if (entries_.items_.capacity() == 0)
        entries_.items_.reserve(kTypicalEntries);
    entries_.items_.emplace_back(name, std::move(encodedValue));
}

void InitOAuthParams(OAuthParamMap& map, const OAuthSigner& signer) {
    // The map is empty and these names are in byte order, so each goes at the end.
    map.Clear();
    map.Append("oauth_consumer_key", PercentEncode(signer.consumerKey));
    map.Append("oauth_nonce", std::string());
    map.Append("oauth_signature_method", PercentEncode(signer.signatureMethod));
    map.Append("oauth_timestamp", std::string());
    map.Append("oauth_version", PercentEncode(signer.version));
}

void AddRequestParams(OAuthParamMap& map, const OAuthSigner& signer, const RequestParams& params) {
    InitOAuthParams(map, signer);
    // The UTF-8 text is already the narrow string the encoder takes (the host's string2CString is
    // the identity here), so it is encoded as it comes from the conversion.
    // A request's few parameters are encoded into a list on the stack.
    constexpr std::size_t kOnStack = 8;
    std::array<OAuthParamMap::Map::value_type, kOnStack> onStack;
    std::vector<OAuthParamMap::Map::value_type> onHeap;
    std::span<OAuthParamMap::Map::value_type> entries(onStack.data(), params.size());
    if (params.size() > kOnStack) {
        onHeap.resize(params.size());
        entries = onHeap;
    }
    std::size_t at = 0;
    for (const auto& [name, value] : params)
        entries[at++] = {name, PercentEncode(tavi::CString_to_utf8(value))};
    map.InsertInOrder(entries);
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
    // The counter's value in decimal, as "%d" writes it, after the salt.
    char digits[16];
    char* end = std::to_chars(digits, digits + sizeof(digits), static_cast<int>(counterValue)).ptr;
    std::string text;
    text.reserve(salt.size() + static_cast<std::size_t>(end - digits));
    text.append(salt).append(digits, end);
    return tavi::GetMD5(text);
}

namespace {

// HMAC-SHA1 of the bytes under the key, into digest (room for EVP_MAX_MD_SIZE); its length. Each
// thread looks the MAC up once and keeps one context set to SHA-1, keyed afresh for each signature:
// the one-shot call looks the MAC and the digest up again, under the library's lock, and makes and
// frees a context, every time. Both are freed when the thread ends.
std::size_t HmacSha1(const char* key, std::size_t keyLength, const char* bytes, std::size_t length,
                     unsigned char* digest) {
    struct Context {
        EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
        EVP_MAC_CTX* ctx = nullptr;
        Context() {
            if (mac == nullptr)
                return;
            ctx = EVP_MAC_CTX_new(mac);
            char digestName[] = "SHA1";
            OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName, 0),
                                   OSSL_PARAM_construct_end()};
            if (ctx != nullptr && EVP_MAC_CTX_set_params(ctx, params) != 1) {
                EVP_MAC_CTX_free(ctx);
                ctx = nullptr;
            }
        }
        ~Context() {
            EVP_MAC_CTX_free(ctx);
            EVP_MAC_free(mac);
        }
        Context(const Context&) = delete;
        Context& operator=(const Context&) = delete;
    };
    thread_local Context context;
    std::size_t written = 0;
    if (context.ctx != nullptr &&
        EVP_MAC_init(context.ctx, reinterpret_cast<const unsigned char*>(key), keyLength, nullptr) == 1 &&
        EVP_MAC_update(context.ctx, reinterpret_cast<const unsigned char*>(bytes), length) == 1 &&
        EVP_MAC_final(context.ctx, digest, &written, EVP_MAX_MD_SIZE) == 1)
        return written;
    unsigned int oneShot = EVP_MAX_MD_SIZE;
    HMAC(EVP_sha1(), key, static_cast<int>(keyLength), reinterpret_cast<const unsigned char*>(bytes), length,
         digest, &oneShot);
    return oneShot;
}

} // namespace

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
    // Room for the longest base string (every byte escaped) is made once and written through.
    std::size_t bound = methodPrefix.size() + 3 * (signer.apiRoot.size() + path.size()) + 1 + 3;
    for (const auto& [name, value] : map.Entries())
        bound += 3 * (name.size() + value.size()) + 6;
    // It is written on the stack when it fits, as a request's base string does.
    char onStack[4096];
    std::unique_ptr<char[]> onHeap;
    char* baseString = onStack;
    if (bound > sizeof(onStack)) {
        onHeap = std::make_unique<char[]>(bound);
        baseString = onHeap.get();
    }
    char* to = WriteText(baseString, methodPrefix);
    to = WritePercentEncoded(to, signer.apiRoot.data(), signer.apiRoot.size());
    to = WritePercentEncoded(to, path.data(), path.size());
    *to++ = '&';
    bool first = true;
    for (const auto& [name, value] : map.Entries()) {
        if (!first)
            to = WriteText(to, "%26");
        first = false;
        to = WritePercentEncoded(to, name.data(), name.size());
        to = WriteText(to, "%3D");
        to = WritePercentEncoded(to, value.data(), value.size());
    }
    auto baseLength = static_cast<std::size_t>(to - baseString);

    // The key is built on the stack when it fits, as it does with secrets of the usual length.
    std::size_t keyLength = signer.consumerSecret.size() + 1 + (withToken ? signer.tokenSecret.size() : 0);
    char keyOnStack[256];
    std::string keyOnHeap;
    char* key = keyOnStack;
    if (keyLength > sizeof(keyOnStack)) {
        keyOnHeap.resize(keyLength);
        key = keyOnHeap.data();
    }
    std::memcpy(key, signer.consumerSecret.data(), signer.consumerSecret.size());
    key[signer.consumerSecret.size()] = '&';
    if (withToken)
        std::memcpy(key + signer.consumerSecret.size() + 1, signer.tokenSecret.data(),
                    signer.tokenSecret.size());

    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    std::size_t digestLength = HmacSha1(key, keyLength, baseString, baseLength, digest);
    if (base)
        base->assign(baseString, baseLength);
    return tavi::base64_encode(digest, digestLength);
}

std::string BuildSignedQuery(OAuthParamMap& map, const OAuthSigner& signer, const std::string& methodPrefix,
                             const std::string& path, bool withToken, const std::string& timestamp,
                             const std::string& nonce, std::string* base) {
    std::string signature =
        ComputeSignature(map, signer, methodPrefix, path, withToken, timestamp, nonce, base);
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
