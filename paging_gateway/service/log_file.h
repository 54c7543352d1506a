// The service's console: what the gateway prints, as time-stamped lines in a file that is rotated and bounded.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

class LogFile {
public:
    // Past `limitBytes` the file becomes PATH.1 (PATH.1 becomes PATH.2 ...), and PATH.KEEP is dropped, so the
    // log never takes more than about (keep + 1) * limitBytes.
    LogFile(const std::string& path, std::uintmax_t limitBytes, int keep);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Two streams, so that a line half written to one never has another's line in its middle.
    std::ostream& Out() { return out_; }
    std::ostream& Err() { return err_; }

    // The last few lines written to Err(), for the event log when the gateway could not start.
    std::string RecentErrors();

    // False when the file could not be opened; the lines are then lost, not the gateway.
    bool IsOpen();

private:
    class Lines;
    void Write(const std::string& line);
    void Rotate();

    std::string path_;
    std::uintmax_t limitBytes_;
    int keep_;
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::uintmax_t size_ = 0;
    std::string recentErrors_;
    std::unique_ptr<Lines> outLines_, errLines_;
    std::ostream out_, err_;
};
