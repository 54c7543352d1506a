// The main window from the real template and procedure: counter, sending, contacts, keys, closing.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "app/app_state.h"
#include "app/dialogs.h"
#include "common/text.h"
#include "gui_harness.h"
#include "res/resource.h"
#include "tests/core/loopback_listener.h"
#include "window_driver.h"

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ResetRecords(); }
    void TearDown() override {
        if (window_ != nullptr) CloseMainWindow(window_);
    }

    HWND Open() { return window_ = OpenMainWindow(); }

    // Slots end up in name order: Alice, Bob, Carol, Dave.
    static void FillBook() {
        AddContact(g_contacts, "Dave Brown", "5554445555", 2);
        AddContact(g_contacts, "Bob Jones", "5559876543", 5);
        AddContact(g_contacts, "Alice Smith", "5551234567", 3);
        AddContact(g_contacts, "Carol White", "5552223333", 1);
    }

    static void SetDetails(const char* sender, const char* callback) {
        CopyText(g_userDetails.sender, sender);
        CopyText(g_userDetails.callback, callback);
    }

    std::string Count() const { return ItemText(window_, IDC_CHAR_COUNT); }

    HWND window_ = nullptr;
    MessageBoxCatcher boxes_;
};

TEST_F(MainWindowTest, EmptyRecordsOpenAnEmptyWindowWhereListAndRemoveDoNothing) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(g_mainWindow, window);
    EXPECT_EQ(TextOf(window), "mervasTX");
    EXPECT_TRUE(ListRows(window).empty());
    EXPECT_EQ(ItemText(window, IDC_FROM), "");
    EXPECT_EQ(ItemText(window, IDC_CALLBACK), "");
    EXPECT_EQ(Count(), "0");
    EXPECT_EQ(ComboItems(window, IDC_CARRIER),
              (std::vector<std::string>{"Ameritech", "AT&T", "Cingular", "Sprint", "SunCom", "Verizon"}));
    EXPECT_EQ(Selection(window, IDC_CARRIER), CB_ERR);
    EXPECT_EQ(GetFocus(), GetDlgItem(window, IDC_MESSAGE));

    Notify(window, IDC_CONTACTS, LBN_SELCHANGE);
    Press(window, IDC_REMOVE);
    EXPECT_EQ(g_contacts.count, 0);
    EXPECT_EQ(ItemText(window, IDC_PHONE), "");
    EXPECT_EQ(Selection(window, IDC_CARRIER), CB_ERR);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(MainWindowTest, FilledRecordsShowTheTableAndTheDetails) {
    FillBook();
    SetDetails("Bob", "5550001");
    HWND window = Open();
    EXPECT_EQ(ListRows(window), TableNames());
    EXPECT_EQ(ListRows(window).size(), 4u);
    EXPECT_EQ(ItemText(window, IDC_FROM), "Bob");
    EXPECT_EQ(ItemText(window, IDC_CALLBACK), "5550001");
    EXPECT_EQ(Count(), "10");
    EXPECT_EQ(Selection(window, IDC_CARRIER), CB_ERR);
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_CONTACTS, LB_GETCURSEL, 0, 0), LB_ERR);
}

TEST_F(MainWindowTest, CounterFollowsMessageSenderAndCallbackButNotPhone) {
    SetDetails("Bob", "5550001");
    HWND window = Open();
    TypeInto(window, IDC_MESSAGE, "hi");
    EXPECT_EQ(Count(), "12");
    TypeInto(window, IDC_PHONE, "555");
    EXPECT_EQ(Count(), "12");
    // The phone edit holds the 14 characters that are sent, however they arrive.
    TypeInto(window, IDC_PHONE, "-123-456-78901");
    EXPECT_EQ(ItemText(window, IDC_PHONE), "555-123-456-78");
    SetField(window, IDC_PHONE, "555-123-456-7890");
    EXPECT_EQ(ItemText(window, IDC_PHONE), "555-123-456-78");
    SetField(window, IDC_PHONE, "555");
    Press(window, IDC_CLEAR);
    EXPECT_EQ(ItemText(window, IDC_MESSAGE), "");
    EXPECT_EQ(ItemText(window, IDC_PHONE), "555");
    EXPECT_EQ(Count(), "10");
    TypeInto(window, IDC_FROM, "by");
    EXPECT_EQ(Count(), "12");

    // The message counts at most the 199 characters its 200-byte read takes; sender and callback hold no
    // more than the 19 and 10 characters that are saved.
    const std::string longText(250, 'x');
    SetField(window, IDC_MESSAGE, longText.c_str());
    EXPECT_EQ(Count(), "211");
    SetField(window, IDC_FROM, longText.c_str());
    SetField(window, IDC_CALLBACK, longText.c_str());
    EXPECT_EQ(Count(), "228");
}

