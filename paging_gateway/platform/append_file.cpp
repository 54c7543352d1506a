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
#include <unistd.h>
#endif

#ifdef _WIN32

bool AppendFile::Open(const std::string& path, std::string& error) {
    Close();
    // Others may read it meanwhile (type, findstr), never write it.
    const HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
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
    DWORD written = 0;
    if (!WriteFile(static_cast<HANDLE>(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || (flush && !FlushFileBuffers(static_cast<HANDLE>(handle_)))) {
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
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = write(handle_, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error = written < 0 ? SystemError() : "nothing written";
            return false;
        }
        done += static_cast<size_t>(written);
    }
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
