// OAuth 1.0 signing with HMAC-SHA1: the percent-encoding, the sorted parameter map, the base
// string and the signed query or form body, and the reply of the xAuth access-token exchange.
// The service calls these on its worker threads right before each request.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace microblog {

// Every byte outside A-Z a-z 0-9 - . _ ~ becomes %XX with upper-case hex digits.
std::string PercentEncode(const std::string& bytes);
// The reverse, for the token reply: %XX only; '+' stays a '+'. Malformed escapes stay as they are.
std::string PercentDecode(const std::string& text);

struct OAuthSigner;

// Parameter names mapped to already-encoded values, in byte order of the names.
class OAuthParamMap {
public:
    // The entries, sorted by name: a dozen at most, so one small array kept in order serves
    // better than a tree of separately allocated nodes.
    class Map {
    public:
        using value_type = std::pair<std::string, std::string>;
        using const_iterator = std::vector<value_type>::const_iterator;
        const_iterator begin() const { return items_.begin(); }
        const_iterator end() const { return items_.end(); }
        std::size_t size() const { return items_.size(); }
        bool empty() const { return items_.empty(); }
        std::size_t count(std::string_view name) const;
        // The value of the name; throws std::out_of_range when it is not there.
        const std::string& at(std::string_view name) const;

    private:
        friend class OAuthParamMap;
        // The first entry whose name is not before the given one.
        std::vector<value_type>::iterator LowerBound(std::string_view name);
        std::vector<value_type> items_;
    };

    // Request parameters never replace an entry that is there.
    void Insert(std::string_view name, std::string encodedValue);
    // The same for entries given in byte order of their names, with no name twice among them:
    // merged in one pass instead of moving the later entries once per insertion. The entries are
    // moved from.
    void InsertInOrder(std::span<Map::value_type> entries);
    // OAuth parameters (token, timestamp, nonce, signature) always do.
    void Set(std::string_view name, std::string encodedValue);
    void Clear() { entries_.items_.clear(); }
    const Map& Entries() const { return entries_; }
    bool Has(std::string_view name) const { return entries_.count(name) != 0; }
    // name=value pairs joined with '&', in map order.
    std::string Join() const;

private:
    friend void InitOAuthParams(OAuthParamMap& map, const OAuthSigner& signer);
    // Adds an entry whose name comes after every name in the map.
    void Append(const char* name, std::string encodedValue);
    Map entries_;
};

// Request parameters as the operations build them: names to values in the system code page.
using RequestParams = std::map<std::string, std::string>;

// What a request is signed with.
struct OAuthSigner {
    std::string apiRoot;
    std::string consumerKey;
    std::string consumerSecret;
    std::string signatureMethod = "HMAC-SHA1";
    std::string version = "1.0";
    std::string token;
    std::string tokenSecret;
};

// The nonce sequence 1, 2, ..., 1001, 0, 1, ... shared by every request of one service. Safe to
// advance from several workers at once: each gets its own value.
//
// The counter alone would give every plug-in the same nonces: two messenger users signing in
// during the same second (the token exchange has no token to tell them apart) would send the same
// timestamp and nonce, and the service would refuse the second as a replay. Each counter therefore
// carries a salt drawn at random when it is made, which goes in front of the counter's digits.
class NonceCounter {
public:
    NonceCounter();
    unsigned Next();
    void Reset(unsigned value) { value_.store(value); }
    unsigned Current() const { return value_.load(); }
    const std::string& Salt() const { return salt_; }

private:
    std::atomic<unsigned> value_{0};
    std::string salt_;
};

// Fills the map with the consumer key, signature method, empty timestamp and nonce, and version.
void InitOAuthParams(OAuthParamMap& map, const OAuthSigner& signer);
// InitOAuthParams, then every request parameter converted to UTF-8 and percent-encoded.
void AddRequestParams(OAuthParamMap& map, const OAuthSigner& signer, const RequestParams& params);

// The current time in seconds, as decimal text, and the nonce of counter value c: the MD5 of the
// salt followed by "c" in decimal (with no salt, the MD5 of "c").
std::string MakeTimestamp();
std::string MakeNonce(unsigned counterValue, const std::string& salt = std::string());

// Completes token, timestamp and nonce in the map and returns the Base64 HMAC-SHA1 signature.
// With base non-null the signature base string is stored there.
std::string ComputeSignature(OAuthParamMap& map, const OAuthSigner& signer, const std::string& methodPrefix,
                             const std::string& path, bool withToken, const std::string& timestamp,
                             const std::string& nonce, std::string* base = nullptr);
// Signs, adds oauth_signature, returns the joined query (GET) or body (POST) and empties the map.
std::string BuildSignedQuery(OAuthParamMap& map, const OAuthSigner& signer, const std::string& methodPrefix,
                             const std::string& path, bool withToken, const std::string& timestamp,
                             const std::string& nonce, std::string* base = nullptr);

// Reads the form-encoded access-token reply by name, percent-decoding the values. False (and the
// outputs untouched) unless both oauth_token and oauth_token_secret are there.
bool ParseAccessTokenReply(const std::string& body, std::string& token, std::string& tokenSecret);

} // namespace microblog
