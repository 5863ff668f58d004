// The per-user data store: one property map per (name, account) and the named time tags, kept in
// an SQLite database under <app>/users/. Safe to call from any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "host/marshal.h"

struct sqlite3;

namespace tavi::runtime {

class UserStore {
public:
    explicit UserStore(std::string databasePath);
    ~UserStore();
    UserStore(const UserStore&) = delete;
    UserStore& operator=(const UserStore&) = delete;

    bool Has(const std::string& name, const std::string& account);
    bool Load(const std::string& name, const std::string& account, Property& data);
    // Replaces the stored map in one transaction; false (and nothing changed) on failure.
    bool Save(const std::string& name, const std::string& account, const Property& data);

    std::optional<std::uint32_t> GetTimeTag(const std::string& account, const std::string& name);
    bool SetTimeTag(const std::string& account, const std::string& name, std::uint32_t value);

    const std::string& GetPath() const { return path_; }

private:
    bool Open();
    bool Exec(const char* sql);

    std::mutex mutex_;
    std::string path_;
    sqlite3* db_ = nullptr;
};

} // namespace tavi::runtime
