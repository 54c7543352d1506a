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
