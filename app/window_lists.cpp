// Filling the carrier boxes and the contact list the same way in every window.
#include "app/app_state.h"
#include "app/dialogs.h"
#include "gateway/carriers.h"
#include "res/resource.h"

void AddCarrierNames(HWND dialog, int comboId) {
    for (const Carrier& carrier : CARRIER_TABLE)
        SendDlgItemMessageA(dialog, comboId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(carrier.displayName));
}

void AddContactNames(HWND mainWindow) {
    HWND list = GetDlgItem(mainWindow, IDC_CONTACTS);
    // A list that redraws and resizes its scroll bar after every row takes seconds for a full book.
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    for (int slot = 0; slot < g_contacts.count; ++slot)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(g_contacts.names[slot]));
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}
