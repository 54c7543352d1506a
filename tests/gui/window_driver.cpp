// Acting on the main window and the add-contact dialog the way a user's input reaches them.
#include "window_driver.h"

#include "gui_harness.h"

#include <gtest/gtest.h>

#include <deque>
#include <set>
#include <utility>

#include "app/app_state.h"
#include "app/dialogs.h"
#include "common/text.h"
#include "res/resource.h"

namespace {

const char* g_testAddress;

const char* DeliverToTestAddress(GatewayRequest& request) {
    CopyText(request.host, g_testAddress);
    return DeliverRequest(request);
}

struct ScriptState {
    std::deque<std::pair<std::string, std::function<void(HWND)>>> steps;
    std::set<HWND> taken;
    UINT_PTR timer = 0;
    DWORD deadline = 0;
};
ScriptState* g_script;

struct Search {
    const std::string* title;
    HWND found;
};

BOOL CALLBACK FindUntaken(HWND window, LPARAM lParam) {
    Search& search = *reinterpret_cast<Search*>(lParam);
    char title[64] = "";
    GetWindowTextA(window, title, sizeof title);
    if (IsWindowVisible(window) && *search.title == title && g_script->taken.count(window) == 0) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK EndDialogWindow(HWND window, LPARAM) {
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    if (IsWindowVisible(window) && lstrcmpA(className, "#32770") == 0) EndDialog(window, -1);
    return TRUE;
}

}  // namespace

void ResetRecords() {
    g_instance = GetModuleHandleA(nullptr);
    g_mainWindow = nullptr;
    g_contacts = {};
    g_userDetails = {};
    g_request = {};
    g_deliver = DeliverRequest;
}

void DeliverTo(const char* address) {
    g_testAddress = address;
    g_deliver = DeliverToTestAddress;
}

HWND OpenMainWindow() { return CreateDialogParamA(g_instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainWindowProc, 0); }

void CloseMainWindow(HWND window) {
    DestroyWindow(window);
    PumpMessages();
    TakeQuitMessage();
}

void Notify(HWND dialog, int id, WORD code) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void SetField(HWND dialog, int id, const char* text) {
    SetDlgItemTextA(dialog, id, text);
    Notify(dialog, id, EN_CHANGE);
}

void TypeInto(HWND dialog, int id, const char* text) {
    HWND edit = GetDlgItem(dialog, id);
    SendMessageA(edit, EM_SETSEL, 0x7FFF, 0x7FFF);
    for (const char* c = text; *c != '\0'; ++c) SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(*c), 1);
}

void ClickRow(HWND mainWindow, int row) {
    SendDlgItemMessageA(mainWindow, IDC_CONTACTS, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
    Notify(mainWindow, IDC_CONTACTS, LBN_SELCHANGE);
}

void Press(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void PressKey(HWND dialog, WPARAM key) {
    HWND focus = GetFocus();
    MSG message{focus != nullptr ? focus : dialog, WM_KEYDOWN, key, 1, GetTickCount(), {0, 0}};
    if (!IsDialogMessageA(dialog, &message)) DispatchMessageA(&message);
}

void Key(WORD key, bool down) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
}

void Tap(WORD key) {
    Key(key, true);
    Key(key, false);
}

void TapWith(WORD modifier, WORD key) {
    Key(modifier, true);
    Tap(key);
    Key(modifier, false);
}

void TypeKeys(const char* text) {
    for (const char* c = text; *c != '\0'; ++c) {
        const SHORT scan = VkKeyScanA(*c);
        const WORD key = LOBYTE(scan);
        if (HIBYTE(scan) & 1)
            TapWith(VK_SHIFT, key);
        else
            Tap(key);
    }
}

void SetClipboard(HWND owner, const char* text) {
    const size_t size = lstrlenA(text) + 1;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    CopyText(static_cast<char*>(GlobalLock(block)), size, text);
    GlobalUnlock(block);
    ASSERT_TRUE(OpenClipboard(owner));
    EmptyClipboard();
    SetClipboardData(CF_TEXT, block);
    CloseClipboard();
}

int Selection(HWND dialog, int comboId) {
    return static_cast<int>(SendDlgItemMessageA(dialog, comboId, CB_GETCURSEL, 0, 0));
}

std::vector<std::string> ListRows(HWND mainWindow) {
    std::vector<std::string> rows;
    const int count = static_cast<int>(SendDlgItemMessageA(mainWindow, IDC_CONTACTS, LB_GETCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        char text[256] = "";
        SendDlgItemMessageA(mainWindow, IDC_CONTACTS, LB_GETTEXT, static_cast<WPARAM>(row),
                            reinterpret_cast<LPARAM>(text));
        rows.emplace_back(text);
    }
    return rows;
}

std::vector<std::string> TableNames() {
    return std::vector<std::string>(g_contacts.names, g_contacts.names + g_contacts.count);
}

std::vector<std::string> ComboItems(HWND dialog, int comboId) {
    std::vector<std::string> items;
    const int count = static_cast<int>(SendDlgItemMessageA(dialog, comboId, CB_GETCOUNT, 0, 0));
    for (int item = 0; item < count; ++item) {
        char text[256] = "";
        SendDlgItemMessageA(dialog, comboId, CB_GETLBTEXT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

bool TakeQuitMessage() {
    MSG message;
    return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

DialogScript::DialogScript() {
    g_script = new ScriptState;
    g_script->deadline = GetTickCount() + 15000;
    g_script->timer = SetTimer(nullptr, 0, 20, OnTimer);
}

DialogScript::~DialogScript() {
    KillTimer(nullptr, g_script->timer);
    delete g_script;
    g_script = nullptr;
}

void DialogScript::When(const char* title, std::function<void(HWND)> action) {
    g_script->steps.emplace_back(title, std::move(action));
}

void DialogScript::Then(std::function<void()> action) {
    g_script->steps.emplace_back("", [action = std::move(action)](HWND) { action(); });
}

bool DialogScript::finished() const { return g_script->steps.empty(); }

void CALLBACK DialogScript::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (g_script == nullptr || g_script->steps.empty()) return;
    if (static_cast<LONG>(GetTickCount() - g_script->deadline) > 0) {
        ADD_FAILURE() << "no window titled \"" << g_script->steps.front().first << "\" appeared";
        g_script->steps.clear();
        EnumThreadWindows(GetCurrentThreadId(), EndDialogWindow, 0);
        return;
    }
    Search search{&g_script->steps.front().first, nullptr};
    if (!search.title->empty()) {
        EnumThreadWindows(GetCurrentThreadId(), FindUntaken, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) return;
    }
    // Taken off the list before it runs: the action may open a further modal loop that runs the next step.
    auto action = std::move(g_script->steps.front().second);
    g_script->steps.pop_front();
    g_script->taken.insert(search.found);
    action(search.found);
}
