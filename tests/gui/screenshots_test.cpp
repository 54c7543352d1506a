// Pictures of the three windows as the screen shows them, kept for people to look at, and checked against the skins.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/dialogs.h"
#include "gui_harness.h"
#include "res/resource.h"

namespace {

// Top-down 32-bit pixels, 0x00RRGGBB.
struct Picture {
    int width = 0, height = 0;
    std::vector<DWORD> pixels;
    DWORD At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

Picture FromBitmap(HDC source, int x, int y, int width, int height) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(static_cast<size_t>(width) * height);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP target = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, target);
    BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
    GdiFlush();
    const DWORD* from = static_cast<const DWORD*>(bits);
    for (size_t i = 0; i < picture.pixels.size(); ++i) picture.pixels[i] = from[i] & 0xFFFFFF;
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(target);
    return picture;
}

Picture CaptureScreen(const RECT& area) {
    HDC screen = GetDC(nullptr);
    Picture picture = FromBitmap(screen, area.left, area.top, area.right - area.left, area.bottom - area.top);
    ReleaseDC(nullptr, screen);
    return picture;
}

Picture LoadSkin(int bitmapId) {
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(bitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    BITMAP size{};
    GetObjectA(bitmap, sizeof size, &size);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, bitmap);
    Picture picture = FromBitmap(memory, 0, 0, size.bmWidth, size.bmHeight);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
    return picture;
}

bool SaveBmp(const Picture& picture, const std::string& path) {
    const DWORD rowBytes = (static_cast<DWORD>(picture.width) * 3 + 3) & ~3u;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + rowBytes * picture.height;
    info.biSize = sizeof info;
    info.biWidth = picture.width;
    info.biHeight = picture.height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    std::vector<char> row(rowBytes, 0);
    for (int y = picture.height - 1; y >= 0; --y) {
        for (int x = 0; x < picture.width; ++x) {
            const DWORD pixel = picture.At(x, y);
            row[x * 3] = static_cast<char>(pixel & 0xFF);
            row[x * 3 + 1] = static_cast<char>((pixel >> 8) & 0xFF);
            row[x * 3 + 2] = static_cast<char>((pixel >> 16) & 0xFF);
        }
        out.write(row.data(), rowBytes);
    }
    return out.good();
}

// MERVASTX_SCREENSHOT_DIR, or "screenshots" in the build tree beside app/.
std::string ScreenshotDir() {
    if (const char* chosen = std::getenv("MERVASTX_SCREENSHOT_DIR"); chosen && *chosen) return chosen;
    std::string exe = MERVASTX_EXE;
    const size_t app = exe.rfind("/app/");
    return (app == std::string::npos ? std::string(".") : exe.substr(0, app)) + "/screenshots";
}

struct BitmapPlace {
    int controlId;
    int bitmapId;
};

struct Shot {
    const char* file;
    int templateId;
    DLGPROC procedure;
    std::vector<BitmapPlace> clickable;  // bitmap controls that nothing covers
    POINT bare;                          // a spot of the face with no control over it
    int faceBitmap;
};

const Shot SHOTS[] = {
    {"main_window.bmp", IDD_MAIN, MainWindowProc,
     {{IDC_TITLE_STRIP, IDB_MAIN_TITLE}, {IDC_MINIMIZE, IDB_MINIMIZE}, {IDC_CLOSE, IDB_CLOSE},
      {IDC_ABOUT_BADGE, IDB_ABOUT_BADGE}},
     {180, 60}, IDB_MAIN_SKIN},
    {"add_contact.bmp", IDD_ADD_CONTACT, AddContactDialogProc, {{IDC_TITLE_STRIP, IDB_ADD_CONTACT_TITLE}}, {30, 40},
     IDB_ADD_CONTACT_SKIN},
    {"about.bmp", IDD_ABOUT, AboutDialogProc, {{IDC_ABOUT_STRIP, IDB_ABOUT_TITLE}}, {50, 60}, IDB_ABOUT_SKIN},
};

// Counts pixels of `area` (window pixels) that differ between the screen picture and the bitmap drawn at `origin`.
int Mismatches(const Picture& screen, const Picture& bitmap, const RECT& area, POINT origin) {
    int wrong = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            if (screen.At(x, y) != bitmap.At(x - origin.x, y - origin.y)) ++wrong;
    return wrong;
}

TEST(ShellScreens, WindowsShowTheirSkinsAndAreSavedForLooking) {
    const std::string dir = ScreenshotDir();
    CreateDirectoryA(dir.c_str(), nullptr);
    g_instance = GetModuleHandleA(nullptr);
    for (const Shot& shot : SHOTS) {
        SCOPED_TRACE(shot.file);
        HWND window = CreateDialogParamA(g_instance, MAKEINTRESOURCEA(shot.templateId), nullptr, shot.procedure, 0);
        ASSERT_NE(window, nullptr);
        ShowWindow(window, SW_SHOW);
        SetForegroundWindow(window);
        UpdateWindow(window);
        PumpMessages(400);
        RECT area;
        GetWindowRect(window, &area);
        const Picture screen = CaptureScreen(area);
        EXPECT_TRUE(SaveBmp(screen, dir + "/" + shot.file)) << dir;

        for (const BitmapPlace& place : shot.clickable) {
            SCOPED_TRACE("control " + std::to_string(place.controlId));
            RECT control;
            GetWindowRect(GetDlgItem(window, place.controlId), &control);
            MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&control), 2);
            const Picture bitmap = LoadSkin(place.bitmapId);
            ASSERT_GT(bitmap.width, 0);
            // A clipped bitmap (SS_REALSIZEIMAGE) shows only the part inside its control.
            RECT shown = {control.left, control.top, control.left + bitmap.width, control.top + bitmap.height};
            IntersectRect(&shown, &shown, &control);
            EXPECT_EQ(Mismatches(screen, bitmap, shown, {control.left, control.top}), 0);
        }
        // The face is drawn under the title row, at (0, 11).
        const Picture face = LoadSkin(shot.faceBitmap);
        const RECT spot = {shot.bare.x - 5, shot.bare.y - 5, shot.bare.x + 5, shot.bare.y + 5};
        EXPECT_EQ(Mismatches(screen, face, spot, {0, 11}), 0);

        DestroyWindow(window);
        PumpMessages(50);
        MSG quit;
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);  // the main window's WM_DESTROY posts one
    }
}

}  // namespace
