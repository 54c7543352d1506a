// Edits that hold no more than the program keeps of them, so what the user sees is what is stored and sent.
#include "app/app_state.h"
#include "app/dialogs.h"
#include "common/text.h"

namespace {

constexpr int LIMITED_TEXT_SIZE = 64;  // above every limit given here

// The edit's limit holds for typing and pasting only; text set by a program is cut here.
LRESULT CALLBACK LimitedEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT && lParam != 0) {
        char text[LIMITED_TEXT_SIZE] = "";
        const size_t limit = static_cast<size_t>(CallWindowProcA(g_editProc, edit, EM_GETLIMITTEXT, 0, 0));
        CopyText(text, limit + 1 < sizeof text ? limit + 1 : sizeof text, reinterpret_cast<const char*>(lParam));
        return CallWindowProcA(g_editProc, edit, message, wParam, reinterpret_cast<LPARAM>(text));
    }
    return CallWindowProcA(g_editProc, edit, message, wParam, lParam);
}

}  // namespace

void LimitEdit(HWND dialog, int id, int chars) {
    SendDlgItemMessageA(dialog, id, EM_LIMITTEXT, static_cast<WPARAM>(chars), 0);
    g_editProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(GetDlgItem(dialog, id), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LimitedEditProc)));
}
