// The microblog itself: accounts, access tokens, users, statuses, favourites and reminder counters,
// kept in SQLite, and the REST operations on them that answer with the service's JSON.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "devserver/mbservice/database.h"
#include "devserver/mbservice/service_clock.h"

namespace mbservice {

// The consumer credentials of the messenger plug-in, registered with every database.
inline constexpr const char* kTaviConsumerKey = "Rk4wZpT7mQs2Ly9B";
inline constexpr const char* kTaviConsumerSecret = "w7Hc2LqN5tVbX9mR3kPz8YdJ4sFa6GeU";

// The service's own error texts.
inline constexpr const char* kNicknameInvalid = "昵称格式不合法";
inline constexpr const char* kNicknameTaken = "昵称已被占用";
inline constexpr const char* kCreateUserFailed = "创建微博用户失败";
inline constexpr const char* kAlreadyActivated = "该帐号已开通微博";
inline constexpr const char* kNoMicroblogYet = "该帐号尚未开通微博";
inline constexpr const char* kStatusNotFound = "微博不存在或已被删除";
inline constexpr const char* kEmptyStatus = "微博内容不能为空";
inline constexpr const char* kStatusTooLong = "微博内容不能超过150个字";
inline constexpr const char* kNotYourStatus = "不能删除别人的微博";
inline constexpr const char* kAlreadyFavorite = "已经收藏过这条微博";
inline constexpr const char* kNotFavorite = "没有收藏这条微博";
inline constexpr const char* kDeletedStatusText = "此微博已被原作者删除";
inline constexpr const char* kPlainRetweetText = "转发微博";

// Longest status text, in characters (a CR LF line break counts as one).
inline constexpr std::size_t kMaxStatusChars = 150;
// Most statuses one timeline request returns.
inline constexpr int kMaxTimelineCount = 200;

// Where the service is reached: the origin of the REST interface, the web site and the pictures.
struct ServiceUrls {
    std::string origin;        // "http://127.0.0.1:8990"
    std::string picturePrefix; // origin + "/p/" unless configured
    std::string ApiRoot() const { return origin + "/"; }
    std::string WebRoot() const { return origin + "/web"; }
};

struct AccountRecord {
    std::int64_t id = 0;
    std::string email;
    std::string passwordMd5;
    bool barred = false;
};

struct TokenRecord {
    std::string token;
    std::string secret;
    std::string consumerKey;
    std::int64_t accountId = 0;
};

struct UserRecord {
    std::int64_t id = 0;
    std::string screenName;
    std::string name;
    std::string description;
    std::string location;
    std::string gender;
    std::int64_t createdAt = 0;
};

struct PictureRecord {
    std::string code;
    std::string caption;
    std::string color;
};

// One answer of the REST interface.
struct ApiReply {
    ApiReply(int status, nlohmann::json body) : status(status), body(std::move(body)) {}
    // A reply whose body is JSON text already written (the status and user replies, where building
    // a tree first cost most of a timeline request); sent as it stands.
    static ApiReply Written(std::string text) {
        ApiReply reply(200, nullptr);
        reply.text = std::move(text);
        return reply;
    }

    int status = 200;
    nlohmann::json body;
    std::string text; // when not empty, sent instead of body
};
ApiReply ErrorReply(int status, std::string_view text);

enum class StatusKind { Original, Retweet, Comment };

// A nickname is 2 to 24 units long, where a letter, digit, "_" or "-" counts one and a Chinese
// character two (the 12 characters that the open-account panel allows); nothing else is allowed.
bool IsValidNickname(std::string_view nickname);
// The service's creation time text, such as "Tue Dec 08 09:05:00 +0800 2025", in local time.
std::string FormatCreatedAt(std::int64_t epochSeconds);
// Lower-case hexadecimal MD5 of the text, the form in which clients send and the service keeps passwords.
std::string Md5Hex(std::string_view text);
// A fresh random token of 2 * bytes hexadecimal digits.
std::string RandomHex(std::size_t bytes);

class Microblog {
public:
    Microblog(Database& db, const ServiceClock& clock, ServiceUrls urls);

    const ServiceUrls& Urls() const { return urls_; }
    const ServiceClock& Clock() const { return clock_; }

    // Runs work as one transaction under the data lock.
    template <class Work> void Atomically(Work&& work) {
        std::lock_guard<std::recursive_mutex> hold(dataLock_);
        Transaction transaction(db_);
        work();
        transaction.Commit();
    }

    // What the signature check needs.
    void AddConsumer(std::string_view key, std::string_view secret, std::string_view name);
    std::optional<std::string> ConsumerSecret(std::string_view key);
    std::optional<TokenRecord> FindToken(std::string_view token);
    // Records the nonce of a verified request; false when the same consumer, token, timestamp and
    // nonce were seen before. Entries older than keepSeconds are forgotten.
    bool RememberNonce(std::string_view consumerKey, std::string_view token, std::int64_t timestamp,
                       std::string_view nonce, std::int64_t keepSeconds);

