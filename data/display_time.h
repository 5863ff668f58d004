// Display times: a status's creation time ("Tue Nov 16 22:05:33 +0800 2010") shown relative to now,
// as "30秒前", "5分钟前", "今天 09:05", "昨天 23:10" or "12-31 23:05", in the system code page.
//
// The creation time is read in the zone its +hhmm/-hhmm offset names and shown in the machine's
// local time; a time without a readable offset is taken as local time. A text that is not a
// creation time at all is shown as it is.
#pragma once

#include <ctime>
#include <string>

namespace microblog {

class DisplayTimeFormatter {
public:
    // Takes the current local date once, for every time formatted with this object.
    explicit DisplayTimeFormatter(std::time_t now);
    std::string Format(const std::string& createdAt) const;

private:
    std::time_t now_;
    std::tm today_{};
    std::string secondsAgo_;
    std::string minutesAgo_;
    std::string todayPrefix_;
    std::string yesterdayPrefix_;
};

std::string FormatDisplayTime(const std::string& createdAt, std::time_t now);
// Relative to the current time.
std::string FormatDisplayTime(const std::string& createdAt);

} // namespace microblog
