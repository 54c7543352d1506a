// One copy of the program per working folder: each saves the whole file at exit, so two would undo each other.
#include "app/dialogs.h"
#include "common/text.h"
#include "contacts/save_aside.h"

namespace {

constexpr int CLAIM_NAME_SIZE = 40;

// The key keeps the name short and free of the backslashes that an object name cannot hold.
void ClaimName(const char* folder, char (&name)[CLAIM_NAME_SIZE]) {
    char path[MAX_PATH];
    ComparableFolder(folder, path);
    char key[FOLDER_KEY_SIZE];
    MakeFolderKey(path, key);
    CopyText(name, "mervasTX folder ");
    AppendText(name, key);
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

// Paths that differ only in case or in short (8.3) names are one folder.
void ComparableFolder(const char* folder, char (&path)[MAX_PATH]) {
    const DWORD length = GetLongPathNameA(folder, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) CopyText(path, folder);
    CharUpperBuffA(path, static_cast<DWORD>(lstrlenA(path)));
}

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
