// Reading and writing the settings file that keeps the contacts and the user's details.
#pragma once

#include "contacts/contact_table.h"
#include "contacts/user_details.h"

constexpr const char* SETTINGS_FILE_NAME = "mervasTX.ini";
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

struct LoadReport {
    SettingsState state;
    int contactsLeftOut;  // contact lines past the table's last slot (Loaded only)
    char problem[128];    // Unreadable: why, in plain words for the user
};

// Adds the file's contacts to the table and sets the details (empty without a details line).
// Missing, with nothing changed, only when the file does not exist. Any other failure to open or read
// it is Unreadable, with the table and details left empty; an open that fails so is retried for about
// a second first, since a virus scanner or backup tool may hold the file for a moment.
LoadReport LoadSettings(ContactTable& table, UserDetails& details, ReaderBuffers& buffers,
                        const char* fileName = SETTINGS_FILE_NAME);

// Writes a temporary file beside the target, flushes it to the disk and replaces the target with it.
// False, with the old file untouched and no temporary file left, when that fails.
bool SaveSettings(const ContactTable& table, const UserDetails& details, const char* fileName = SETTINGS_FILE_NAME);

// A byte-for-byte copy of the file to fileName + BACKUP_SUFFIX, written the same safe way as a save.
bool BackUpSettings(const char* fileName = SETTINGS_FILE_NAME);

// Names a file beside fileName for a run that must not touch it: fileName + UNSAVED_SUFFIX, or, when
// that exists already, the same with the first free number 2..99 behind (the last when all exist).
// False when the name does not fit.
bool UnsavedFileName(char (&target)[SETTINGS_PATH_SIZE], const char* fileName = SETTINGS_FILE_NAME);
