// The real mervasTX.exe run as a child process: welcome box, main window, closing paths, the settings file.
#include <gtest/gtest.h>
#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "contacts/save_aside.h"
#include "gui_harness.h"
#include "res/resource.h"

namespace {

constexpr DWORD WINDOW_WAIT_MS = 10000;
constexpr char EMPTY_SETTINGS[] = "CONTACTS\r\nUSER DETAILS\r\n::";
constexpr char WELCOME_TEXT[] =
    "Thank you for downloading mervasTX v.06\n\n"
    "Please refer to the README file for directions\n\n"
    "If you have questions, comments, or suggestions on\n"
    "how to improve this program, please email me at\n"
    "mervastx@example.com\n\n";

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            const std::string full = path + "\\" + name;
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

struct WindowSearch {
    DWORD processId;
    std::function<bool(HWND)> match;
    HWND found;
};

BOOL CALLBACK OnTopLevel(HWND window, LPARAM context) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window) || !search->match(window)) return TRUE;
    search->found = window;
    return FALSE;
}

bool IsMainWindow(HWND window) { return IsDialogClass(window) && TextOf(window) == "mervasTX"; }

// Where the program saves what its working folder cannot take; emptied around each run, since every
// later start would offer what is left there.
std::string UserFolder() {
    char appData[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
    return std::string(appData) + "\\mervasTX";
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The working folder's n-th save aside in the per-user folder, as the program names it.
std::string UserAside(const std::string& dir, int n = 1) {
    char comparable[MAX_PATH];
    ComparableFolder(dir.c_str(), comparable);
    char key[FOLDER_KEY_SIZE];
    MakeFolderKey(comparable, key);
    char file[SETTINGS_PATH_SIZE];
    char aside[SETTINGS_PATH_SIZE];
    if (!KeyedSettingsName(file, UserFolder().c_str(), key) || !NumberedUnsavedName(aside, file, n)) return "";
    return aside;
}

// What a save aside in the per-user folder holds: its header names the working folder.
std::string AsideOf(const std::string& dir, const std::string& bytes) {
    return "CONTACTS of " + dir + bytes.substr(bytes.find("\r\n"));
}

// The names in the per-user folder; none when it does not exist.
std::vector<std::string> UserFolderFiles() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((UserFolder() + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// How a test answers a box: OK, which a Yes/No or Retry/Cancel box takes as neither Yes nor Retry.
using Answer = std::function<WPARAM(const CaughtBox&)>;
WPARAM AnswerOk(const CaughtBox&) { return IDOK; }

// One run of the real program in a working folder of its own, where its mervasTX.ini lives.
class ProgramRun {
public:
    ProgramRun() : ownsDir_(true) {
        char temp[MAX_PATH] = "";
        GetTempPathA(sizeof temp, temp);
        dir_ = std::string(temp) + "mervastx-lifecycle-" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(GetTickCount());
        CreateDirectoryA(dir_.c_str(), nullptr);
        RemoveTree(UserFolder());
    }

    // Another run in a folder that `owner` keeps.
    explicit ProgramRun(const std::string& dir) : dir_(dir), ownsDir_(false) {}

    ~ProgramRun() {
        if (process_.hProcess) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process_.hProcess, 99);
                WaitForSingleObject(process_.hProcess, 5000);
            }
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        if (ownsDir_) {
            RemoveTree(dir_);
            RemoveTree(UserFolder());
        }
    }

    const std::string& Dir() const { return dir_; }

    std::string Path(const char* name) const { return dir_ + "\\" + name; }

    void Write(const char* name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }

    bool Exists(const char* name) const { return GetFileAttributesA(Path(name).c_str()) != INVALID_FILE_ATTRIBUTES; }

    std::string Read(const char* name) const { return ReadFile(Path(name)); }

    bool Start() {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        char commandLine[] = "mervasTX.exe";
        return CreateProcessA(MERVASTX_EXE, commandLine, nullptr, nullptr, FALSE, 0, nullptr, dir_.c_str(),
                              &startup, &process_) != 0;
    }

    HWND Find(const std::function<bool(HWND)>& match) const {
        WindowSearch search{process_.dwProcessId, match, nullptr};
        EnumWindows(OnTopLevel, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    HWND WaitFor(const std::function<bool(HWND)>& match, DWORD milliseconds = WINDOW_WAIT_MS) const {
        const DWORD end = GetTickCount() + milliseconds;
        do {
            if (HWND found = Find(match)) return found;
            if (WaitForSingleObject(process_.hProcess, 20) == WAIT_OBJECT_0) return Find(match);
        } while (static_cast<LONG>(end - GetTickCount()) > 0);
        return nullptr;
    }

    // Waits for the main window; any message box before it is recorded and dismissed.
    HWND WaitForMainWindow(std::vector<CaughtBox>& boxes) const {
        const DWORD end = GetTickCount() + WINDOW_WAIT_MS;
        do {
            if (HWND box = Find(IsMessageBox)) Dismiss(box, boxes);
            if (HWND main = Find(IsMainWindow)) return main;
            Sleep(20);
        } while (static_cast<LONG>(end - GetTickCount()) > 0);
        return nullptr;
    }

    // Waits for the process to end, dismissing any message box on the way; STILL_ACTIVE if it does not.
    DWORD WaitForExit(std::vector<CaughtBox>& boxes) const {
        const DWORD end = GetTickCount() + WINDOW_WAIT_MS;
        while (WaitForSingleObject(process_.hProcess, 20) == WAIT_TIMEOUT) {
            if (HWND box = Find(IsMessageBox)) Dismiss(box, boxes);
            if (static_cast<LONG>(end - GetTickCount()) <= 0) return STILL_ACTIVE;
        }
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    void Kill() const {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 5000);
    }

    // Records a box once and answers it with `answer`.
    void Dismiss(HWND box, std::vector<CaughtBox>& boxes) const {
        for (HWND done : dismissed_)
            if (done == box) return;
        dismissed_.push_back(box);
        boxes.push_back(ReadBox(box));
        // Every box the program shows is a plain one: no icon, no owner.
        EXPECT_FALSE(boxes.back().hasIcon) << "\"" << boxes.back().title << "\" box with an icon";
        EXPECT_FALSE(boxes.back().hasOwner) << "\"" << boxes.back().title << "\" box with an owner";
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer(boxes.back()), BN_CLICKED), 0);
    }

    Answer answer = AnswerOk;

private:
    std::string dir_;
    bool ownsDir_;
    PROCESS_INFORMATION process_{};
    mutable std::vector<HWND> dismissed_;
};

// Runs the program to its main window, closes it with `close` and returns the exit code.
DWORD RunAndClose(ProgramRun& run, const std::function<void(HWND)>& close, std::vector<CaughtBox>& boxes) {
    if (!run.Start()) return STILL_ACTIVE;
    HWND main = run.WaitForMainWindow(boxes);
    if (!main) return STILL_ACTIVE;
    close(main);
    return run.WaitForExit(boxes);
}

void PostClose(HWND main) { PostMessageA(main, WM_CLOSE, 0, 0); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Polls `condition` for up to WINDOW_WAIT_MS.
bool Eventually(const std::function<bool()>& condition) {
    const DWORD end = GetTickCount() + WINDOW_WAIT_MS;
    while (!condition()) {
        if (static_cast<LONG>(end - GetTickCount()) <= 0) return false;
        Sleep(20);
    }
    return true;
}

// Contact lines for Person `from` to Person `to`, in that order.
std::string ContactLines(int from, int to) {
    std::string lines;
    for (int i = from; i != to + (to > from ? 1 : -1); i += to > from ? 1 : -1)
        lines += "Person " + std::to_string(i) + ":5550001111:S:\r\n";
    return lines;
}

TEST(Lifecycle, FirstRunWelcomesThenOpensTheMainWindowAndCreatesTheFile) {
    ProgramRun run;
    ASSERT_TRUE(run.Start()) << MERVASTX_EXE;

    HWND box = run.WaitFor(IsMessageBox);
    ASSERT_NE(box, nullptr) << "no welcome box";
    EXPECT_EQ(run.Find(IsMainWindow), nullptr) << "the main window opened before the welcome box was dismissed";
    EXPECT_FALSE(run.Exists("mervasTX.ini")) << "the file is created only at exit";
    EXPECT_EQ(TextOf(box), "Welcome!");
    EXPECT_EQ(ItemText(box, 0xFFFF), WELCOME_TEXT);
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
    EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr) << "OK is the only button";
    EXPECT_FALSE(BoxShowsIcon(box));

    std::vector<CaughtBox> boxes;
    run.Dismiss(box, boxes);
    HWND main = run.WaitForMainWindow(boxes);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(boxes.size(), 1u) << "a second box after the welcome box";
    EXPECT_EQ(SendDlgItemMessageA(main, IDC_CONTACTS, LB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(ItemText(main, IDC_FROM), "");
    EXPECT_EQ(ItemText(main, IDC_CALLBACK), "");

    PostClose(main);
    EXPECT_EQ(run.WaitForExit(boxes), 0u);
    EXPECT_EQ(run.Read("mervasTX.ini"), EMPTY_SETTINGS);
    EXPECT_FALSE(run.Exists("mervasTX.ini.tmp"));
}

TEST(Lifecycle, ExistingFileOpensWithoutWelcomeAndIsRewrittenInNameOrder) {
    ProgramRun run;
    // An old header, contacts out of order and a code that the reader turns into a letter.
    run.Write("mervasTX.ini",
              "contact list\r\nZelda Quist:5550001111:3:\r\nAmos Bell:5550002222:A:\r\n"
              "USER DETAILS\r\nMe Myself:5559990000:");
    std::vector<CaughtBox> boxes;
    ASSERT_TRUE(run.Start());
    HWND main = run.WaitForMainWindow(boxes);
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(boxes.empty()) << "a box at start-up: " << boxes.front().title;
    EXPECT_EQ(SendDlgItemMessageA(main, IDC_CONTACTS, LB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(ItemText(main, IDC_FROM), "Me Myself");

    PostClose(main);
    EXPECT_EQ(run.WaitForExit(boxes), 0u);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(run.Read("mervasTX.ini"),
              "CONTACTS\r\nAmos Bell:5550002222:A:\r\nZelda Quist:5550001111:V:\r\n"
              "USER DETAILS\r\nMe Myself:5559990000:");
}

TEST(Lifecycle, EmptyFileIsNoFirstRunAndComesBackWhole) {
    ProgramRun run;
    run.Write("mervasTX.ini", "");
    std::vector<CaughtBox> boxes;
    EXPECT_EQ(RunAndClose(run, PostClose, boxes), 0u);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(run.Read("mervasTX.ini"), EMPTY_SETTINGS);
}

TEST(Lifecycle, EveryClosingPathEndsWithExitCodeZeroAndSaves) {
    struct Path {
        const char* name;
        std::function<void(HWND)> close;
    };
    const Path paths[] = {
        {"WM_CLOSE", PostClose},
        {"close glyph", [](HWND main) {
             PostMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_CLOSE, STN_CLICKED),
                          reinterpret_cast<LPARAM>(GetDlgItem(main, IDC_CLOSE)));
         }},
        {"menu Exit", [](HWND main) { PostMessageA(main, WM_COMMAND, MAKEWPARAM(ID_FILE_EXIT, 0), 0); }},
    };
    for (const Path& path : paths) {
        SCOPED_TRACE(path.name);
        ProgramRun run;
        // Changed on disk so that only a real save brings the canonical form back.
        run.Write("mervasTX.ini", "CONTACTS\nBea Ray:5551234567:S:\nUSER DETAILS\n:5550000000:");
        std::vector<CaughtBox> boxes;
        EXPECT_EQ(RunAndClose(run, path.close, boxes), 0u);
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(run.Read("mervasTX.ini"), "CONTACTS\r\nBea Ray:5551234567:S:\r\nUSER DETAILS\r\n:5550000000:");
    }
}

const std::string BEA = "CONTACTS\r\nBea Ray:5551234567:S:\r\nUSER DETAILS\r\n::";
const std::string BEA_DR_WHO = "CONTACTS\r\nBea Ray:5551234567:S:\r\nUSER DETAILS\r\nDr Who::";

void TypeSenderAndClose(HWND main) {
    SetDlgItemTextA(main, IDC_FROM, "Dr Who");
    PostClose(main);
}

// Unzipped where the user may not write: said at once, and the run saved in the user's own folder.
TEST(Lifecycle, FolderThatCannotBeWrittenIsToldAtStartAndTheRunSavedInTheUsersFolder) {
    ProgramRun run;
    run.Write("mervasTX.ini", BEA);
    // Root writes in any folder under Wine; a folder where the save writes first stops it alike.
    ASSERT_TRUE(CreateDirectoryA(run.Path("mervasTX.ini.tmp").c_str(), nullptr));
    const std::string aside = UserAside(run.Dir());
    std::vector<CaughtBox> boxes;
    EXPECT_EQ(RunAndClose(run, TypeSenderAndClose, boxes), 0u);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(Contains(boxes[0].text, "mervasTX cannot write in the folder ")) << boxes[0].text;
    EXPECT_TRUE(Contains(boxes[0].text, "saved to " + aside + " when you close")) << boxes[0].text;
    EXPECT_TRUE(Contains(boxes[1].text, "saved to " + aside + ".")) << boxes[1].text;
    EXPECT_EQ(run.Read("mervasTX.ini"), BEA);
    EXPECT_EQ(ReadFile(aside), AsideOf(run.Dir(), BEA_DR_WHO));
}

// Run again and again from a folder that cannot be written, with nothing entered: the box of the folder
// each time, and neither a question nor a file more. Leftovers of older copies that hold nothing the book
// lacks (a run that entered nothing, one the book has taken in) are renamed without a question.
TEST(Lifecycle, FolderThatCannotBeWrittenRunTwiceWithNothingEnteredAsksNothingMore) {
    for (bool firstRun : {true, false}) {
        SCOPED_TRACE(firstRun ? "no mervasTX.ini" : "mervasTX.ini there");
        ProgramRun run;
        if (!firstRun) run.Write("mervasTX.ini", BEA);
        ASSERT_TRUE(CreateDirectoryA(run.Path("mervasTX.ini.tmp").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(UserFolder().c_str(), nullptr));
        const std::string older = UserFolder() + "\\mervasTX.ini.unsaved";
        std::ofstream(older, std::ios::binary) << EMPTY_SETTINGS;
        std::ofstream(older + "2", std::ios::binary) << (firstRun ? EMPTY_SETTINGS : BEA);
        const std::vector<std::string> retired = {"mervasTX.ini.unsaved.merged", "mervasTX.ini.unsaved2.merged"};
        for (int pass = 1; pass <= 2; ++pass) {
            SCOPED_TRACE("run " + std::to_string(pass));
            ProgramRun again(run.Dir());
            std::vector<CaughtBox> boxes;
            EXPECT_EQ(RunAndClose(again, PostClose, boxes), 0u);
            ASSERT_EQ(boxes.size(), firstRun ? 2u : 1u) << boxes.back().text;
            EXPECT_TRUE(Contains(boxes.back().text, "mervasTX cannot write in the folder ")) << boxes.back().text;
            EXPECT_EQ(UserFolderFiles(), retired);
            EXPECT_EQ(run.Exists("mervasTX.ini"), !firstRun);
            EXPECT_EQ(run.Read("mervasTX.ini"), firstRun ? "" : BEA);
        }
        EXPECT_EQ(ReadFile(older + ".merged"), EMPTY_SETTINGS) << "renamed, not rewritten";
    }
}

// The per-user folder serves every folder that cannot be written: a save aside goes only to a copy run
// from its own folder, and the box names that folder.
TEST(Lifecycle, SaveAsideOfAnotherFolderIsNotOffered) {
    ProgramRun mine;  // both made first: a run made later would empty the per-user folder
    ProgramRun other;
    mine.Write("mervasTX.ini", BEA);
    ASSERT_TRUE(CreateDirectoryA(mine.Path("mervasTX.ini.tmp").c_str(), nullptr));
    std::vector<CaughtBox> boxes;
    EXPECT_EQ(RunAndClose(mine, TypeSenderAndClose, boxes), 0u);
    ASSERT_EQ(UserFolderFiles().size(), 1u);
    const std::string aside = UserFolder() + "\\" + UserFolderFiles()[0];
    const std::string saved = ReadFile(aside);

    for (bool writable : {true, false}) {
        SCOPED_TRACE(writable ? "another folder" : "another folder that cannot be written");
        ProgramRun elsewhere(other.Dir());
        other.Write("mervasTX.ini", BEA);
        if (!writable) {
            ASSERT_TRUE(CreateDirectoryA(other.Path("mervasTX.ini.tmp").c_str(), nullptr));
        }
        boxes.clear();
        EXPECT_EQ(RunAndClose(elsewhere, PostClose, boxes), 0u);
        ASSERT_EQ(boxes.size(), writable ? 0u : 1u) << boxes.back().text;
        EXPECT_EQ(ReadFile(aside), saved);
        EXPECT_EQ(UserFolderFiles().size(), 1u);
    }

    ProgramRun again(mine.Dir());
    again.answer = [](const CaughtBox& box) -> WPARAM {
        return Contains(box.text, "Take them into your book?") ? IDNO : IDOK;
    };
    boxes.clear();
    EXPECT_EQ(RunAndClose(again, PostClose, boxes), 0u);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(Contains(boxes[1].text, "An earlier run of mervasTX in the folder " + mine.Dir() +
                                            " could not save to mervasTX.ini there and saved to " + aside +
                                            " instead.")) << boxes[1].text;
    EXPECT_TRUE(Contains(boxes[1].text, "It holds 0 contacts that your book lacks. Its sender details differ: "
                                        "\"Dr Who\", callback \"\"")) << boxes[1].text;
    EXPECT_EQ(ReadFile(aside), saved) << "No leaves it";
    EXPECT_EQ(aside, UserAside(mine.Dir()));
    EXPECT_EQ(saved, AsideOf(mine.Dir(), BEA_DR_WHO));

    // An older copy's file does not say whose it is: every copy is asked, and told that much.
    std::ofstream(UserFolder() + "\\mervasTX.ini.unsaved", std::ios::binary)
        << "CONTACTS\r\nCy Young:5559876543:V:\r\nUSER DETAILS\r\n::";
    ProgramRun third(other.Dir());
    third.answer = again.answer;
    boxes.clear();
    EXPECT_EQ(RunAndClose(third, PostClose, boxes), 0u);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(Contains(boxes[1].text, "An earlier run of mervasTX, in a folder that it did not record, could not "
                                        "save to mervasTX.ini there and saved to " + UserFolder() +
                                            "\\mervasTX.ini.unsaved instead.\n\nIt holds 1 contact that your book "
                                            "lacks.\n\n")) << boxes[1].text;
}

// A virus scanner or backup tool holding the file while the user closes: a moment is waited out, a longer
// hold sends the save beside the file.
TEST(Lifecycle, FileHeldAtClosingIsWaitedForThenSavedBesideIt) {
    for (bool released : {true, false}) {
        SCOPED_TRACE(released ? "held a moment" : "held throughout");
        ProgramRun run;
        run.Write("mervasTX.ini", BEA);
        HANDLE hold = nullptr;
        std::vector<CaughtBox> boxes;
        const DWORD exitCode = RunAndClose(run, [&](HWND main) {
            hold = CreateFileA(run.Path("mervasTX.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            TypeSenderAndClose(main);
            if (!released) return;
            Sleep(300);
            CloseHandle(hold);
            hold = nullptr;
        }, boxes);
        if (hold) CloseHandle(hold);
        EXPECT_EQ(exitCode, 0u);
        EXPECT_EQ(run.Read("mervasTX.ini"), released ? BEA_DR_WHO : BEA);
        ASSERT_EQ(boxes.size(), released ? 0u : 1u);
        if (released) continue;
        EXPECT_EQ(run.Read("mervasTX.ini.unsaved"), BEA_DR_WHO);
        EXPECT_TRUE(Contains(boxes[0].text, "could not be saved to mervasTX.ini in ")) << boxes[0].text;
        EXPECT_TRUE(Contains(boxes[0].text, ": another program is using it")) << boxes[0].text;
        EXPECT_TRUE(Contains(boxes[0].text, "saved to mervasTX.ini.unsaved in ")) << boxes[0].text;
    }
}

// Nowhere to write: the user says whether to try again (after closing whatever holds the file) or give up.
TEST(Lifecycle, NothingWritableAtClosingAsksRetryOrCancel) {
    for (bool retry : {true, false}) {
        SCOPED_TRACE(retry ? "Retry" : "Cancel");
        ProgramRun run;
        run.Write("mervasTX.ini", BEA);
        const std::string aside = UserAside(run.Dir());
        std::vector<CaughtBox> boxes;
        run.answer = [&](const CaughtBox&) -> WPARAM {
            RemoveDirectoryA((aside + ".tmp").c_str());
            return retry ? IDRETRY : IDCANCEL;
        };
        const DWORD exitCode = RunAndClose(run, [&](HWND main) {
            // Blocked after the start, as a folder that turns read-only or a disk that fills up.
            for (const std::string& block : {run.Path("mervasTX.ini.tmp"), run.Path("mervasTX.ini.unsaved.tmp"),
                                             UserFolder(), aside + ".tmp"})
                EXPECT_TRUE(CreateDirectoryA(block.c_str(), nullptr)) << block;
            TypeSenderAndClose(main);  // a session that changed nothing would lose nothing
        }, boxes);
        EXPECT_EQ(exitCode, 0u);
        ASSERT_EQ(boxes.size(), retry ? 2u : 1u);
        EXPECT_TRUE(Contains(boxes[0].text, "could not be saved to mervasTX.ini in ")) << boxes[0].text;
        EXPECT_TRUE(Contains(boxes[0].text, "Cancel closes mervasTX without saving")) << boxes[0].text;
        EXPECT_EQ(run.Read("mervasTX.ini"), BEA);
        EXPECT_EQ(ReadFile(aside), retry ? AsideOf(run.Dir(), BEA_DR_WHO) : "");
        if (retry) {
            EXPECT_TRUE(Contains(boxes[1].text, "saved to " + aside + " instead.")) << boxes[1].text;
        }
    }
}

TEST(Lifecycle, RunEndedOtherwiseSavesNothing) {
    ProgramRun run;
    const std::string old = "contacts\nBea Ray:5551234567:S:\nUSER DETAILS\n::";
    run.Write("mervasTX.ini", old);
    std::vector<CaughtBox> boxes;
    ASSERT_TRUE(run.Start());
    ASSERT_NE(run.WaitForMainWindow(boxes), nullptr);
    run.Kill();
    EXPECT_EQ(run.Read("mervasTX.ini"), old);
    EXPECT_FALSE(run.Exists("mervasTX.ini.tmp"));
}

// A virus scanner or backup tool holding the file for the whole run: nothing of it may be lost.
TEST(Lifecycle, FileThatCannotBeReadIsKeptAndTheRunSavedBesideIt) {
    ProgramRun run;
    const std::string old = "CONTACTS\r\nBea Ray:5551234567:S:\r\nUSER DETAILS\r\nMe:1:";
    run.Write("mervasTX.ini", old);
    run.Write("mervasTX.ini.unsaved", "an earlier run's");
    HANDLE hold = CreateFileA(run.Path("mervasTX.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    std::vector<CaughtBox> boxes;
    ASSERT_TRUE(run.Start());
    HWND main = run.WaitForMainWindow(boxes);
    ASSERT_NE(main, nullptr);
    ASSERT_EQ(boxes.size(), 1u) << "no box at start-up, or the welcome box too";
    EXPECT_EQ(boxes[0].title, "Error");
    EXPECT_TRUE(Contains(boxes[0].text, "mervasTX.ini in ")) << boxes[0].text;
    EXPECT_TRUE(Contains(boxes[0].text, "another program is using it")) << boxes[0].text;
    EXPECT_TRUE(Contains(boxes[0].text, "mervasTX.ini.unsaved2")) << boxes[0].text;
    EXPECT_EQ(SendDlgItemMessageA(main, IDC_CONTACTS, LB_GETCOUNT, 0, 0), 0);

    SetDlgItemTextA(main, IDC_FROM, "Dr Who");
    PostClose(main);
    EXPECT_EQ(run.WaitForExit(boxes), 0u);
    CloseHandle(hold);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].title, "Error");
    EXPECT_TRUE(Contains(boxes[1].text, "saved to mervasTX.ini.unsaved2 in ")) << boxes[1].text;
    for (const CaughtBox& box : boxes) EXPECT_FALSE(box.hasOwner);
    EXPECT_EQ(run.Read("mervasTX.ini"), old);
    EXPECT_EQ(run.Read("mervasTX.ini.unsaved"), "an earlier run's");
    EXPECT_EQ(run.Read("mervasTX.ini.unsaved2"), "CONTACTS\r\nUSER DETAILS\r\nDr Who::");
}

TEST(Lifecycle, ContactsPastTheTableAreReportedOnceAndEveryLineKept) {
    const std::string bytes = "CONTACTS\r\n" + ContactLines(1509, 1000) + "USER DETAILS\r\nMe:1:";
    const std::string first500 = "CONTACTS\r\n" + ContactLines(1010, 1509) + "USER DETAILS\r\n";
    const struct {
        const char* what;
        bool backupFails;
        bool entered;
    } cases[] = {
        {"the backup is made", false, false},
        // The file kept as it was holds all that a session without a change has.
        {"the backup fails, nothing entered", true, false},
        {"the backup fails, a sender entered", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramRun run;
        run.Write("mervasTX.ini", bytes);
        // A folder where the backup goes: the copy cannot be put in its place.
        if (c.backupFails) {
            ASSERT_TRUE(CreateDirectoryA(run.Path("mervasTX.ini.bak").c_str(), nullptr));
        }
        std::vector<CaughtBox> boxes;
        EXPECT_EQ(RunAndClose(run, c.entered ? TypeSenderAndClose : PostClose, boxes), 0u);
        ASSERT_EQ(boxes.size(), c.entered ? 2u : 1u);
        EXPECT_EQ(boxes[0].title, "Error");
        EXPECT_TRUE(Contains(boxes[0].text, " holds 10 more contacts than the 500")) << boxes[0].text;
        EXPECT_TRUE(Contains(boxes[0].text, "mervasTX.ini.bak")) << boxes[0].text;
        if (c.backupFails) {
            EXPECT_EQ(run.Read("mervasTX.ini"), bytes);
            EXPECT_EQ(run.Exists("mervasTX.ini.unsaved"), c.entered);
            if (!c.entered) continue;
            EXPECT_TRUE(Contains(boxes[1].text, "saved to mervasTX.ini.unsaved in ")) << boxes[1].text;
            EXPECT_EQ(run.Read("mervasTX.ini.unsaved"), first500 + "Dr Who:1:");
        } else {
            EXPECT_EQ(run.Read("mervasTX.ini.bak"), bytes);
            EXPECT_EQ(run.Read("mervasTX.ini"), first500 + "Me:1:");
        }
    }
}

// Bytes the reader did not take are copied whole before the exit save replaces them, and the user is told.
TEST(Lifecycle, FileNotUnderstoodIsCopiedBeforeItIsReplaced) {
    ProgramRun run;
    const std::string oldMac = "CONTACTS\rBea Ray:5551234567:S:\rUSER DETAILS\rMe:1:";
    run.Write("mervasTX.ini", oldMac);
    std::vector<CaughtBox> boxes;
    EXPECT_EQ(RunAndClose(run, PostClose, boxes), 0u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(Contains(boxes[0].text, "could not be read as a contact book")) << boxes[0].text;
    EXPECT_TRUE(Contains(boxes[0].text, "The whole file was copied to mervasTX.ini.bak.")) << boxes[0].text;
    EXPECT_EQ(run.Read("mervasTX.ini.bak"), oldMac);
    EXPECT_EQ(run.Read("mervasTX.ini"), EMPTY_SETTINGS);
}

// An earlier run's save aside: the user is told what it holds that the book lacks, and decides.
TEST(Lifecycle, EarlierSaveAsideIsOfferedAndTakenInOnlyOnYes) {
    const std::string aside = "CONTACTS\r\nBea Ray:5551234567:S:\r\nCy Young:5559876543:V:\r\n"
                              "Dee Fox:5550001111:A:\r\nUSER DETAILS\r\nDr Who:5550002222:";
    for (bool yes : {true, false}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        ProgramRun run;
        run.Write("mervasTX.ini", BEA);
        run.Write("mervasTX.ini.unsaved2", aside);
        run.Write("mervasTX.ini.unsaved.merged", aside);  // taken in before: never offered again
        run.answer = [yes](const CaughtBox&) -> WPARAM { return yes ? IDYES : IDNO; };
        std::vector<CaughtBox> boxes;
        EXPECT_EQ(RunAndClose(run, PostClose, boxes), 0u);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(Contains(boxes[0].text, "mervasTX.ini.unsaved2 in ")) << boxes[0].text;
        EXPECT_TRUE(Contains(boxes[0].text, "It holds 2 contacts that your book lacks. Its sender details differ: "
                                            "\"Dr Who\", callback \"5550002222\"")) << boxes[0].text;
        EXPECT_EQ(run.Read("mervasTX.ini"), yes ? aside : BEA);
        EXPECT_EQ(run.Read(yes ? "mervasTX.ini.unsaved2.merged" : "mervasTX.ini.unsaved2"), aside);
        EXPECT_EQ(run.Exists("mervasTX.ini.unsaved2"), !yes);
    }
}

// Wine's log-off asks every window with WM_QUERYENDSESSION and WM_ENDSESSION, then ends the process.
// With the file held, the log-off takes the way a closing takes, without a box that nobody would answer.
TEST(Lifecycle, LogOffSavesWhatTheWindowShows) {
    for (bool held : {false, true}) {
        SCOPED_TRACE(held ? "file held" : "file free");
        ProgramRun run;
        run.Write("mervasTX.ini", "CONTACTS\nBea Ray:5551234567:S:\nUSER DETAILS\n::");
        std::vector<CaughtBox> boxes;
        ASSERT_TRUE(run.Start());
        HWND main = run.WaitForMainWindow(boxes);
        ASSERT_NE(main, nullptr);
        SetDlgItemTextA(main, IDC_FROM, "Dr Who");
        SetDlgItemTextA(main, IDC_CALLBACK, "5550001111");
        HANDLE hold = held ? CreateFileA(run.Path("mervasTX.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         0, nullptr)
                           : nullptr;

        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION logOff{};
        char commandLine[] = "wineboot.exe --end-session --shutdown";
        ASSERT_TRUE(
            CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &logOff));
        EXPECT_EQ(WaitForSingleObject(logOff.hProcess, 30000), WAIT_OBJECT_0);
        CloseHandle(logOff.hProcess);
        CloseHandle(logOff.hThread);
        EXPECT_NE(run.WaitForExit(boxes), STILL_ACTIVE) << "the log-off did not end the program";
        if (hold) CloseHandle(hold);
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(run.Read(held ? "mervasTX.ini.unsaved" : "mervasTX.ini"),
                  "CONTACTS\r\nBea Ray:5551234567:S:\r\nUSER DETAILS\r\nDr Who:5550001111:");
    }
}

TEST(Lifecycle, SecondCopyInTheSameFolderFrontsTheFirstAndEnds) {
    ProgramRun first;
    const std::string old = "contacts\nBea Ray:5551234567:S:\nUSER DETAILS\n::";  // any save rewrites it
    first.Write("mervasTX.ini", old);
    std::vector<CaughtBox> boxes;
    ASSERT_TRUE(first.Start());
    HWND main = first.WaitForMainWindow(boxes);
    ASSERT_NE(main, nullptr);

    // A copy in another folder runs side by side, and its window comes in front of the first.
    ProgramRun elsewhere;
    elsewhere.Write("mervasTX.ini", old);
    ASSERT_TRUE(elsewhere.Start());
    HWND other = elsewhere.WaitForMainWindow(boxes);
    ASSERT_NE(other, nullptr) << "a copy in another folder did not run";
    ASSERT_TRUE(Eventually([other] { return GetForegroundWindow() == other; }));

    std::string upper = first.Dir();  // the same folder, spelt in capitals
    CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    ProgramRun second(upper);
    ASSERT_TRUE(second.Start());
    EXPECT_EQ(second.WaitForExit(boxes), 0u);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(Eventually([main] { return GetForegroundWindow() == main; }))
        << "the running copy was not brought to the front";
    EXPECT_EQ(first.Read("mervasTX.ini"), old) << "the second copy saved";

    PostClose(other);
    PostClose(main);
    EXPECT_EQ(elsewhere.WaitForExit(boxes), 0u);
    EXPECT_EQ(first.WaitForExit(boxes), 0u);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(first.Read("mervasTX.ini"), "CONTACTS\r\nBea Ray:5551234567:S:\r\nUSER DETAILS\r\n::");
}

VOID CALLBACK QuitAfterWaiting(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(0); }

TEST(Lifecycle, MainWindowThatCannotOpenIsReportedAndSavesNothing) {
    ProgramRun run;  // only its folder: the run is this process's own
    const std::string old = "contacts\nBea Ray:5551234567:S:\nUSER DETAILS\n::";
    run.Write("mervasTX.ini", old);
    char previous[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(run.Dir().c_str()));
    int exitCode = 0;
    MessageBoxCatcher boxes;
    {
        // A run that waits for a quit message nobody posts gets one, so the test fails instead of hanging.
        const UINT_PTR timer = SetTimer(nullptr, 0, 5000, QuitAfterWaiting);
        exitCode = RunProgram(GetModuleHandleA("kernel32.dll"));  // an instance without the main window's template
        KillTimer(nullptr, timer);
    }
    SetCurrentDirectoryA(previous);
    EXPECT_NE(exitCode, 0);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].title, "Error");
    EXPECT_TRUE(Contains(boxes.boxes()[0].text, "could not open its main window")) << boxes.boxes()[0].text;
    EXPECT_EQ(run.Read("mervasTX.ini"), old);
}

}  // namespace
