// Moves a captionless window from a press on its drag strip.
#include "app/dialogs.h"

void DragWindow(HWND window) {
    ReleaseCapture();
    POINT cursor;
    GetCursorPos(&cursor);
    // Claiming the press hit a caption starts the system's move loop, which ends on button release.
    SendMessageA(window, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(cursor.x, cursor.y));
}
