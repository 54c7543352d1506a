// The gateway machine's own clock time, for people reading the status page where it runs.
#include "paging_gateway/platform/local_time.h"

#include <cstdio>
#include <cstdlib>

LocalTime ToLocalTime(std::time_t time) {
    std::tm local{}, utc{};
#ifdef _WIN32
    localtime_s(&local, &time);
    gmtime_s(&utc, &time);
#else
    localtime_r(&time, &local);
    gmtime_r(&time, &utc);
#endif
    LocalTime out;
    out.year = local.tm_year + 1900;
    out.month = local.tm_mon + 1;
    out.day = local.tm_mday;
    out.hour = local.tm_hour;
    out.minute = local.tm_min;
    out.second = local.tm_sec;
    // The two clocks are at most a day apart; across a new year the day of the year starts again.
    int days = local.tm_yday - utc.tm_yday;
    if (local.tm_year != utc.tm_year) days = local.tm_year > utc.tm_year ? 1 : -1;
    out.offsetMinutes = days * 1440 + (local.tm_hour - utc.tm_hour) * 60 + (local.tm_min - utc.tm_min);
    return out;
}

std::string OffsetText(int offsetMinutes) {
    char text[16];
    std::snprintf(text, sizeof text, "%c%02d:%02d", offsetMinutes < 0 ? '-' : '+', std::abs(offsetMinutes) / 60,
                  std::abs(offsetMinutes) % 60);
    return text;
}
