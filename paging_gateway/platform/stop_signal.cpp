// Turns the stop signals into the run's stop flag.
#include "paging_gateway/platform/stop_signal.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <signal.h>
#endif

namespace {

std::atomic<bool>* stopFlag = nullptr;  // lock-free, so a signal handler may set it

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD control) {
    if (control != CTRL_C_EVENT && control != CTRL_BREAK_EVENT) return FALSE;
    if (stopFlag->exchange(true)) return FALSE;  // the second one: the default, which ends the process
    return TRUE;
}
#else
void OnSignal(int) { stopFlag->store(true); }
#endif

}  // namespace

void StopOnSignals(std::atomic<bool>& stop) {
    stopFlag = &stop;
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESETHAND;  // the next one takes the default action
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
#endif
}
