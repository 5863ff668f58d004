// Schema, accounts, tokens and nonces of the microblog, and the helpers shared by its operations.
#include "devserver/mbservice/microblog.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "devserver/mbservice/text_codec.h"

namespace mbservice {

namespace {

// Ids start where a long-running service would be, so that they look like real ones.
constexpr std::int64_t kAccountIdBase = 1860000000;

std::string Hex(const unsigned char* bytes, std::size_t count) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 0x0F]);
    }
    return out;
}

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return out;
}

bool IsCjk(char32_t cp) {
    return (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0x3400 && cp <= 0x4DBF) || (cp >= 0xF900 && cp <= 0xFAFF);
}

} // namespace

ApiReply ErrorReply(int status, std::string_view text) {
    return ApiReply{status, nlohmann::json{{"error_code", status}, {"error", std::string(text)}}};
}

bool IsValidNickname(std::string_view nickname) {
    if (!IsValidUtf8(nickname))
        return false;
    std::size_t units = 0;
    for (const char32_t cp : DecodeUtf8(nickname)) {
        const bool ascii = (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z') || (cp >= '0' && cp <= '9') ||
                           cp == '_' || cp == '-';
        if (ascii)
            units += 1;
        else if (IsCjk(cp))
            units += 2;
        else
            return false;
    }
    return units >= 2 && units <= 24;
}

std::string FormatCreatedAt(std::int64_t epochSeconds) {
    static constexpr std::array<const char*, 7> days = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto when = static_cast<std::time_t>(epochSeconds);
    std::tm local{};
    localtime_r(&when, &local);
    const long offset = local.tm_gmtoff / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%s %s %02d %02d:%02d:%02d %c%02ld%02ld %04d",
                  days[local.tm_wday % 7], months[local.tm_mon % 12], local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60,
                  local.tm_year + 1900);
    return text.data();
}

std::string Md5Hex(std::string_view text) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_md5(), nullptr) != 1)
        throw StoreError("MD5 is not available");
    return Hex(digest.data(), length);
}

std::string RandomHex(std::size_t bytes) {
    std::vector<unsigned char> random(bytes);
    if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1)
        throw StoreError("no random bytes");
    return Hex(random.data(), random.size());
}

Microblog::Microblog(Database& db, const ServiceClock& clock, ServiceUrls urls)
    : db_(db), clock_(clock), urls_(std::move(urls)) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    CreateSchema();
    AddConsumer(kTaviConsumerKey, kTaviConsumerSecret, "TAVI");
}

