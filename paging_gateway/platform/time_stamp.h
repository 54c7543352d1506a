// The time every line the gateway prints starts with, on the console and in the service's log alike.
#pragma once

#include <string>

// The local time and a blank: "2026-12-08 03:10:00 ".
std::string LineTimeStamp();
