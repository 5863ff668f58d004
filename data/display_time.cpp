#include "data/display_time.h"

#include <climits>
#include <cstring>

#include "host/common.h"

namespace microblog {
namespace {

int MonthNumber(const char* text) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i)
        if (std::strncmp(text, kMonths[i], 3) == 0)
            return i + 1;
    return 0;
}

// "+hhmm" or "-hhmm" to seconds east of UTC; false for anything else.
bool ReadZoneOffset(const char* zone, long* seconds) {
    if (std::strlen(zone) != 5 || (zone[0] != '+' && zone[0] != '-'))
        return false;
    for (int i = 1; i < 5; ++i)
        if (zone[i] < '0' || zone[i] > '9')
            return false;
    int hours = (zone[1] - '0') * 10 + (zone[2] - '0');
    int minutes = (zone[3] - '0') * 10 + (zone[4] - '0');
    if (hours > 14 || minutes > 59)
        return false;
    *seconds = (zone[0] == '-' ? -1L : 1L) * (hours * 3600L + minutes * 60L);
    return true;
}

// The creation time's fields, read as the pattern "%3s %3s %d %d:%d:%d %5s %d" reads them with
// the C library's scanf (a blank matches any run of white space, each field skips white space
// before it, a text field takes up to its width of non-blank bytes); returns how many fields were
// read before the first mismatch. Numbers too long for an int read as INT_MAX or INT_MIN, which
// the range checks then refuse.
struct CreationFields {
    char weekday[4] = "";
    char month[4] = "";
    char zone[6] = "";
    int day = 0, hour = 0, minute = 0, second = 0, year = 0;
};

class FieldReader {
public:
    explicit FieldReader(const char* text) : at_(text) {}
    bool Text(char* out, int width) {
        SkipBlanks();
        int n = 0;
        while (n < width && *at_ != '\0' && !IsBlank(*at_))
            out[n++] = *at_++;
        out[n] = '\0';
        return n > 0;
    }
    bool Number(int* out) {
        SkipBlanks();
        const char* start = at_;
        bool negative = *at_ == '-';
        if (*at_ == '-' || *at_ == '+')
            ++at_;
        long long value = 0;
        const char* digits = at_;
        while (*at_ >= '0' && *at_ <= '9') {
            if (value <= INT_MAX)
                value = value * 10 + (*at_ - '0');
            ++at_;
        }
        if (at_ == digits) {
            at_ = start;
            return false;
        }
        value = negative ? -value : value;
        *out = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
        return true;
    }
    bool Literal(char c) {
        if (*at_ != c)
            return false;
        ++at_;
        return true;
    }

private:
    static bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    void SkipBlanks() {
        while (IsBlank(*at_))
            ++at_;
    }
    const char* at_;
};

int ReadCreationTime(const std::string& text, CreationFields& f) {
    FieldReader in(text.c_str());
    if (!in.Text(f.weekday, 3))
        return 0;
    if (!in.Text(f.month, 3))
        return 1;
    if (!in.Number(&f.day))
        return 2;
    if (!in.Number(&f.hour))
        return 3;
    if (!in.Literal(':') || !in.Number(&f.minute))
        return 4;
    if (!in.Literal(':') || !in.Number(&f.second))
        return 5;
    if (!in.Text(f.zone, 5))
        return 6;
    if (!in.Number(&f.year))
        return 7;
    return 8;
}

// Hours and minutes, which are in range here, with two digits.
void AppendTwoDigits(std::string& out, int value) {
    out.push_back(static_cast<char>('0' + value / 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

} // namespace

DisplayTimeFormatter::DisplayTimeFormatter(std::time_t now)
    : now_(now), secondsAgo_(tavi::utf8_to_CString("秒前")), minutesAgo_(tavi::utf8_to_CString("分钟前")),
      todayPrefix_(tavi::utf8_to_CString("今天 ")), yesterdayPrefix_(tavi::utf8_to_CString("昨天 ")) {
    localtime_r(&now_, &today_);
}

std::string DisplayTimeFormatter::Format(const std::string& createdAt) const {
    CreationFields read;
    int count = ReadCreationTime(createdAt, read);
    int day = read.day, hour = read.hour, minute = read.minute, second = read.second, year = read.year;
    // Fields out of their ranges would make the conversion meaningless (or overflow it).
    if (count != 8 || year < 1 || year > 9999 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60)
        return createdAt;
    int month = MonthNumber(read.month);

    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = 0;
    std::time_t created;
    long offset = 0;
    if (month != 0 && ReadZoneOffset(read.zone, &offset)) {
        // The service's time in its own zone, shown in ours.
        created = timegm(&fields) - offset;
        std::tm shown{};
        localtime_r(&created, &shown);
        year = shown.tm_year + 1900;
        month = shown.tm_mon + 1;
        day = shown.tm_mday;
        hour = shown.tm_hour;
        minute = shown.tm_min;
    } else {
        created = std::mktime(&fields);
    }

    long long diff = static_cast<long long>(now_) - static_cast<long long>(created);
    if (diff <= 0)
        return "1" + secondsAgo_;
    if (diff < 60)
        return std::to_string(diff) + secondsAgo_;
    if (diff < 3600)
        return std::to_string(diff / 60) + minutesAgo_;
    std::string clock;
    AppendTwoDigits(clock, hour);
    clock.push_back(':');
    AppendTwoDigits(clock, minute);
    bool sameMonth = year == today_.tm_year + 1900 && month == today_.tm_mon + 1;
    if (sameMonth && day == today_.tm_mday && hour != today_.tm_hour)
        return todayPrefix_ + clock;
    if (sameMonth && day + 1 == today_.tm_mday)
        return yesterdayPrefix_ + clock;
    return std::to_string(month) + "-" + std::to_string(day) + " " + clock;
}

std::string FormatDisplayTime(const std::string& createdAt, std::time_t now) {
    return DisplayTimeFormatter(now).Format(createdAt);
}

std::string FormatDisplayTime(const std::string& createdAt) {
    return FormatDisplayTime(createdAt, std::time(nullptr));
}

} // namespace microblog
