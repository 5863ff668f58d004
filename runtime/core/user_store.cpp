#include "runtime/core/user_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

namespace tavi::runtime {
namespace {

// Statement that finalizes itself.
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
    void Text(int index, const std::string& text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

void MakeParentDirectory(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return;
    std::string parent = path.substr(0, slash);
    MakeParentDirectory(parent);
    mkdir(parent.c_str(), 0755);
}

} // namespace

UserStore::UserStore(std::string databasePath) : path_(std::move(databasePath)) {}

UserStore::~UserStore() {
    if (db_)
        sqlite3_close(db_);
}

bool UserStore::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool UserStore::Open() {
    if (db_)
        return true;
    MakeParentDirectory(path_);
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    if (!Exec("CREATE TABLE IF NOT EXISTS user_data ("
              " name TEXT NOT NULL, account TEXT NOT NULL, key INTEGER NOT NULL, value BLOB NOT NULL,"
              " PRIMARY KEY (name, account, key));"
              "CREATE TABLE IF NOT EXISTS user_data_sets ("
              " name TEXT NOT NULL, account TEXT NOT NULL, PRIMARY KEY (name, account));"
              "CREATE TABLE IF NOT EXISTS time_tags ("
              " account TEXT NOT NULL, name TEXT NOT NULL, value INTEGER NOT NULL,"
              " PRIMARY KEY (account, name));")) {
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    return true;
}

bool UserStore::Has(const std::string& name, const std::string& account) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Open())
        return false;
    Statement query(db_, "SELECT 1 FROM user_data_sets WHERE name = ?1 AND account = ?2");
    if (!query)
        return false;
    query.Text(1, name);
    query.Text(2, account);
    return sqlite3_step(query.get()) == SQLITE_ROW;
}

bool UserStore::Load(const std::string& name, const std::string& account, Property& data) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Open())
        return false;
    Statement query(db_, "SELECT key, value FROM user_data WHERE name = ?1 AND account = ?2 ORDER BY key");
    if (!query)
        return false;
    query.Text(1, name);
    query.Text(2, account);
    int step;
    while ((step = sqlite3_step(query.get())) == SQLITE_ROW) {
        auto key = static_cast<std::uint32_t>(sqlite3_column_int64(query.get(), 0));
        auto bytes = static_cast<const char*>(sqlite3_column_blob(query.get(), 1));
        int size = sqlite3_column_bytes(query.get(), 1);
        data.SetBytes(key, bytes ? std::string(bytes, static_cast<std::size_t>(size)) : std::string());
    }
    return step == SQLITE_DONE;
}

bool UserStore::Save(const std::string& name, const std::string& account, const Property& data) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Open() || !Exec("BEGIN IMMEDIATE"))
        return false;
    bool ok = true;
    {
        Statement clear(db_, "DELETE FROM user_data WHERE name = ?1 AND account = ?2");
        Statement mark(db_, "INSERT OR IGNORE INTO user_data_sets (name, account) VALUES (?1, ?2)");
        Statement insert(db_, "INSERT INTO user_data (name, account, key, value) VALUES (?1, ?2, ?3, ?4)");
        ok = clear && mark && insert;
        if (ok) {
            clear.Text(1, name);
            clear.Text(2, account);
            mark.Text(1, name);
            mark.Text(2, account);
            ok = sqlite3_step(clear.get()) == SQLITE_DONE && sqlite3_step(mark.get()) == SQLITE_DONE;
        }
        for (auto it = data.GetMap().begin(); ok && it != data.GetMap().end(); ++it) {
            sqlite3_reset(insert.get());
            insert.Text(1, name);
            insert.Text(2, account);
            sqlite3_bind_int64(insert.get(), 3, it->first);
            sqlite3_bind_blob(insert.get(), 4, it->second.data(), static_cast<int>(it->second.size()),
                              SQLITE_TRANSIENT);
            ok = sqlite3_step(insert.get()) == SQLITE_DONE;
        }
    }
    if (!ok) {
        Exec("ROLLBACK");
        return false;
    }
    return Exec("COMMIT");
}

std::optional<std::uint32_t> UserStore::GetTimeTag(const std::string& account, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Open())
        return std::nullopt;
    Statement query(db_, "SELECT value FROM time_tags WHERE account = ?1 AND name = ?2");
    if (!query)
        return std::nullopt;
    query.Text(1, account);
    query.Text(2, name);
    if (sqlite3_step(query.get()) != SQLITE_ROW)
        return std::nullopt;
    return static_cast<std::uint32_t>(sqlite3_column_int64(query.get(), 0));
}

bool UserStore::SetTimeTag(const std::string& account, const std::string& name, std::uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Open())
        return false;
    Statement upsert(db_, "INSERT INTO time_tags (account, name, value) VALUES (?1, ?2, ?3)"
                          " ON CONFLICT (account, name) DO UPDATE SET value = excluded.value");
    if (!upsert)
        return false;
    upsert.Text(1, account);
    upsert.Text(2, name);
    sqlite3_bind_int64(upsert.get(), 3, value);
    return sqlite3_step(upsert.get()) == SQLITE_DONE;
}

} // namespace tavi::runtime
