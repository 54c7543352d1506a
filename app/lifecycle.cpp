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

void ShowError() { MessageBoxA(nullptr, g_boxText, "Error", MB_OK); }

void AppendInFolder(const char* fileName) {
    AppendText(g_boxText, fileName);
    AppendText(g_boxText, " in ");
    AppendText(g_boxText, g_folder);
}

bool SavingAside() { return std::strcmp(g_saveTarget, SETTINGS_FILE_NAME) != 0; }

// From here on the run saves beside the settings file, which stays as it is; the box says so.
void KeepTheFile() {
    if (!UnsavedFileName(g_saveTarget)) g_saveTarget[0] = '\0';  // saving nowhere fails, and says so at exit
    AppendText(g_boxText, "\n\nIt will not be changed in this run. What you enter now is saved to ");
    AppendText(g_boxText, g_saveTarget);
    AppendText(g_boxText, " when you close mervasTX.");
}

void ReportUnreadable(const LoadReport& report) {
    CopyText(g_boxText, "The settings file ");
    AppendInFolder(SETTINGS_FILE_NAME);
    AppendText(g_boxText, " could not be opened: ");
    AppendText(g_boxText, report.problem);
    AppendText(g_boxText, ".");
    KeepTheFile();
    ShowError();
}

// The next save would drop the lines the table could not take, so the whole file is copied first.
void ReportLeftOut(int leftOut) {
    CopyText(g_boxText, "The settings file ");
    AppendInFolder(SETTINGS_FILE_NAME);
    AppendText(g_boxText, " holds ");
    AppendNumber(g_boxText, static_cast<unsigned long>(leftOut));
    AppendText(g_boxText, " more contacts than the 500 that mervasTX can keep. They are left out of the list.");
    if (BackUpSettings()) {
        AppendText(g_boxText, "\n\nThe whole file was copied to ");
        AppendText(g_boxText, SETTINGS_FILE_NAME);
        AppendText(g_boxText, BACKUP_SUFFIX);
        AppendText(g_boxText, ".");
    } else {
        AppendText(g_boxText, "\n\nThe file could not be copied to ");
        AppendText(g_boxText, SETTINGS_FILE_NAME);
        AppendText(g_boxText, BACKUP_SUFFIX);
        AppendText(g_boxText, ".");
        KeepTheFile();
    }
    ShowError();
}

// Decides where this run saves, and says why when that is not the settings file itself.
void ReportLoad(const LoadReport& report) {
    CopyText(g_saveTarget, SETTINGS_FILE_NAME);
    switch (report.state) {
    case SettingsState::Missing:
        ShowWelcome();
        break;
    case SettingsState::Unreadable:
        ReportUnreadable(report);
        break;
    case SettingsState::Loaded:
        if (report.contactsLeftOut > 0) ReportLeftOut(report.contactsLeftOut);
        break;
    }
}

void ReportNoMainWindow() {
    CopyText(g_boxText, "mervasTX could not open its main window and ends here.\n\n");
    AppendText(g_boxText, SETTINGS_FILE_NAME);
    AppendText(g_boxText, " was not changed.");
    ShowError();
}

}  // namespace

void SaveAtExit(bool tellUser) {
    const bool saved = SaveSettings(g_contacts, g_userDetails, g_saveTarget);
    if (!tellUser || (saved && !SavingAside())) return;
    if (saved) {
        CopyText(g_boxText, SETTINGS_FILE_NAME);
        AppendText(g_boxText, " was not changed. Your contacts and sender details were saved to ");
    } else {
        CopyText(g_boxText, "Your contacts and sender details could not be saved to ");
    }
    AppendInFolder(g_saveTarget);
    AppendText(g_boxText, saved ? "." : ".\n\nThe changes made in this session are lost.");
    ShowError();
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
