// The time every line the gateway prints starts with, on the console and in the service's log alike.
#include "paging_gateway/platform/time_stamp.h"

#include <ctime>

std::string LineTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[32] = "";
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S ", &local);
    return text;
}
