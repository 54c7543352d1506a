// Reading and writing the settings file that keeps the contacts and the user's details.
#pragma once

#include "contacts/contact_table.h"
#include "contacts/user_details.h"

constexpr const char* SETTINGS_FILE_NAME = "mervasTX.ini";
constexpr const char* SETTINGS_HEADER = "CONTACTS";
constexpr int LINE_BUFFER_SIZE = 100;
constexpr int LINE_PIECE_CHARS = 98;  // a longer line is read as several lines of this many characters

struct ReaderBuffers {
    char line[LINE_BUFFER_SIZE];
    char carrierField[LINE_BUFFER_SIZE];
};

constexpr int SETTINGS_PATH_SIZE = 260;  // the settings file's name and the names made beside it
constexpr const char* UNSAVED_SUFFIX = ".unsaved";
constexpr const char* BACKUP_SUFFIX = ".bak";

enum class SettingsState { Loaded, Missing, Unreadable };

constexpr int PROBLEM_SIZE = 128;

struct LoadReport {
    SettingsState state;
    int contactsLeftOut;  // contact lines past the table's last slot (Loaded only)
    char problem[PROBLEM_SIZE];  // Unreadable: why, in plain words for the user
    // Loaded only. A save would drop these, so they decide whether the file is copied first: lines that
    // hold text but no contact (a contact in the header's place too), lines too long to be the program's,
    // text after the details line.
    int linesSkipped;
    bool nothingUnderstood;  // not empty, yet neither the marker line nor a contact nor details in it
};

// True when a save would lose something of the file as it was read.
inline bool NotUnderstood(const LoadReport& report) {
    return report.state == SettingsState::Loaded && (report.linesSkipped > 0 || report.nothingUnderstood);
}

// Adds the file's contacts to the table and sets the details (empty without a details line).
// Missing, with nothing changed, only when the file does not exist. Any other failure to open or read
// it is Unreadable, with the table and details left empty; an open that fails so is retried for about
// a second first, since a virus scanner or backup tool may hold the file for a moment.
LoadReport LoadSettings(ContactTable& table, UserDetails& details, ReaderBuffers& buffers,
                        const char* fileName = SETTINGS_FILE_NAME);

// Writes a temporary file beside the target, flushes it to the disk and replaces the target with it.
// False, with the old file untouched and no temporary file left, when that fails. `header` is the first
// line, which the reader discards (one line of at most LINE_PIECE_CHARS - 1 characters).
bool SaveSettings(const ContactTable& table, const UserDetails& details, const char* fileName = SETTINGS_FILE_NAME,
                  const char* header = SETTINGS_HEADER);

// The same save, tried again for about a second while its failure may pass (another program holding the
// file for a moment). False with the reason, in plain words for the user, in `problem`.
bool SaveSettingsPatiently(const ContactTable& table, const UserDetails& details, const char* fileName,
                           char (&problem)[PROBLEM_SIZE], const char* header = SETTINGS_HEADER);

// Whether a save could write here: the temporary file it writes beside fileName is created and removed.
bool CanWriteBeside(const char* fileName = SETTINGS_FILE_NAME);

// A byte-for-byte copy of the file to fileName + BACKUP_SUFFIX, written the same safe way as a save.
bool BackUpSettings(const char* fileName = SETTINGS_FILE_NAME);

constexpr int MAX_UNSAVED_FILES = 99;

// Names a file beside fileName for a run that must not touch it: fileName + UNSAVED_SUFFIX, or, when
// that exists already, the same with the first free number 2..99 behind. False when the name does not
// fit or all 99 exist: a save aside never replaces an earlier one.
bool UnsavedFileName(char (&target)[SETTINGS_PATH_SIZE], const char* fileName = SETTINGS_FILE_NAME);

// The name of the n-th save aside (1..99) beside fileName; false when it does not fit.
bool NumberedUnsavedName(char (&target)[SETTINGS_PATH_SIZE], const char* fileName, int n);

// Whatever stands at the path, file or folder, even one that cannot be opened.
bool PathExists(const char* path);
