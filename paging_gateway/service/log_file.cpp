// The service's console as a file: time-stamped lines, rotated by size, a fixed number of old files kept.
#include "paging_gateway/service/log_file.h"

#include <cstdio>
#include <streambuf>

#include "paging_gateway/platform/line_end.h"
#include "paging_gateway/platform/time_stamp.h"

namespace {

constexpr size_t RECENT_ERROR_BYTES = 1000;

}  // namespace

// Gathers one stream's bytes into lines and hands each whole line to the file.
class LogFile::Lines : public std::streambuf {
public:
    Lines(LogFile& log, bool errors) : log_(log), errors_(errors) {}

protected:
    int_type overflow(int_type c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        Put(static_cast<char>(c));
        return c;
    }
    std::streamsize xsputn(const char* bytes, std::streamsize count) override {
        for (std::streamsize i = 0; i < count; ++i) Put(bytes[i]);
        return count;
    }

private:
    void Put(char c) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (c != '\n') {
            line_ += c;
            return;
        }
        if (!line_.empty() && line_.back() == '\r') line_.pop_back();
        log_.Write(line_);
        if (errors_) {
            std::lock_guard<std::mutex> logLock(log_.mutex_);
            std::string& recent = log_.recentErrors_;
            recent += line_ + "\n";
            if (recent.size() > RECENT_ERROR_BYTES)
                recent.erase(0, recent.find('\n', recent.size() - RECENT_ERROR_BYTES) + 1);
        }
        line_.clear();
    }

    LogFile& log_;
    bool errors_;
    std::mutex mutex_;
    std::string line_;
};

LogFile::LogFile(const std::string& path, std::uintmax_t limitBytes, int keep)
    : path_(path),
      limitBytes_(limitBytes),
      keep_(keep),
      outLines_(new Lines(*this, false)),
      errLines_(new Lines(*this, true)),
      out_(outLines_.get()),
      err_(errLines_.get()) {
    file_ = std::fopen(path_.c_str(), "ab");
    if (file_ != nullptr && std::fseek(file_, 0, SEEK_END) == 0) {
        const long size = std::ftell(file_);
        size_ = size > 0 ? static_cast<std::uintmax_t>(size) : 0;
    }
}

LogFile::~LogFile() {
    if (file_ != nullptr) std::fclose(file_);
}

std::string LogFile::RecentErrors() {
    std::lock_guard<std::mutex> lock(mutex_);
    return recentErrors_;
}

bool LogFile::IsOpen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_ != nullptr;
}

void LogFile::Write(const std::string& line) {
    const std::string whole = LineTimeStamp() + line + LINE_END;
    std::lock_guard<std::mutex> lock(mutex_);
    if (size_ > 0 && size_ + whole.size() > limitBytes_) Rotate();
    if (file_ == nullptr) return;
    if (std::fwrite(whole.data(), 1, whole.size(), file_) == whole.size()) size_ += whole.size();
    std::fflush(file_);
}

void LogFile::Rotate() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    std::remove((path_ + "." + std::to_string(keep_)).c_str());
    for (int i = keep_ - 1; i >= 1; --i)
        std::rename((path_ + "." + std::to_string(i)).c_str(), (path_ + "." + std::to_string(i + 1)).c_str());
    if (keep_ >= 1) std::rename(path_.c_str(), (path_ + ".1").c_str());
    else std::remove(path_.c_str());
    file_ = std::fopen(path_.c_str(), "ab");
    size_ = 0;
}
