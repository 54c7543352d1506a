// The gateway machine's own clock time, for people reading the status page where it runs.
#pragma once

#include <ctime>
#include <string>

struct LocalTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    int offsetMinutes = 0;  // east of UTC
};

// `time` on this machine's clock, with its offset from UTC at that moment (summer time included).
LocalTime ToLocalTime(std::time_t time);

// "+01:00", "-05:00", "+05:30".
std::string OffsetText(int offsetMinutes);
