// Saves aside: what an exit writes, which earlier ones a start asks about or retires, and whose they are.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/text.h"
#include "contacts/save_aside.h"

namespace {

UserDetails Details(const char* sender, const char* callback) {
    UserDetails details{};
    CopyText(details.sender, sender);
    CopyText(details.callback, callback);
    return details;
}

struct Contact {
    const char* name;
    const char* number;
    int carrier;
};

std::unique_ptr<ContactTable> Book(const std::vector<Contact>& contacts) {
    auto table = std::make_unique<ContactTable>();
    for (const Contact& contact : contacts) AddContact(*table, contact.name, contact.number, contact.carrier);
    return table;
}

std::string Steps(const ExitSave& save) {
    std::string steps;
    for (int i = 0; i < save.steps; ++i) {
        if (!steps.empty()) steps += " ";
        switch (save.step[i]) {
        case SaveStep::Planned:
            steps += "planned";
            break;
        case SaveStep::NewBeside:
            steps += "beside";
            break;
        case SaveStep::NewInUserFolder:
            steps += "user-folder";
            break;
        }
    }
    return steps;
}

const LoadReport LOADED{SettingsState::Loaded, 0, "", 0, false};

}  // namespace

// The settings file is rewritten by every run; a save aside only when the session changed something.
TEST(SaveAside, ExitWritesAsideOnlyWhatTheSessionChanged) {
    struct Case {
        const char* target;
        bool changed;
        const char* steps;
        bool ask;
    };
    const Case cases[] = {
        {"mervasTX.ini", true, "planned beside user-folder", true},
        {"mervasTX.ini", false, "planned", false},  // nothing lost when that fails: the file holds the book
        {"mervasTX.ini.unsaved2", true, "planned user-folder", true},
        {"mervasTX.ini.unsaved2", false, "", false},
        {"C:\\users\\me\\AppData\\Local\\mervasTX\\mervasTX-0123456789abcdef.ini.unsaved", true, "planned", true},
        {"C:\\users\\me\\AppData\\Local\\mervasTX\\mervasTX-0123456789abcdef.ini.unsaved", false, "", false},
        {"", true, "user-folder", true},
        {"", false, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.target) + (c.changed ? ", changed" : ", unchanged"));
        const ExitSave save = PlanExitSave(KindOfTarget(c.target), c.changed);
        EXPECT_EQ(Steps(save), c.steps);
        EXPECT_EQ(save.askWhenAllFail, c.ask);
    }
}

TEST(SaveAside, SameBookComparesLiveSlotsAndDetailsOnly) {
    const std::vector<Contact> bea = {{"Bea Ray", "5551234567", 3}, {"Cy Young", "5559876543", 5}};
    auto loaded = Book(bea);
    const UserDetails me = Details("Me", "1");
    EXPECT_TRUE(SameBook(*loaded, me, *Book(bea), me));

    auto behind = Book(bea);  // a contact added and removed again leaves its copy behind the live slots
    AddContact(*behind, "Zed", "5550000000", 1);
    RemoveContact(*behind, 2);
    EXPECT_TRUE(SameBook(*loaded, me, *behind, me));

    struct Change {
        const char* what;
        std::vector<Contact> contacts;
        UserDetails details;
    };
    const Change changes[] = {
        {"a contact more", {bea[0], bea[1], {"Dee Fox", "5550001111", 1}}, me},
        {"a contact less", {bea[0]}, me},
        {"another number", {bea[0], {"Cy Young", "5559876544", 5}}, me},
        {"another carrier", {bea[0], {"Cy Young", "5559876543", 4}}, me},
        {"another name", {bea[0], {"Cy Youngs", "5559876543", 5}}, me},
        {"another sender", bea, Details("Me2", "1")},
        {"another callback", bea, Details("Me", "")},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        EXPECT_FALSE(SameBook(*loaded, me, *Book(change.contacts), change.details));
    }
}

