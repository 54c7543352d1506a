// The few file-system calls the spool and the ledger need, each one finished on disk before it returns.
#include "paging_gateway/platform/files.h"

#include "paging_gateway/platform/system_error.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifndef _WIN32

namespace {

// The folder part of a path ("." when there is none).
std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// A rename or removal is only on disk once the folder holding the entry is.
bool SyncFolder(const std::string& folder, std::string& error) {
    const int handle = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) {
        error = SystemError();
        return false;
    }
    const bool synced = fsync(handle) == 0;
    if (!synced) error = SystemError();
    close(handle);
    return synced;
}

}  // namespace

#endif

std::string NativePath(std::string path) {
#ifdef _WIN32
    for (char& c : path)
        if (c == '/') c = '\\';
#endif
    return path;
}

#ifdef _WIN32

bool WriteNewFile(const std::string& path, const std::string& bytes, std::string& error) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemError();
        return false;
    }
    DWORD written = 0;
    const bool done = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                      written == bytes.size() && FlushFileBuffers(file);
    if (!done) error = SystemError();
    CloseHandle(file);
    if (!done) DeleteFileA(path.c_str());
    return done;
}

Renamed RenameWithoutReplacing(const std::string& from, const std::string& to, std::string& error) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return Renamed::Done;
    const DWORD code = GetLastError();
    error = SystemError();
    return code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS ? Renamed::Taken : Renamed::Failed;
}

bool RenameOver(const std::string& from, const std::string& to, std::string& error) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    error = SystemError();
    return false;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

FileLock::~FileLock() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

FileLock::Outcome FileLock::Take(const std::string& path, std::string& holder, std::string& error) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemError();
        return Failed;
    }
    // The locked byte lies far past the process id, which Windows would otherwise keep others from reading.
    OVERLAPPED where{};
    where.OffsetHigh = 1;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
        const DWORD code = GetLastError();
        error = SystemError();
        char text[32] = "";
        DWORD got = 0;
        if (ReadFile(file, text, sizeof text - 1, &got, nullptr)) holder.assign(text, got);
        CloseHandle(file);
        if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) return Failed;
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) holder.pop_back();
        return HeldByAnother;
    }
    const std::string id = std::to_string(GetCurrentProcessId()) + "\n";
    DWORD written = 0;
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0 || !SetEndOfFile(file) ||
        !WriteFile(file, id.data(), static_cast<DWORD>(id.size()), &written, nullptr) || written != id.size() ||
        !FlushFileBuffers(file)) {
        error = SystemError();
        CloseHandle(file);
        return Failed;
    }
    handle_ = reinterpret_cast<long long>(file);
    return Taken;
}

bool RemoveFile(const std::string& path, std::string& error) {
    if (DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    error = SystemError();
    return false;
}

bool MakeFolder(const std::string& path, std::string& error) {
    if (CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
        error = "not a folder";
        return false;
    }
    error = SystemError();
    return false;
}

// FILETIME counts 100 ns steps from 1601.
constexpr long long FILETIME_1970 = 116444736000000000LL;

bool FileChangedAt(const std::string& path, long long& milliseconds) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    const long long ticks =
        (static_cast<long long>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    milliseconds = (ticks - FILETIME_1970) / 10000;
    return true;
}

bool MarkFileChangedNow(const std::string& path, std::string& error) {
    const HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemError();
        return false;
    }
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const bool done = SetFileTime(file, nullptr, nullptr, &now) != 0;
    if (!done) error = SystemError();
    CloseHandle(file);
    return done;
}

std::vector<std::string> ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

#else

bool WriteNewFile(const std::string& path, const std::string& bytes, std::string& error) {
    const int handle = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (handle < 0) {
        error = SystemError();
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = write(handle, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        done += static_cast<size_t>(written);
    }
    const bool whole = done == bytes.size() && fsync(handle) == 0;
    if (!whole) error = SystemError();
    if (close(handle) != 0 && whole) {
        error = SystemError();
        unlink(path.c_str());
        return false;
    }
    if (!whole) unlink(path.c_str());
    return whole;
}

// Some file systems refuse RENAME_NOREPLACE; a hard link fails on an existing name there as well.
bool MoveWithoutReplacing(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (link(from.c_str(), to.c_str()) != 0) return false;
    unlink(from.c_str());
    return true;
}

Renamed RenameWithoutReplacing(const std::string& from, const std::string& to, std::string& error) {
    if (!MoveWithoutReplacing(from, to)) {
        const bool taken = errno == EEXIST;
        error = SystemError();
        return taken ? Renamed::Taken : Renamed::Failed;
    }
    if (!SyncFolder(FolderOf(to), error)) return Renamed::Failed;
    return FolderOf(from) == FolderOf(to) || SyncFolder(FolderOf(from), error) ? Renamed::Done : Renamed::Failed;
}

bool RenameOver(const std::string& from, const std::string& to, std::string& error) {
    if (rename(from.c_str(), to.c_str()) != 0) {
        error = SystemError();
        return false;
    }
    return SyncFolder(FolderOf(to), error);
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

FileLock::~FileLock() {
    if (handle_ != -1) close(static_cast<int>(handle_));
}

FileLock::Outcome FileLock::Take(const std::string& path, std::string& holder, std::string& error) {
    const int file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0) {
        error = SystemError();
        return Failed;
    }
    if (flock(file, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        error = SystemError();
        char text[32];
        const ssize_t got = pread(file, text, sizeof text - 1, 0);
        if (got > 0) holder.assign(text, static_cast<size_t>(got));
        while (!holder.empty() && holder.back() == '\n') holder.pop_back();
        close(file);
        return held ? HeldByAnother : Failed;
    }
    const std::string id = std::to_string(getpid()) + "\n";
    if (ftruncate(file, 0) != 0 || pwrite(file, id.data(), id.size(), 0) != static_cast<ssize_t>(id.size()) ||
        fsync(file) != 0) {
        error = SystemError();
        close(file);
        return Failed;
    }
    handle_ = file;
    return Taken;
}

bool RemoveFile(const std::string& path, std::string& error) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = SystemError();
        return false;
    }
    return SyncFolder(FolderOf(path), error);
}

bool MakeFolder(const std::string& path, std::string& error) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = SystemError();
        return false;
    }
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        error = "not a folder";
        return false;
    }
    return true;
}

bool FileChangedAt(const std::string& path, long long& milliseconds) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return false;
    milliseconds = static_cast<long long>(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
    return true;
}

bool MarkFileChangedNow(const std::string& path, std::string& error) {
    if (utimensat(AT_FDCWD, path.c_str(), nullptr, 0) == 0) return true;
    error = SystemError();
    return false;
}

std::vector<std::string> ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) return names;
    while (const dirent* entry = readdir(listing)) {
        struct stat status;
        const std::string name = entry->d_name;
        if (stat((folder + "/" + name).c_str(), &status) == 0 && S_ISREG(status.st_mode)) names.push_back(name);
    }
    closedir(listing);
    return names;
}

#endif

bool ReadSmallFile(const std::string& path, size_t limit, std::string& bytes, std::string& error) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = SystemError();
        return false;
    }
    bytes.clear();
    char chunk[4096];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0 && bytes.size() <= limit) bytes.append(chunk, got);
    const bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) {
        error = "read error";
        return false;
    }
    if (bytes.size() > limit) {
        error = "larger than " + std::to_string(limit) + " bytes";
        return false;
    }
    return true;
}
