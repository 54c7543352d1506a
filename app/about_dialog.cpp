// The about box: credits artwork, one OK button, moved by its title strip.
#include "app/dialogs.h"
#include "res/resource.h"

namespace {

INT_PTR OnInitDialog(HWND window) {
    SetWindowTextA(window, "about mervasTX");
    return TRUE;
}

// Escape and close requests arrive as IDCANCEL and are deliberately not answered: only OK ends it.
INT_PTR OnCommand(HWND window, WORD id) {
    switch (id) {
    case IDOK:
        EndDialog(window, 1);
        return TRUE;
    case IDC_ABOUT_STRIP:
        DragWindow(window);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(window);
    case WM_COMMAND:
        return OnCommand(window, LOWORD(wParam));
    default:
        return FALSE;
    }
}