TEST_F(MainWindowTest, RefusedSendsShowTheirBoxAndLeaveTheWindowAsItWas) {
    DeliverTo("127.77.5.1");  // nothing listens: a refusal that delivers anyway shows "Connect failed!"
    struct Case {
        const char* message;
        const char* phone;
        int carrier;
        const char* callback;
        const char* text;
        const char* title;
        bool detailsStored;
    };
    const std::string hundred(100, 'x');
    const Case cases[] = {
        {"", "5551234567", 3, "5550001", "Message and Phone # fields are required", "Error", false},
        {"hi", "", 3, "5550001", "Message and Phone # fields are required", "Error", false},
        {"hi", "5551234567", -1, "5550001", "Please select a carrier", "error", true},
        {hundred.c_str(), "5551234567", 1, "55500011", "Maximum message length for AT&T is 110", "Error", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ResetRecords();
        DeliverTo("127.77.5.1");
        HWND window = Open();
        SetField(window, IDC_MESSAGE, c.message);
        SetField(window, IDC_PHONE, c.phone);
        SetField(window, IDC_FROM, "Bob");
        SetField(window, IDC_CALLBACK, c.callback);
        SendDlgItemMessageA(window, IDC_CARRIER, CB_SETCURSEL, static_cast<WPARAM>(c.carrier), 0);
        const std::string countBefore = Count();
        boxes_.clear();

        Press(window, IDC_SEND);

        ASSERT_EQ(boxes_.boxes().size(), 1u);
        EXPECT_TRUE(IsPlainBox(boxes_.boxes()[0], c.title, c.text));
        EXPECT_EQ(ItemText(window, IDC_MESSAGE), c.message);
        EXPECT_EQ(Count(), countBefore);
        EXPECT_EQ(std::string(g_userDetails.sender), c.detailsStored ? "Bob" : "");
        EXPECT_EQ(std::string(g_userDetails.callback), c.detailsStored ? c.callback : "");
        CloseMainWindow(window);
        window_ = nullptr;
    }
}

TEST_F(MainWindowTest, SendDeliversThroughTheWindowThenEmptiesTheMessage) {
    LoopbackListener listener("127.77.5.2", 80, 2);
    ASSERT_TRUE(listener.listening());
    DeliverTo("127.77.5.2");
    FillBook();
    HWND window = Open();
    ClickRow(window, 0);  // Alice Smith, Sprint
    SetField(window, IDC_FROM, "Bob");
    SetField(window, IDC_CALLBACK, "5550001111");
    TypeInto(window, IDC_MESSAGE, "hi there");
    Press(window, IDC_SEND);

    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_TRUE(IsPlainBox(boxes_.boxes()[0], "Message Status", "Message sent!"));
    EXPECT_EQ(ItemText(window, IDC_MESSAGE), "");
    EXPECT_EQ(Count(), "0");
    EXPECT_EQ(ItemText(window, IDC_PHONE), "5551234567");
    EXPECT_EQ(Selection(window, IDC_CARRIER), 3);
    EXPECT_STREQ(g_userDetails.sender, "Bob");
    EXPECT_STREQ(g_userDetails.callback, "5550001111");
    // Any notification of the sender edit counts again: focus leaving it is enough.
    Notify(window, IDC_FROM, EN_KILLFOCUS);
    EXPECT_EQ(Count(), "13");

    // AT&T at exactly its maximum: 100 + 3 + 7 = 110 is accepted.
    ClickRow(window, 2);  // Carol White, AT&T
    SetField(window, IDC_CALLBACK, "5550001");
    SetField(window, IDC_MESSAGE, std::string(100, 'x').c_str());
    Press(window, IDC_SEND);
    ASSERT_EQ(boxes_.boxes().size(), 2u);
    EXPECT_TRUE(IsPlainBox(boxes_.boxes()[1], "Message Status", "Message sent!"));

    const std::string body = "pin=5552223333&message=" + std::string(100, 'x') + "&from=Bob&subject=5550001";
    EXPECT_EQ(listener.Received(),
              "GET /BMG/sendmessage.jsp?phoneMin=5551234567&msg=hi%20there%20-from%20Bob&callback=5550001111"
              " HTTP/1.0\r\n\r\n"
              "POST /messagecenter/pagersend.cgi HTTP/1.0\r\n"
              "Content-type: application/x-www-form-urlencoded\r\nContent-Length: 148\r\n\r\n" +
                  body + "\r\n\r\n");
}

// The user tries again once the gateway runs: nothing has to be typed twice.
TEST_F(MainWindowTest, FailedDeliveryKeepsMessagePhoneAndCarrier) {
    DeliverTo("127.77.14.1");  // nothing listens here
    SetDetails("Bob", "5550001");
    HWND window = Open();
    TypeInto(window, IDC_MESSAGE, "hello");
    SetField(window, IDC_PHONE, "5551234567");
    SendDlgItemMessageA(window, IDC_CARRIER, CB_SETCURSEL, 5, 0);
    Press(window, IDC_SEND);
    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_TRUE(IsPlainBox(boxes_.boxes()[0], "Message Status", "Connect failed!"));
    EXPECT_EQ(ItemText(window, IDC_MESSAGE), "hello");
    EXPECT_EQ(Count(), "15");
    EXPECT_EQ(ItemText(window, IDC_PHONE), "5551234567");
    EXPECT_EQ(Selection(window, IDC_CARRIER), 5);
}

TEST_F(MainWindowTest, ListNotificationsApplyTheSelectedContactOverWhatWasTyped) {
    FillBook();
    HWND window = Open();
    ClickRow(window, 1);  // Bob Jones, Verizon
    EXPECT_EQ(ItemText(window, IDC_PHONE), "5559876543");
    EXPECT_EQ(Selection(window, IDC_CARRIER), 5);
    EXPECT_EQ(ItemText(window, IDC_MESSAGE), "");

    SetField(window, IDC_PHONE, "123");
    SendDlgItemMessageA(window, IDC_CARRIER, CB_SETCURSEL, 0, 0);
    Notify(window, IDC_CONTACTS, LBN_SETFOCUS);
    EXPECT_EQ(ItemText(window, IDC_PHONE), "5559876543");
    EXPECT_EQ(Selection(window, IDC_CARRIER), 5);
}

TEST_F(MainWindowTest, RemoveTakesOnlyTheSelectedRowAndKeepsListAndTableInStep) {
    FillBook();
    HWND window = Open();
    Press(window, IDC_REMOVE);  // nothing selected
    EXPECT_EQ(g_contacts.count, 4);
    EXPECT_EQ(ListRows(window).size(), 4u);

    ClickRow(window, 1);  // Bob Jones
    Press(window, IDC_REMOVE);
    EXPECT_EQ(ListRows(window), (std::vector<std::string>{"Alice Smith", "Carol White", "Dave Brown"}));
    EXPECT_EQ(ListRows(window), TableNames());
    EXPECT_EQ(ItemText(window, IDC_PHONE), "5559876543");
    EXPECT_EQ(Selection(window, IDC_CARRIER), 5);

    // Every remaining row still applies its own number and carrier.
    const struct {
        const char* number;
        int carrier;
    } expected[] = {{"5551234567", 3}, {"5552223333", 1}, {"5554445555", 2}};
    for (int row = 0; row < 3; ++row) {
        ClickRow(window, row);
        EXPECT_EQ(ItemText(window, IDC_PHONE), expected[row].number) << "row " << row;
        EXPECT_EQ(Selection(window, IDC_CARRIER), expected[row].carrier) << "row " << row;
    }
}

TEST_F(MainWindowTest, RemovingTheOnlyContactLeavesAnEmptyList) {
    AddContact(g_contacts, "Alice Smith", "5551234567", 3);
    HWND window = Open();
    ClickRow(window, 0);
    Press(window, IDC_REMOVE);
    EXPECT_TRUE(ListRows(window).empty());
    EXPECT_EQ(g_contacts.count, 0);
    Press(window, IDC_REMOVE);
    EXPECT_EQ(g_contacts.count, 0);
}

// The main window run modally, as the program runs it, with `script` acting from inside its loops. Only the
// script's last step may end it, with ENDED_BY_SCRIPT: a quit message or an EndDialog of the window's own
// ends the loop early and shows in the result.
constexpr INT_PTR ENDED_BY_SCRIPT = 7;

INT_PTR RunMainWindow(DialogScript& script) {
    const INT_PTR result = DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainWindowProc, 0);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(TakeQuitMessage()) << "the one posted on WM_DESTROY";
    return result;
}

