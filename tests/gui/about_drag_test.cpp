// The about dialog under real keyboard input, and moving all three windows by their strips with the real pointer.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/dialogs.h"
#include "gui_harness.h"
#include "res/resource.h"
#include "window_driver.h"

namespace {

// ---- Steps run from inside whatever message loop this thread is in ----

BOOL CALLBACK CollectAbout(HWND window, LPARAM found) {
    if (IsWindowVisible(window) && TextOf(window) == "about mervasTX")
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

std::vector<HWND> OpenAboutDialogs() {
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), CollectAbout, reinterpret_cast<LPARAM>(&found));
    return found;
}

// A step runs once `aboutOpen` about dialogs are showing (0: at once), or after five seconds regardless.
struct Step {
    size_t aboutOpen;
    std::function<void()> action;
};

class TickScript;
TickScript* g_script;

// One step per tick. A step may open a nested modal dialog: later steps then run inside its loop.
class TickScript {
public:
    explicit TickScript(std::vector<Step> steps) : steps_(std::move(steps)) {
        g_script = this;
        timer_ = SetTimer(nullptr, 0, 100, OnTick);
    }
    ~TickScript() {
        KillTimer(nullptr, timer_);
        g_script = nullptr;
    }
    TickScript(const TickScript&) = delete;
    TickScript& operator=(const TickScript&) = delete;

private:
    static void CALLBACK OnTick(HWND, UINT, UINT_PTR, DWORD) {
        TickScript* script = g_script;
        if (!script || script->next_ >= script->steps_.size()) return;
        const Step& step = script->steps_[script->next_];
        if (step.aboutOpen != 0 && OpenAboutDialogs().size() != step.aboutOpen && ++script->waited_ < 50) return;
        script->waited_ = 0;
        ++script->next_;  // before the action, which may run later ticks from a nested loop
        step.action();
    }
    std::vector<Step> steps_;
    size_t next_ = 0;
    int waited_ = 0;
    UINT_PTR timer_;
};

constexpr INT_PTR LEFT_OPEN = 99;

// The last step of every script: a dialog that should have closed is ended so the test cannot hang.
void EndLeftovers() {
    for (HWND dialog : OpenAboutDialogs()) EndDialog(dialog, LEFT_OPEN);
}

INT_PTR RunAbout() {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), nullptr, AboutDialogProc, 0);
}

// ---- Real input, through the same queue as the user's ----

// The commands the about dialog receives, whoever sends or posts them.
struct CommandSpy {
    WNDPROC original = nullptr;
    std::vector<WORD> commands;
};
CommandSpy* g_spy;

LRESULT CALLBACK SpyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) g_spy->commands.push_back(LOWORD(wParam));
    return CallWindowProcA(g_spy->original, window, message, wParam, lParam);
}

void Spy(HWND dialog, CommandSpy& spy) {
    g_spy = &spy;
    spy.original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SpyProc)));
}

int CountOf(const std::vector<WORD>& commands, WORD id) {
    int count = 0;
    for (WORD seen : commands) count += seen == id;
    return count;
}

TEST(AboutDialog, EnterAndSpaceOnOkCloseItWithOne) {
    for (WORD key : {WORD{VK_RETURN}, WORD{VK_SPACE}}) {
        SCOPED_TRACE(key == VK_RETURN ? "Enter" : "Space");
        HWND dialog = nullptr, ok = nullptr, focus = nullptr, foreground = nullptr;
        std::string title;
        TickScript script({{1,
                            [&] {
                                dialog = OpenAboutDialogs().empty() ? nullptr : OpenAboutDialogs()[0];
                                title = TextOf(dialog);
                                ok = GetDlgItem(dialog, IDOK);
                                focus = GetFocus();
                                foreground = GetForegroundWindow();
                                Tap(key);
                            }},
                           {0, EndLeftovers}});
        const INT_PTR result = RunAbout();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(title, "about mervasTX");
        EXPECT_NE(ok, nullptr);
        EXPECT_EQ(focus, ok) << "the keyboard focus starts on OK";
        EXPECT_EQ(foreground, dialog);
        EXPECT_EQ(result, 1);
        EXPECT_FALSE(IsWindow(dialog));
    }
}

