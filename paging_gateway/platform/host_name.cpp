// The gateway machine's name, as notices name their sender.
#include "paging_gateway/platform/host_name.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

std::string HostName() {
    char name[256] = "";
#ifdef _WIN32
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) return "localhost";
#else
    if (gethostname(name, sizeof name - 1) != 0) return "localhost";
    name[sizeof name - 1] = 0;
#endif
    return *name ? name : "localhost";
}
