// The add-contact dialog run from the main window's "Add" button, from the real templates and procedures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/dialogs.h"
#include "common/text.h"
#include "gui_harness.h"
#include "res/resource.h"
#include "window_driver.h"

namespace {

const char* const FILL_IN = "Please fill in all fields";
const char* const NO_SEPARATOR = "Names and numbers cannot contain \":\"";

class AddContactTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRecords();
        AddContact(g_contacts, "Dave Brown", "5554445555", 2);
        AddContact(g_contacts, "Bob Jones", "5559876543", 5);
    }
    void TearDown() override { CloseMainWindow(main_); }

    // Opens the main window if needed and presses "Add"; `drive` acts on the dialog while it is up.
    void AddThroughDialog(std::function<void(HWND)> drive) {
        if (main_ == nullptr) main_ = OpenMainWindow();
        DialogScript script;
        script.When("add contact", std::move(drive));
        Press(main_, IDC_ADD);
        EXPECT_TRUE(script.finished());
    }

    static void Fill(HWND dialog, const char* name, const char* number, int carrier) {
        SetDlgItemTextA(dialog, IDC_CONTACT_NAME, name);
        SetDlgItemTextA(dialog, IDC_CONTACT_NUMBER, number);
        SendDlgItemMessageA(dialog, IDC_CONTACT_CARRIER, CB_SETCURSEL, static_cast<WPARAM>(carrier), 0);
    }

    // OK must have been refused with exactly this box, the dialog still up with the typing intact.
    void ExpectRefused(HWND dialog, const char* text, const char* name, const char* number) {
        ASSERT_EQ(boxes_.boxes().size(), 1u);
        EXPECT_TRUE(IsPlainBox(boxes_.boxes()[0], "Error", text));
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ(ItemText(dialog, IDC_CONTACT_NAME), name);
        EXPECT_EQ(ItemText(dialog, IDC_CONTACT_NUMBER), number);
        boxes_.clear();
    }

    HWND main_ = nullptr;
    MessageBoxCatcher boxes_;
};

TEST_F(AddContactTest, OpensOwnerlessWithTheCarriersAndOkFocusedSoEnterRefuses) {
    AddThroughDialog([&](HWND dialog) {
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);
        EXPECT_TRUE(IsWindowEnabled(main_));
        EXPECT_EQ(ComboItems(dialog, IDC_CONTACT_CARRIER),
                  (std::vector<std::string>{"Ameritech", "AT&T", "Cingular", "Sprint", "SunCom", "Verizon"}));
        EXPECT_EQ(Selection(dialog, IDC_CONTACT_CARRIER), CB_ERR);
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDOK));
        PressKey(dialog, VK_RETURN);
        ExpectRefused(dialog, FILL_IN, "", "");
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(g_contacts.count, 2);
}

TEST_F(AddContactTest, IncompleteOrSeparatorInputIsRefusedEmptyFieldsFirst) {
    const struct {
        const char* name;
        const char* number;
        int carrier;
        const char* text;
    } cases[] = {
        {"", "5551234567", 1, FILL_IN},
        {"Ann Lee", "", 1, FILL_IN},
        {"Ann Lee", "5551234567", -1, FILL_IN},
        {"Ann:Lee", "5551234567", 1, NO_SEPARATOR},
        {"Ann Lee", "555:1234", 1, NO_SEPARATOR},
        {"Ann:Lee", "", 1, FILL_IN},
    };
    AddThroughDialog([&](HWND dialog) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " / " + c.number);
            Fill(dialog, c.name, c.number, c.carrier);
            Press(dialog, IDOK);
            ExpectRefused(dialog, c.text, c.name, c.number);
            EXPECT_EQ(Selection(dialog, IDC_CONTACT_CARRIER), c.carrier);
        }
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(g_contacts.count, 2);
    EXPECT_EQ(ListRows(main_), TableNames());
}

