// The program's process-wide records; each is defined once, in app_state.cpp.
#pragma once

#include <windows.h>

#include "contacts/contact_table.h"
#include "contacts/save_aside.h"
#include "contacts/settings.h"
#include "contacts/user_details.h"
#include "gateway/request.h"
#include "gateway/send_command.h"

constexpr int WELCOME_TEXT_SIZE = 500;
constexpr int BOX_TEXT_SIZE = 2000;  // room for three paths and a few sentences
constexpr int MAX_MERGED_SAVES = 8;

extern HINSTANCE g_instance;
extern HWND g_mainWindow;  // recorded by the main window's procedure at the start of every call
extern ContactTable g_contacts;
extern UserDetails g_userDetails;
extern GatewayRequest g_request;
extern ReaderBuffers g_readerBuffers;
extern char g_welcomeText[WELCOME_TEXT_SIZE];
extern char g_boxText[BOX_TEXT_SIZE];  // the other boxes of start-up and exit
extern char g_folder[MAX_PATH];        // the working folder, where the settings file lives

// Where this run saves, decided at start-up, and what it does once the save has succeeded.
struct SavePlan {
    // The settings file; a file beside it when that must be kept; a full path in the user's own folder when
    // the working folder cannot be written; empty when no name is left.
    char target[SETTINGS_PATH_SIZE];
    bool folderWritable;
    char folderKey[FOLDER_KEY_SIZE];       // the working folder's mark in its saves aside's names
    char asideHeader[LINE_PIECE_CHARS];    // their first line, naming the working folder
    int mergedCount;  // earlier saves aside whose contacts this run took: renamed once the book is saved
    char merged[MAX_MERGED_SAVES][SETTINGS_PATH_SIZE];
};
extern SavePlan g_savePlan;
extern ContactTable g_loadedBook;  // the book and details as loaded: a run that ends with them changed nothing
extern UserDetails g_loadedDetails;
extern ContactTable g_earlierBook;  // an earlier run's save aside, read to offer what the book lacks
extern UserDetails g_earlierDetails;
extern DeliverFunction g_deliver;  // how "Send Message" delivers; tests point it at a listener of their own

// The hook that hands the main window's keys to its dialog manager while another dialog's loop runs.
struct MainWindowKeys {
    HHOOK hook;
    bool forwarding;  // the main window's own dialog manager calls the hook again
};
extern MainWindowKeys g_mainWindowKeys;
extern WNDPROC g_editProc;  // the edit class's own procedure, under the main window's subclassed edits
