// The time every line the gateway prints starts with, on the console and in the service's log alike.
#include "paging_gateway/platform/time_stamp.h"

#include <cstdio>
#include <ctime>

#include "paging_gateway/platform/local_time.h"

std::string LineTimeStamp() {
    const LocalTime now = ToLocalTime(std::time(nullptr));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d ", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    return text;
}
