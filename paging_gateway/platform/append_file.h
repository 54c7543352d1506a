// The ledger's way to disk: a file that only grows at its end, one whole write at a time.
#pragma once

#include <string>

class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile() { Close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Creates the file when missing; false, with the system's reason, when it cannot be opened.
    bool Open(const std::string& path, std::string& error);

    // Adds `bytes` in one write, so a killed process leaves whole lines; with `flush` they are on disk before
    // it returns. A write that fails part-way (a full disk) is cut off again, so the next one never joins a
    // partial line; where even that fails, the next write starts on a line of its own.
    bool Append(const std::string& bytes, bool flush, std::string& error);

    bool IsOpen() const;
    void Close();

private:
    bool brokenLine_ = false;  // a partial write could not be cut off
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int handle_ = -1;
#endif
};
