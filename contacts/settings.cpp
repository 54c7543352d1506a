// The settings file: its line reader, contact and details lines, and the save that replaces the file whole.
#include "contacts/settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <time.h>
#include <unistd.h>
#endif

#include "gateway/carriers.h"
#include "common/text.h"

namespace {

// Binary reads with CR LF or a bare LF taken as one '\n', so both builds cut the same pieces.
bool ReadLine(std::FILE* file, char (&line)[LINE_BUFFER_SIZE]) {
    int length = 0;
    while (length < LINE_PIECE_CHARS) {
        int c = std::getc(file);
        if (c == EOF) break;
        if (c == '\r') {
            const int next = std::getc(file);
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                std::ungetc(next, file);
        }
        line[length++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    line[length] = '\0';
    return length > 0;
}

// Tokenizer on ':' alone, as strtok: runs of ':' separate, no field is empty, the line end belongs to the last run.
char* NextField(char*& cursor) {
    while (*cursor == ':') ++cursor;
    if (*cursor == '\0') return nullptr;
    char* field = cursor;
    while (*cursor != '\0' && *cursor != ':') ++cursor;
    if (*cursor == ':') *cursor++ = '\0';
    return field;
}

int CarrierFromField(const char* field) {
    if (field[0] >= '0' && field[0] <= '3') {
        int value = 0;  // stops growing past 3, so no digit string can overflow it
        for (const char* digit = field; *digit >= '0' && *digit <= '9' && value <= 3; ++digit)
            value = value * 10 + (*digit - '0');
        return value <= 3 ? value + 2 : 0;  // a larger number names no carrier
    }
    const int index = CarrierIndexOf(field[0]);
    return index >= 0 ? index : 0;
}

enum class LineRead { Contact, NoContact, TableFull };

// Any line with three fields is a contact, short or long; fewer fields hold no contact to store.
LineRead ReadContactLine(ContactTable& table, ReaderBuffers& buffers) {
    char* cursor = buffers.line;
    char* name = NextField(cursor);
    char* number = name ? NextField(cursor) : nullptr;
    char* carrier = number ? NextField(cursor) : nullptr;
    if (!carrier) return LineRead::NoContact;
    CopyText(buffers.carrierField, carrier);
    return AddContact(table, name, number, CarrierFromField(buffers.carrierField)) ? LineRead::Contact
                                                                                   : LineRead::TableFull;
}

// Separators, blanks and line ends only: nothing a user typed is lost when such a line is dropped.
bool IsBlank(const char* line) { return line[std::strspn(line, ": \t\r\n")] == '\0'; }

// A full piece that does not end its line: the line is longer than any the program writes.
bool IsPiece(const char* line) {
    return std::strlen(line) == static_cast<size_t>(LINE_PIECE_CHARS) && line[LINE_PIECE_CHARS - 1] != '\n';
}

bool HasThreeFields(char* line) {
    char* cursor = line;
    return NextField(cursor) && NextField(cursor) && NextField(cursor);
}

// A details field ends at ':' or, not closed, at the end of the line without its line end.
const char* ReadDetailsField(const char* start, char* target, size_t size) {
    const size_t length = std::strcspn(start, ":\n");
    CopyText(target, size, start, length);
    return start[length] == ':' ? start + length + 1 : start + length;
}

struct Writer {
    std::FILE* file;
    bool ok;

    void Put(const char* text, size_t size = static_cast<size_t>(-1)) {
        const size_t length = strnlen(text, size);
        ok = ok && std::fwrite(text, 1, length, file) == length;
    }
};

struct ProblemText {
    int error;
    const char* text;
};

const ProblemText READ_PROBLEMS[] = {
    {EACCES, "another program is using it, or you are not allowed to read it"},
    {EPERM, "you are not allowed to read it"},
    {EISDIR, "it is a folder, not a file"},
    {EIO, "the disk reported an error while reading it"},
    {EMFILE, "too many files are open"},
    {ENFILE, "too many files are open"},
    {0, "it could not be read"},
};

const ProblemText WRITE_PROBLEMS[] = {
    {EBUSY, "another program is using it"},
    {EACCES, "another program is using it, or you are not allowed to write in its folder"},
    {EPERM, "you are not allowed to write in its folder"},
    {EISDIR, "it is a folder, not a file"},
    {ENOSPC, "the disk is full"},
    {EROFS, "the disk cannot be written to"},
    {ENOENT, "its folder does not exist"},
    {EIO, "the disk reported an error while writing it"},
    {0, "it could not be written"},
};

template <size_t N>
void DescribeProblem(char (&target)[PROBLEM_SIZE], const ProblemText (&problems)[N], int error) {
    for (const ProblemText& problem : problems)
        if (problem.error == error || problem.error == 0) {
            CopyText(target, problem.text);
            return;
        }
}

LoadReport Unreadable(int error) {
    LoadReport report{SettingsState::Unreadable, 0, "", 0, false};
    DescribeProblem(report.problem, READ_PROBLEMS, error);
    return report;
}

bool IsFolder(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

void Pause(int milliseconds) {
#ifdef _WIN32
    Sleep(static_cast<DWORD>(milliseconds));
#else
    const timespec pause{0, milliseconds * 1000000L};
    nanosleep(&pause, nullptr);
#endif
}

constexpr int OPEN_ATTEMPTS = 20;
constexpr int OPEN_RETRY_MS = 50;

// Null, with the reason in `error`, once the file is known not to exist or about a second has passed.
// msvcrt reports a folder as EACCES, like a held file; waiting would not change it.
std::FILE* OpenForReading(const char* fileName, int& error) {
    for (int attempt = 1;; ++attempt) {
        errno = 0;
        std::FILE* file = std::fopen(fileName, "rb");
        error = file ? 0 : errno;
        if (!file && error == EACCES && IsFolder(fileName)) error = EISDIR;
        if (file || error == ENOENT || error == EISDIR || attempt == OPEN_ATTEMPTS) return file;
        Pause(OPEN_RETRY_MS);
    }
}

// A name beside the file; false, rather than a cut name that could stand for another file, when it does not fit.
bool SideName(char (&target)[SETTINGS_PATH_SIZE], const char* fileName, const char* suffix) {
    const size_t length = CopyText(target, fileName);
    return fileName[length] == '\0' && AppendText(target, suffix) == length + std::strlen(suffix);
}

void WriteContents(Writer& out, const ContactTable& table, const UserDetails& details, const char* header) {
    out.Put(header, LINE_PIECE_CHARS - 1);
    out.Put("\r\n");
    const int count = table.count < MAX_CONTACTS ? table.count : MAX_CONTACTS;
    for (int slot = 0; slot < count; ++slot) {
        char code = CarrierCodeOf(table.carriers[slot]);
        // No window stores a carrier outside 0..5; the reader would turn its unknown field into 0 anyway.
        if (code == '\0') code = CarrierCodeOf(0);
        const char tail[] = {':', code, ':', '\r', '\n', '\0'};
        out.Put(table.names[slot], NAME_SIZE);
        out.Put(":");
        out.Put(table.numbers[slot], NUMBER_SIZE);
        out.Put(tail);
    }
    out.Put("USER DETAILS\r\n");
    out.Put(details.sender, SENDER_SIZE);
    out.Put(":");
    out.Put(details.callback, CALLBACK_SIZE);
    out.Put(":");
}

// Without this the rename may reach the disk before the data, and a power cut leaves an empty file.
bool FlushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
#ifdef _WIN32
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

#ifndef _WIN32
// The rename itself is an entry in the folder, which needs its own flush. The new file is in place
// whatever this returns, so a failure here is not reported as a failed save.
void FlushFolderOf(const char* fileName) {
    char folder[SETTINGS_PATH_SIZE] = ".";
    if (const char* slash = std::strrchr(fileName, '/'))
        CopyText(folder, fileName, slash == fileName ? 1 : static_cast<size_t>(slash - fileName));
    const int descriptor = open(folder, O_RDONLY | O_DIRECTORY);
    if (descriptor < 0) return;
    fsync(descriptor);
    close(descriptor);
}
#endif

#ifdef _WIN32
struct SystemError {
    DWORD code;
    int error;
};

const SystemError SYSTEM_ERRORS[] = {
    {ERROR_SHARING_VIOLATION, EBUSY}, {ERROR_LOCK_VIOLATION, EBUSY},  {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_DISK_FULL, ENOSPC},        {ERROR_HANDLE_DISK_FULL, ENOSPC}, {ERROR_WRITE_PROTECT, EROFS},
    {ERROR_PATH_NOT_FOUND, ENOENT},   {ERROR_FILE_NOT_FOUND, ENOENT},
};

int LastSystemError() {
    const DWORD code = GetLastError();
    for (const SystemError& known : SYSTEM_ERRORS)
        if (known.code == code) return known.error;
    return EIO;
}
#endif

// False with the reason in `error`.
bool MoveOver(const char* source, const char* target, int& error) {
#ifdef _WIN32
    if (MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) return true;
    error = LastSystemError();
    return false;
#else
    if (std::rename(source, target) != 0) {
        error = errno;
        return false;
    }
    FlushFolderOf(target);
    return true;
#endif
}

// Writes the file through `write` into a temporary file beside it, then puts that in its place.
// False with the reason in `error`, an errno value.
template <typename Write>
bool WriteAndReplace(const char* fileName, Write write, int& error) {
    char temporary[SETTINGS_PATH_SIZE];
    error = ENAMETOOLONG;
    if (!SideName(temporary, fileName, ".tmp")) return false;
    errno = 0;
    std::FILE* file = std::fopen(temporary, "wb");
    if (!file) {  // whatever stands at that path is not ours to remove
        error = errno != 0 ? errno : EIO;
        return false;
    }
    Writer out{file, true};
    write(out);
    const bool written = out.ok && FlushToDisk(file);
    error = errno != 0 ? errno : EIO;
    const bool closed = std::fclose(file) == 0;
    if (written && closed) {
        if (IsFolder(fileName)) {
            error = EISDIR;
        } else if (MoveOver(temporary, fileName, error)) {
            return true;
        }
    }
    std::remove(temporary);
    return false;
}

}  // namespace

LoadReport LoadSettings(ContactTable& table, UserDetails& details, ReaderBuffers& buffers, const char* fileName) {
    int error = 0;
    std::FILE* file = OpenForReading(fileName, error);
    if (!file && error == ENOENT) return LoadReport{SettingsState::Missing, 0, "", 0, false};
    LoadReport report{SettingsState::Loaded, 0, "", 0, false};
    details = UserDetails{};
    const bool opened = file != nullptr;
    if (opened) {
        bool marker = false;
        bool inPieces = false;  // the rest of a line already counted as skipped
        const bool empty = !ReadLine(file, buffers.line);
        const bool header = std::strncmp(buffers.line, "CONTACTS", 8) == 0 && IsBlank(buffers.line + 8);
        if (!empty) {  // the header, whatever it holds, unless it is a contact or a long line
            inPieces = IsPiece(buffers.line);
            if (inPieces || HasThreeFields(buffers.line)) ++report.linesSkipped;
            while (!marker && ReadLine(file, buffers.line)) {
                // Equal strings: the same as comparing the 14 bytes of the marker with its NUL.
                marker = std::strcmp(buffers.line, "USER DETAILS\n") == 0;
                const bool piece = IsPiece(buffers.line);
                const bool blank = IsBlank(buffers.line);
                if (!inPieces && piece) ++report.linesSkipped;
                if (marker) break;
                const LineRead read = ReadContactLine(table, buffers);
                if (read == LineRead::TableFull) ++report.contactsLeftOut;
                if (read == LineRead::NoContact && !inPieces && !piece && !blank) ++report.linesSkipped;
                inPieces = piece;
            }
        }
        if (marker && ReadLine(file, buffers.line)) {
            if (std::strlen(buffers.line) > 2) {
                const char* rest = ReadDetailsField(buffers.line, details.sender, SENDER_SIZE);
                ReadDetailsField(rest, details.callback, CALLBACK_SIZE);
            }
            // The writer ends the file with the details line: whatever follows it would be lost.
            bool more = IsPiece(buffers.line);
            while (!more && ReadLine(file, buffers.line)) more = !IsBlank(buffers.line);
            if (more) ++report.linesSkipped;
        }
        report.nothingUnderstood = !empty && !header && !marker && table.count == 0 && report.contactsLeftOut == 0;
        if (std::ferror(file)) error = errno != 0 ? errno : EIO;
        std::fclose(file);
    }
    if (!opened || error != 0) {
        report = Unreadable(error);
        table.count = 0;
        details = UserDetails{};
    }
    return report;
}

bool SaveSettings(const ContactTable& table, const UserDetails& details, const char* fileName, const char* header) {
    int error = 0;
    return WriteAndReplace(fileName, [&](Writer& out) { WriteContents(out, table, details, header); }, error);
}

bool SaveSettingsPatiently(const ContactTable& table, const UserDetails& details, const char* fileName,
                           char (&problem)[PROBLEM_SIZE], const char* header) {
    int error = 0;
    for (int attempt = 1;; ++attempt) {
        if (WriteAndReplace(fileName, [&](Writer& out) { WriteContents(out, table, details, header); }, error))
            return true;
        // A held file or a scanner's lock may pass; a folder in its place or a full disk will not.
        const bool mayPass = error == EACCES || error == EBUSY;
        if (!mayPass || attempt == OPEN_ATTEMPTS) break;
        Pause(OPEN_RETRY_MS);
    }
    DescribeProblem(problem, WRITE_PROBLEMS, error);
    return false;
}

bool CanWriteBeside(const char* fileName) {
    char temporary[SETTINGS_PATH_SIZE];
    if (!SideName(temporary, fileName, ".tmp")) return false;
    std::FILE* file = std::fopen(temporary, "wb");
    if (!file) return false;
    std::fclose(file);
    std::remove(temporary);
    return true;
}

bool BackUpSettings(const char* fileName) {
    char backup[SETTINGS_PATH_SIZE];
    if (!SideName(backup, fileName, BACKUP_SUFFIX)) return false;
    std::FILE* source = std::fopen(fileName, "rb");
    if (!source) return false;
    int error = 0;
    const bool copied = WriteAndReplace(
        backup,
        [source](Writer& out) {
            for (int c = std::getc(source); c != EOF && out.ok; c = std::getc(source))
                out.ok = std::putc(c, out.file) != EOF;
            out.ok = out.ok && !std::ferror(source);
        },
        error);
    std::fclose(source);
    return copied;
}

bool PathExists(const char* path) {
    struct stat status {};
    errno = 0;
#ifdef _WIN32
    return stat(path, &status) == 0 || errno != ENOENT;
#else
    return lstat(path, &status) == 0 || errno != ENOENT;  // a link to nowhere is a name in use too
#endif
}

bool NumberedUnsavedName(char (&target)[SETTINGS_PATH_SIZE], const char* fileName, int n) {
    char suffix[16];
    CopyText(suffix, UNSAVED_SUFFIX);
    if (n > 1) AppendNumber(suffix, static_cast<unsigned long>(n));
    return SideName(target, fileName, suffix);
}

bool UnsavedFileName(char (&target)[SETTINGS_PATH_SIZE], const char* fileName) {
    for (int n = 1; n <= MAX_UNSAVED_FILES; ++n) {
        if (!NumberedUnsavedName(target, fileName, n)) return false;
        if (!PathExists(target)) return true;
    }
    return false;
}