void Microblog::CreateSchema() {
    db_.Exec(R"sql(
        CREATE TABLE IF NOT EXISTS consumers(
            key TEXT PRIMARY KEY, secret TEXT NOT NULL, name TEXT NOT NULL);
        CREATE TABLE IF NOT EXISTS accounts(
            id INTEGER PRIMARY KEY, email TEXT NOT NULL UNIQUE COLLATE NOCASE,
            password_md5 TEXT NOT NULL, barred INTEGER NOT NULL DEFAULT 0, created_at INTEGER NOT NULL);
        CREATE TABLE IF NOT EXISTS users(
            id INTEGER PRIMARY KEY REFERENCES accounts(id),
            screen_name TEXT NOT NULL UNIQUE COLLATE NOCASE, name TEXT NOT NULL UNIQUE COLLATE NOCASE,
            description TEXT NOT NULL DEFAULT '', location TEXT NOT NULL DEFAULT '',
            gender TEXT NOT NULL DEFAULT 'n', created_at INTEGER NOT NULL,
            home_read_id INTEGER NOT NULL DEFAULT 0, mentions_read_id INTEGER NOT NULL DEFAULT 0);
        CREATE TABLE IF NOT EXISTS follows(
            follower INTEGER NOT NULL REFERENCES users(id), followee INTEGER NOT NULL REFERENCES users(id),
            PRIMARY KEY(follower, followee));
        CREATE TABLE IF NOT EXISTS tokens(
            token TEXT PRIMARY KEY, secret TEXT NOT NULL, account_id INTEGER NOT NULL REFERENCES accounts(id),
            consumer_key TEXT NOT NULL REFERENCES consumers(key), created_at INTEGER NOT NULL);
        CREATE TABLE IF NOT EXISTS nonces(
            consumer_key TEXT NOT NULL, token TEXT NOT NULL, timestamp INTEGER NOT NULL, nonce TEXT NOT NULL,
            PRIMARY KEY(consumer_key, token, timestamp, nonce));
        CREATE INDEX IF NOT EXISTS nonces_by_time ON nonces(timestamp);
        CREATE TABLE IF NOT EXISTS statuses(
            id INTEGER PRIMARY KEY, user_id INTEGER NOT NULL REFERENCES users(id), text TEXT NOT NULL,
            created_at INTEGER NOT NULL, source TEXT NOT NULL, kind INTEGER NOT NULL,
            parent_id INTEGER NOT NULL DEFAULT 0, root_id INTEGER NOT NULL DEFAULT 0,
            deleted INTEGER NOT NULL DEFAULT 0);
        CREATE INDEX IF NOT EXISTS statuses_by_user ON statuses(user_id, id);
        CREATE INDEX IF NOT EXISTS statuses_by_parent ON statuses(parent_id);
        CREATE TABLE IF NOT EXISTS favorites(
            user_id INTEGER NOT NULL REFERENCES users(id), status_id INTEGER NOT NULL REFERENCES statuses(id),
            created_at INTEGER NOT NULL, PRIMARY KEY(user_id, status_id));
        CREATE TABLE IF NOT EXISTS pictures(
            code TEXT PRIMARY KEY, caption TEXT NOT NULL, color TEXT NOT NULL);
    )sql");
}

void Microblog::AddConsumer(std::string_view key, std::string_view secret, std::string_view name) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    db_.Prepare("INSERT OR REPLACE INTO consumers(key, secret, name) VALUES(?, ?, ?)")
        .Bind(1, key)
        .Bind(2, secret)
        .Bind(3, name)
        .Run();
}

std::optional<std::string> Microblog::ConsumerSecret(std::string_view key) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    Statement query = db_.Prepare("SELECT secret FROM consumers WHERE key = ?");
    query.Bind(1, key);
    if (!query.Step())
        return std::nullopt;
    return query.Text(0);
}

std::optional<TokenRecord> Microblog::FindToken(std::string_view token) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    Statement query =
        db_.Prepare("SELECT token, secret, consumer_key, account_id FROM tokens WHERE token = ?");
    query.Bind(1, token);
    if (!query.Step())
        return std::nullopt;
    return TokenRecord{query.Text(0), query.Text(1), query.Text(2), query.Int(3)};
}

bool Microblog::RememberNonce(std::string_view consumerKey, std::string_view token, std::int64_t timestamp,
                              std::string_view nonce, std::int64_t keepSeconds) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    db_.Prepare("DELETE FROM nonces WHERE timestamp < ?").Bind(1, clock_.Now() - keepSeconds).Run();
    db_.Prepare("INSERT OR IGNORE INTO nonces(consumer_key, token, timestamp, nonce) VALUES(?, ?, ?, ?)")
        .Bind(1, consumerKey)
        .Bind(2, token)
        .Bind(3, timestamp)
        .Bind(4, nonce)
        .Run();
    return db_.Changes() == 1;
}

std::int64_t Microblog::AddAccount(std::string_view email, std::string_view password, bool barred) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    Statement next = db_.Prepare("SELECT COALESCE(MAX(id), ?) + 1 FROM accounts");
    next.Bind(1, kAccountIdBase);
    next.Step();
    const std::int64_t id = next.Int(0);
    db_.Prepare("INSERT INTO accounts(id, email, password_md5, barred, created_at) VALUES(?, ?, ?, ?, ?)")
        .Bind(1, id)
        .Bind(2, email)
        .Bind(3, Md5Hex(password))
        .Bind(4, barred ? 1 : 0)
        .Bind(5, clock_.Now())
        .Run();
    return id;
}

