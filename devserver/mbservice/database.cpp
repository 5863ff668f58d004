#include "devserver/mbservice/database.h"

#include <sqlite3.h>

namespace mbservice {

Statement::Statement(Database& db, std::string_view sql) : owner_(db), db_(db.db_), sql_(sql) {
    stmt_ = owner_.Borrow(sql_);
}

Statement::~Statement() {
    // Resetting ends the statement's read of the database; its error, if any, was thrown by Step.
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    owner_.GiveBack(sql_, stmt_);
}

Statement& Statement::Bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK)
        throw StoreError(std::string("cannot bind: ") + sqlite3_errmsg(db_));
    return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
    if (sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK)
        throw StoreError(std::string("cannot bind: ") + sqlite3_errmsg(db_));
    return *this;
}

Statement& Statement::BindNull(int index) {
    sqlite3_bind_null(stmt_, index);
    return *this;
}

bool Statement::Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    throw StoreError(std::string("SQL step failed: ") + sqlite3_errmsg(db_));
}

void Statement::Run() {
    while (Step()) {
    }
}

std::int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

std::string Statement::Text(int column) const {
    const auto* bytes = sqlite3_column_text(stmt_, column);
    if (bytes == nullptr)
        return {};
    return std::string(reinterpret_cast<const char*>(bytes),
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

Database::Database(const std::string& path) {
    const std::string name = path.empty() ? std::string(":memory:") : path;
    if (sqlite3_open_v2(name.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("cannot open database " + name + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
    Exec("PRAGMA foreign_keys = ON");
    if (!path.empty())
        Exec("PRAGMA journal_mode = WAL");
}

Database::~Database() {
    for (auto& [sql, statements] : kept_)
        for (sqlite3_stmt* stmt : statements)
            sqlite3_finalize(stmt);
    sqlite3_close(db_);
}

sqlite3_stmt* Database::Borrow(const std::string& sql) {
    {
        std::lock_guard<std::mutex> hold(keptLock_);
        auto found = kept_.find(sql);
        if (found != kept_.end() && !found->second.empty()) {
            sqlite3_stmt* stmt = found->second.back();
            found->second.pop_back();
            return stmt;
        }
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt,
                           nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        throw StoreError(std::string("cannot prepare SQL: ") + sqlite3_errmsg(db_));
    }
    return stmt;
}

void Database::GiveBack(const std::string& sql, sqlite3_stmt* stmt) {
    std::lock_guard<std::mutex> hold(keptLock_);
    kept_[sql].push_back(stmt);
}

void Database::Exec(std::string_view sql) {
    char* message = nullptr;
    const std::string text(sql);
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string reason = message ? message : "unknown error";
        sqlite3_free(message);
        throw StoreError("SQL failed: " + reason);
    }
}

std::int64_t Database::Changes() const {
    return sqlite3_changes64(db_);
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.Exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (!done_) {
        try {
            db_.Exec("ROLLBACK");
        } catch (const StoreError&) {
            // Nothing more can be done: the connection keeps its state and the error was reported.
        }
    }
}

void Transaction::Commit() {
    db_.Exec("COMMIT");
    done_ = true;
}

} // namespace mbservice
