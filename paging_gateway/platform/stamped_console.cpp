// The console's lines, each started with the time as the service's log writes it.
#include "paging_gateway/platform/stamped_console.h"

#include <cstdlib>
#include <iostream>
#include <string>

#include "paging_gateway/platform/time_stamp.h"

StampedLines::int_type StampedLines::overflow(int_type c) {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
}

std::streamsize StampedLines::xsputn(const char* bytes, std::streamsize count) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string stamped;
    for (std::streamsize i = 0; i < count; ++i) {
        if (lineStart_) stamped += LineTimeStamp();
        stamped += bytes[i];
        lineStart_ = bytes[i] == '\n';
    }
    // One write to the console per call, so a line written whole stays whole.
    const std::streamsize size = static_cast<std::streamsize>(stamped.size());
    return target_->sputn(stamped.data(), size) == size ? count : 0;
}

int StampedLines::sync() {
    std::lock_guard<std::mutex> lock(mutex_);
    return target_->pubsync();
}

StampedConsole::StampedConsole()
    : out_(std::cout.rdbuf()), err_(std::cerr.rdbuf()), stampedOut_(out_), stampedErr_(err_) {
    if (std::getenv("JOURNAL_STREAM") != nullptr) return;
    std::cout.rdbuf(&stampedOut_);
    std::cerr.rdbuf(&stampedErr_);
}

StampedConsole::~StampedConsole() {
    std::cout.flush();
    std::cerr.flush();
    std::cout.rdbuf(out_);
    std::cerr.rdbuf(err_);
}
