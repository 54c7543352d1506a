// The few file-system calls the spool and the ledger need, each one finished on disk before it returns.
#pragma once

#include <string>
#include <vector>

// A new file holding `bytes`, flushed to disk; fails when `path` exists.
bool WriteNewFile(const std::string& path, const std::string& bytes, std::string& error);

enum class Renamed { Done, Taken, Failed };

// Never replaces `to`: Taken when it exists. The folders' entries are flushed too, so the new name survives a
// crash.
Renamed RenameWithoutReplacing(const std::string& from, const std::string& to, std::string& error);

// Renames `from` over `to`, replacing it, with the folder's entry flushed, so a crash leaves one whole file or
// the other.
bool RenameOver(const std::string& from, const std::string& to, std::string& error);

bool FileExists(const std::string& path);

bool RemoveFile(const std::string& path, std::string& error);

// True when the folder exists afterwards.
bool MakeFolder(const std::string& path, std::string& error);

// A file's last change on the wall clock, in milliseconds since 1970 (the spool counts a page's life from
// it); false when the file cannot be asked.
bool FileChangedAt(const std::string& path, long long& milliseconds);

// Sets that time to now.
bool MarkFileChangedNow(const std::string& path, std::string& error);

// The names of the plain files in a folder (no "." or ".."), unsorted.
std::vector<std::string> ListFiles(const std::string& folder);

// False when the file cannot be read or is larger than `limit` bytes.
bool ReadSmallFile(const std::string& path, size_t limit, std::string& bytes, std::string& error);

// `path` with the platform's folder separator, for printing.
std::string NativePath(std::string path);

// A lock on a file, held while this object lives (flock / LockFileEx): the file names the holder's process.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    enum Outcome { Taken, HeldByAnother, Failed };
    // Taken writes this process's id into the file; HeldByAnother gives the id the holder wrote ("" when
    // unreadable) in `holder`; Failed the system's reason in `error`.
    Outcome Take(const std::string& path, std::string& holder, std::string& error);

private:
    long long handle_ = -1;
};
