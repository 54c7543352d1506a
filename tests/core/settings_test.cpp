// Settings file: exact bytes written, the reader's rules for hand-made files, and failed saves.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "contacts/save_aside.h"
#include "contacts/settings.h"
#include "contact_rows.h"
#include "common/text.h"

namespace fs = std::filesystem;

using contact_rows::Names;
using contact_rows::Rows;

namespace {

struct Loaded {
    LoadReport report;
    bool loaded() const { return report.state == SettingsState::Loaded; }
    ContactTable table;
    UserDetails details;
    ReaderBuffers buffers;
};

std::vector<std::string> Sorted(std::vector<std::string> rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
}

UserDetails Details(const char* sender, const char* callback) {
    UserDetails details{};
    CopyText(details.sender, sender);
    CopyText(details.callback, callback);
    return details;
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        // Unique per run too, since another build's tests may run at the same time.
        folder = fs::temp_directory_path() /
                 ("mervastx-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
                  std::to_string(std::random_device()()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        file = (folder / "mervasTX.ini").string();
        temporary = file + ".tmp";
    }
    void TearDown() override { fs::remove_all(folder); }

    void Write(const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

    std::string Read() {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::unique_ptr<Loaded> Load(const std::string& bytes) {
        Write(bytes);
        return LoadFile();
    }

    std::unique_ptr<Loaded> LoadFile() {
        auto loaded = std::make_unique<Loaded>();
        loaded->details = Details("stale", "999");  // a load must set both, whatever they held
        loaded->report = LoadSettings(loaded->table, loaded->details, loaded->buffers, file.c_str());
        return loaded;
    }

    fs::path folder;
    std::string file;
    std::string temporary;
};

const std::string DETAILS_END = "USER DETAILS\r\n::";

}  // namespace

TEST_F(Settings, WritesExactBytes) {
    auto table = std::make_unique<ContactTable>();
    EXPECT_TRUE(SaveSettings(*table, UserDetails{}, file.c_str()));
    EXPECT_EQ(Read(), "CONTACTS\r\nUSER DETAILS\r\n::");

    AddContact(*table, "Bob", "5551234567", 5);
    AddContact(*table, "Al", "123", 2);
    AddContact(*table, "Zed", "1", 9);  // no carrier code: written as the reader's fallback, Ameritech
    EXPECT_TRUE(SaveSettings(*table, Details("", "5550001111"), file.c_str()));
    EXPECT_EQ(Read(), "CONTACTS\r\nAl:123:C:\r\nBob:5551234567:V:\r\nZed:1:M:\r\nUSER DETAILS\r\n:5550001111:");
    EXPECT_FALSE(fs::exists(temporary));

    RemoveContact(*table, 1);
    EXPECT_TRUE(SaveSettings(*table, Details("Sam", "5550001111"), file.c_str()));
    EXPECT_EQ(Read(), "CONTACTS\r\nAl:123:C:\r\nZed:1:M:\r\nUSER DETAILS\r\nSam:5550001111:");
}

TEST_F(Settings, WrittenFileReadsBack) {
    auto table = std::make_unique<ContactTable>();
    const char* names[] = {"Bo", "Al", "Bo", "maria", "Bo", "Zed Zimmermann-Oppenheimer", "\xC9lise", "Al"};
    for (int i = 0; i < 8; ++i) AddContact(*table, names[i], std::to_string(100 + i).c_str(), i % 6);
    for (const UserDetails& details :
         {Details("Sam", "5550001111"), Details("", "5550001111"), Details("S", ""), Details("", "")}) {
        ASSERT_TRUE(SaveSettings(*table, details, file.c_str()));
        auto loaded = LoadFile();
        ASSERT_TRUE(loaded->loaded());
        EXPECT_EQ(Sorted(Rows(loaded->table)), Sorted(Rows(*table))) << "equal names may come back reordered";
        EXPECT_EQ(Names(loaded->table), Names(*table));
        EXPECT_STREQ(loaded->details.sender, details.sender);
        EXPECT_STREQ(loaded->details.callback, details.callback);
    }
}

TEST_F(Settings, ContactLinesSplitAtColons) {
    struct Case {
        const char* line;
        const char* row;  // null: no contact
    };
    const Case cases[] = {
        {"Mary:Ann:2125551234:V:", "Mary/Ann/0"},  // a ':' in the name; leading number above 3 names no carrier
        {":5551234567:V:", "5551234567/V/0"},      // empty name: later fields move up
        {"Bob::V:", "Bob/V/0"},
        {"Dee:5551234567:3:", "Dee/5551234567/5"},
        {"Dee:5551234567:0:", "Dee/5551234567/2"},
        {"Dee:5551234567:03x:", "Dee/5551234567/5"},
        {"Dee:5551234567:4:", "Dee/5551234567/0"},
        {"Dee:5551234567:10:", "Dee/5551234567/0"},
        {"Dee:5551234567:99999999999999999999:", "Dee/5551234567/0"},
        {"Dee:5551234567:V:", "Dee/5551234567/5"},
        {"Dee:5551234567:v:", "Dee/5551234567/0"},
        {"Dee:5551234567:S", "Dee/5551234567/3"},  // the line end belongs to the carrier field
        {"Al:123:V:", "Al/123/5"},                  // short, but three fields
        {"a:b:", "a/b/0"},
        {"", nullptr},
        {"abc", nullptr},
        {"::::::::::::", nullptr},
        {"Somebody:5551234567", nullptr},  // fewer than three fields
        {"Maximilian Alexander Featherstonehaugh:55512345678901:U:", "Maximilian Alexander Featherstoneh/5551234567/4"},
    };
    for (const Case& c : cases) {
        auto loaded = Load("CONTACTS\r\n" + std::string(c.line) + "\r\n" + DETAILS_END);
        EXPECT_EQ(Rows(loaded->table), c.row ? std::vector<std::string>{c.row} : std::vector<std::string>{})
            << c.line;
    }
}

TEST_F(Settings, LinesAndMarker) {
    const std::string body =
        "Zed:5551234567:V:\r\n"
        "\r\n"
        "USER DETAILS \r\n"  // not the marker, and no contact
        "Amy:5550000000:M:\n"
        "Amy:5550000000:M:\r\n"
        "USER DETAILS\r\n"
        "Sam:5550001111:\r\n";
    for (const std::string& header : {std::string("CONTACTS\r\n"), std::string("Cy:5559876543:C:\r\n")}) {
        auto loaded = Load(header + body);
        EXPECT_TRUE(loaded->loaded());
        EXPECT_EQ(Rows(loaded->table),
                  (std::vector<std::string>{"Amy/5550000000/0", "Amy/5550000000/0", "Zed/5551234567/5"}));
        EXPECT_STREQ(loaded->details.sender, "Sam");
        EXPECT_STREQ(loaded->details.callback, "5550001111");
    }
    auto lf = Load("CONTACTS\nCy:5559876543:C:\nUSER DETAILS\nSam:1:");
    EXPECT_EQ(Rows(lf->table), std::vector<std::string>{"Cy/5559876543/2"});
    EXPECT_STREQ(lf->details.callback, "1");
}

TEST_F(Settings, LongLineIsReadIn98CharacterPieces) {
    auto loaded = Load("CONTACTS\r\n" + std::string(LINE_PIECE_CHARS, 'x') + "Al:123:V:\r\n" +
                       std::string(LINE_PIECE_CHARS - 2, 'y') + ":1:C:5551234567:S:\r\n" + DETAILS_END);
    EXPECT_EQ(Rows(loaded->table), (std::vector<std::string>{"Al/123/5", "C/5551234567/3"}));
}

TEST_F(Settings, DetailsLine) {
    struct Case {
        const char* line;
        const char* sender;
        const char* callback;
    };
    const Case cases[] = {
        {"::", "", ""},
        {"A:", "", ""},  // two characters or fewer: ignored
        {":5550001111:", "", "5550001111"},
        {"::5550001111:", "", ""},
        {"Sam::", "Sam", ""},
        {"Sam:555:junk:", "Sam", "555"},
        {"Sam:555", "Sam", "555"},  // not closed: to the end of the line
        {"Sam:555\r\nlater:1:", "Sam", "555"},
        {"Sam\r\n", "Sam", ""},
        {"Samuel Bartholomew Smith:12345678901234:", "Samuel Bartholomew ", "1234567890"},
    };
    for (const Case& c : cases) {
        auto loaded = Load("CONTACTS\r\nUSER DETAILS\r\n" + std::string(c.line));
        EXPECT_STREQ(loaded->details.sender, c.sender) << c.line;
        EXPECT_STREQ(loaded->details.callback, c.callback) << c.line;
    }
}

TEST_F(Settings, StopsAtEndOfFileInEveryState) {
    for (const char* bytes : {"", "CONTACTS", "CONTACTS\r\n", "CONTACTS\r\nBob:5551234567:V:",
                              "CONTACTS\r\nBob:5551234567:V:\r\nUSER DETAILS",
                              "CONTACTS\r\nBob:5551234567:V:\r\nUSER DETAILS\r\n"}) {
        auto loaded = Load(bytes);
        EXPECT_TRUE(loaded->loaded()) << "an empty file is not a first run";
        EXPECT_EQ(loaded->table.count, std::string(bytes).find("Bob") == std::string::npos ? 0 : 1) << bytes;
        EXPECT_STREQ(loaded->details.sender, "") << bytes;
        EXPECT_STREQ(loaded->details.callback, "") << bytes;
    }
    fs::remove(file);
    auto missing = LoadFile();
    EXPECT_EQ(missing->report.state, SettingsState::Missing);
    EXPECT_STREQ(missing->details.sender, "stale");
}

// A save aside in the per-user folder names its working folder in the header; every reader drops that line
// as it drops "CONTACTS", whatever the folder, so the file loads as the program's own (and older copies' too).
TEST_F(Settings, HeaderNamingAFolderIsDroppedLikeTheOwnHeader) {
    auto table = std::make_unique<ContactTable>();
    AddContact(*table, "Bea Ray", "5551234567", 3);
    for (const std::string& folder : {std::string("C:\\Program Files\\mervasTX"), "C:\\" + std::string(200, 'd'),
                                      std::string("C:\\x:1:V:"), "C:\\" + std::string(82, 'e')}) {
        SCOPED_TRACE(folder);
        char header[LINE_PIECE_CHARS];
        SaveAsideHeader(header, folder.c_str());
        ASSERT_TRUE(SaveSettings(*table, Details("Me", "1"), file.c_str(), header));
        EXPECT_EQ(Read().substr(0, std::strlen(header) + 2), std::string(header) + "\r\n");
        auto loaded = LoadFile();
        ASSERT_TRUE(loaded->loaded());
        EXPECT_FALSE(NotUnderstood(loaded->report));
        EXPECT_EQ(Rows(loaded->table), Rows(*table));
        EXPECT_STREQ(loaded->details.sender, "Me");
    }
}

// What a save would drop decides whether the file is copied first; the program's own files drop nothing.
TEST_F(Settings, ReportsWhatTheReaderDidNotUnderstand) {
    const struct {
        std::string bytes;
        int skipped;
        bool nothing;
    } cases[] = {
        {"", 0, false},
        {"CONTACTS\r\nUSER DETAILS\r\n::", 0, false},
        {"CONTACTS", 0, false},
        {"contact list\r\n\r\n:::\r\nBo:5551234567:V:\r\nUSER DETAILS\r\nSam:1:\r\n\r\n", 0, false},
        {"CONTACTS\rBo:5551234567:V:\rUSER DETAILS\rSam:1:", 1, true},  // old Mac line ends: one header line
        {"whatever\r\n", 0, true},
        {"Bo:5551234567:V:\r\nUSER DETAILS\r\n::", 1, false},  // a contact in the header's place
        {"CONTACTS\r\nBo 5551234567 Verizon\r\nAl:1\r\nUSER DETAILS \r\nUSER DETAILS\r\n::", 3, false},
        {"CONTACTS\r\nBo:5551234567:V:\r\nUSER DETAILS\r\nSam:1:\r\nmore:2:", 1, false},
        {"CONTACTS\r\n" + std::string(150, 'x') + ":1:V:\r\nUSER DETAILS\r\n::", 1, false},
        {"CONTACTS\r" + std::string(300, 'x') + "\rUSER DETAILS\r::", 1, true},
    };
    for (const auto& c : cases) {
        auto loaded = Load(c.bytes);
        ASSERT_TRUE(loaded->loaded()) << c.bytes;
        EXPECT_EQ(loaded->report.linesSkipped, c.skipped) << c.bytes;
        EXPECT_EQ(loaded->report.nothingUnderstood, c.nothing) << c.bytes;
        EXPECT_EQ(NotUnderstood(loaded->report), c.skipped > 0 || c.nothing) << c.bytes;
    }
}

TEST_F(Settings, StopsAddingAtCapacityCountsWhatIsLeftOutAndBacksUpEveryByte) {
    std::string bytes = "CONTACTS\r\n";
    for (int i = MAX_CONTACTS + 9; i >= 0; --i) bytes += "Person " + std::to_string(1000 + i) + ":5550001111:S:\r\n";
    bytes += "short\r\nNo:carrier\r\nUSER DETAILS\r\nSam:1:";  // lines that hold no contact are not counted
    auto loaded = Load(bytes);
    ASSERT_EQ(loaded->table.count, MAX_CONTACTS);
    EXPECT_EQ(loaded->report.contactsLeftOut, 10);
    EXPECT_STREQ(loaded->table.names[0], "Person 1010");
    EXPECT_STREQ(loaded->table.names[MAX_CONTACTS - 1], "Person 1509");
    EXPECT_STREQ(loaded->details.sender, "Sam");

    const std::string backup = file + BACKUP_SUFFIX;
    std::ofstream(backup) << "an older backup";
    Write(bytes + std::string("\0\xff\r\r\n\x1a tail", 12));
    ASSERT_TRUE(BackUpSettings(file.c_str()));
    std::ifstream in(backup, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), Read());
    EXPECT_FALSE(fs::exists(backup + ".tmp"));

    fs::remove(file);
    EXPECT_FALSE(BackUpSettings(file.c_str()));
    EXPECT_TRUE(fs::exists(backup)) << "a failed backup leaves the last one";
}

TEST_F(Settings, OnlyAFileThatDoesNotExistIsMissing) {
    auto missing = LoadFile();
    EXPECT_EQ(missing->report.state, SettingsState::Missing);
    EXPECT_STREQ(missing->details.sender, "stale") << "nothing changes on a first run";

    // A folder in the file's place opens natively and fails on the first read; on Windows the open fails as
    // for a held file, but no wait would change it.
    fs::create_directory(file);
    const auto start = std::chrono::steady_clock::now();
    auto unreadable = LoadFile();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(unreadable->report.state, SettingsState::Unreadable);
    EXPECT_STREQ(unreadable->report.problem, "it is a folder, not a file");
    EXPECT_EQ(unreadable->table.count, 0);
    EXPECT_STREQ(unreadable->details.sender, "");
    EXPECT_STREQ(unreadable->details.callback, "");
}

TEST_F(Settings, UnsavedFileNameIsNeverOneInUse) {
    char name[SETTINGS_PATH_SIZE];
    for (const char* expected : {".unsaved", ".unsaved2", ".unsaved3"}) {
        ASSERT_TRUE(UnsavedFileName(name, file.c_str()));
        EXPECT_EQ(name, file + expected);
        std::ofstream(name) << "taken";
    }
    EXPECT_FALSE(UnsavedFileName(name, std::string(SETTINGS_PATH_SIZE - 5, 'x').c_str())) << "a name cut short";

    // Names that stand for something that cannot be opened are in use too.
#ifdef _WIN32
    const std::string unreadable = file + ".unsaved4";
    std::ofstream(unreadable) << "held";
    HANDLE hold = CreateFileA(unreadable.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
#else
    fs::create_symlink(folder / "nowhere", file + ".unsaved4");
#endif
    ASSERT_TRUE(UnsavedFileName(name, file.c_str()));
    EXPECT_EQ(name, file + ".unsaved5");
#ifdef _WIN32
    CloseHandle(hold);
#endif
    // Every name taken: none is given, rather than one written over.
    for (int n = 5; n <= MAX_UNSAVED_FILES; ++n) std::ofstream(file + ".unsaved" + std::to_string(n)) << "taken";
    EXPECT_FALSE(UnsavedFileName(name, file.c_str()));
}

#ifdef _WIN32
// A virus scanner's hold: share mode 0 makes every other open fail, in this process too.
HANDLE HoldWithoutSharing(const std::string& file) {
    return CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(Settings, FileHeldByAnotherProgramIsRetriedForAboutASecond) {
    Write("CONTACTS\r\nBob:5551234567:V:\r\nUSER DETAILS\r\nSam:1:");
    HANDLE hold = HoldWithoutSharing(file);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    std::thread release([hold] {
        Sleep(300);
        CloseHandle(hold);
    });
    auto loaded = LoadFile();
    release.join();
    EXPECT_EQ(loaded->report.state, SettingsState::Loaded);
    EXPECT_EQ(loaded->table.count, 1);

    hold = HoldWithoutSharing(file);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    const DWORD start = GetTickCount();
    auto held = LoadFile();
    const DWORD waited = GetTickCount() - start;
    CloseHandle(hold);
    EXPECT_EQ(held->report.state, SettingsState::Unreadable);
    EXPECT_STREQ(held->report.problem, "another program is using it, or you are not allowed to read it");
    EXPECT_EQ(held->table.count, 0);
    EXPECT_GE(waited, 800u);
    EXPECT_LE(waited, 3000u);
    EXPECT_EQ(Read(), "CONTACTS\r\nBob:5551234567:V:\r\nUSER DETAILS\r\nSam:1:");
}
#else
// Records, while set, the calls that decide what a power cut leaves on the disk.
std::vector<std::string>* g_diskCalls;

std::string PathOfDescriptor(int descriptor) {
    char path[4096] = "";
    const ssize_t length = readlink(("/proc/self/fd/" + std::to_string(descriptor)).c_str(), path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : "?";
}
#endif

TEST_F(Settings, FailedSaveLeavesTheOldFile) {
    auto table = std::make_unique<ContactTable>();
    AddContact(*table, "Bob", "5551234567", 5);
    const UserDetails details = Details("Sam", "1");

    Write("old contents");
    fs::create_directory(temporary);  // the temporary file cannot be created
    EXPECT_FALSE(SaveSettings(*table, details, file.c_str()));
    EXPECT_EQ(Read(), "old contents");
    EXPECT_TRUE(fs::is_directory(temporary));
    fs::remove(temporary);

    fs::remove(file);
    fs::create_directory(file);  // the target cannot be replaced
    EXPECT_FALSE(SaveSettings(*table, details, file.c_str()));
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_FALSE(fs::exists(temporary));

    const std::string nowhere = (folder / "missing" / "mervasTX.ini").string();
    EXPECT_FALSE(SaveSettings(*table, details, nowhere.c_str()));
    EXPECT_FALSE(fs::exists(folder / "missing"));
}

// A save at closing names what stops it and does not wait for what will not pass (a hold that passes: the
// lifecycle tests).
TEST_F(Settings, PatientSaveNamesWhatStopsIt) {
    auto table = std::make_unique<ContactTable>();
    char problem[PROBLEM_SIZE] = "";
    const auto failsQuickly = [&](const std::string& target, const char* expected) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(SaveSettingsPatiently(*table, UserDetails{}, target.c_str(), problem)) << target;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500)) << target;
        EXPECT_STREQ(problem, expected);
    };
    fs::create_directory(file);
    failsQuickly(file, "it is a folder, not a file");
    failsQuickly((folder / "missing" / "mervasTX.ini").string(), "its folder does not exist");
    fs::remove(file);
    EXPECT_TRUE(CanWriteBeside(file.c_str()));
    fs::create_directory(temporary);
    EXPECT_FALSE(CanWriteBeside(file.c_str()));
    fs::remove(temporary);
}

#ifndef _WIN32
// These take the place of the C library's for the whole test program and pass every call on.
// A file's size says whether its bytes had reached it: fsync before fflush flushes an empty file.
extern "C" int fsync(int descriptor) {
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    struct stat status {};
    if (g_diskCalls) {
        const bool file = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
        g_diskCalls->push_back("fsync " + PathOfDescriptor(descriptor) +
                               (file ? " " + std::to_string(status.st_size) + " bytes" : ""));
    }
    return real(descriptor);
}

extern "C" int rename(const char* from, const char* to) noexcept {
    static const auto real = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "rename"));
    if (g_diskCalls) g_diskCalls->push_back(std::string("rename ") + from + " " + to);
    return real(from, to);
}

TEST_F(Settings, SaveReachesTheDiskBeforeItReplacesTheFile) {
    const std::string real = fs::canonical(folder).string();
    auto table = std::make_unique<ContactTable>();
    std::vector<std::string> calls;
    g_diskCalls = &calls;
    const bool saved = SaveSettings(*table, UserDetails{}, file.c_str());
    g_diskCalls = nullptr;
    ASSERT_TRUE(saved);
    EXPECT_EQ(calls, (std::vector<std::string>{"fsync " + real + "/mervasTX.ini.tmp 26 bytes",
                                                "rename " + temporary + " " + file, "fsync " + real}));
}
#endif
