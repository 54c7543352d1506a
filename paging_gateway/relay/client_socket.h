// A client connection whose every wait is bounded, so an upstream that goes silent cannot hold the relay.
#pragma once

#include <string>

#include "gateway/net.h"

class ClientSocket {
public:
    ClientSocket() = default;
    ~ClientSocket();
    ClientSocket(const ClientSocket&) = delete;
    ClientSocket& operator=(const ClientSocket&) = delete;

    // False, with the reason, when the host is unknown, refuses, or does not answer in time.
    bool Connect(const std::string& host, int port, long timeoutMilliseconds, std::string& error);

    bool SendAll(const std::string& bytes, std::string& error);

    // One line without its CR LF (or LF); false at a time-out, a closed connection or a line over 4 KiB.
    bool ReadLine(long timeoutMilliseconds, std::string& line, std::string& error);

    // Whether the last ReadLine failed for want of time.
    bool TimedOut() const { return timedOut_; }

private:
    SocketHandle handle_{};
    bool open_ = false;
    std::string buffered_;
    bool timedOut_ = false;
};
