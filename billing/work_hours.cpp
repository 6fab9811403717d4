#include "billing/work_hours.h"

#include <algorithm>

namespace {

// The weekday (1 Monday .. 7 Sunday) of a Russian two-letter name, or 0.
int Weekday(std::string_view name) {
    static const char* const names[] = {"пн", "вт", "ср", "чт", "пт", "сб", "вс"};
    for (int d = 0; d < 7; ++d)
        if (name == names[d]) return d + 1;
    return 0;
}

// Minutes of the day of "HH:MM" (up to "24:00"), or -1.
int DayMinute(std::string_view text) {
    if (text.size() != 5 || text[2] != ':') return -1;
    for (const size_t i : {0, 1, 3, 4})
        if (text[i] < '0' || text[i] > '9') return -1;
    const int hour = (text[0] - '0') * 10 + (text[1] - '0');
    const int minute = (text[3] - '0') * 10 + (text[4] - '0');
    if (minute > 59 || hour > 24 || (hour == 24 && minute != 0)) return -1;
    return hour * 60 + minute;
}

}  // namespace

std::string ParseWorkHours(std::string_view text, TWorkHours& hours) {
    const std::string why =
        "рабочие часы пишутся как \"пн-пт 08:00-19:00\", а не \"" + std::string(text) + "\"";
    const size_t space = text.find(' ');
    if (space == std::string_view::npos) return why;
    std::string_view days = text.substr(0, space), times = text.substr(space + 1);
    TWorkHours read;
    read.Days = 0;
    while (!days.empty()) {
        const size_t comma = days.find(',');
        const std::string_view item = days.substr(0, comma);
        days = comma == std::string_view::npos ? std::string_view() : days.substr(comma + 1);
        const size_t dash = item.find('-');
        const int first = Weekday(item.substr(0, dash));
        const int last = dash == std::string_view::npos ? first : Weekday(item.substr(dash + 1));
        if (first == 0 || last == 0) return why;
        // A range may pass Sunday: "пт-пн".
        for (int d = first;; d = d % 7 + 1) {
            read.Days |= static_cast<uint8_t>(1u << (d - 1));
            if (d == last) break;
        }
        if (comma != std::string_view::npos && days.empty()) return why;
    }
    const size_t dash = times.find('-');
    if (read.Days == 0 || dash == std::string_view::npos) return why;
    read.From = DayMinute(times.substr(0, dash));
    read.To = DayMinute(times.substr(dash + 1));
    if (read.From < 0 || read.To < 0) return why;
    if (read.From >= read.To)
        return "в рабочих часах \"" + std::string(text) + "\" начало не раньше конца";
    hours = read;
    return {};
}

int64_t WorkSeconds(const TWorkHours& hours, std::time_t from, std::time_t to, int64_t enough) {
    int64_t sum = 0;
    if (to <= from) return 0;
    std::tm day{};
    localtime_r(&from, &day);
    day.tm_hour = day.tm_min = day.tm_sec = 0;
    // Day by day in local time, so that a day of a clock change is as
    // long as it is.
    for (int guard = 0; guard < 100000 && sum < enough; ++guard) {
        std::tm at = day;
        at.tm_isdst = -1;
        const std::time_t midnight = std::mktime(&at);
        if (midnight >= to) break;
        const int weekday = at.tm_wday == 0 ? 7 : at.tm_wday;
        if (hours.Days & (1u << (weekday - 1))) {
            std::tm open = day, close = day;
            open.tm_min = hours.From;
            close.tm_min = hours.To;
            open.tm_isdst = close.tm_isdst = -1;
            const std::time_t begin = std::max(std::mktime(&open), from);
            const std::time_t end = std::min(std::mktime(&close), to);
            if (end > begin) sum += end - begin;
        }
        ++day.tm_mday;
    }
    return sum;
}
