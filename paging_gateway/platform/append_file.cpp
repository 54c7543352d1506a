// The ledger's way to disk: a file that only grows at its end, one whole write at a time.
#include "paging_gateway/platform/append_file.h"

#include "paging_gateway/platform/system_error.h"

#include <cerrno>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32

bool AppendFile::Open(const std::string& path, std::string& error) {
    Close();
    // Others may read it meanwhile (type, findstr), never write it; writing, not only appending, lets a
    // partial write be cut off.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemError();
        return false;
    }
    handle_ = file;
    return true;
}

bool AppendFile::Append(const std::string& bytes, bool flush, std::string& error) {
    if (handle_ == nullptr) {
        error = "the file is not open";
        return false;
    }
    const HANDLE file = static_cast<HANDLE>(handle_);
    LARGE_INTEGER before{};
    if (!GetFileSizeEx(file, &before) || !SetFilePointerEx(file, before, nullptr, FILE_BEGIN)) {
        error = SystemError();
        return false;
    }
    const std::string whole = brokenLine_ ? "\n" + bytes : bytes;
    DWORD written = 0;
    if (!WriteFile(file, whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr) ||
        written != whole.size()) {
        error = written == 0 ? SystemError() : "only " + std::to_string(written) + " bytes written";
        if (written > 0 && !(SetFilePointerEx(file, before, nullptr, FILE_BEGIN) && SetEndOfFile(file)))
            brokenLine_ = true;
        return false;
    }
    brokenLine_ = false;
    if (flush && !FlushFileBuffers(file)) {
        error = SystemError();
        return false;
    }
    return true;
}

bool AppendFile::IsOpen() const { return handle_ != nullptr; }

void AppendFile::Close() {
    if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

#else

bool AppendFile::Open(const std::string& path, std::string& error) {
    Close();
    handle_ = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (handle_ < 0) {
        error = SystemError();
        return false;
    }
    return true;
}

bool AppendFile::Append(const std::string& bytes, bool flush, std::string& error) {
    if (handle_ < 0) {
        error = "the file is not open";
        return false;
    }
    struct stat before {};
    if (fstat(handle_, &before) != 0) {
        error = SystemError();
        return false;
    }
    const std::string whole = brokenLine_ ? "\n" + bytes : bytes;
    size_t done = 0;
    while (done < whole.size()) {
        const ssize_t written = write(handle_, whole.data() + done, whole.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error = written < 0 ? SystemError() : "nothing written";
            // The file only grows at its end, so its length before this write is where the last whole line ends.
            if (done > 0 && ftruncate(handle_, before.st_size) != 0) brokenLine_ = true;
            return false;
        }
        done += static_cast<size_t>(written);
    }
    brokenLine_ = false;
    if (flush && fdatasync(handle_) != 0) {
        error = SystemError();
        return false;
    }
    return true;
}

bool AppendFile::IsOpen() const { return handle_ >= 0; }

void AppendFile::Close() {
    if (handle_ >= 0) close(handle_);
    handle_ = -1;
}

#endif
