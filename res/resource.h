// Resource identifiers shared by the resource script and the windows' code.
#pragma once

// Main window (IDD_MAIN)
#define IDD_MAIN 101
#define IDC_ADD 107
#define IDC_MESSAGE 1003
#define IDC_SEND 1009
#define IDC_CLEAR 1010
#define IDC_REMOVE 1011
#define IDC_PHONE 1012
#define IDC_FROM 1013
#define IDC_CALLBACK 1016
#define IDC_CONTACTS 1018
#define IDC_CHAR_COUNT 1019
#define IDC_CARRIER 1027
#define IDC_CLOSE 1033
#define IDC_MINIMIZE 1035
#define IDC_TITLE_STRIP 1036
#define IDC_ABOUT_BADGE 1038

// Add-contact dialog (IDD_ADD_CONTACT); its title strip is IDC_TITLE_STRIP too
#define IDD_ADD_CONTACT 109
#define IDC_CONTACT_NUMBER 1004
#define IDC_CONTACT_NAME 1010
#define IDC_CONTACT_CARRIER 1028

// About dialog (IDD_ABOUT)
#define IDD_ABOUT 114
#define IDC_ABOUT_STRIP 1037

// Menu that no window shows; the main window still answers its commands
#define IDR_MAIN_MENU 101
#define ID_FILE_EXIT 102
#define ID_HELP_ABOUT 104
#define ID_CONTACT_ADD 107
#define ID_HELP_README 120

// Icon and bitmaps
#define IDI_MAIN 111
#define IDB_MAIN_SKIN 135
#define IDB_ABOUT_BADGE 136
#define IDB_MINIMIZE 137
#define IDB_CLOSE 138
#define IDB_MAIN_TITLE 143
#define IDB_ADD_CONTACT_SKIN 144
#define IDB_ADD_CONTACT_TITLE 145
#define IDB_ABOUT_SKIN 147
#define IDB_ABOUT_TITLE 148
