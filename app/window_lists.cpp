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
    for (int slot = 0; slot < g_contacts.count; ++slot)
        SendDlgItemMessageA(mainWindow, IDC_CONTACTS, LB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(g_contacts.names[slot]));
}