TEST_F(AddContactTest, AFullBookRefusesAfterTheFieldChecksAndStoresNothing) {
    for (int slot = g_contacts.count; slot < MAX_CONTACTS; ++slot) CopyText(g_contacts.names[slot], "Filler");
    g_contacts.count = MAX_CONTACTS;  // equal names behind the two real ones: still in name order
    AddThroughDialog([&](HWND dialog) {
        Fill(dialog, "", "5551234567", 1);
        Press(dialog, IDOK);
        ExpectRefused(dialog, FILL_IN, "", "5551234567");

        Fill(dialog, "Zed", "5551234567", 1);
        Press(dialog, IDOK);
        ASSERT_EQ(boxes_.boxes().size(), 1u);
        const std::string text = boxes_.boxes()[0].text;
        EXPECT_NE(text.find("contact list is full"), std::string::npos) << text;
        ExpectRefused(dialog, text.c_str(), "Zed", "5551234567");
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(g_contacts.count, MAX_CONTACTS);
    EXPECT_EQ(ListRows(main_).size(), static_cast<size_t>(MAX_CONTACTS));
}

TEST_F(AddContactTest, StoresCutTextsAndRebuildsTheListInNameOrderWithoutSelection) {
    main_ = OpenMainWindow();
    ClickRow(main_, 1);  // Dave Brown: fills phone and carrier, which the add must leave alone
    const std::string longName = "Aaron " + std::string(34, 'q');
    AddThroughDialog([&](HWND dialog) {
        // Typed, pasted or set, the edits show no more than is stored: "555-111-2222" would page a wrong number.
        TypeInto(dialog, IDC_CONTACT_NUMBER, "555-111-2222");
        EXPECT_EQ(ItemText(dialog, IDC_CONTACT_NUMBER), "555-111-22");
        SetClipboard(dialog, longName.c_str());
        SendDlgItemMessageA(dialog, IDC_CONTACT_NAME, WM_PASTE, 0, 0);
        EXPECT_EQ(ItemText(dialog, IDC_CONTACT_NAME), longName.substr(0, 34));
        Fill(dialog, longName.c_str(), "55512345678901", 4);
        EXPECT_EQ(ItemText(dialog, IDC_CONTACT_NAME), longName.substr(0, 34));
        EXPECT_EQ(ItemText(dialog, IDC_CONTACT_NUMBER), "5551234567");
        Press(dialog, IDOK);
    });
    ASSERT_EQ(g_contacts.count, 3);
    EXPECT_EQ(std::string(g_contacts.names[0]), longName.substr(0, 34));
    EXPECT_STREQ(g_contacts.numbers[0], "5551234567");
    EXPECT_EQ(g_contacts.carriers[0], 4);
    EXPECT_EQ(ListRows(main_), TableNames());
    EXPECT_EQ(SendDlgItemMessageA(main_, IDC_CONTACTS, LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_EQ(ItemText(main_, IDC_PHONE), "5554445555");
    EXPECT_EQ(Selection(main_, IDC_CARRIER), 2);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(AddContactTest, AnEqualNameIsKeptBesideTheOther) {
    AddThroughDialog([&](HWND dialog) {
        Fill(dialog, "Bob Jones", "5550001111", 0);
        Press(dialog, IDOK);
    });
    EXPECT_EQ(ListRows(main_), (std::vector<std::string>{"Bob Jones", "Bob Jones", "Dave Brown"}));
    EXPECT_EQ(ListRows(main_), TableNames());
}

TEST_F(AddContactTest, ResultsAreOneWhenStoredAndTwoForCancelOrEscape) {
    main_ = OpenMainWindow();
    const auto run = [](std::function<void(HWND)> drive) {
        DialogScript script;
        script.When("add contact", std::move(drive));
        return DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_ADD_CONTACT), nullptr, AddContactDialogProc, 0);
    };
    EXPECT_EQ(run([](HWND d) { Fill(d, "Carl", "5551112222", 3);
        Press(d, IDCANCEL); }), 2);
    EXPECT_EQ(run([](HWND d) { Fill(d, "Carl", "5551112222", 3);
        PressKey(d, VK_ESCAPE); }), 2);
    EXPECT_EQ(g_contacts.count, 2);
    EXPECT_EQ(ListRows(main_), (std::vector<std::string>{"Bob Jones", "Dave Brown"}));
    EXPECT_EQ(run([](HWND d) { Fill(d, "Carl", "5551112222", 3);
        Press(d, IDOK); }), 1);
    EXPECT_EQ(ListRows(main_), (std::vector<std::string>{"Bob Jones", "Carl", "Dave Brown"}));
}

// The first dialog's OK comes after the second's: it must rebuild from the table as it is then.
TEST_F(AddContactTest, TwoDialogsOpenAtOnceEachAddTheirContact) {
    main_ = OpenMainWindow();
    DialogScript script;
    script.When("add contact", [&](HWND first) {
        Press(main_, IDC_ADD);
        Fill(first, "Carl", "5551112222", 3);
        Press(first, IDOK);
    });
    script.When("add contact", [&](HWND second) {
        Fill(second, "Anna", "5553334444", 1);
        Press(second, IDOK);
    });
    Press(main_, IDC_ADD);
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(ListRows(main_), (std::vector<std::string>{"Anna", "Bob Jones", "Carl", "Dave Brown"}));
    EXPECT_EQ(ListRows(main_), TableNames());
}

}  // namespace
