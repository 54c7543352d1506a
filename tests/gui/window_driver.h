// Acting on the main window and the add-contact dialog the way a user's input reaches them.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Empties the process-wide records and points instance and delivery at this test executable.
void ResetRecords();

// Delivery goes to `address` (a loopback address of the test's own) instead of the carrier's host.
void DeliverTo(const char* address);

// The main window as the program opens it, but modeless so the test can drive it.
HWND OpenMainWindow();
void CloseMainWindow(HWND window);

// WM_COMMAND as the control itself sends it.
void Notify(HWND dialog, int id, WORD code);

// Replaces an edit's text and reports the change, as a paste does.
void SetField(HWND dialog, int id, const char* text);

// Types characters into an edit one key at a time; the edit reports each change itself.
void TypeInto(HWND dialog, int id, const char* text);

// A click on a row of the contact list: selection, then the list's own notification.
void ClickRow(HWND mainWindow, int row);

// A press of a push button, through the button itself.
void Press(HWND dialog, int id);

// A key as the dialog manager sees it arrive at the focused control.
void PressKey(HWND dialog, WPARAM key);

// Real key presses through the system's input queue, to the window with the keyboard focus; whatever
// message loop runs next handles them as it would the user's.
void Key(WORD key, bool down);
void Tap(WORD key);
void TapWith(WORD modifier, WORD key);  // Ctrl+V, Shift+Insert
void TypeKeys(const char* text);        // each character as the keyboard layout types it

// Puts text on the clipboard, for a paste.
void SetClipboard(HWND owner, const char* text);

int Selection(HWND dialog, int comboId);
std::vector<std::string> ListRows(HWND mainWindow);
std::vector<std::string> TableNames();
std::vector<std::string> ComboItems(HWND dialog, int comboId);

// True, and the quit message consumed, when one is waiting.
bool TakeQuitMessage();

// Runs steps inside modal loops: each step waits for a visible window of this thread with its
// title that no earlier step took, then acts on it. Dialogs still open at the deadline are ended
// with -1 and the test fails, so a missing window cannot hang the run.
class DialogScript {
public:
    DialogScript();
    ~DialogScript();
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    void When(const char* title, std::function<void(HWND)> action);
    // A step of its own at the next tick: by then the loop has handled every key and posted message.
    void Then(std::function<void()> action);
    bool finished() const;

private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
};
