// Reaches into another program's windows for the package test: boxes, commands, texts.
//   package_probe box TITLE               prints the text of the message box TITLE, then presses OK
//   package_probe command TITLE ID        posts WM_COMMAND ID to the window TITLE
//   package_probe text TITLE CLASS        prints the text of the first CLASS child of window TITLE
//   package_probe close TITLE             posts WM_CLOSE to the window TITLE
//   package_probe send TITLE MESSAGE PHONE CARRIER FROM CALLBACK   fills mervasTX's fields, presses Send
// Each waits up to 20 s for its window and exits with 1 when none appears.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "res/resource.h"

namespace {

constexpr DWORD WAIT_MS = 20000;

struct Search {
    const char* title;
    bool messageBox;
    HWND found;
};

std::string TextOf(HWND window) {
    const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const LRESULT copied = SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(copied));
    return text;
}

BOOL CALLBACK OnTopLevel(HWND window, LPARAM context) {
    Search* search = reinterpret_cast<Search*>(context);
    char title[256] = "";
    GetWindowTextA(window, title, sizeof title);
    if (!IsWindowVisible(window) || strcmp(title, search->title) != 0) return TRUE;
    if (search->messageBox && GetDlgItem(window, 0xFFFF) == nullptr) return TRUE;
    search->found = window;
    return FALSE;
}

HWND WaitForWindow(const char* title, bool messageBox) {
    const DWORD end = GetTickCount() + WAIT_MS;
    do {
        Search search{title, messageBox, nullptr};
        EnumWindows(OnTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        Sleep(50);
    } while (static_cast<LONG>(end - GetTickCount()) > 0);
    fprintf(stderr, "package_probe: no window titled \"%s\" appeared\n", title);
    return nullptr;
}

void Print(const std::string& text) { fwrite(text.data(), 1, text.size(), stdout); }

void SetItem(HWND dialog, int id, const char* text) {
    SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

int Run(int argc, char** argv) {
    const std::string verb = argv[1];
    HWND window = WaitForWindow(argv[2], verb == "box");
    if (!window) return 1;
    if (verb == "box" && argc == 3) {
        Print(TextOf(GetDlgItem(window, 0xFFFF)));
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    } else if (verb == "command" && argc == 4) {
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(atoi(argv[3]), 0), 0);
    } else if (verb == "text" && argc == 4) {
        HWND child = FindWindowExA(window, nullptr, argv[3], nullptr);
        if (!child) return 1;
        Print(TextOf(child));
    } else if (verb == "close" && argc == 3) {
        PostMessageA(window, WM_CLOSE, 0, 0);
    } else if (verb == "send" && argc == 8) {
        SetItem(window, IDC_MESSAGE, argv[3]);
        SetItem(window, IDC_PHONE, argv[4]);
        SendDlgItemMessageA(window, IDC_CARRIER, CB_SETCURSEL, static_cast<WPARAM>(atoi(argv[5])), 0);
        SetItem(window, IDC_FROM, argv[6]);
        SetItem(window, IDC_CALLBACK, argv[7]);
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_SEND, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_SEND)));
    } else {
        fprintf(stderr, "package_probe: unknown use of \"%s\"\n", argv[1]);
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Texts are printed byte for byte, CR LF and all, so the test can compare them with files.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 3) {
        fprintf(stderr, "package_probe: see the top of package_probe.cpp\n");
        return 2;
    }
    return Run(argc, argv);
}
