// Where the book goes at exit: the settings file, a file beside it, the user's own folder, or, only with
// the user's word, nowhere.
#include <cstring>

#include "app/app_state.h"
#include "app/dialogs.h"
#include "common/text.h"

#include <shlobj.h>  // needs windows.h, which app_state.h brings

namespace {

bool IsSettingsFile(const char* target) { return std::strcmp(target, SETTINGS_FILE_NAME) == 0; }
bool InUserFolder(const char* target) { return std::strchr(target, '\\') != nullptr; }

bool UserFolder(char (&folder)[SETTINGS_PATH_SIZE]) {
    char appData[MAX_PATH] = "";
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) return false;
    const size_t length = CopyText(folder, appData);
    return appData[length] == '\0' && AppendText(folder, "\\mervasTX") == length + 9;
}

// Another copy of the program, in another folder, may have taken the planned save aside meanwhile.
void KeepPlanFree(char (&target)[SETTINGS_PATH_SIZE]) {
    if (target[0] == '\0' || IsSettingsFile(target) || !PathExists(target)) return;
    if (!(InUserFolder(target) ? UserFolderSaveName(target) : UnsavedFileName(target))) target[0] = '\0';
}

bool Save(const char* target) { return SaveSettings(g_contacts, g_userDetails, target); }

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

bool UserFolderFileName(char (&name)[SETTINGS_PATH_SIZE]) {
    if (!UserFolder(name)) return false;
    const size_t length = std::strlen(name);
    return AppendText(name, "\\") == length + 1 &&
           AppendText(name, SETTINGS_FILE_NAME) == length + 1 + std::strlen(SETTINGS_FILE_NAME);
}

bool UserFolderSaveName(char (&target)[SETTINGS_PATH_SIZE]) {
    char folder[SETTINGS_PATH_SIZE];
    char file[SETTINGS_PATH_SIZE];
    if (!UserFolder(folder) || !UserFolderFileName(file)) return false;
    if (!CreateDirectoryA(folder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    return UnsavedFileName(target, file);
}

void SaveAtExit(bool tellUser) {
    for (;;) {
        KeepPlanFree(g_savePlan.target);
        char planned[SETTINGS_PATH_SIZE];
        CopyText(planned, g_savePlan.target);
        char problem[PROBLEM_SIZE] = "there was no free name left for it";
        char saved[SETTINGS_PATH_SIZE];
        CopyText(saved, planned);
        bool done = planned[0] != '\0' && SaveSettingsPatiently(g_contacts, g_userDetails, saved, problem);
        if (!done && IsSettingsFile(planned)) done = UnsavedFileName(saved) && Save(saved);
        if (!done && !InUserFolder(planned)) done = UserFolderSaveName(saved) && Save(saved);
        if (done) {
            RenameMergedSaves();
            if (tellUser && !IsSettingsFile(saved)) ReportSavedAside(planned, saved, problem);
            return;
        }
        if (!tellUser || !AskToRetry(planned, problem)) return;
    }
}
