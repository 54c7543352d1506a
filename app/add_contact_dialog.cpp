// The add-contact form: name, number and carrier, stored in the table and shown in the main list.
#include <cstring>

#include "app/app_state.h"
#include "app/dialogs.h"
#include "res/resource.h"

namespace {

constexpr const char* EMPTY_FIELD_TEXT = "Please fill in all fields";
constexpr const char* SEPARATOR_TEXT = "Names and numbers cannot contain \":\"";
constexpr const char* LIST_FULL_TEXT = "The contact list is full: it holds 500 contacts.\n\nRemove a contact to add another.";
static_assert(MAX_CONTACTS == 500, "LIST_FULL_TEXT names the capacity");

INT_PTR OnInitDialog(HWND window) {
    AddCarrierNames(window, IDC_CONTACT_CARRIER);
    LimitEdit(window, IDC_CONTACT_NAME, NAME_SIZE - 1);
    LimitEdit(window, IDC_CONTACT_NUMBER, NUMBER_SIZE - 1);
    SetWindowTextA(window, "add contact");
    return TRUE;
}

// Row k of the main list must show slot k again, and the new contact may sort anywhere.
void RebuildMainList(int rowsBefore) {
    for (int row = 0; row < rowsBefore; ++row) SendDlgItemMessageA(g_mainWindow, IDC_CONTACTS, LB_DELETESTRING, 0, 0);
    AddContactNames(g_mainWindow);
}

void Refuse(const char* text) { MessageBoxA(nullptr, text, "Error", MB_OK); }

// Checks run in this order: empty fields first, then the settings file's separator (which would
// split the contact on the next start), then the table's capacity, which only matters for input
// that is otherwise acceptable. Every refusal leaves the dialog open as typed.
INT_PTR OnOk(HWND window) {
    char name[NAME_SIZE] = "";
    char number[NUMBER_SIZE] = "";
    if (GetDlgItemTextA(window, IDC_CONTACT_NAME, name, NAME_SIZE) == 0 ||
        GetDlgItemTextA(window, IDC_CONTACT_NUMBER, number, NUMBER_SIZE) == 0) {
        Refuse(EMPTY_FIELD_TEXT);
        return TRUE;
    }
    const int carrier = static_cast<int>(SendDlgItemMessageA(window, IDC_CONTACT_CARRIER, CB_GETCURSEL, 0, 0));
    if (carrier == CB_ERR) {
        Refuse(EMPTY_FIELD_TEXT);
        return TRUE;
    }
    if (strchr(name, ':') != nullptr || strchr(number, ':') != nullptr) {
        Refuse(SEPARATOR_TEXT);
        return TRUE;
    }
    const int rowsBefore = g_contacts.count;
    if (!AddContact(g_contacts, name, number, carrier)) {
        Refuse(LIST_FULL_TEXT);
        return TRUE;
    }
    RebuildMainList(rowsBefore);
    EndDialog(window, 1);
    return TRUE;
}

INT_PTR OnCommand(HWND window, WORD id) {
    switch (id) {
    case IDOK:
        return OnOk(window);
    case IDCANCEL:
        EndDialog(window, 2);
        return FALSE;
    case IDC_TITLE_STRIP:
        DragWindow(window);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK AddContactDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(window);
    case WM_COMMAND:
        return OnCommand(window, LOWORD(wParam));
    default:
        return FALSE;
    }
}
