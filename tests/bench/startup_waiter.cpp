// Starts mervasTX in the current folder; prints the milliseconds until its main window is visible, and its rows.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "res/resource.h"

namespace {

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK IsMainWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char title[16] = "";
    if (process != search->process || !IsWindowVisible(window)) return TRUE;
    GetWindowTextA(window, title, sizeof title);
    if (std::strcmp(title, "mervasTX") == 0) search->found = window;
    return search->found == nullptr;
}

double MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: startup_waiter <program.exe>\n");
        return 2;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(argv[1], nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        std::fprintf(stderr, "cannot start %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    Search search{child.dwProcessId, nullptr};
    int result = 0;
    for (;;) {
        EnumWindows(IsMainWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            const double milliseconds = MillisecondsSince(start);
            DWORD_PTR rows = 0;
            SendMessageTimeoutA(GetDlgItem(search.found, IDC_CONTACTS), LB_GETCOUNT, 0, 0, SMTO_NORMAL, 10000, &rows);
            std::printf("%.1f %lu\n", milliseconds, static_cast<unsigned long>(rows));
            break;
        }
        if (WaitForSingleObject(child.hProcess, 1) == WAIT_OBJECT_0 || MillisecondsSince(start) > 30000) {
            std::fprintf(stderr, "no visible window \"mervasTX\" appeared\n");
            result = 1;
            break;
        }
    }
    // Killed rather than closed: nothing is saved, and the next run starts in a fresh folder anyway.
    TerminateProcess(child.hProcess, 0);
    WaitForSingleObject(child.hProcess, 10000);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return result;
}
