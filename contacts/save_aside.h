// Which saves aside a run writes at exit, and which earlier ones it offers, retires or leaves to their folder.
#pragma once

#include "contacts/contact_table.h"
#include "contacts/settings.h"
#include "contacts/user_details.h"

// A working folder's mark in the names of its saves aside: 16 hex digits hashed from the folder's name
// as given. The caller spells one folder one way (long form, upper case), so that it always gets one mark.
constexpr int FOLDER_KEY_SIZE = 17;
void MakeFolderKey(const char* comparableFolder, char (&key)[FOLDER_KEY_SIZE]);

// The settings file's name in the per-user folder for the working folder of `key`: mervasTX-KEY.ini.
// Its saves aside are that name with UNSAVED_SUFFIX (and 2..99) behind. False when it does not fit.
bool KeyedSettingsName(char (&name)[SETTINGS_PATH_SIZE], const char* userFolder, const char* key);

// The name older copies gave every folder's saves aside in the per-user folder: mervasTX.ini.
bool UntaggedSettingsName(char (&name)[SETTINGS_PATH_SIZE], const char* userFolder);

// The header line of a save aside in the per-user folder, naming the working folder for whoever opens it.
// Every reader discards the first line; this one stays one line of the reader's size, with fewer than
// three ':'-separated fields, so that no reader takes it for a contact or cuts it into pieces.
void SaveAsideHeader(char (&header)[LINE_PIECE_CHARS], const char* folder);

// Whose save aside a file name in the per-user folder or beside the settings file is.
enum class AsideOwner {
    None,         // not a save aside (*.merged, *.tmp, the settings file, anything else)
    Untagged,     // mervasTX.ini.unsaved[N]: beside the file its own; in the per-user folder of no known folder
    ThisFolder,   // mervasTX-KEY.ini.unsaved[N] with this folder's key
    OtherFolder,  // the same with another key
};
struct AsideName {
    AsideOwner owner;
    int number;  // 1..MAX_UNSAVED_FILES, the N of its name (1 for none)
};
AsideName ReadAsideName(const char* fileName, const char* key);

// Equal contacts in equal slots and equal details: a session that ends so changed nothing it loaded.
bool SameBook(const ContactTable& a, const UserDetails& aDetails, const ContactTable& b, const UserDetails& bDetails);

// What the start does with an earlier save aside that is this folder's.
enum class AsideAction {
    Leave,   // it did not load: neither asked about nor renamed
    Retire,  // it holds nothing the book lacks: renamed to *.merged without a question
    Ask,
};
struct AsideVerdict {
    AsideAction action;
    int missingContacts;  // contacts it holds that the book lacks
    bool detailsToOffer;  // a sender name or callback of its own, not empty and not the book's
};
AsideVerdict JudgeSaveAside(const LoadReport& report, const ContactTable& book, const UserDetails& bookDetails,
                            const ContactTable& aside, const UserDetails& asideDetails);

// Where a run means to save, by its target's name.
enum class SaveTarget {
    SettingsFile,  // the settings file itself
    BesideFile,    // a save aside beside it
    UserFolder,    // a save aside in the per-user folder (a full path)
    Nowhere,       // no name was free
};
SaveTarget KindOfTarget(const char* target);

// One try of the exit save.
enum class SaveStep {
    Planned,          // the target planned at start-up
    NewBeside,        // the next free save aside beside the settings file
    NewInUserFolder,  // the next free save aside of this folder in the per-user folder
};
constexpr int MAX_SAVE_STEPS = 3;
struct ExitSave {
    int steps;  // tried in order until one takes the book; none: nothing needs writing
    SaveStep step[MAX_SAVE_STEPS];
    bool askWhenAllFail;  // when every step fails, the user may try again or give the session up
};
// The settings file is rewritten by every run; a save aside is written only for what the session changed,
// since the settings file, kept as it was, holds all of the rest.
ExitSave PlanExitSave(SaveTarget planned, bool changed);
