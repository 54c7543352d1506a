// The program's windows: one dialog procedure each, what they share, and the run.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AddContactDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Hands a captionless window to the system's move loop; returns once the mouse button is released.
void DragWindow(HWND window);

// The six carrier names in carrier-index order, so a box's position is the carrier index.
void AddCarrierNames(HWND dialog, int comboId);

// Appends the names of the table's live slots to the main list, so row k shows slot k.
void AddContactNames(HWND mainWindow);

// For the main window's lifetime: its keys reach its dialog manager whichever dialog's loop is running.
void StartMainWindowKeys();
void StopMainWindowKeys();

// Start-up, the main window's modal run, the drain of the quit message and the save; the exit code.
int RunProgram(HINSTANCE instance);

// Saves the book and details where this run saves them. Boxes only when `tellUser`: a log-off ends
// the process soon after and would not wait for them.
void SaveAtExit(bool tellUser);

// Claims the working folder for this copy of the program. False when another copy runs there: that
// one has been brought to the front. `claim` is released at the end of the run (null if none was made).
bool ClaimFolder(const char* folder, HANDLE& claim);
