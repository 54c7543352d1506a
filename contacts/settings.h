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

// Adds the file's contacts to the table and sets the details (empty without a details line).
// False, with nothing changed, only when the file cannot be opened.
bool LoadSettings(ContactTable& table, UserDetails& details, ReaderBuffers& buffers,
                  const char* fileName = SETTINGS_FILE_NAME);

// Writes a temporary file beside the target and replaces the target with it once complete.
// False, with the old file untouched and no temporary file left, when that fails.
bool SaveSettings(const ContactTable& table, const UserDetails& details, const char* fileName = SETTINGS_FILE_NAME);
