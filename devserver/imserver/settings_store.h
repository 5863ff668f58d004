// The messenger server's data: its accounts with their password credentials, and each account's
// synced user data (a property map per name) with the time tag of its last change, in SQLite.
// Safe to call from any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "host/marshal.h"

struct sqlite3;

namespace imserver {

class SettingsStore {
public:
    explicit SettingsStore(std::string path);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // Opens or creates the database; false with a reason when it cannot.
    bool Open(std::string& error);

    // Accounts are narrow text in the system code page, as the packets carry them.
    bool SetAccount(const std::string& account, const std::string& credential);
    std::optional<std::string> GetCredential(const std::string& account);

    struct Tagged {
        std::uint32_t timeTag = 0; // 0: nothing stored yet
        tavi::Property data;
    };
    bool Load(const std::string& account, const std::string& name, Tagged& out);
    // Writes the entries over the stored copy (entries it does not name stay) under a new time tag,
    // later than the one before; the new tag, or nothing when the store failed.
    std::optional<std::uint32_t> Merge(const std::string& account, const std::string& name,
                                       const tavi::Property& entries);
    // The latest time tag of any of the account's data; 0 when it has none.
    std::uint32_t LatestTimeTag(const std::string& account);

private:
    bool Exec(const char* sql);

    std::mutex mutex_; // one statement sequence at a time
    std::string path_;
    sqlite3* db_ = nullptr;
};

} // namespace imserver
