// An earlier run's save aside is not forgotten: the user is told what it holds and may take it into the book.
#include <cstring>

#include "app/app_state.h"
#include "app/dialogs.h"
#include "common/text.h"
#include "contacts/save_aside.h"

namespace {

constexpr const char* MERGED_SUFFIX = ".merged";

bool HasDetails(const UserDetails& details) { return details.sender[0] != '\0' || details.callback[0] != '\0'; }

void AppendDetails(const UserDetails& details) {
    AppendText(g_boxText, "\"");
    AppendText(g_boxText, details.sender);
    AppendText(g_boxText, "\", callback \"");
    AppendText(g_boxText, details.callback);
    AppendText(g_boxText, "\"");
}

// Which folder's book it was: one beside the file names its folder; one in the per-user folder is this
// folder's, or was left there by an older copy that did not record its folder.
void AppendWhoSavedIt(const char* path, AsideOwner owner) {
    if (KindOfTarget(path) == SaveTarget::BesideFile) {
        CopyText(g_boxText, "An earlier run of mervasTX could not save to ");
        AppendText(g_boxText, SETTINGS_FILE_NAME);
        AppendText(g_boxText, " and saved to ");
    } else if (owner == AsideOwner::ThisFolder) {
        CopyText(g_boxText, "An earlier run of mervasTX in the folder ");
        AppendText(g_boxText, g_folder);
        AppendText(g_boxText, " could not save to ");
        AppendText(g_boxText, SETTINGS_FILE_NAME);
        AppendText(g_boxText, " there and saved to ");
    } else {
        CopyText(g_boxText, "An earlier run of mervasTX, in a folder that it did not record, could not save to ");
        AppendText(g_boxText, SETTINGS_FILE_NAME);
        AppendText(g_boxText, " there and saved to ");
    }
    AppendPlace(path);
    AppendText(g_boxText, " instead.");
}

bool AskToMerge(const char* path, AsideOwner owner, const AsideVerdict& verdict) {
    AppendWhoSavedIt(path, owner);
    AppendText(g_boxText, "\n\nIt holds ");
    AppendNumber(g_boxText, static_cast<unsigned long>(verdict.missingContacts));
    AppendText(g_boxText,
               verdict.missingContacts == 1 ? " contact that your book lacks." : " contacts that your book lacks.");
    if (verdict.detailsToOffer) {
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

// Kept under another name rather than removed: whatever it holds is still there to look at.
void Retire(const char* path) {
    char merged[SETTINGS_PATH_SIZE];
    const size_t length = CopyText(merged, path);
    if (path[length] == '\0' && AppendText(merged, MERGED_SUFFIX) == length + std::strlen(MERGED_SUFFIX))
        MoveFileExA(path, merged, MOVEFILE_REPLACE_EXISTING);
}

// Every contact must have reached the book before the file may be renamed.
void Merge(const char* path) {
    const bool complete = AddMissingContacts(g_contacts, g_earlierBook) == 0;
    if (!HasDetails(g_userDetails)) g_userDetails = g_earlierDetails;
    if (complete && g_savePlan.mergedCount < MAX_MERGED_SAVES)
        CopyText(g_savePlan.merged[g_savePlan.mergedCount++], path);
}

void Offer(const char* path, AsideOwner owner) {
    g_earlierBook.count = 0;
    const LoadReport report = LoadSettings(g_earlierBook, g_earlierDetails, g_readerBuffers, path);
    const AsideVerdict verdict = JudgeSaveAside(report, g_contacts, g_userDetails, g_earlierBook, g_earlierDetails);
    switch (verdict.action) {
    case AsideAction::Leave:
        break;
    case AsideAction::Retire:
        Retire(path);
        break;
    case AsideAction::Ask:
        if (AskToMerge(path, owner, verdict)) Merge(path);
        break;
    }
}

// The numbers of the saves aside of each kind that a folder holds.
struct Found {
    bool untagged[MAX_UNSAVED_FILES + 1];
    bool thisFolder[MAX_UNSAVED_FILES + 1];
};

// One listing of the folder rather than 99 look-ups a name, which would cost every start a few milliseconds.
void List(const char* pattern, Found& found) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const AsideName name = ReadAsideName(entry.cFileName, g_savePlan.folderKey);
        if (name.owner == AsideOwner::Untagged) found.untagged[name.number] = true;
        if (name.owner == AsideOwner::ThisFolder) found.thisFolder[name.number] = true;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

void OfferNumbered(const bool (&present)[MAX_UNSAVED_FILES + 1], const char* fileName, AsideOwner owner) {
    char path[SETTINGS_PATH_SIZE];
    for (int n = 1; n <= MAX_UNSAVED_FILES; ++n)
        if (present[n] && NumberedUnsavedName(path, fileName, n)) Offer(path, owner);
}

}  // namespace

void OfferEarlierSaves() {
    char pattern[SETTINGS_PATH_SIZE];
    CopyText(pattern, SETTINGS_FILE_NAME);
    AppendText(pattern, UNSAVED_SUFFIX);
    AppendText(pattern, "*");
    Found beside{};
    List(pattern, beside);
    OfferNumbered(beside.untagged, SETTINGS_FILE_NAME, AsideOwner::ThisFolder);

    char folder[SETTINGS_PATH_SIZE];
    char keyed[SETTINGS_PATH_SIZE];
    char untagged[SETTINGS_PATH_SIZE];
    if (!UserFolderPath(folder) || !KeyedSettingsName(keyed, folder, g_savePlan.folderKey) ||
        !UntaggedSettingsName(untagged, folder))
        return;
    const size_t length = CopyText(pattern, folder);
    if (AppendText(pattern, "\\mervasTX*") != length + 10) return;
    Found mine{};
    List(pattern, mine);
    OfferNumbered(mine.thisFolder, keyed, AsideOwner::ThisFolder);
    OfferNumbered(mine.untagged, untagged, AsideOwner::Untagged);
}

void RenameMergedSaves() {
    for (int i = 0; i < g_savePlan.mergedCount; ++i) Retire(g_savePlan.merged[i]);
    g_savePlan.mergedCount = 0;
}
