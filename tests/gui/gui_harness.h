// Helpers for driving the real dialogs under Wine: catching message boxes, pumping messages.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

struct CaughtBox {
    std::string title;
    std::string text;
    bool hasOwner;
    bool hasIcon = false;
};

// What a box shows, read before it is answered.
CaughtBox ReadBox(HWND box);

// Every box of the program: this title and text, and neither an icon nor an owner window.
::testing::AssertionResult IsPlainBox(const CaughtBox& box, const char* title, const char* text);

// While alive, every message box shown on this thread is recorded and dismissed with OK.
class MessageBoxCatcher {
public:
    MessageBoxCatcher();
    ~MessageBoxCatcher();
    MessageBoxCatcher(const MessageBoxCatcher&) = delete;
    MessageBoxCatcher& operator=(const MessageBoxCatcher&) = delete;

    const std::vector<CaughtBox>& boxes() const { return boxes_; }
    void clear() { boxes_.clear(); }

private:
    static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam);
    HHOOK hook_;
    std::vector<CaughtBox> boxes_;
};

// A dialog-class window, and among those a message box (its text is the static 0xFFFF).
bool IsDialogClass(HWND window);
bool IsMessageBox(HWND window);

// The box's icon control: 0x14 on Windows, 0x440 in Wine (kept visible there, but empty).
bool BoxShowsIcon(HWND box);

// Dispatches whatever is queued for this thread, for about `milliseconds`.
void PumpMessages(DWORD milliseconds = 0);

// Window text of a control or window.
std::string TextOf(HWND window);
std::string ItemText(HWND dialog, int id);
