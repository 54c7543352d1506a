// The program's windows: one dialog procedure each, what they share, and the run.
#pragma once

#include <windows.h>

#include "contacts/settings.h"

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AddContactDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Hands a captionless window to the system's move loop; returns once the mouse button is released.
void DragWindow(HWND window);

// The six carrier names in carrier-index order, so a box's position is the carrier index.
void AddCarrierNames(HWND dialog, int comboId);

// Limits the edit to `chars` characters, whether typed, pasted or set.
void LimitEdit(HWND dialog, int id, int chars);

// Appends the names of the table's live slots to the main list, so row k shows slot k.
void AddContactNames(HWND mainWindow);

// For the main window's lifetime: its keys reach its dialog manager whichever dialog's loop is running.
void StartMainWindowKeys();
void StopMainWindowKeys();

// Start-up, the main window's modal run, the drain of the quit message and the save; the exit code.
int RunProgram(HINSTANCE instance);

// Saves the book and details where this run saves them; when that fails, beside the settings file, then
// in the user's own folder. Boxes only when `tellUser`, and then, when nothing could be written, the user
// may try again: a log-off ends the process soon after and would not wait for them.
void SaveAtExit(bool tellUser);

// The next free save aside of this working folder in the per-user folder, which need not exist yet.
// False when there is none.
bool UserFolderSaveName(char (&target)[SETTINGS_PATH_SIZE]);

// The per-user folder, %LOCALAPPDATA%\mervasTX, which need not exist. False when there is none.
bool UserFolderPath(char (&folder)[SETTINGS_PATH_SIZE]);

// The folder's name as one folder is always spelt, for its key.
void ComparableFolder(const char* folder, char (&path)[MAX_PATH]);

// Retires each earlier save aside of this folder that holds nothing the book lacks, and asks about each
// other one, taking its contacts in on a Yes.
void OfferEarlierSaves();

// Once the book is saved, the saves aside taken into it are renamed to *.merged.
void RenameMergedSaves();

// The boxes of start-up and exit: g_boxText in a plain box titled "Error".
void ShowErrorBox();
int AskErrorBox(UINT buttons);

// "NAME in FOLDER" for a file of the working folder, the full path for one elsewhere.
void AppendPlace(const char* target);

// Claims the working folder for this copy of the program. False when another copy runs there: that
// one has been brought to the front. `claim` is released at the end of the run (null if none was made).
bool ClaimFolder(const char* folder, HANDLE& claim);