// Real key presses: with another dialog's loop running and with the main window's own, Enter and Escape
// do nothing in any edit and Tab moves on from the message.
// A Windows-only path stays untested: Wine reports a message box's loop as MSGF_DIALOGBOX too, so the hook's
// MSGF_MESSAGEBOX case (Windows' own message-box loop) could be dropped without this test noticing.
TEST_F(MainWindowTest, KeysActTheSameWhetherOrNotAnotherDialogIsOpen) {
    HWND main = nullptr;
    HWND about = nullptr;
    const auto typeIntoMessage = [&](const char* text) {
        SetFocus(GetDlgItem(main, IDC_MESSAGE));
        TypeKeys(text);
        Tap(VK_RETURN);
        Tap(VK_ESCAPE);
        TypeKeys(text);
        Tap(VK_TAB);
    };
    DialogScript script;
    script.When("mervasTX", [&](HWND window) {
        main = window;
        Notify(main, IDC_ABOUT_BADGE, STN_CLICKED);  // its loop runs the steps up to OK
    });
    script.When("about mervasTX", [&](HWND window) {
        about = window;
        typeIntoMessage("a");
    });
    script.Then([&] {
        EXPECT_EQ(ItemText(main, IDC_MESSAGE), "aa") << "with the about dialog open";
        EXPECT_EQ(GetFocus(), GetDlgItem(main, IDC_FROM)) << "with the about dialog open";
        EXPECT_TRUE(IsWindowVisible(about));
        Press(about, IDOK);
    });
    script.Then([&] { typeIntoMessage("b"); });
    script.Then([&] {
        EXPECT_EQ(ItemText(main, IDC_MESSAGE), "aabb");
        EXPECT_EQ(GetFocus(), GetDlgItem(main, IDC_FROM));
    });
    for (int edit : {IDC_FROM, IDC_CALLBACK, IDC_PHONE, IDC_CHAR_COUNT}) {
        script.Then([&, edit] {
            SetFocus(GetDlgItem(main, edit));
            Tap(VK_RETURN);
            Tap(VK_ESCAPE);
        });
    }
    script.Then([&] {
        EXPECT_TRUE(IsWindowVisible(main));
        Notify(main, IDC_MINIMIZE, STN_DBLCLK);
        EXPECT_TRUE(IsIconic(main));
        EndDialog(main, ENDED_BY_SCRIPT);
    });
    EXPECT_EQ(RunMainWindow(script), ENDED_BY_SCRIPT) << "a key ended the main window";
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(MainWindowTest, AboutOpensWithoutOwnerFromTheBadgeAndTheMenuCommand) {
    HWND window = Open();
    int opened = 0;
    DialogScript script;
    for (int i = 0; i < 2; ++i)
        script.When("about mervasTX", [&](HWND about) {
            ++opened;
            EXPECT_EQ(GetWindow(about, GW_OWNER), nullptr);
            EXPECT_TRUE(IsWindowEnabled(window));
            Press(about, IDOK);
        });
    Notify(window, IDC_ABOUT_BADGE, STN_CLICKED);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(ID_HELP_ABOUT, 0), 0);
    EXPECT_EQ(opened, 2);
    EXPECT_TRUE(script.finished());
}

