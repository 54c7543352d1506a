// The main window: contact list, message editor with its live count, recipient and sender details.
#include "app/app_state.h"
#include "app/dialogs.h"

#include <shellapi.h>  // needs windows.h, which app_state.h brings

#include "gateway/send_command.h"
#include "res/resource.h"

namespace {

// Shows the counted length of the sender and callback edits plus `message`.
void ShowCount(HWND window, const char* message) {
    char sender[FIELD_READ_SIZE] = "";
    char callback[FIELD_READ_SIZE] = "";
    GetDlgItemTextA(window, IDC_FROM, sender, FIELD_READ_SIZE);
    GetDlgItemTextA(window, IDC_CALLBACK, callback, FIELD_READ_SIZE);
    SetDlgItemInt(window, IDC_CHAR_COUNT, static_cast<UINT>(CountedLength(message, sender, callback)), FALSE);
}

void RecountMessage(HWND window) {
    char message[FIELD_READ_SIZE] = "";
    GetDlgItemTextA(window, IDC_MESSAGE, message, FIELD_READ_SIZE);
    ShowCount(window, message);
}

// A multi-line edit in a dialog turns Escape into WM_CLOSE, which would end the program mid-message.
// Systems differ in whether the key press or its character does it, so both are dropped.
LRESULT CALLBACK MessageEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    if ((message == WM_KEYDOWN || message == WM_CHAR) && wParam == VK_ESCAPE) return 0;
    return CallWindowProcA(g_editProc, edit, message, wParam, lParam);
}

// A paste keeps what the details line can hold of the clipboard's first line; a beep says what was left out.
void PasteDetails(HWND edit) {
    char text[FIELD_READ_SIZE] = "";
    bool pasted = false;
    bool complete = true;
    if (!OpenClipboard(edit)) return;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* clip = static_cast<const char*>(GlobalLock(data))) {
            complete = CopyDetailsText(text, sizeof text, clip, GlobalSize(data));
            pasted = true;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    if (!complete) MessageBeep(MB_OK);
    if (pasted) SendMessageA(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
}

// Text set by a program: the edit's limit holds only for typing and pasting, so it is applied here too.
LRESULT SetDetailsText(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    const char* source = reinterpret_cast<const char*>(lParam);
    if (source == nullptr) return CallWindowProcA(g_editProc, edit, message, wParam, lParam);
    char text[FIELD_READ_SIZE] = "";
    size_t size = sizeof text;
    if (message == WM_SETTEXT) {
        const size_t limit = static_cast<size_t>(CallWindowProcA(g_editProc, edit, EM_GETLIMITTEXT, 0, 0)) + 1;
        if (limit < size) size = limit;
    }
    CopyDetailsText(text, size, source);
    return CallWindowProcA(g_editProc, edit, message, wParam, reinterpret_cast<LPARAM>(text));
}

// The sender and callback edits never hold what the details line cannot keep (a ':' would split it),
// whether it is typed, pasted (Ctrl+V and the menu send WM_PASTE; Shift+Insert pastes directly) or set.
LRESULT CALLBACK DetailsEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CHAR:
        if (wParam >= ' ' && !FitsDetailsLine(static_cast<char>(wParam))) {
            MessageBeep(MB_OK);
            return 0;
        }
        break;
    case WM_KEYDOWN:
        if (wParam == VK_INSERT && GetKeyState(VK_SHIFT) < 0 && GetKeyState(VK_MENU) >= 0) {
            PasteDetails(edit);
            return 0;
        }
        break;
    case WM_PASTE:
        PasteDetails(edit);
        return 0;
    case WM_SETTEXT:
    case EM_REPLACESEL:
        return SetDetailsText(edit, message, wParam, lParam);
    default:
        break;
    }
    return CallWindowProcA(g_editProc, edit, message, wParam, lParam);
}

void Subclass(HWND window, int id, WNDPROC procedure) {
    g_editProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(GetDlgItem(window, id), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure)));
}

// The edits hold no more than the details keep, so what the user sees is what is saved.
void PrepareDetailsEdits(HWND window) {
    SendDlgItemMessageA(window, IDC_FROM, EM_LIMITTEXT, SENDER_SIZE - 1, 0);
    SendDlgItemMessageA(window, IDC_CALLBACK, EM_LIMITTEXT, CALLBACK_SIZE - 1, 0);
    Subclass(window, IDC_FROM, DetailsEditProc);
    Subclass(window, IDC_CALLBACK, DetailsEditProc);
    LimitEdit(window, IDC_PHONE, PHONE_READ_SIZE - 1);
}

INT_PTR OnInitDialog(HWND window) {
    AddContactNames(window);
    SetWindowTextA(window, "mervasTX");
    PrepareDetailsEdits(window);
    SetDlgItemTextA(window, IDC_FROM, g_userDetails.sender);
    SetDlgItemTextA(window, IDC_CALLBACK, g_userDetails.callback);
    AddCarrierNames(window, IDC_CARRIER);
    ShowCount(window, "");
    Subclass(window, IDC_MESSAGE, MessageEditProc);
    StartMainWindowKeys();
    return TRUE;
}

