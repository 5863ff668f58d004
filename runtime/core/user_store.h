// The per-user data store: one property map per (name, account) and the named time tags, kept in
// an SQLite database under <app>/users/. Safe to call from any thread. The store holds the microblog
// password credential, so its file (and SQLite's side files) and its folder are the user's alone.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "host/marshal.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tavi::runtime {

class UserStore {
public:
    explicit UserStore(std::string databasePath);
    ~UserStore();
    UserStore(const UserStore&) = delete;
    UserStore& operator=(const UserStore&) = delete;

    bool Has(const std::string& name, const std::string& account);
    bool Load(const std::string& name, const std::string& account, Property& data);
    // Runs after a save has been committed, still under the store's lock, with the map as it was
    // just before that save; so whatever it tells of the save is in the order of the commits.
    using SavedCallback = std::function<void(const Property& previous)>;
    // Replaces the stored map in one transaction; false (and nothing changed) on failure. The map
    // it replaces is read in the same transaction.
    bool Save(const std::string& name, const std::string& account, const Property& data,
              const SavedCallback& saved = SavedCallback());

    std::optional<std::uint32_t> GetTimeTag(const std::string& account, const std::string& name);
    bool SetTimeTag(const std::string& account, const std::string& name, std::uint32_t value);

    const std::string& GetPath() const { return path_; }

    // Compiled statements kept between calls, by their SQL text; used under the store's lock.
    using KeptStatements = std::unordered_map<std::string_view, sqlite3_stmt*>;

private:
    bool Open();
    bool Exec(const char* sql);
    // Runs a statement that returns no rows, compiled once.
    bool Run(const char* sql);
    bool LoadLocked(const std::string& name, const std::string& account, Property& data);

    std::mutex mutex_;
    std::string path_;
    sqlite3* db_ = nullptr;
    KeptStatements kept_;
};

// Makes the folder, or finds it, readable by its owner alone: created 0700, and a folder that
// others may read or enter loses those rights. False when it cannot be made.
bool MakePrivateFolder(const std::string& path);

} // namespace tavi::runtime
