// Helpers for driving the real dialogs under Wine: catching message boxes, pumping messages.
#include "gui_harness.h"

namespace {

MessageBoxCatcher* g_catcher;

}  // namespace

bool IsDialogClass(HWND window) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    return lstrcmpA(className, "#32770") == 0;
}

// A message box is a dialog whose text is a static control with identifier 0xFFFF.
bool IsMessageBox(HWND window) { return IsDialogClass(window) && GetDlgItem(window, 0xFFFF) != nullptr; }

// Read from the control's own style: while the box is being activated it is not yet visible itself.
bool BoxShowsIcon(HWND box) {
    for (int id : {0x14, 0x440}) {
        HWND icon = GetDlgItem(box, id);
        if (icon && (GetWindowLongA(icon, GWL_STYLE) & WS_VISIBLE) && SendMessageA(icon, STM_GETICON, 0, 0))
            return true;
    }
    return false;
}

CaughtBox ReadBox(HWND box) {
    return {TextOf(box), ItemText(box, 0xFFFF), GetWindow(box, GW_OWNER) != nullptr, BoxShowsIcon(box)};
}

::testing::AssertionResult IsPlainBox(const CaughtBox& box, const char* title, const char* text) {
    if (box.title == title && box.text == text && !box.hasOwner && !box.hasIcon)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "a box \"" << box.title << "\" saying \"" << box.text << "\""
                                         << (box.hasIcon ? " with an icon" : "") << (box.hasOwner ? " with an owner" : "")
                                         << "; expected \"" << title << "\" saying \"" << text << "\", no icon, no owner";
}

MessageBoxCatcher::MessageBoxCatcher() : hook_(nullptr) {
    g_catcher = this;
    hook_ = SetWindowsHookExA(WH_CBT, OnCbt, nullptr, GetCurrentThreadId());
}

MessageBoxCatcher::~MessageBoxCatcher() {
    UnhookWindowsHookEx(hook_);
    g_catcher = nullptr;
}

LRESULT CALLBACK MessageBoxCatcher::OnCbt(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && g_catcher != nullptr) {
        HWND window = reinterpret_cast<HWND>(wParam);
        if (IsMessageBox(window)) {
            g_catcher->boxes_.push_back(ReadBox(window));
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(g_catcher ? g_catcher->hook_ : nullptr, code, wParam, lParam);
}

void PumpMessages(DWORD milliseconds) {
    const DWORD end = GetTickCount() + milliseconds;
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (milliseconds > 0) Sleep(5);
    } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

std::string TextOf(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ItemText(HWND dialog, int id) {
    char text[1024] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}