TEST(AboutDialog, EscapeAndCloseRequestsLeaveItOpen) {
    CommandSpy spy;
    HWND dialog = nullptr;
    int cancelsAfterEscape = 0, cancelsAfterAltF4 = 0, cancelsAfterClose = 0, cancelsAfterSysClose = 0;
    bool openAfterAll = false;
    auto cancels = [&] { return CountOf(spy.commands, IDCANCEL); };
    TickScript script({
        {1,
         [&] {
             dialog = OpenAboutDialogs().empty() ? nullptr : OpenAboutDialogs()[0];
             if (dialog) Spy(dialog, spy);
             Tap(VK_ESCAPE);
         }},
        {1,
         [&] {
             cancelsAfterEscape = cancels();
             Key(VK_MENU, true);
             Tap(VK_F4);
             Key(VK_MENU, false);
         }},
        {1,
         [&] {
             cancelsAfterAltF4 = cancels();
             PostMessageA(dialog, WM_CLOSE, 0, 0);
         }},
        {1,
         [&] {
             cancelsAfterClose = cancels();
             PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
         }},
        {1,
         [&] {
             cancelsAfterSysClose = cancels();
             openAfterAll = IsWindowVisible(dialog) != FALSE;
             Tap(VK_RETURN);
         }},
        {0, EndLeftovers},
    });
    const INT_PTR result = RunAbout();
    ASSERT_NE(dialog, nullptr);
    // Each request reached the dialog as IDCANCEL, and none of them ended it.
    EXPECT_EQ(cancelsAfterEscape, 1);
    EXPECT_EQ(cancelsAfterAltF4, 2);
    EXPECT_EQ(cancelsAfterClose, 3);
    EXPECT_EQ(cancelsAfterSysClose, 4);
    EXPECT_TRUE(openAfterAll);
    EXPECT_EQ(result, 1) << "only OK ends it";
}

TEST(AboutDialog, TwoCanBeOpenAtOnceAndEachClosesThroughItsOwnOk) {
    HWND first = nullptr, second = nullptr;
    size_t openTogether = 0;
    INT_PTR secondResult = 0;
    bool firstOpenAfterSecondClosed = false;
    auto click = [](HWND dialog) { SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0); };
    TickScript script({
        {1,
         [&] {
             first = OpenAboutDialogs().empty() ? nullptr : OpenAboutDialogs()[0];
             secondResult = RunAbout();  // nested, as a second click on the badge runs it
             firstOpenAfterSecondClosed = first && IsWindowVisible(first);
         }},
        {2,
         [&] {
             const std::vector<HWND> open = OpenAboutDialogs();
             openTogether = open.size();
             for (HWND dialog : open)
                 if (dialog != first) second = dialog;
             if (second) click(second);
         }},
        {1,
         [&] {
             if (first) click(first);
         }},
        {0, EndLeftovers},
    });
    const INT_PTR firstResult = RunAbout();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(openTogether, 2u);
    EXPECT_EQ(secondResult, 1);
    EXPECT_TRUE(firstOpenAfterSecondClosed);
    EXPECT_EQ(firstResult, 1);
}

// ---- Dragging with the pointer ----

// Absolute pointer coordinates run from 0 to 65535 across the screen; round up so the pixel is exact.
LONG Normalized(int pixel, int screen) { return static_cast<LONG>((pixel * 65536LL + screen - 1) / screen); }

void PointerTo(POINT point) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = Normalized(point.x, GetSystemMetrics(SM_CXSCREEN));
    input.mi.dy = Normalized(point.y, GetSystemMetrics(SM_CYSCREEN));
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof input);
}

void LeftButton(bool down) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    SendInput(1, &input, sizeof input);
}

struct Gesture {
    POINT press;
    POINT displacement;
    POINT pointerAtPress;  // where the pointer was seen when the button went down
};

// Press, move in ten steps, release: from another thread, as the hand does while this thread
// runs the windows (and, on a strip, the system's move loop).
DWORD WINAPI PerformGesture(void* context) {
    Gesture& gesture = *static_cast<Gesture*>(context);
    PointerTo(gesture.press);
    Sleep(80);
    GetCursorPos(&gesture.pointerAtPress);
    LeftButton(true);
    Sleep(150);
    for (int step = 1; step <= 10; ++step) {
        PointerTo({gesture.press.x + gesture.displacement.x * step / 10,
                   gesture.press.y + gesture.displacement.y * step / 10});
        Sleep(30);
    }
    Sleep(100);
    LeftButton(false);
    Sleep(150);
    return 0;
}

// Runs the gesture while pumping this thread's messages; true if a quit message went by.
bool Drag(Gesture& gesture) {
    HANDLE thread = CreateThread(nullptr, 0, PerformGesture, &gesture, 0, nullptr);
    bool quit = false;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) quit = true;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) quit = true;
        DispatchMessageA(&message);
    }
    return quit;
}

struct ShellWindow {
    const char* name;
    int templateId;
    DLGPROC procedure;
    int stripId;
    POINT bare;  // a painted spot of the face with no control over it (window pixels)
};