    // Accounts and sign-in.
    std::int64_t AddAccount(std::string_view email, std::string_view password, bool barred);
    bool HasAccounts();
    // The xAuth exchange: a new token for the account when passwordMd5 matches, else none.
    std::optional<TokenRecord> SignIn(std::string_view email, std::string_view passwordMd5,
                                      std::string_view consumerKey);
    std::optional<UserRecord> FindUser(std::int64_t accountId);
    // Opens the microblog of an account, following and followed by every other user.
    std::int64_t OpenMicroblog(std::int64_t accountId, std::string_view nickname, std::int64_t createdAt);
    void SetProfileDetails(std::int64_t userId, std::string_view location, std::string_view description);

    // Data for the seed and the activity generator.
    std::int64_t AddStatus(std::int64_t userId, std::string_view text, StatusKind kind, std::int64_t parentId,
                           std::int64_t createdAt, std::string_view source);
    void AddFavorite(std::int64_t userId, std::int64_t statusId);
    void AddPicture(std::string_view code, std::string_view caption, std::string_view color);
    std::optional<PictureRecord> FindPicture(std::string_view code);
    std::vector<std::int64_t> MicroblogUserIds();
    // Clears every user's reminder counters.
    void MarkAllRead();

    // The REST operations; me is the signed-in user.
    ApiReply VerifyCredentials(const UserRecord& me);
    ApiReply HomeTimeline(const UserRecord& me, int count, std::int64_t sinceId, std::int64_t maxId);
    ApiReply Mentions(const UserRecord& me, int count, std::int64_t sinceId, std::int64_t maxId);
    ApiReply Update(const UserRecord& me, std::string_view text, std::string_view source);
    ApiReply Retweet(const UserRecord& me, std::int64_t id, std::string_view text, bool alsoComment,
                     bool alsoCommentRoot, std::string_view source);
    ApiReply Reply(const UserRecord& me, std::int64_t id, std::string_view text, bool alsoRetweet,
                   bool alsoCommentRoot, std::string_view source);
    ApiReply Destroy(const UserRecord& me, std::int64_t id);
    ApiReply CreateFavorite(const UserRecord& me, std::int64_t id);
    ApiReply DestroyFavorite(const UserRecord& me, std::int64_t id);
    ApiReply UpdateProfile(const UserRecord& me, std::string_view nickname);
    ApiReply Activate(std::int64_t accountId, std::string_view nickname, bool refuseCreation);
    ApiReply Reminds(const UserRecord& me);

    // The public page of a user: the user, their statuses, the statuses that mention them, the
    // comments on their statuses and their favourites; none for an unknown screen name.
    std::optional<nlohmann::json> PublicProfile(std::string_view screenName);

private:
    struct StatusRow {
        std::int64_t id = 0;
        std::int64_t userId = 0;
        std::string text;
        std::int64_t createdAt = 0;
        std::string source;
        StatusKind kind = StatusKind::Original;
        std::int64_t parentId = 0;
        std::int64_t rootId = 0;
        bool deleted = false;
    };

    void CreateSchema();
    std::optional<StatusRow> LoadStatus(std::int64_t id);
    std::optional<StatusRow> LoadLiveStatus(std::int64_t id);
    std::vector<StatusRow> LoadStatuses(Statement& query);
    std::optional<UserRecord> LoadUser(std::int64_t id);
    std::int64_t NewestStatusId();
    bool NicknameTaken(std::string_view nickname, std::int64_t exceptUser);
    std::string FreeScreenName(std::string_view email);
    nlohmann::json UserJson(const UserRecord& user, std::int64_t viewer);
    // What one reply has read already: a timeline names the same few users and statuses many times,
    // and each is read and made once for the reply.
    struct ReplyCache {
        std::unordered_map<std::int64_t, std::optional<UserRecord>> users;
        std::unordered_map<std::int64_t, std::string> userText;
        std::unordered_map<std::int64_t, std::optional<StatusRow>> statuses;
    };
    // The JSON of a user (with its latest status's JSON when given) and of a status, written as
    // text: the same bytes the library's tree would give.
    void WriteUser(std::string& out, const UserRecord& user, std::int64_t viewer,
                   std::string_view status = {});
    void WriteStatus(std::string& out, const StatusRow& status, std::int64_t viewer, bool nest,
                     ReplyCache* cache = nullptr);
    ApiReply StatusReply(const StatusRow& status, std::int64_t viewer);
    std::string StatusArrayText(const std::vector<StatusRow>& statuses, std::int64_t viewer);
    std::int64_t Post(const UserRecord& me, std::string_view text, StatusKind kind, const StatusRow* parent,
                      std::string_view source);

    Database& db_;
    const ServiceClock& clock_;
    ServiceUrls urls_;
    // Guards the connection: one operation (or one seed) at a time, each whole.
    std::recursive_mutex dataLock_;
};

} // namespace mbservice
