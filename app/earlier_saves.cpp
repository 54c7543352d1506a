// An earlier run's save aside is not forgotten: the user is told what it holds and may take it into the book.
#include <cstring>

#include "app/app_state.h"
#include "app/dialogs.h"
#include "common/text.h"

namespace {

constexpr const char* MERGED_SUFFIX = ".merged";

bool SameDetails(const UserDetails& a, const UserDetails& b) {
    return std::strcmp(a.sender, b.sender) == 0 && std::strcmp(a.callback, b.callback) == 0;
}

bool HasDetails(const UserDetails& details) { return details.sender[0] != '\0' || details.callback[0] != '\0'; }

void AppendDetails(const UserDetails& details) {
    AppendText(g_boxText, "\"");
    AppendText(g_boxText, details.sender);
    AppendText(g_boxText, "\", callback \"");
    AppendText(g_boxText, details.callback);
    AppendText(g_boxText, "\"");
}

bool AskToMerge(const char* path, int missing) {
    CopyText(g_boxText, "An earlier run of mervasTX could not save to ");
    AppendText(g_boxText, SETTINGS_FILE_NAME);
    AppendText(g_boxText, " and saved to ");
    AppendPlace(path);
    AppendText(g_boxText, " instead.\n\nIt holds ");
    AppendNumber(g_boxText, static_cast<unsigned long>(missing));
    AppendText(g_boxText, missing == 1 ? " contact that your book lacks." : " contacts that your book lacks.");
    if (!SameDetails(g_earlierDetails, g_userDetails)) {
        AppendText(g_boxText, " Its sender details differ: ");
        AppendDetails(g_earlierDetails);
        AppendText(g_boxText, HasDetails(g_userDetails) ? " (the book keeps its own)." : " (the book takes them).");
    }
    AppendText(g_boxText, "\n\nTake them into your book? Yes adds them (contacts the book has already are skipped) "
                          "and, once the book is saved, adds \"");
    AppendText(g_boxText, MERGED_SUFFIX);
    AppendText(g_boxText, "\" to the file's name. No leaves the file as it is; you are asked again next time.");
    return AskErrorBox(MB_YESNO) == IDYES;
}

// Every contact must have reached the book before the file may be renamed.
void Merge(const char* path) {
    const bool complete = AddMissingContacts(g_contacts, g_earlierBook) == 0;
    if (!HasDetails(g_userDetails)) g_userDetails = g_earlierDetails;
    if (complete && g_savePlan.mergedCount < MAX_MERGED_SAVES)
        CopyText(g_savePlan.merged[g_savePlan.mergedCount++], path);
}

void Offer(const char* path) {
    g_earlierBook.count = 0;
    if (LoadSettings(g_earlierBook, g_earlierDetails, g_readerBuffers, path).state != SettingsState::Loaded) return;
    const int missing = CountMissingContacts(g_contacts, g_earlierBook);
    if (AskToMerge(path, missing)) Merge(path);
}

// 1..99 for a save aside's own name, 0 for any other (*.merged, *.tmp).
int UnsavedNumber(const char* found) {
    char name[SETTINGS_PATH_SIZE];
    for (int n = 1; n <= MAX_UNSAVED_FILES; ++n)
        if (NumberedUnsavedName(name, SETTINGS_FILE_NAME, n) && lstrcmpiA(name, found) == 0) return n;
    return 0;
}

// One listing of the folder rather than 99 look-ups, which would cost every start a few milliseconds.
void OfferEach(const char* fileName) {
    char path[SETTINGS_PATH_SIZE];
    CopyText(path, fileName);
    AppendText(path, UNSAVED_SUFFIX);
    if (AppendText(path, "*") != std::strlen(fileName) + std::strlen(UNSAVED_SUFFIX) + 1) return;  // cut short
    bool present[MAX_UNSAVED_FILES + 1] = {};
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(path, &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        present[UnsavedNumber(entry.cFileName)] = true;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    for (int n = 1; n <= MAX_UNSAVED_FILES; ++n)
        if (present[n] && NumberedUnsavedName(path, fileName, n)) Offer(path);
}

}  // namespace

void OfferEarlierSaves() {
    OfferEach(SETTINGS_FILE_NAME);
    char userFile[SETTINGS_PATH_SIZE];
    if (UserFolderFileName(userFile)) OfferEach(userFile);
}

void RenameMergedSaves() {
    for (int i = 0; i < g_savePlan.mergedCount; ++i) {
        char merged[SETTINGS_PATH_SIZE];
        const size_t length = CopyText(merged, g_savePlan.merged[i]);
        if (AppendText(merged, MERGED_SUFFIX) == length + std::strlen(MERGED_SUFFIX))
            MoveFileExA(g_savePlan.merged[i], merged, MOVEFILE_REPLACE_EXISTING);
    }
    g_savePlan.mergedCount = 0;
}