bool Microblog::HasAccounts() {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    Statement query = db_.Prepare("SELECT 1 FROM accounts LIMIT 1");
    return query.Step();
}

std::optional<TokenRecord> Microblog::SignIn(std::string_view email, std::string_view passwordMd5,
                                             std::string_view consumerKey) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    Statement query = db_.Prepare("SELECT id, password_md5 FROM accounts WHERE email = ?");
    query.Bind(1, email);
    if (!query.Step())
        return std::nullopt;
    const std::int64_t accountId = query.Int(0);
    const std::string stored = query.Text(1);
    const std::string given = LowerAscii(passwordMd5);
    if (given.size() != stored.size() || CRYPTO_memcmp(given.data(), stored.data(), stored.size()) != 0)
        return std::nullopt;
    TokenRecord record{RandomHex(16), RandomHex(20), std::string(consumerKey), accountId};
    db_.Prepare(
           "INSERT INTO tokens(token, secret, account_id, consumer_key, created_at) VALUES(?, ?, ?, ?, ?)")
        .Bind(1, record.token)
        .Bind(2, record.secret)
        .Bind(3, accountId)
        .Bind(4, consumerKey)
        .Bind(5, clock_.Now())
        .Run();
    return record;
}

std::optional<UserRecord> Microblog::FindUser(std::int64_t accountId) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    return LoadUser(accountId);
}

std::optional<UserRecord> Microblog::LoadUser(std::int64_t id) {
    Statement query = db_.Prepare(
        "SELECT id, screen_name, name, description, location, gender, created_at FROM users WHERE id = ?");
    query.Bind(1, id);
    if (!query.Step())
        return std::nullopt;
    return UserRecord{query.Int(0),  query.Text(1), query.Text(2), query.Text(3),
                      query.Text(4), query.Text(5), query.Int(6)};
}

bool Microblog::NicknameTaken(std::string_view nickname, std::int64_t exceptUser) {
    Statement query = db_.Prepare("SELECT 1 FROM users WHERE (name = ?1 OR screen_name = ?1) AND id <> ?2");
    query.Bind(1, nickname).Bind(2, exceptUser);
    return query.Step();
}

std::string Microblog::FreeScreenName(std::string_view email) {
    std::string base;
    for (const char c : email.substr(0, email.find('@'))) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')
            base.push_back(c);
        else if (c >= 'A' && c <= 'Z')
            base.push_back(static_cast<char>(c + 32));
    }
    if (base.empty())
        base = "user";
    std::string candidate = base;
    for (int suffix = 2;; ++suffix) {
        Statement query = db_.Prepare("SELECT 1 FROM users WHERE screen_name = ? OR name = ?");
        query.Bind(1, candidate).Bind(2, candidate);
        if (!query.Step())
            return candidate;
        candidate = base + std::to_string(suffix);
    }
}

std::int64_t Microblog::OpenMicroblog(std::int64_t accountId, std::string_view nickname,
                                      std::int64_t createdAt) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    Statement account = db_.Prepare("SELECT email FROM accounts WHERE id = ?");
    account.Bind(1, accountId);
    if (!account.Step())
        throw StoreError("no account " + std::to_string(accountId));
    const std::int64_t newest = NewestStatusId();
    db_.Prepare("INSERT INTO users(id, screen_name, name, created_at, home_read_id, mentions_read_id) "
                "VALUES(?, ?, ?, ?, ?, ?)")
        .Bind(1, accountId)
        .Bind(2, FreeScreenName(account.Text(0)))
        .Bind(3, nickname)
        .Bind(4, createdAt)
        .Bind(5, newest)
        .Bind(6, newest)
        .Run();
    db_.Prepare("INSERT OR IGNORE INTO follows(follower, followee) SELECT ?1, id FROM users WHERE id <> ?1")
        .Bind(1, accountId)
        .Run();
    db_.Prepare("INSERT OR IGNORE INTO follows(follower, followee) SELECT id, ?1 FROM users WHERE id <> ?1")
        .Bind(1, accountId)
        .Run();
    return accountId;
}