// The 26-byte file of a run that entered nothing, and any other that the book holds whole, go without a question.
TEST(SaveAside, OnlyAnAsideHoldingWhatTheBookLacksIsAskedAbout) {
    const std::vector<Contact> book = {{"Bea Ray", "5551234567", 3}, {"Cy Young", "5559876543", 5}};
    struct Case {
        const char* what;
        LoadReport report;
        std::vector<Contact> bookContacts;
        UserDetails bookDetails;
        std::vector<Contact> aside;
        UserDetails asideDetails;
        AsideAction action;
        int missing;
        bool details;
    };
    const LoadReport missingFile{SettingsState::Missing, 0, "", 0, false};
    const LoadReport unreadable{SettingsState::Unreadable, 0, "held", 0, false};
    const LoadReport cutAt500{SettingsState::Loaded, 3, "", 0, false};
    const Case cases[] = {
        {"empty, book empty", LOADED, {}, Details("", ""), {}, Details("", ""), AsideAction::Retire, 0, false},
        {"empty, book full", LOADED, book, Details("Me", "1"), {}, Details("", ""), AsideAction::Retire, 0, false},
        {"all in the book", LOADED, book, Details("Me", "1"), {book[1]}, Details("Me", "1"), AsideAction::Retire, 0,
         false},
        {"a sender only where the book has the same", LOADED, book, Details("Me", "1"), {}, Details("Me", ""),
         AsideAction::Retire, 0, false},
        {"a callback only where the book has the same", LOADED, book, Details("Me", "1"), {}, Details("", "1"),
         AsideAction::Retire, 0, false},
        {"one contact more", LOADED, book, Details("Me", "1"), {book[0], {"Dee Fox", "5550001111", 1}},
         Details("Me", "1"), AsideAction::Ask, 1, false},
        {"the same name with another number", LOADED, book, Details("", ""), {{"Bea Ray", "5551234568", 3}},
         Details("", ""), AsideAction::Ask, 1, false},
        {"details where the book has none", LOADED, book, Details("", ""), {}, Details("Dr Who", ""),
         AsideAction::Ask, 0, true},
        {"another callback", LOADED, book, Details("Me", "1"), {}, Details("Me", "2"), AsideAction::Ask, 0, true},
        {"more than 500 contacts", cutAt500, book, Details("", ""), book, Details("", ""), AsideAction::Ask, 0,
         false},
        {"gone", missingFile, book, Details("", ""), {}, Details("", ""), AsideAction::Leave, 0, false},
        {"held", unreadable, book, Details("", ""), {}, Details("", ""), AsideAction::Leave, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AsideVerdict verdict =
            JudgeSaveAside(c.report, *Book(c.bookContacts), c.bookDetails, *Book(c.aside), c.asideDetails);
        EXPECT_EQ(verdict.action, c.action);
        if (c.action == AsideAction::Leave) continue;
        EXPECT_EQ(verdict.missingContacts, c.missing);
        EXPECT_EQ(verdict.detailsToOffer, c.details);
    }
}

TEST(SaveAside, NameSaysWhoseItIs) {
    const char* key = "0123456789abcdef";
    struct Case {
        const char* name;
        AsideOwner owner;
        int number;
    };
    const Case cases[] = {
        {"mervasTX.ini.unsaved", AsideOwner::Untagged, 1},
        {"MERVASTX.INI.UNSAVED7", AsideOwner::Untagged, 7},
        {"mervasTX.ini.unsaved99", AsideOwner::Untagged, 99},
        {"mervasTX-0123456789abcdef.ini.unsaved", AsideOwner::ThisFolder, 1},
        {"mervasTX-0123456789ABCDEF.ini.unsaved12", AsideOwner::ThisFolder, 12},
        {"mervasTX-0123456789abcdee.ini.unsaved", AsideOwner::OtherFolder, 1},
        {"mervasTX-fedcba9876543210.ini.unsaved3", AsideOwner::OtherFolder, 3},
        // What no save aside is called: NumberedUnsavedName writes none of these.
        {"mervasTX.ini.unsaved1", AsideOwner::None, 0},
        {"mervasTX.ini.unsaved02", AsideOwner::None, 0},
        {"mervasTX.ini.unsaved100", AsideOwner::None, 0},
        {"mervasTX.ini.unsaved2x", AsideOwner::None, 0},
        {"mervasTX.ini.unsaved.merged", AsideOwner::None, 0},
        {"mervasTX-0123456789abcdef.ini.unsaved2.merged", AsideOwner::None, 0},
        {"mervasTX.ini.unsaved.tmp", AsideOwner::None, 0},
        {"mervasTX.ini", AsideOwner::None, 0},
        {"mervasTX.ini.bak", AsideOwner::None, 0},
        {"mervasTX-0123456789abcde.ini.unsaved", AsideOwner::None, 0},
        {"mervasTX-0123456789abcdeg.ini.unsaved", AsideOwner::None, 0},
        {"mervas", AsideOwner::None, 0},
        {"", AsideOwner::None, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const AsideName name = ReadAsideName(c.name, key);
        EXPECT_EQ(name.owner, c.owner);
        EXPECT_EQ(name.number, c.number);
    }
}

// The names this folder's saves aside get are read back as this folder's, and as another's by any other folder.
TEST(SaveAside, NamesMadeForAFolderAreThatFoldersAlone) {
    char mine[FOLDER_KEY_SIZE];
    char other[FOLDER_KEY_SIZE];
    MakeFolderKey("C:\\PROGRAM FILES\\MERVASTX", mine);
    MakeFolderKey("C:\\PROGRAM FILES\\MERVASTX2", other);
    EXPECT_STRNE(mine, other);
    EXPECT_EQ(std::strspn(mine, "0123456789abcdef"), 16u);
    for (int n : {1, 2, 99}) {
        SCOPED_TRACE(n);
        char file[SETTINGS_PATH_SIZE];
        char aside[SETTINGS_PATH_SIZE];
        ASSERT_TRUE(KeyedSettingsName(file, "C:\\users\\me\\AppData\\Local\\mervasTX", mine));
        ASSERT_TRUE(NumberedUnsavedName(aside, file, n));
        const char* name = std::strrchr(aside, '\\') + 1;
        EXPECT_EQ(ReadAsideName(name, mine).owner, AsideOwner::ThisFolder) << name;
        EXPECT_EQ(ReadAsideName(name, mine).number, n);
        EXPECT_EQ(ReadAsideName(name, other).owner, AsideOwner::OtherFolder);
        ASSERT_TRUE(UntaggedSettingsName(file, "C:\\users\\me\\AppData\\Local\\mervasTX"));
        ASSERT_TRUE(NumberedUnsavedName(aside, file, n));
        EXPECT_EQ(ReadAsideName(std::strrchr(aside, '\\') + 1, mine).owner, AsideOwner::Untagged);
    }
    char file[SETTINGS_PATH_SIZE];
    EXPECT_FALSE(KeyedSettingsName(file, std::string(250, 'x').c_str(), mine)) << "a cut name is no name";
}

// The folder key is also the name of the claim that keeps a second copy out of a folder, so copies of
// this version and older ones must make the same key: 64-bit FNV-1a in hex.
TEST(SaveAside, FolderKeyIsTheClaimsHash) {
    char key[FOLDER_KEY_SIZE];
    MakeFolderKey("", key);
    EXPECT_STREQ(key, "cbf29ce484222325");
    MakeFolderKey("a", key);
    EXPECT_STREQ(key, "af63dc4c8601ec8c");
}

TEST(SaveAside, HeaderNamesTheFolderInOneLineOfTheReadersSize) {
    struct Case {
        std::string folder;
        std::string header;
    };
    const std::string longFolder = "C:\\" + std::string(100, 'a') + "\\the end";
    const Case cases[] = {
        {"C:\\Program Files\\mervasTX", "CONTACTS of C:\\Program Files\\mervasTX"},
        {"\\\\server\\share", "CONTACTS of \\\\server\\share"},
        {longFolder, "CONTACTS of ..." + longFolder.substr(longFolder.size() - 82)},
        {"C:\\a:b:c", "CONTACTS of C:\\a_b_c"},
        {"C:\\a\r\nb", "CONTACTS of C:\\a__b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        char header[LINE_PIECE_CHARS];
        SaveAsideHeader(header, c.folder.c_str());
        EXPECT_EQ(header, c.header);
        EXPECT_LE(std::strlen(header), static_cast<size_t>(LINE_PIECE_CHARS - 1));
    }
}
