#include "runtime/core/user_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tavi::runtime {
namespace {

// A compiled statement. One from the store's kept statements (taken by its SQL text, compiled the
// first time) goes back to them reset and unbound when done with; any other is finalized.
class Statement {
public:
    Statement(sqlite3* db, const char* sql, UserStore::KeptStatements* kept = nullptr)
        : kept_(kept), sql_(sql) {
        if (kept_ != nullptr) {
            auto found = kept_->find(sql_);
            if (found != kept_->end()) {
                stmt_ = found->second;
                kept_->erase(found);
                return;
            }
        }
        if (db == nullptr || sqlite3_prepare_v3(db, sql, -1, kept_ ? SQLITE_PREPARE_PERSISTENT : 0, &stmt_,
                                                nullptr) != SQLITE_OK)
            stmt_ = nullptr;
    }
    ~Statement() {
        if (stmt_ == nullptr)
            return;
        if (kept_ != nullptr && kept_->count(sql_) == 0) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
            kept_->emplace(sql_, stmt_);
            return;
        }
        sqlite3_finalize(stmt_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }
    void Text(int index, const std::string& text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }

private:
    UserStore::KeptStatements* kept_;
    std::string_view sql_;
    sqlite3_stmt* stmt_ = nullptr;
};

// Group and other lose every right on the file or folder; false when it is not there.
bool TakeAwayOthersRights(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return false;
    if ((info.st_mode & 077) != 0)
        chmod(path.c_str(), info.st_mode & 07700);
    return true;
}

void MakeFolders(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash != 0)
        MakeFolders(path.substr(0, slash));
    mkdir(path.c_str(), 0755);
}

// The database file exists, private to the user, before SQLite opens it: SQLite would create it
// readable by all, and it gives its journal, WAL and shared-memory files the mode of the database.
// Side files left looser by an earlier version are repaired too.
bool PrepareDatabaseFile(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash != 0) {
        std::string folder = path.substr(0, slash);
        std::size_t above = folder.find_last_of('/');
        if (above != std::string::npos && above != 0)
            MakeFolders(folder.substr(0, above));
        if (!MakePrivateFolder(folder))
            return false;
    }
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat info {};
    if (fstat(fd, &info) == 0 && (info.st_mode & 077) != 0)
        fchmod(fd, info.st_mode & 07700);
    close(fd);
    for (const char* side : {"-journal", "-wal", "-shm"})
        TakeAwayOthersRights(path + side);
    return true;
}

} // namespace

UserStore::UserStore(std::string databasePath) : path_(std::move(databasePath)) {}

UserStore::~UserStore() {
    for (auto& [sql, stmt] : kept_)
        sqlite3_finalize(stmt);
    if (db_)
        sqlite3_close(db_);
}

bool UserStore::Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool UserStore::Run(const char* sql) {
    Statement statement(db_, sql, &kept_);
    return statement && sqlite3_step(statement.get()) == SQLITE_DONE;
}

bool UserStore::Open() {
    if (db_)
        return true;
    if (!PrepareDatabaseFile(path_))
        return false;
    if (sqlite3_open_v2(path_.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    // A process killed in the middle of a save must leave the old map or the new one. In WAL mode
    // a commit is whole once its frames are in the log, and NORMAL keeps that through a crash of
    // the program; only a crash of the whole system may lose the latest commits, never the
    // database. Where WAL is not possible the rollback journal is synced in full instead.
    bool wal = false;
    {
        Statement mode(db_, "PRAGMA journal_mode=WAL");
        if (mode && sqlite3_step(mode.get()) == SQLITE_ROW) {
            auto text = reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0));
            wal = text != nullptr && std::string(text) == "wal";
        }
    }
    Exec(wal ? "PRAGMA synchronous=NORMAL" : "PRAGMA synchronous=FULL");
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
    Statement query(db_, "SELECT 1 FROM user_data_sets WHERE name = ?1 AND account = ?2", &kept_);
    if (!query)
        return false;
    query.Text(1, name);
    query.Text(2, account);
    return sqlite3_step(query.get()) == SQLITE_ROW;
}

bool UserStore::Load(const std::string& name, const std::string& account, Property& data) {
    std::lock_guard<std::mutex> lock(mutex_);
    return Open() && LoadLocked(name, account, data);
}

bool UserStore::LoadLocked(const std::string& name, const std::string& account, Property& data) {
    Statement query(db_, "SELECT key, value FROM user_data WHERE name = ?1 AND account = ?2 ORDER BY key",
                    &kept_);
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

bool UserStore::Save(const std::string& name, const std::string& account, const Property& data,
                     const SavedCallback& saved) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Open() || !Run("BEGIN IMMEDIATE"))
        return false;
    Property previous;
    bool ok = LoadLocked(name, account, previous);
    {
        Statement clear(db_, "DELETE FROM user_data WHERE name = ?1 AND account = ?2", &kept_);
        Statement mark(db_, "INSERT OR IGNORE INTO user_data_sets (name, account) VALUES (?1, ?2)", &kept_);
        Statement insert(db_, "INSERT INTO user_data (name, account, key, value) VALUES (?1, ?2, ?3, ?4)",
                         &kept_);
        ok = ok && clear && mark && insert;
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
    if (!ok || !Run("COMMIT")) {
        Run("ROLLBACK");
        return false;
    }
    if (saved)
        saved(previous);
    return true;
}

std::optional<std::uint32_t> UserStore::GetTimeTag(const std::string& account, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Open())
        return std::nullopt;
    Statement query(db_, "SELECT value FROM time_tags WHERE account = ?1 AND name = ?2", &kept_);
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
    Statement upsert(db_,
                     "INSERT INTO time_tags (account, name, value) VALUES (?1, ?2, ?3)"
                     " ON CONFLICT (account, name) DO UPDATE SET value = excluded.value",
                     &kept_);
    if (!upsert)
        return false;
    upsert.Text(1, account);
    upsert.Text(2, name);
    sqlite3_bind_int64(upsert.get(), 3, value);
    return sqlite3_step(upsert.get()) == SQLITE_DONE;
}

bool MakePrivateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) == 0)
        return true;
    struct stat info {};
    return errno == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           TakeAwayOthersRights(path);
}

} // namespace tavi::runtime
