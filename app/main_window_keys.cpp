// The main window's keys go through its own dialog manager even while another dialog's modal loop runs.
#include "app/app_state.h"
#include "app/dialogs.h"

namespace {

bool IsMainWindowKey(const MSG& message) {
    return message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST && g_mainWindow != nullptr &&
           (message.hwnd == g_mainWindow || IsChild(g_mainWindow, message.hwnd));
}

// Every dialog's and message box's loop offers its messages here before its own dialog manager sees
// them; without this, Enter and Tab would reach the message edit as characters.
LRESULT CALLBACK OnDialogLoopMessage(int code, WPARAM wParam, LPARAM lParam) {
    MSG* message = reinterpret_cast<MSG*>(lParam);
    if ((code == MSGF_DIALOGBOX || code == MSGF_MESSAGEBOX) && !g_mainWindowKeys.forwarding &&
        IsMainWindowKey(*message)) {
        g_mainWindowKeys.forwarding = true;
        const BOOL handled = IsDialogMessageA(g_mainWindow, message);
        g_mainWindowKeys.forwarding = false;
        if (handled) return TRUE;
    }
    return CallNextHookEx(g_mainWindowKeys.hook, code, wParam, lParam);
}

}  // namespace

void StartMainWindowKeys() {
    if (g_mainWindowKeys.hook == nullptr)
        g_mainWindowKeys.hook = SetWindowsHookExA(WH_MSGFILTER, OnDialogLoopMessage, nullptr, GetCurrentThreadId());
}

void StopMainWindowKeys() {
    if (g_mainWindowKeys.hook != nullptr) UnhookWindowsHookEx(g_mainWindowKeys.hook);
    g_mainWindowKeys.hook = nullptr;
}
