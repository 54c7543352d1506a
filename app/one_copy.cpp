// One copy of the program per working folder: each saves the whole file at exit, so two would undo each other.
#include <cstdint>

#include "app/dialogs.h"
#include "common/text.h"

namespace {

constexpr int CLAIM_NAME_SIZE = 40;

// Paths that differ only in case or in short (8.3) names are one folder; the hash keeps the name short
// and free of the backslashes that an object name cannot hold.
void ClaimName(const char* folder, char (&name)[CLAIM_NAME_SIZE]) {
    char path[MAX_PATH] = "";
    const DWORD length = GetLongPathNameA(folder, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) CopyText(path, folder);
    CharUpperBuffA(path, static_cast<DWORD>(lstrlenA(path)));
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const char* c = path; *c; ++c) hash = (hash ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
    CopyText(name, "mervasTX folder ");
    char digits[17] = "";
    for (int i = 15; i >= 0; --i, hash >>= 4) digits[i] = "0123456789abcdef"[hash & 15];
    AppendText(name, digits);
}

struct ShownWindow {
    DWORD processId;
    HWND window;
};

// The main window if it is up, otherwise whatever that copy shows (a box at start-up).
BOOL CALLBACK FindShownWindow(HWND window, LPARAM context) {
    ShownWindow* shown = reinterpret_cast<ShownWindow*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != shown->processId || !IsWindowVisible(window)) return TRUE;
    char title[16] = "";
    GetWindowTextA(window, title, sizeof title);
    const bool main = lstrcmpA(title, "mervasTX") == 0;
    if (main || !shown->window) shown->window = window;
    return main ? FALSE : TRUE;
}

void BringToFront(DWORD processId) {
    ShownWindow shown{processId, nullptr};
    EnumWindows(FindShownWindow, reinterpret_cast<LPARAM>(&shown));
    if (!shown.window) return;
    if (IsIconic(shown.window)) ShowWindow(shown.window, SW_RESTORE);
    SetForegroundWindow(shown.window);
}

}  // namespace

// The claim is a small named shared record holding the process id of the copy that made it.
bool ClaimFolder(const char* folder, HANDLE& claim) {
    char name[CLAIM_NAME_SIZE];
    ClaimName(folder, name);
    claim = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DWORD), name);
    if (!claim) return true;  // no claim to be had: run unguarded rather than not at all
    const bool first = GetLastError() != ERROR_ALREADY_EXISTS;
    DWORD* record = static_cast<DWORD*>(MapViewOfFile(claim, FILE_MAP_WRITE, 0, 0, sizeof(DWORD)));
    DWORD owner = 0;
    if (record) {
        if (first) *record = GetCurrentProcessId();
        owner = *record;
        UnmapViewOfFile(record);
    }
    if (first) return true;
    CloseHandle(claim);
    claim = nullptr;
    if (owner) BringToFront(owner);
    return false;
}