TEST_F(MainWindowTest, TheHandleIsRecordedOnEveryMessage) {
    HWND first = Open();
    HWND second = OpenMainWindow();
    EXPECT_EQ(g_mainWindow, second);
    SendMessageA(first, WM_NULL, 0, 0);
    EXPECT_EQ(g_mainWindow, first);
    CloseMainWindow(second);
}

// Runs the whole program in a folder of its own while `script` acts (its last step closes the main window),
// and returns the settings file it saved.
std::string RunProgramWith(DialogScript& script, int& exitCode) {
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    const std::string folder = std::string(temp) + "mervastx_closing_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    char previous[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(folder.c_str());
    std::ofstream("mervasTX.ini", std::ios::binary)
        << "CONTACTS\r\nAlice Smith:5551234567:S:\r\nUSER DETAILS\r\nBob:5550001:";

    exitCode = RunProgram(GetModuleHandleA(nullptr));
    EXPECT_TRUE(script.finished());
    std::stringstream saved;
    saved << std::ifstream("mervasTX.ini", std::ios::binary).rdbuf();
    DeleteFileA("mervasTX.ini");
    SetCurrentDirectoryA(previous);
    RemoveDirectoryA(folder.c_str());
    return saved.str();
}

TEST(MainWindowClosing, EveryPathSavesTheDetailsShown) {
    const struct {
        const char* path;
        std::function<void(HWND)> close;
    } paths[] = {
        {"close glyph", [](HWND w) { Notify(w, IDC_CLOSE, STN_CLICKED); }},
        {"Alt+F4", [](HWND w) { SendMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"menu Exit", [](HWND w) { SendMessageA(w, WM_COMMAND, MAKEWPARAM(ID_FILE_EXIT, 0), 0); }},
    };
    for (const auto& path : paths) {
        SCOPED_TRACE(path.path);
        ResetRecords();
        MessageBoxCatcher boxes;
        HWND main = nullptr;
        DialogScript script;
        script.When("mervasTX", [&](HWND window) {
            main = window;
            // Set as another program would: the edits still keep neither ':' nor more than is saved.
            SetField(window, IDC_FROM, "Christopher: Columbus-Smith");
            SetField(window, IDC_CALLBACK, "555:123456789");
            EXPECT_EQ(ItemText(window, IDC_FROM), "Christopher Columbu");
            EXPECT_EQ(ItemText(window, IDC_CALLBACK), "5551234567");
            path.close(window);
        });
        int exitCode = -1;
        EXPECT_EQ(RunProgramWith(script, exitCode),
                  "CONTACTS\r\nAlice Smith:5551234567:S:\r\nUSER DETAILS\r\nChristopher Columbu:5551234567:");
        EXPECT_EQ(exitCode, 0);
        EXPECT_TRUE(main != nullptr && !IsWindow(main));
        EXPECT_TRUE(boxes.boxes().empty());
        EXPECT_FALSE(TakeQuitMessage());
    }
}

// Typed or pasted with Ctrl+V or Shift+Insert, a ':' never enters the sender and callback edits, nor more
// than the file keeps, so what they show at exit is what the next start shows.
TEST(MainWindowDetails, WhatTheEditsShowAtExitIsWhatTheNextStartShows) {
    ResetRecords();
    MessageBoxCatcher boxes;
    HWND main = nullptr;
    std::string shownSender;
    std::string shownCallback;
    const auto replace = [&](int edit) {
        SetFocus(GetDlgItem(main, edit));
        SendDlgItemMessageA(main, edit, EM_SETSEL, 0, -1);
    };
    DialogScript script;
    script.When("mervasTX", [&](HWND window) {
        main = window;
        SetForegroundWindow(main);
        replace(IDC_FROM);
        TypeKeys("Dr: Who");
        SetClipboard(main, ":Jr:\r\nthe next line");
        TapWith(VK_CONTROL, 'V');
    });
    script.Then([&] {
        EXPECT_EQ(ItemText(main, IDC_FROM), "Dr WhoJr");
        replace(IDC_CALLBACK);
        TypeKeys("555:0001");
        SetClipboard(main, "1:2");
        TapWith(VK_SHIFT, VK_INSERT);
        TypeKeys("3456");
    });
    script.Then([&] {
        shownSender = ItemText(main, IDC_FROM);
        shownCallback = ItemText(main, IDC_CALLBACK);
        EXPECT_EQ(shownCallback, "5550001123");
        EXPECT_EQ(ItemText(main, IDC_CHAR_COUNT), "18");
        SendMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    int exitCode = -1;
    const std::string saved = RunProgramWith(script, exitCode);
    EXPECT_EQ(saved, "CONTACTS\r\nAlice Smith:5551234567:S:\r\nUSER DETAILS\r\nDr WhoJr:5550001123:");
    EXPECT_TRUE(boxes.boxes().empty());

    const std::string file = "mervastx_details_" + std::to_string(GetCurrentProcessId()) + ".ini";
    std::ofstream(file, std::ios::binary) << saved;
    ResetRecords();
    LoadSettings(g_contacts, g_userDetails, g_readerBuffers, file.c_str());
    DeleteFileA(file.c_str());
    EXPECT_EQ(g_userDetails.sender, shownSender);
    EXPECT_EQ(g_userDetails.callback, shownCallback);
}

}  // namespace
