// The per-user store through a crash: tavi killed outright while it stores settings again and again
// leaves a sound database that holds one of the maps it stored, and the next start reads it.
#include <sqlite3.h>

#include "host/common.h"
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

constexpr const char* kDemo = "demo@velmora.com";
constexpr const char* kDemoPassword = "demo123";

tavi::Property BoundWithInterval(int interval) {
    return e2e::BoundSettings(kDemo, kDemoPassword, interval);
}

// SQLite's own verdict on the database file: "ok" when it is sound.
std::string IntegrityCheck(const std::string& path) {
    sqlite3* db = nullptr;
    std::string verdict = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* check = nullptr;
        verdict = "cannot check";
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK &&
            sqlite3_step(check) == SQLITE_ROW)
            verdict = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
        sqlite3_finalize(check);
    }
    sqlite3_close(db);
    return verdict;
}

TEST(StoreCrash, KilledWhileStoringSettingsItKeepsTheLastOrTheNextAndStartsAgain) {
    MbService service;
    ASSERT_TRUE(service.Started()) << service.Log();
    AppFolder app(service);
    ASSERT_TRUE(app.Store(kDemo, BoundWithInterval(15)));

    // Every round stores the settings form with a new interval (101, 102, ...); a marker after each
    // round tells the test how far tavi got.
    constexpr int kRounds = 300;
    constexpr int kKillAfter = 40;
    std::string commands;
    for (int round = 1; round <= kRounds; ++round)
        commands += "settings\ntype EditInterval " + std::to_string(100 + round) +
                    "\nclick ButtonOK\nstored-" + std::to_string(round) + "\n";
    ChildProcess tavi({std::string(TAVI_BIN_DIR) + "/tavi", "--app-dir", app.path(), "--user", kDemo,
                       "--password", kDemoPassword},
                      true);
    ASSERT_TRUE(tavi.Started());
    ASSERT_TRUE(tavi.Write(commands));
    std::string before;
    ASSERT_TRUE(
        tavi.ReadUntil("error: unknown command: stored-" + std::to_string(kKillAfter), before, kStepBoundMs))
        << before;
    tavi.Stop(SIGKILL, 10000);

    std::string db = app.path() + "/users/userdata.db";
    EXPECT_EQ(IntegrityCheck(db), "ok");
    tavi::Property stored = app.Stored(kDemo);
    int interval = stored.GetInteger(microblog::kKeyPromptInterval);
    EXPECT_GE(interval, 100 + kKillAfter);
    EXPECT_LE(interval, 100 + kRounds);
    EXPECT_EQ(stored, BoundWithInterval(interval)) << "a whole map, as one of the stores left it";

    // The next start shows what the store holds and ends cleanly.
    TaviSession next(app, kDemo, kDemoPassword);
    std::string shown = next.Run("settings\nscreen");
    EXPECT_NE(LineWith(shown, {"edit EditInterval", "text=\"" + std::to_string(interval) + "\""}), "")
        << shown;
    next.Run("click ButtonCancel");
    next.Quit();
    EXPECT_EQ(IntegrityCheck(db), "ok");
}

} // namespace
} // namespace e2e
