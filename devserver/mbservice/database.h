// A thin owner of one SQLite connection and its prepared statements. SQL faults are programming or
// disk faults here: they throw StoreError, which the request layer answers with 500.
//
// A statement is compiled once per SQL text and kept: a Statement borrows a compiled one and hands
// it back, reset and unbound, when it goes (a timeline of 50 statuses runs the same few queries
// hundreds of times, and compiling them was most of the service's time). A text in use by a
// Statement that is still alive (a retweet's original read while its retweet is read) gets another.
#pragma once

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace mbservice {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Database;

class Statement {
public:
    Statement(Database& db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Parameters are numbered from 1, as in SQL.
    Statement& Bind(int index, std::int64_t value);
    Statement& Bind(int index, std::string_view text);
    Statement& BindNull(int index);
    // Advances to the next row: true while a row is there.
    bool Step();
    // Runs a statement that returns no rows.
    void Run();

    std::int64_t Int(int column) const;
    std::string Text(int column) const;
    bool IsNull(int column) const;

private:
    Database& owner_;
    sqlite3* db_;
    std::string sql_;
    sqlite3_stmt* stmt_ = nullptr;
};

class Database {
public:
    // Opens (creating) the file at path; an empty path gives a private in-memory database.
    explicit Database(const std::string& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void Exec(std::string_view sql);
    Statement Prepare(std::string_view sql) { return Statement(*this, sql); }
    std::int64_t Changes() const;

private:
    friend class Statement;
    // A compiled statement for the text: a kept one when there is one, else a new one.
    sqlite3_stmt* Borrow(const std::string& sql);
    // Keeps a statement the caller is done with (already reset) for the next use of its text.
    void GiveBack(const std::string& sql, sqlite3_stmt* stmt);

    sqlite3* db_ = nullptr;
    std::mutex keptLock_;
    std::unordered_map<std::string, std::vector<sqlite3_stmt*>> kept_;
};

// BEGIN IMMEDIATE on construction; rolled back on destruction unless committed.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();

private:
    Database& db_;
    bool done_ = false;
};

} // namespace mbservice
