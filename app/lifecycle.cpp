// The program's single run: start-up, the main window's modal run, the drain of the quit message, the save.
#include <cstring>

#include "app/app_state.h"
#include "app/dialogs.h"
#include "common/text.h"
#include "res/resource.h"

namespace {

constexpr int NO_MAIN_WINDOW_EXIT_CODE = 1;

void ShowWelcome() {
    CopyText(g_welcomeText, "Thank you for downloading mervasTX v.06\n\n");
    AppendText(g_welcomeText, "Please refer to the README file for directions\n\n");
    AppendText(g_welcomeText, "If you have questions, comments, or suggestions on\n");
    AppendText(g_welcomeText, "how to improve this program, please email me at\n");
    AppendText(g_welcomeText, "mervastx@example.com\n\n");
    MessageBoxA(nullptr, g_welcomeText, "Welcome!", MB_OK);
}

// From here on the run saves aside and the settings file stays as it is; the box says so.
void KeepTheFile() {
    if (std::strcmp(g_savePlan.target, SETTINGS_FILE_NAME) == 0 && !UnsavedFileName(g_savePlan.target) &&
        !UserFolderSaveName(g_savePlan.target))
        g_savePlan.target[0] = '\0';  // saving nowhere fails, and says so at exit
    AppendText(g_boxText, "\n\nIt will not be changed in this run. ");
    if (g_savePlan.target[0] == '\0') {
        AppendText(g_boxText, "No other file is free for what you enter now: it cannot be saved.");
        return;
    }
    AppendText(g_boxText, "What you enter now is saved to ");
    AppendPlace(g_savePlan.target);
    AppendText(g_boxText, " when you close mervasTX.");
}

void ReportUnreadable(const LoadReport& report) {
    CopyText(g_boxText, "The settings file ");
    AppendPlace(SETTINGS_FILE_NAME);
    AppendText(g_boxText, " could not be opened: ");
    AppendText(g_boxText, report.problem);
    AppendText(g_boxText, ".");
    KeepTheFile();
    ShowErrorBox();
}

// The next save would drop what the book could not take or the reader did not understand, so the whole
// file is copied first.
void ReportKeptBytes(const LoadReport& report) {
    CopyText(g_boxText, "The settings file ");
    AppendPlace(SETTINGS_FILE_NAME);
    if (report.contactsLeftOut > 0) {
        AppendText(g_boxText, " holds ");
        AppendNumber(g_boxText, static_cast<unsigned long>(report.contactsLeftOut));
        AppendText(g_boxText, " more contacts than the 500 that mervasTX can keep. They are left out of the list.");
    } else {
        AppendText(g_boxText, " could not be read as a contact book.");
    }
    if (report.nothingUnderstood) AppendText(g_boxText, " mervasTX found no contact and no sender details in it.");
    if (report.linesSkipped > 0) {
        AppendText(g_boxText, " ");
        AppendNumber(g_boxText, static_cast<unsigned long>(report.linesSkipped));
        AppendText(g_boxText, report.linesSkipped == 1 ? " line of it holds" : " lines of it hold");
        AppendText(g_boxText, " text that mervasTX cannot read as a contact; it is left out.");
    }
    const bool copied = BackUpSettings();
    AppendText(g_boxText, copied ? "\n\nThe whole file was copied to " : "\n\nThe file could not be copied to ");
    AppendText(g_boxText, SETTINGS_FILE_NAME);
    AppendText(g_boxText, BACKUP_SUFFIX);
    AppendText(g_boxText, ".");
    if (!copied) KeepTheFile();
    ShowErrorBox();
}

// Once, before the user types anything: the program may still be moved to a folder of the user's own.
void ReportUnwritableFolder() {
    CopyText(g_boxText, "mervasTX cannot write in the folder ");
    AppendText(g_boxText, g_folder);
    AppendText(g_boxText, ", where it keeps ");
    AppendText(g_boxText, SETTINGS_FILE_NAME);
    AppendText(g_boxText, ". Move mervasTX.exe to a folder of your own (for instance in Documents) before you enter "
                          "anything.\n\n");
    if (g_savePlan.target[0]) {
        AppendText(g_boxText, "If you go on, what you enter in this run is saved to ");
        AppendPlace(g_savePlan.target);
        AppendText(g_boxText, " when you close mervasTX.");
    } else {
        AppendText(g_boxText, "No other folder could be found for it either: this run cannot save.");
    }
    ShowErrorBox();
}

// Decides where this run saves, and says why when that is not the settings file itself.
void ReportLoad(const LoadReport& report) {
    g_loadedBook = g_contacts;  // before any earlier save aside is taken in
    g_loadedDetails = g_userDetails;
    char folder[MAX_PATH];
    ComparableFolder(g_folder, folder);
    MakeFolderKey(folder, g_savePlan.folderKey);
    SaveAsideHeader(g_savePlan.asideHeader, g_folder);
    CopyText(g_savePlan.target, SETTINGS_FILE_NAME);
    g_savePlan.mergedCount = 0;
    g_savePlan.folderWritable = CanWriteBeside();
    if (!g_savePlan.folderWritable && !UserFolderSaveName(g_savePlan.target)) g_savePlan.target[0] = '\0';
    switch (report.state) {
    case SettingsState::Missing:
        ShowWelcome();
        break;
    case SettingsState::Unreadable:
        ReportUnreadable(report);
        break;
    case SettingsState::Loaded:
        if (report.contactsLeftOut > 0 || NotUnderstood(report)) ReportKeptBytes(report);
        break;
    }
    if (!g_savePlan.folderWritable) ReportUnwritableFolder();
    if (report.state != SettingsState::Unreadable) OfferEarlierSaves();
}

void ReportNoMainWindow() {
    CopyText(g_boxText, "mervasTX could not open its main window and ends here.\n\n");
    AppendText(g_boxText, SETTINGS_FILE_NAME);
    AppendText(g_boxText, " was not changed.");
    ShowErrorBox();
}

}  // namespace

void ShowErrorBox() { MessageBoxA(nullptr, g_boxText, "Error", MB_OK); }

int AskErrorBox(UINT buttons) { return MessageBoxA(nullptr, g_boxText, "Error", buttons); }

void AppendPlace(const char* target) {
    AppendText(g_boxText, target);
    if (std::strchr(target, '\\') != nullptr) return;  // a full path already
    AppendText(g_boxText, " in ");
    AppendText(g_boxText, g_folder);
}

int RunProgram(HINSTANCE instance) {
    g_instance = instance;
    g_contacts.count = 0;
    const DWORD folderLength = GetCurrentDirectoryA(MAX_PATH, g_folder);
    if (folderLength == 0 || folderLength >= MAX_PATH) g_folder[0] = '\0';
    HANDLE claim = nullptr;
    if (!ClaimFolder(g_folder, claim)) return 0;  // the copy running there owns the file

    // The reader's buffers and the box texts are static records; the carrier codes are a constant table.
    ReportLoad(LoadSettings(g_contacts, g_userDetails, g_readerBuffers));

    int exitCode = NO_MAIN_WINDOW_EXIT_CODE;
    if (DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainWindowProc, 0) == -1) {
        ReportNoMainWindow();  // nothing would post the quit message, and the file must not be replaced
    } else {
        // The main window has posted the quit message by now.
        MSG message{};
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        SaveAtExit(true);
        exitCode = static_cast<int>(message.wParam);
    }
    if (claim) CloseHandle(claim);
    return exitCode;
}