const ShellWindow SHELL_WINDOWS[] = {
    {"main window", IDD_MAIN, MainWindowProc, IDC_TITLE_STRIP, {180, 60}},
    {"add contact", IDD_ADD_CONTACT, AddContactDialogProc, IDC_TITLE_STRIP, {30, 40}},
    {"about", IDD_ABOUT, AboutDialogProc, IDC_ABOUT_STRIP, {50, 60}},
};

class Opened {
public:
    explicit Opened(const ShellWindow& shell) {
        g_instance = GetModuleHandleA(nullptr);
        window_ = CreateDialogParamA(g_instance, MAKEINTRESOURCEA(shell.templateId), nullptr, shell.procedure, 0);
        ShowWindow(window_, SW_SHOW);
        SetForegroundWindow(window_);
        PumpMessages(200);
    }
    ~Opened() {
        DestroyWindow(window_);
        PumpMessages(50);
        MSG quit;
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);  // the main window's WM_DESTROY posts one
    }
    HWND get() const { return window_; }
    RECT Rect() const {
        RECT rect{};
        GetWindowRect(window_, &rect);
        return rect;
    }
    POINT ToScreen(POINT point) const {
        ClientToScreen(window_, &point);
        return point;
    }

private:
    HWND window_;
};

std::string Print(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

RECT Shifted(RECT r, POINT by) {
    OffsetRect(&r, by.x, by.y);
    return r;
}

TEST(WindowDrag, EachStripMovesItsWindowWithThePointerAndReopeningCentresIt) {
    for (const ShellWindow& shell : SHELL_WINDOWS) {
        SCOPED_TRACE(shell.name);
        RECT centred;
        {
            Opened window(shell);
            ASSERT_NE(window.get(), nullptr);
            centred = window.Rect();
            RECT strip;
            GetWindowRect(GetDlgItem(window.get(), shell.stripId), &strip);
            // Two drags from two places on the strip, one back part of the way.
            Gesture first{{strip.left + 40, strip.top + 5}, {-130, 75}, {}};
            EXPECT_FALSE(Drag(first));
            EXPECT_EQ(first.pointerAtPress.x, first.press.x);
            EXPECT_EQ(first.pointerAtPress.y, first.press.y);
            EXPECT_EQ(Print(window.Rect()), Print(Shifted(centred, first.displacement)));

            const RECT moved = window.Rect();
            Gesture second{{moved.left + (strip.right - strip.left) - 20, moved.top + 6}, {90, -40}, {}};
            EXPECT_FALSE(Drag(second));
            EXPECT_EQ(Print(window.Rect()), Print(Shifted(moved, second.displacement)));
            EXPECT_TRUE(IsWindowVisible(window.get()));
        }
        Opened again(shell);
        EXPECT_EQ(Print(again.Rect()), Print(centred));
    }
}

TEST(WindowDrag, PressesOffTheStripNeverMoveTheWindow) {
    for (const ShellWindow& shell : SHELL_WINDOWS) {
        SCOPED_TRACE(shell.name);
        Opened window(shell);
        ASSERT_NE(window.get(), nullptr);
        const RECT before = window.Rect();
        Gesture background{window.ToScreen(shell.bare), {70, 45}, {}};
        EXPECT_FALSE(Drag(background));
        EXPECT_EQ(Print(window.Rect()), Print(before));
        EXPECT_TRUE(IsWindowVisible(window.get())) << "a press on the face closed the window";
    }
}

TEST(WindowDrag, PressesOnTheMinimiseAndCloseGlyphsNeverMoveTheMainWindow) {
    Opened window(SHELL_WINDOWS[0]);
    ASSERT_NE(window.get(), nullptr);
    const RECT before = window.Rect();
    RECT glyph;

    GetWindowRect(GetDlgItem(window.get(), IDC_MINIMIZE), &glyph);
    Gesture minimise{{glyph.left + 5, glyph.top + 6}, {60, 40}, {}};
    EXPECT_FALSE(Drag(minimise));
    EXPECT_TRUE(IsIconic(window.get())) << "the press did not reach the minimise glyph";
    ShowWindow(window.get(), SW_RESTORE);
    PumpMessages(100);
    EXPECT_EQ(Print(window.Rect()), Print(before));

    GetWindowRect(GetDlgItem(window.get(), IDC_CLOSE), &glyph);
    Gesture close{{glyph.left + 6, glyph.top + 6}, {-60, 40}, {}};
    EXPECT_TRUE(Drag(close)) << "the press did not reach the close glyph";
    EXPECT_EQ(Print(window.Rect()), Print(before));
}

}  // namespace
