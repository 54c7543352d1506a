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

// Makes up the connections a failed send never made, so the listener stops waiting and the test ends.
class ListenerGuard {
public:
    ListenerGuard(LoopbackListener& listener, const char* address, int connections)
        : listener_(listener), address_(address), connections_(connections) {}
    ~ListenerGuard() { Release(); }

    std::string Collect() {
        Release();
        return listener_.Received();
    }

private:
    // Surplus connections (when the listener is merely slow to accept) wait in its backlog unread.
    void Release() {
        for (int i = listener_.accepted(); i < connections_; ++i) {
            SOCKET peer = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in where{};
            where.sin_family = AF_INET;
            where.sin_port = htons(80);
            where.sin_addr.s_addr = inet_addr(address_);
            connect(peer, reinterpret_cast<const sockaddr*>(&where), sizeof where);
            closesocket(peer);
        }
    }

    LoopbackListener& listener_;
    const char* address_;
    int connections_;
};

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
    Press(window, IDC_CLEAR);
    EXPECT_EQ(ItemText(window, IDC_MESSAGE), "");
    EXPECT_EQ(ItemText(window, IDC_PHONE), "555");
    EXPECT_EQ(Count(), "10");
    TypeInto(window, IDC_FROM, "by");
    EXPECT_EQ(Count(), "12");

    // Each field counts at most the 199 characters its 200-byte read takes.
    const std::string longText(250, 'x');
    SetField(window, IDC_MESSAGE, longText.c_str());
    EXPECT_EQ(Count(), "211");
    SetField(window, IDC_FROM, longText.c_str());
    SetField(window, IDC_CALLBACK, longText.c_str());
    EXPECT_EQ(Count(), "597");
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
        EXPECT_EQ(boxes_.boxes()[0].text, c.text);
        EXPECT_EQ(boxes_.boxes()[0].title, c.title);
        EXPECT_FALSE(boxes_.boxes()[0].hasOwner);
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
    ListenerGuard guard(listener, "127.77.5.2", 2);
    DeliverTo("127.77.5.2");
    FillBook();
    HWND window = Open();
    ClickRow(window, 0);  // Alice Smith, Sprint
    SetField(window, IDC_FROM, "Bob");
    SetField(window, IDC_CALLBACK, "5550001111");
    TypeInto(window, IDC_MESSAGE, "hi there");
    Press(window, IDC_SEND);

    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_EQ(boxes_.boxes()[0].text, "Message sent!");
    EXPECT_EQ(boxes_.boxes()[0].title, "Message Status");
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
    EXPECT_EQ(boxes_.boxes()[1].text, "Message sent!");

    const std::string body = "pin=5552223333&message=" + std::string(100, 'x') + "&from=Bob&subject=5550001";
    EXPECT_EQ(guard.Collect(),
              "GET /BMG/sendmessage.jsp?phoneMin=5551234567&msg=hi%20there%20-from%20Bob&callback=5550001111"
              " HTTP/1.0\r\n\r\n"
              "POST /messagecenter/pagersend.cgi HTTP/1.0\r\n"
              "Content-type: application/x-www-form-urlencoded\r\nContent-Length: 148\r\n\r\n" +
                  body + "\r\n\r\n");
}

TEST_F(MainWindowTest, FailedDeliveryStillEmptiesTheMessage) {
    DeliverTo("127.77.5.3");  // nothing listens here
    SetDetails("Bob", "5550001");
    HWND window = Open();
    TypeInto(window, IDC_MESSAGE, "hello");
    SetField(window, IDC_PHONE, "5551234567");
    SendDlgItemMessageA(window, IDC_CARRIER, CB_SETCURSEL, 5, 0);
    Press(window, IDC_SEND);
    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_EQ(boxes_.boxes()[0].text, "Connect failed!");
    EXPECT_EQ(boxes_.boxes()[0].title, "Message Status");
    EXPECT_EQ(ItemText(window, IDC_MESSAGE), "");
    EXPECT_EQ(Count(), "0");
    EXPECT_EQ(ItemText(window, IDC_PHONE), "5551234567");
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

TEST_F(MainWindowTest, EnterAndEscapeDoNothingAndMinimiseIconises) {
    HWND window = Open();
    TypeInto(window, IDC_MESSAGE, "hi");
    for (int edit : {IDC_MESSAGE, IDC_FROM}) {
        SetFocus(GetDlgItem(window, edit));
        PressKey(window, VK_RETURN);
        PressKey(window, VK_ESCAPE);
        PumpMessages(50);
        EXPECT_TRUE(IsWindowVisible(window)) << "focus in " << edit;
    }
    EXPECT_EQ(ItemText(window, IDC_MESSAGE), "hi");
    EXPECT_FALSE(TakeQuitMessage());
    EXPECT_TRUE(boxes_.boxes().empty());

    Notify(window, IDC_MINIMIZE, STN_DBLCLK);
    EXPECT_TRUE(IsIconic(window));
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

// Runs the whole program in a folder of its own, closes it one way after editing the details, and reads the file.
std::string RunAndClose(const std::function<void(HWND)>& close, int& exitCode, bool& windowGone) {
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    const std::string folder = std::string(temp) + "mervastx_closing_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    char previous[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(folder.c_str());
    std::ofstream("mervasTX.ini", std::ios::binary)
        << "CONTACTS\r\nAlice Smith:5551234567:S:\r\nUSER DETAILS\r\nBob:5550001:";

    HWND main = nullptr;
    {
        DialogScript script;
        script.When("mervasTX", [&](HWND window) {
            main = window;
            SetField(window, IDC_FROM, "Christopher Columbus-Smith");
            SetField(window, IDC_CALLBACK, "555123456789");
            close(window);
        });
        exitCode = RunProgram(GetModuleHandleA(nullptr));
        EXPECT_TRUE(script.finished());
    }
    windowGone = main != nullptr && !IsWindow(main);
    std::stringstream saved;
    saved << std::ifstream("mervasTX.ini", std::ios::binary).rdbuf();
    DeleteFileA("mervasTX.ini");
    SetCurrentDirectoryA(previous);
    RemoveDirectoryA(folder.c_str());
    return saved.str();
}

TEST(MainWindowClosing, EveryPathSavesTheDetailsShownCutToTheirSizes) {
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
        int exitCode = -1;
        bool windowGone = false;
        EXPECT_EQ(RunAndClose(path.close, exitCode, windowGone),
                  "CONTACTS\r\nAlice Smith:5551234567:S:\r\nUSER DETAILS\r\nChristopher Columbu:5551234567:");
        EXPECT_EQ(exitCode, 0);
        EXPECT_TRUE(windowGone);
        EXPECT_TRUE(boxes.boxes().empty());
        EXPECT_FALSE(TakeQuitMessage());
    }
}

}  // namespace