void OnSendMessage(HWND window) {
    char message[FIELD_READ_SIZE] = "";
    char phone[PHONE_READ_SIZE] = "";
    char sender[FIELD_READ_SIZE] = "";
    char callback[FIELD_READ_SIZE] = "";
    GetDlgItemTextA(window, IDC_MESSAGE, message, FIELD_READ_SIZE);
    GetDlgItemTextA(window, IDC_PHONE, phone, PHONE_READ_SIZE);
    GetDlgItemTextA(window, IDC_FROM, sender, FIELD_READ_SIZE);
    GetDlgItemTextA(window, IDC_CALLBACK, callback, FIELD_READ_SIZE);
    const int carrier = static_cast<int>(SendDlgItemMessageA(window, IDC_CARRIER, CB_GETCURSEL, 0, 0));

    const SendOutcome outcome =
        RunSendCommand(g_request, g_userDetails, SendFields{message, phone, sender, callback, carrier}, g_deliver);
    MessageBoxA(nullptr, outcome.text, outcome.title, MB_OK);
    if (outcome.clearMessage) {
        SetDlgItemTextA(window, IDC_MESSAGE, "");
        SetDlgItemInt(window, IDC_CHAR_COUNT, 0, FALSE);
    }
}

void OnClear(HWND window) {
    SetDlgItemTextA(window, IDC_MESSAGE, "");
    ShowCount(window, "");
}

// Only the row goes: the remaining rows keep their order, which is the table's order after the re-sort.
void OnRemove(HWND window) {
    const int row = static_cast<int>(SendDlgItemMessageA(window, IDC_CONTACTS, LB_GETCURSEL, 0, 0));
    if (row == LB_ERR) return;
    SendDlgItemMessageA(window, IDC_CONTACTS, LB_DELETESTRING, static_cast<WPARAM>(row), 0);
    RemoveContact(g_contacts, row);
}

void ApplySelectedContact(HWND window) {
    const int row = static_cast<int>(SendDlgItemMessageA(window, IDC_CONTACTS, LB_GETCURSEL, 0, 0));
    if (row == LB_ERR) return;
    const ContactEntry contact = GetContact(g_contacts, row);
    SendDlgItemMessageA(window, IDC_CARRIER, CB_SETCURSEL, static_cast<WPARAM>(contact.carrier), 0);
    SetDlgItemTextA(window, IDC_PHONE, contact.number);
}

// Every closing path keeps what the edits show, so the settings file saves what the user saw.
void StoreUserDetails(HWND window) {
    GetDlgItemTextA(window, IDC_FROM, g_userDetails.sender, SENDER_SIZE);
    GetDlgItemTextA(window, IDC_CALLBACK, g_userDetails.callback, CALLBACK_SIZE);
}

// The dialog manager ends the modal run when it meets the quit message.
INT_PTR OnCloseCommand(HWND window) {
    StoreUserDetails(window);
    PostQuitMessage(0);
    return FALSE;
}

INT_PTR OnClose(HWND window) {
    StoreUserDetails(window);
    EndDialog(window, 1);
    PostQuitMessage(0);
    return FALSE;
}

// No owner, so the main window stays usable while the dialog is up.
void RunDialog(int templateId, DLGPROC procedure) {
    DialogBoxParamA(g_instance, MAKEINTRESOURCEA(templateId), nullptr, procedure, 0);
}

void OpenReadme() {
    ShellExecuteA(nullptr, "open", "C:\\Windows\\NOTEPAD.EXE", "readme.txt", nullptr, SW_SHOWNORMAL);
}

// Dispatched on the identifier alone: every notification of a control runs its action.
INT_PTR OnCommand(HWND window, WORD id) {
    switch (id) {
    case IDC_MESSAGE:
    case IDC_FROM:
    case IDC_CALLBACK:
        RecountMessage(window);
        break;
    case IDC_SEND:
        OnSendMessage(window);
        break;
    case IDC_CLEAR:
        OnClear(window);
        break;
    case IDC_REMOVE:
        OnRemove(window);
        break;
    case IDC_CONTACTS:
        ApplySelectedContact(window);
        break;
    case IDC_CLOSE:
    case ID_FILE_EXIT:
        return OnCloseCommand(window);
    case IDC_MINIMIZE:
        ShowWindow(window, SW_MINIMIZE);
        break;
    case IDC_TITLE_STRIP:
        DragWindow(window);
        break;
    case IDC_ABOUT_BADGE:
    case ID_HELP_ABOUT:
        RunDialog(IDD_ABOUT, AboutDialogProc);
        break;
    case IDC_ADD:
        RunDialog(IDD_ADD_CONTACT, AddContactDialogProc);
        break;
    case ID_HELP_README:
        OpenReadme();
        break;
    default:
        break;
    }
    return TRUE;
}

// A log-off ends the process soon after WM_ENDSESSION, before any exit path could run.
INT_PTR OnEndSession(HWND window, UINT message, WPARAM ending) {
    if (message == WM_ENDSESSION && ending) {
        StoreUserDetails(window);
        SaveAtExit(false);
    }
    SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);  // nothing here needs the session to wait
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    g_mainWindow = window;
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(window);
    case WM_COMMAND:
        return OnCommand(window, LOWORD(wParam));
    case WM_CLOSE:
        return OnClose(window);
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION:
        return OnEndSession(window, message, wParam);
    case WM_DESTROY:
        StopMainWindowKeys();
        PostQuitMessage(0);
        return FALSE;
    default:
        return FALSE;
    }
}
