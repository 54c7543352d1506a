// The program's process-wide records: zero-filled at start, never freed.
#include "app/app_state.h"

HINSTANCE g_instance;
HWND g_mainWindow;
ContactTable g_contacts;
UserDetails g_userDetails;
GatewayRequest g_request;
ReaderBuffers g_readerBuffers;
char g_welcomeText[WELCOME_TEXT_SIZE];
char g_boxText[BOX_TEXT_SIZE];
char g_folder[MAX_PATH];
SavePlan g_savePlan;
ContactTable g_loadedBook;
UserDetails g_loadedDetails;
ContactTable g_earlierBook;
UserDetails g_earlierDetails;
DeliverFunction g_deliver = DeliverRequest;
MainWindowKeys g_mainWindowKeys;
WNDPROC g_editProc;