void Microblog::SetProfileDetails(std::int64_t userId, std::string_view location,
                                  std::string_view description) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    db_.Prepare("UPDATE users SET location = ?, description = ? WHERE id = ?")
        .Bind(1, location)
        .Bind(2, description)
        .Bind(3, userId)
        .Run();
}

std::vector<std::int64_t> Microblog::MicroblogUserIds() {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    std::vector<std::int64_t> ids;
    Statement query = db_.Prepare("SELECT id FROM users ORDER BY id");
    while (query.Step())
        ids.push_back(query.Int(0));
    return ids;
}

void Microblog::MarkAllRead() {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    db_.Prepare("UPDATE users SET home_read_id = ?1, mentions_read_id = ?1").Bind(1, NewestStatusId()).Run();
}

void Microblog::AddPicture(std::string_view code, std::string_view caption, std::string_view color) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    db_.Prepare("INSERT OR REPLACE INTO pictures(code, caption, color) VALUES(?, ?, ?)")
        .Bind(1, code)
        .Bind(2, caption)
        .Bind(3, color)
        .Run();
}

std::optional<PictureRecord> Microblog::FindPicture(std::string_view code) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    Statement query = db_.Prepare("SELECT code, caption, color FROM pictures WHERE code = ?");
    query.Bind(1, code);
    if (!query.Step())
        return std::nullopt;
    return PictureRecord{query.Text(0), query.Text(1), query.Text(2)};
}

ApiReply Microblog::Activate(std::int64_t accountId, std::string_view nickname, bool refuseCreation) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    if (LoadUser(accountId))
        return ErrorReply(403, kAlreadyActivated);
    if (!IsValidNickname(nickname))
        return ErrorReply(400, kNicknameInvalid);
    if (NicknameTaken(nickname, 0))
        return ErrorReply(400, kNicknameTaken);
    Statement account = db_.Prepare("SELECT barred FROM accounts WHERE id = ?");
    account.Bind(1, accountId);
    if (!account.Step() || account.Int(0) != 0 || refuseCreation)
        return ErrorReply(403, kCreateUserFailed);
    Transaction transaction(db_);
    OpenMicroblog(accountId, nickname, clock_.Now());
    transaction.Commit();
    return ApiReply{200, UserJson(*LoadUser(accountId), accountId)};
}

ApiReply Microblog::UpdateProfile(const UserRecord& me, std::string_view nickname) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    if (!IsValidNickname(nickname))
        return ErrorReply(400, kNicknameInvalid);
    if (NicknameTaken(nickname, me.id))
        return ErrorReply(400, kNicknameTaken);
    db_.Prepare("UPDATE users SET name = ? WHERE id = ?").Bind(1, nickname).Bind(2, me.id).Run();
    return ApiReply{200, UserJson(*LoadUser(me.id), me.id)};
}

ApiReply Microblog::VerifyCredentials(const UserRecord& me) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    std::string status;
    Statement latest = db_.Prepare("SELECT MAX(id) FROM statuses WHERE user_id = ? AND deleted = 0");
    latest.Bind(1, me.id);
    if (latest.Step() && !latest.IsNull(0)) {
        if (const auto row = LoadStatus(latest.Int(0)))
            WriteStatus(status, *row, me.id, false);
    }
    std::string text;
    WriteUser(text, me, me.id, status);
    return ApiReply::Written(std::move(text));
}

} // namespace mbservice
