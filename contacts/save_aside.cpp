// The decisions about saves aside: their names, their owners, whether one is written, offered or retired.
#include "contacts/save_aside.h"

#include <cstdint>
#include <cstring>

#include "common/text.h"

namespace {

constexpr const char* BASE_NAME = "mervasTX";
constexpr const char* EXTENSION = ".ini";
constexpr int KEY_DIGITS = FOLDER_KEY_SIZE - 1;

// Names on Windows compare without regard to case; `text` advances past `prefix` when it starts with it.
bool Skip(const char*& text, const char* prefix) {
    const size_t length = std::strlen(prefix);
    if (strnlen(text, length) < length || !SameIgnoringCase({text, length}, prefix)) return false;
    text += length;
    return true;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The N of ".unsavedN" exactly as NumberedUnsavedName writes it: none for 1, else 2..99 without a leading 0.
int AsideNumber(const char* digits) {
    if (digits[0] == '\0') return 1;
    if (digits[0] < '1' || digits[0] > '9') return 0;
    int value = 0;
    for (const char* digit = digits; *digit; ++digit) {
        if (*digit < '0' || *digit > '9' || value > MAX_UNSAVED_FILES) return 0;
        value = value * 10 + (*digit - '0');
    }
    return value >= 2 && value <= MAX_UNSAVED_FILES ? value : 0;
}

bool SameText(const char* a, const char* b, size_t size) { return std::strncmp(a, b, size) == 0; }

// A field of the save aside that the book does not have: one that is not empty and not the book's.
bool Lacked(const char* aside, const char* book, size_t size) {
    return aside[0] != '\0' && !SameText(aside, book, size);
}

bool JoinName(char (&name)[SETTINGS_PATH_SIZE], const char* userFolder, const char* key) {
    CopyText(name, userFolder);
    AppendText(name, "\\");
    AppendText(name, BASE_NAME);
    if (key) {
        AppendText(name, "-");
        AppendText(name, key);
    }
    const size_t expected = std::strlen(userFolder) + 1 + std::strlen(BASE_NAME) + (key ? 1 + std::strlen(key) : 0) +
                            std::strlen(EXTENSION);
    return AppendText(name, EXTENSION) == expected;
}

}  // namespace

void MakeFolderKey(const char* comparableFolder, char (&key)[FOLDER_KEY_SIZE]) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const char* c = comparableFolder; *c; ++c) hash = (hash ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
    for (int i = KEY_DIGITS - 1; i >= 0; --i, hash >>= 4) key[i] = "0123456789abcdef"[hash & 15];
    key[KEY_DIGITS] = '\0';
}

bool KeyedSettingsName(char (&name)[SETTINGS_PATH_SIZE], const char* userFolder, const char* key) {
    return JoinName(name, userFolder, key);
}

bool UntaggedSettingsName(char (&name)[SETTINGS_PATH_SIZE], const char* userFolder) {
    return JoinName(name, userFolder, nullptr);
}

void SaveAsideHeader(char (&header)[LINE_PIECE_CHARS], const char* folder) {
    CopyText(header, SETTINGS_HEADER);
    AppendText(header, " of ");
    const size_t room = sizeof header - 1 - std::strlen(header);
    const size_t length = std::strlen(folder);
    if (length > room) {  // the end of a long path tells most
        AppendText(header, "...");
        folder += length - (room - 3);
    }
    const size_t start = std::strlen(header);
    AppendText(header, folder);
    // A second ':' would make the line a contact; control characters would end it early.
    bool colon = false;
    for (char* c = header + start; *c; ++c) {
        if (static_cast<unsigned char>(*c) < ' ' || (*c == ':' && colon)) *c = '_';
        if (*c == ':') colon = true;
    }
}

AsideName ReadAsideName(const char* fileName, const char* key) {
    const char* rest = fileName;
    if (!Skip(rest, BASE_NAME)) return {AsideOwner::None, 0};
    AsideOwner owner = AsideOwner::Untagged;
    if (*rest == '-') {
        ++rest;
        for (int i = 0; i < KEY_DIGITS; ++i)
            if (!IsHexDigit(rest[i])) return {AsideOwner::None, 0};
        owner = SameIgnoringCase({rest, static_cast<size_t>(KEY_DIGITS)}, key) ? AsideOwner::ThisFolder
                                                                               : AsideOwner::OtherFolder;
        rest += KEY_DIGITS;
    }
    if (!Skip(rest, EXTENSION) || !Skip(rest, UNSAVED_SUFFIX)) return {AsideOwner::None, 0};
    const int number = AsideNumber(rest);
    return number > 0 ? AsideName{owner, number} : AsideName{AsideOwner::None, 0};
}

bool SameBook(const ContactTable& a, const UserDetails& aDetails, const ContactTable& b, const UserDetails& bDetails) {
    if (a.count != b.count || !SameText(aDetails.sender, bDetails.sender, SENDER_SIZE) ||
        !SameText(aDetails.callback, bDetails.callback, CALLBACK_SIZE))
        return false;
    for (int slot = 0; slot < a.count && slot < MAX_CONTACTS; ++slot)
        if (a.carriers[slot] != b.carriers[slot] || !SameText(a.names[slot], b.names[slot], NAME_SIZE) ||
            !SameText(a.numbers[slot], b.numbers[slot], NUMBER_SIZE))
            return false;
    return true;
}

AsideVerdict JudgeSaveAside(const LoadReport& report, const ContactTable& book, const UserDetails& bookDetails,
                            const ContactTable& aside, const UserDetails& asideDetails) {
    if (report.state != SettingsState::Loaded) return {AsideAction::Leave, 0, false};
    const int missing = CountMissingContacts(book, aside);
    const bool details = Lacked(asideDetails.sender, bookDetails.sender, SENDER_SIZE) ||
                         Lacked(asideDetails.callback, bookDetails.callback, CALLBACK_SIZE);
    // Contacts past its 500th were never compared with the book.
    const bool nothing = missing == 0 && !details && report.contactsLeftOut == 0;
    return {nothing ? AsideAction::Retire : AsideAction::Ask, missing, details};
}

SaveTarget KindOfTarget(const char* target) {
    if (target[0] == '\0') return SaveTarget::Nowhere;
    if (std::strcmp(target, SETTINGS_FILE_NAME) == 0) return SaveTarget::SettingsFile;
    return std::strchr(target, '\\') ? SaveTarget::UserFolder : SaveTarget::BesideFile;
}

ExitSave PlanExitSave(SaveTarget planned, bool changed) {
    using S = SaveStep;
    if (!changed)
        return planned == SaveTarget::SettingsFile ? ExitSave{1, {S::Planned}, false} : ExitSave{0, {}, false};
    switch (planned) {
    case SaveTarget::SettingsFile:
        return {3, {S::Planned, S::NewBeside, S::NewInUserFolder}, true};
    case SaveTarget::BesideFile:
        return {2, {S::Planned, S::NewInUserFolder}, true};
    case SaveTarget::UserFolder:
        return {1, {S::Planned}, true};
    case SaveTarget::Nowhere:
        break;
    }
    return {1, {S::NewInUserFolder}, true};
}
