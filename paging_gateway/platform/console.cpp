// The console the gateway was started in.
#include "paging_gateway/platform/console.h"

#include <ostream>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <conio.h>
#include <windows.h>
#endif

bool ConsoleClosesWithUs() {
#ifdef _WIN32
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1;
#else
    return false;
#endif
}

void WaitForKey(std::ostream& out) {
    out << "Press any key to close this window." << std::flush;
#ifdef _WIN32
    _getch();
#endif
    out << "\n";
}
