// The console's lines, each started with the time as the service's log writes it.
#pragma once

#include <mutex>
#include <ostream>
#include <streambuf>

// Passes every byte on to `target`, with the time stamp before the first byte of each line.
class StampedLines : public std::streambuf {
public:
    explicit StampedLines(std::streambuf* target) : target_(target) {}

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* bytes, std::streamsize count) override;
    int sync() override;

private:
    std::mutex mutex_;
    std::streambuf* target_;
    bool lineStart_ = true;
};

// Stamps std::cout's and std::cerr's lines for as long as it lives, unless systemd's journal takes them
// (it stamps each line itself).
class StampedConsole {
public:
    StampedConsole();
    ~StampedConsole();
    StampedConsole(const StampedConsole&) = delete;
    StampedConsole& operator=(const StampedConsole&) = delete;

private:
    std::streambuf* out_;
    std::streambuf* err_;
    StampedLines stampedOut_, stampedErr_;
};
