#include "devserver/imserver/settings_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <ctime>

#include "host/common.h"

namespace imserver {
namespace {

class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (db == nullptr || sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }
    // Texts are kept as UTF-8 in the database.
    void Text(int index, const std::string& narrow) {
        std::string utf8 = tavi::CString_to_utf8(narrow);
        sqlite3_bind_text(stmt_, index, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    }
    bool Done() { return sqlite3_step(stmt_) == SQLITE_DONE; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

} // namespace

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {}

SettingsStore::~SettingsStore() {
    if (db_)
        sqlite3_close(db_);
}

bool SettingsStore::Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool SettingsStore::Open(std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (db_)
        return true;
    if (sqlite3_open_v2(path_.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    if (!Exec("CREATE TABLE IF NOT EXISTS accounts ("
              " account TEXT PRIMARY KEY, credential TEXT NOT NULL);"
              "CREATE TABLE IF NOT EXISTS user_data ("
              " account TEXT NOT NULL, name TEXT NOT NULL, time_tag INTEGER NOT NULL,"
              " PRIMARY KEY (account, name));"
              "CREATE TABLE IF NOT EXISTS user_data_entries ("
              " account TEXT NOT NULL, name TEXT NOT NULL, key INTEGER NOT NULL, value BLOB NOT NULL,"
              " PRIMARY KEY (account, name, key));")) {
        error = sqlite3_errmsg(db_);
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    return true;
}

bool SettingsStore::SetAccount(const std::string& account, const std::string& credential) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement upsert(db_, "INSERT INTO accounts (account, credential) VALUES (?1, ?2)"
                          " ON CONFLICT (account) DO UPDATE SET credential = excluded.credential");
    if (!upsert)
        return false;
    upsert.Text(1, account);
    upsert.Text(2, credential);
    return upsert.Done();
}

std::optional<std::string> SettingsStore::GetCredential(const std::string& account) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement query(db_, "SELECT credential FROM accounts WHERE account = ?1");
    if (!query)
        return std::nullopt;
    query.Text(1, account);
    if (sqlite3_step(query.get()) != SQLITE_ROW)
        return std::nullopt;
    auto text = reinterpret_cast<const char*>(sqlite3_column_text(query.get(), 0));
    return text ? std::string(text) : std::string();
}

bool SettingsStore::Load(const std::string& account, const std::string& name, Tagged& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    out = Tagged{};
    Statement tag(db_, "SELECT time_tag FROM user_data WHERE account = ?1 AND name = ?2");
    Statement entries(db_, "SELECT key, value FROM user_data_entries WHERE account = ?1 AND name = ?2");
    if (!tag || !entries)
        return false;
    tag.Text(1, account);
    tag.Text(2, name);
    int step = sqlite3_step(tag.get());
    if (step == SQLITE_DONE)
        return true; // nothing stored: tag 0, no entries
    if (step != SQLITE_ROW)
        return false;
    out.timeTag = static_cast<std::uint32_t>(sqlite3_column_int64(tag.get(), 0));
    entries.Text(1, account);
    entries.Text(2, name);
    while ((step = sqlite3_step(entries.get())) == SQLITE_ROW) {
        auto key = static_cast<std::uint32_t>(sqlite3_column_int64(entries.get(), 0));
        auto bytes = static_cast<const char*>(sqlite3_column_blob(entries.get(), 1));
        int size = sqlite3_column_bytes(entries.get(), 1);
        out.data.SetBytes(key, bytes ? std::string(bytes, static_cast<std::size_t>(size)) : std::string());
    }
    return step == SQLITE_DONE;
}

std::optional<std::uint32_t> SettingsStore::Merge(const std::string& account, const std::string& name,
                                                  const tavi::Property& entries) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Exec("BEGIN IMMEDIATE"))
        return std::nullopt;
    bool ok = false;
    std::uint32_t next = 0;
    {
        Statement last(db_, "SELECT time_tag FROM user_data WHERE account = ?1 AND name = ?2");
        Statement tag(db_, "INSERT INTO user_data (account, name, time_tag) VALUES (?1, ?2, ?3)"
                           " ON CONFLICT (account, name) DO UPDATE SET time_tag = excluded.time_tag");
        Statement put(db_, "INSERT INTO user_data_entries (account, name, key, value) VALUES (?1, ?2, ?3, ?4)"
                           " ON CONFLICT (account, name, key) DO UPDATE SET value = excluded.value");
        if (last && tag && put) {
            last.Text(1, account);
            last.Text(2, name);
            int step = sqlite3_step(last.get());
            std::int64_t previous = step == SQLITE_ROW ? sqlite3_column_int64(last.get(), 0) : 0;
            // The tag is the time of the change in seconds, and always later than the one before.
            std::int64_t candidate =
                std::max<std::int64_t>(previous + 1, static_cast<std::int64_t>(std::time(nullptr)));
            ok = (step == SQLITE_ROW || step == SQLITE_DONE) && candidate <= 0xFFFFFFFFLL;
            next = static_cast<std::uint32_t>(candidate);
        }
        if (ok) {
            tag.Text(1, account);
            tag.Text(2, name);
            sqlite3_bind_int64(tag.get(), 3, next);
            ok = tag.Done();
        }
        for (auto it = entries.GetMap().begin(); ok && it != entries.GetMap().end(); ++it) {
            sqlite3_reset(put.get());
            put.Text(1, account);
            put.Text(2, name);
            sqlite3_bind_int64(put.get(), 3, it->first);
            sqlite3_bind_blob(put.get(), 4, it->second.data(), static_cast<int>(it->second.size()),
                              SQLITE_TRANSIENT);
            ok = put.Done();
        }
    }
    if (!ok || !Exec("COMMIT")) {
        Exec("ROLLBACK");
        return std::nullopt;
    }
    return next;
}

std::uint32_t SettingsStore::LatestTimeTag(const std::string& account) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement query(db_, "SELECT MAX(time_tag) FROM user_data WHERE account = ?1");
    if (!query)
        return 0;
    query.Text(1, account);
    if (sqlite3_step(query.get()) != SQLITE_ROW)
        return 0;
    return static_cast<std::uint32_t>(sqlite3_column_int64(query.get(), 0));
}

} // namespace imserver
