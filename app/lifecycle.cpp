// The program's single run: start-up, the main window's modal run, the drain of the quit message, the save.
#include "app/app_state.h"
#include "app/dialogs.h"
#include "common/text.h"
#include "res/resource.h"

namespace {

void ShowWelcome() {
    CopyText(g_welcomeText, "Thank you for downloading mervasTX v.06\n\n");
    AppendText(g_welcomeText, "Please refer to the README file for directions\n\n");
    AppendText(g_welcomeText, "If you have questions, comments, or suggestions on\n");
    AppendText(g_welcomeText, "how to improve this program, please email me at\n");
    AppendText(g_welcomeText, "mervastx@example.com\n\n");
    MessageBoxA(nullptr, g_welcomeText, "Welcome!", MB_OK);
}

}  // namespace

int RunProgram(HINSTANCE instance) {
    g_instance = instance;
    g_contacts.count = 0;
    // The reader's buffers and the welcome text are static records; the carrier codes are a constant table.
    if (!LoadSettings(g_contacts, g_userDetails, g_readerBuffers)) ShowWelcome();

    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainWindowProc, 0);

    // The main window has posted the quit message by now; -1 (an invalid call) must not spin forever.
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }

    if (!SaveSettings(g_contacts, g_userDetails))
        MessageBoxA(nullptr,
                    "Your contacts and sender details could not be saved to mervasTX.ini.\n\n"
                    "The changes made in this session are lost.",
                    "Error", MB_OK);
    return static_cast<int>(message.wParam);
}
