// Display times: the six texts and the order of their rules, around midnight, month and year
// ends, in the future, and across time zones.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "data/display_time.h"
#include "host/common.h"

namespace microblog {
namespace {

// The machine's zone for these tests: China Standard Time, which has no daylight saving. POSIX
// rules need no zone files, so the tests mean the same on any machine.
class LocalZone {
public:
    explicit LocalZone(const char* zone) {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (hadOld_)
            old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~LocalZone() {
        if (hadOld_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

std::time_t Local(int year, int month, int day, int hour, int minute, int second) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    return std::mktime(&fields);
}

struct Moment {
    int year, month, day, hour, minute, second;
};

struct DisplayCase {
    const char* name;
    Moment now;
    const char* createdAt;
    const char* shown; // UTF-8
};

class DisplayTime : public ::testing::TestWithParam<DisplayCase> {
protected:
    void SetUp() override { tavi::SetSystemCodePage("GB18030"); }
    LocalZone zone{"CST-8"};
};

TEST_P(DisplayTime, ShowsTheTextOfTheFirstRuleThatApplies) {
    const DisplayCase& test = GetParam();
    std::time_t now =
        Local(test.now.year, test.now.month, test.now.day, test.now.hour, test.now.minute, test.now.second);
    std::string shown = FormatDisplayTime(test.createdAt, now);
    EXPECT_EQ(tavi::CString_to_utf8(shown), test.shown) << test.createdAt;
}

INSTANTIATE_TEST_SUITE_P(
    Recent, DisplayTime,
    ::testing::Values(
        DisplayCase{"ThirtySeconds", {2010, 11, 16, 22, 6, 3}, "Tue Nov 16 22:05:33 +0800 2010", "30秒前"},
        DisplayCase{"OneSecond", {2010, 11, 16, 22, 5, 34}, "Tue Nov 16 22:05:33 +0800 2010", "1秒前"},
        DisplayCase{"SameSecond", {2010, 11, 16, 22, 5, 33}, "Tue Nov 16 22:05:33 +0800 2010", "1秒前"},
        DisplayCase{"Future", {2010, 11, 16, 22, 5, 33}, "Tue Nov 16 23:00:00 +0800 2010", "1秒前"},
        DisplayCase{
            "FiftyNineSeconds", {2010, 11, 16, 22, 6, 32}, "Tue Nov 16 22:05:33 +0800 2010", "59秒前"},
        DisplayCase{"SixtySeconds", {2010, 11, 16, 22, 6, 33}, "Tue Nov 16 22:05:33 +0800 2010", "1分钟前"},
        DisplayCase{
            "FiveMinutesFiftyNine", {2010, 11, 16, 22, 11, 32}, "Tue Nov 16 22:05:33 +0800 2010", "5分钟前"},
        DisplayCase{
            "FiftyNineMinutes", {2010, 11, 16, 23, 5, 32}, "Tue Nov 16 22:05:33 +0800 2010", "59分钟前"},
        DisplayCase{
            "MinutesAcrossMidnight", {2010, 11, 17, 0, 10, 0}, "Tue Nov 16 23:50:00 +0800 2010", "20分钟前"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Days, DisplayTime,
    ::testing::Values(
        DisplayCase{
            "ThreeHoursAgoToday", {2010, 11, 16, 12, 30, 0}, "Tue Nov 16 09:05:00 +0800 2010", "今天 09:05"},
        DisplayCase{"JustAfterMidnightToday",
                    {2010, 11, 16, 23, 55, 0},
                    "Tue Nov 16 00:05:00 +0800 2010",
                    "今天 00:05"},
        DisplayCase{
            "YesterdaySameMonth", {2010, 11, 16, 12, 0, 0}, "Mon Nov 15 20:07:00 +0800 2010", "昨天 20:07"},
        DisplayCase{"YesterdayJustBeforeMidnight",
                    {2010, 11, 17, 0, 10, 0},
                    "Tue Nov 16 22:30:00 +0800 2010",
                    "昨天 22:30"},
        DisplayCase{"TwoDaysAgo", {2010, 11, 16, 12, 0, 0}, "Sun Nov 14 08:00:00 +0800 2010", "11-14 08:00"},
        DisplayCase{"LastDayOfPreviousMonth",
                    {2010, 12, 1, 9, 0, 0},
                    "Tue Nov 30 21:15:00 +0800 2010",
                    "11-30 21:15"},
        DisplayCase{
            "DecemberSeenInJanuary", {2011, 1, 1, 0, 30, 0}, "Fri Dec 31 23:05:00 +0800 2010", "12-31 23:05"},
        DisplayCase{
            "SameDateLastYear", {2011, 11, 16, 12, 0, 0}, "Tue Nov 16 09:00:00 +0800 2010", "11-16 09:00"},
        DisplayCase{"UnknownMonthGivesMonthZero",
                    {2010, 11, 16, 12, 0, 0},
                    "Tue Foo 5 10:07:00 +0800 2010",
                    "0-5 10:07"}),
    [](const auto& info) { return std::string(info.param.name); });

// The offset in the text is honoured: the time is shown in the machine's zone (+0800 here).
INSTANTIATE_TEST_SUITE_P(
    Zones, DisplayTime,
    ::testing::Values(
        DisplayCase{
            "UtcShownInLocalTime", {2010, 11, 16, 12, 0, 0}, "Tue Nov 16 01:00:00 +0000 2010", "今天 09:00"},
        DisplayCase{"WestOffset", {2010, 11, 16, 12, 0, 0}, "Mon Nov 15 19:30:00 -0500 2010", "今天 08:30"},
        DisplayCase{"UtcEveningIsTomorrowHere",
                    {2010, 11, 16, 12, 0, 0},
                    "Mon Nov 15 20:00:00 +0000 2010",
                    "今天 04:00"},
        DisplayCase{"UtcSecondsAgo", {2010, 11, 16, 8, 0, 10}, "Tue Nov 16 00:00:00 +0000 2010", "10秒前"},
        DisplayCase{"UtcNewYear", {2011, 1, 1, 10, 0, 0}, "Fri Dec 31 23:30:00 +0000 2010", "今天 07:30"},
        DisplayCase{"UnreadableZoneIsLocalTime",
                    {2010, 11, 16, 12, 0, 0},
                    "Tue Nov 16 01:00:00 CST 2010",
                    "今天 01:00"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(NotATime, DisplayTime,
                         ::testing::Values(DisplayCase{"Empty", {2010, 11, 16, 12, 0, 0}, "", ""},
                                           DisplayCase{
                                               "Words", {2010, 11, 16, 12, 0, 0}, "yesterday", "yesterday"},
                                           DisplayCase{"NoYear",
                                                       {2010, 11, 16, 12, 0, 0},
                                                       "Tue Nov 16 01:00:00 +0800",
                                                       "Tue Nov 16 01:00:00 +0800"},
                                           DisplayCase{"HourOutOfRange",
                                                       {2010, 11, 16, 12, 0, 0},
                                                       "Tue Nov 16 99:00:00 +0800 2010",
                                                       "Tue Nov 16 99:00:00 +0800 2010"},
                                           DisplayCase{"HugeYear",
                                                       {2010, 11, 16, 12, 0, 0},
                                                       "Tue Nov 16 01:00:00 +0800 2147483647",
                                                       "Tue Nov 16 01:00:00 +0800 2147483647"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DisplayTimeText, IsInTheSystemCodePage) {
    LocalZone zone("CST-8");
    std::time_t now = Local(2010, 11, 16, 22, 6, 3);
    tavi::SetSystemCodePage("CP936");
    // "秒前" in code page 936.
    EXPECT_EQ(FormatDisplayTime("Tue Nov 16 22:05:33 +0800 2010", now), "30\xC3\xEB\xC7\xB0");
    tavi::SetSystemCodePage("GB18030");
}

TEST(DisplayTimeText, FollowsTheMachineZone) {
    std::time_t now = 1289908800; // 2010-11-16 12:00:00 UTC
    {
        LocalZone zone("UTC0");
        EXPECT_EQ(tavi::CString_to_utf8(FormatDisplayTime("Tue Nov 16 09:05:00 +0800 2010", now)),
                  "今天 01:05");
    }
    {
        LocalZone zone("CST-8");
        EXPECT_EQ(tavi::CString_to_utf8(FormatDisplayTime("Tue Nov 16 09:05:00 +0800 2010", now)),
                  "今天 09:05");
    }
}

} // namespace
} // namespace microblog
