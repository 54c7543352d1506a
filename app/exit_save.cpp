// Where the book goes at exit: the settings file, a file beside it, the user's own folder, or, only with
// the user's word, nowhere.
#include <cstring>

#include "app/app_state.h"
#include "app/dialogs.h"
#include "common/text.h"
#include "contacts/save_aside.h"

#include <shlobj.h>  // needs windows.h, which app_state.h brings

namespace {

// Made only when a save goes there, so that a run with nothing to keep leaves no trace.
void MakeUserFolder() {
    char folder[SETTINGS_PATH_SIZE];
    if (UserFolderPath(folder)) CreateDirectoryA(folder, nullptr);
}

// Another copy of the program, in another folder, may have taken the planned save aside meanwhile.
void KeepPlanFree(char (&target)[SETTINGS_PATH_SIZE]) {
    const SaveTarget kind = KindOfTarget(target);
    if (kind == SaveTarget::Nowhere || kind == SaveTarget::SettingsFile || !PathExists(target)) return;
    if (!(kind == SaveTarget::UserFolder ? UserFolderSaveName(target) : UnsavedFileName(target))) target[0] = '\0';
}

// Makes the per-user folder for a save there; the first line that the save writes, which in the per-user
// folder names the working folder.
const char* PrepareSave(const char* target) {
    if (KindOfTarget(target) != SaveTarget::UserFolder) return SETTINGS_HEADER;
    MakeUserFolder();
    return g_savePlan.asideHeader;
}

// `saved` names the file written, and is empty when nothing was.
bool Try(SaveStep step, const char* planned, char (&saved)[SETTINGS_PATH_SIZE], char (&problem)[PROBLEM_SIZE]) {
    bool done = false;
    switch (step) {
    case SaveStep::Planned:
        CopyText(saved, planned);
        done = planned[0] != '\0' &&
               SaveSettingsPatiently(g_contacts, g_userDetails, saved, problem, PrepareSave(saved));
        break;
    case SaveStep::NewBeside:
        done = UnsavedFileName(saved) && SaveSettings(g_contacts, g_userDetails, saved, PrepareSave(saved));
        break;
    case SaveStep::NewInUserFolder:
        done = UserFolderSaveName(saved) && SaveSettings(g_contacts, g_userDetails, saved, PrepareSave(saved));
        break;
    }
    if (!done) saved[0] = '\0';
    return done;
}

// Where the save went, when that is not where the run meant to save.
void ReportSavedAside(const char* planned, const char* saved, const char* problem) {
    if (std::strcmp(planned, saved) == 0) {
        CopyText(g_boxText, SETTINGS_FILE_NAME);
        AppendText(g_boxText, " was not changed. Your contacts and sender details were saved to ");
    } else {
        CopyText(g_boxText, "Your contacts and sender details could not be saved to ");
        AppendPlace(planned[0] ? planned : SETTINGS_FILE_NAME);
        AppendText(g_boxText, ": ");
        AppendText(g_boxText, problem);
        AppendText(g_boxText, ".\n\nThey were saved to ");
    }
    AppendPlace(saved);
    AppendText(g_boxText, std::strcmp(planned, saved) == 0 ? "." : " instead.");
    ShowErrorBox();
}

// Only Cancel gives the session up; Retry tries every place again.
bool AskToRetry(const char* planned, const char* problem) {
    CopyText(g_boxText, "Your contacts and sender details could not be saved to ");
    AppendPlace(planned[0] ? planned : SETTINGS_FILE_NAME);
    AppendText(g_boxText, ": ");
    AppendText(g_boxText, problem);
    AppendText(g_boxText, ".\n\nNo file could be written beside it or in your own folder either. Close the program "
                          "that may be using the file, or free some disk space, then press Retry.\n\nCancel closes "
                          "mervasTX without saving: the changes made in this session are lost.");
    return AskErrorBox(MB_RETRYCANCEL) == IDRETRY;
}

}  // namespace

bool UserFolderPath(char (&folder)[SETTINGS_PATH_SIZE]) {
    char appData[MAX_PATH] = "";
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) return false;
    const size_t length = CopyText(folder, appData);
    return appData[length] == '\0' && AppendText(folder, "\\mervasTX") == length + 9;
}

bool UserFolderSaveName(char (&target)[SETTINGS_PATH_SIZE]) {
    char folder[SETTINGS_PATH_SIZE];
    char file[SETTINGS_PATH_SIZE];
    return UserFolderPath(folder) && KeyedSettingsName(file, folder, g_savePlan.folderKey) &&
           UnsavedFileName(target, file);
}

void SaveAtExit(bool tellUser) {
    const bool changed = !SameBook(g_loadedBook, g_loadedDetails, g_contacts, g_userDetails);
    for (;;) {
        KeepPlanFree(g_savePlan.target);
        char planned[SETTINGS_PATH_SIZE];
        CopyText(planned, g_savePlan.target);
        const ExitSave plan = PlanExitSave(KindOfTarget(planned), changed);
        char problem[PROBLEM_SIZE] = "there was no free name left for it";
        char saved[SETTINGS_PATH_SIZE] = "";
        bool done = false;
        for (int i = 0; i < plan.steps && !done; ++i) done = Try(plan.step[i], planned, saved, problem);
        if (done || !plan.askWhenAllFail) {  // without a change, the file as it was holds the whole book
            RenameMergedSaves();
            if (tellUser && done && KindOfTarget(saved) != SaveTarget::SettingsFile)
                ReportSavedAside(planned, saved, problem);
            return;
        }
        if (!tellUser || !AskToRetry(planned, problem)) return;
    }
}
