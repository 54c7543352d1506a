// A TCP listener on a loopback address of the test's own, port 80, that gives up at a deadline.
#include "loopback_listener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#ifndef _WIN32
#include <arpa/inet.h>
#include <sys/select.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// True once `handle` has something to read (a connection or bytes), false at the deadline.
bool WaitReadable(SocketHandle handle, Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle, &readable);
    timeval wait{static_cast<long>(left / 1000000), static_cast<long>(left % 1000000)};
    return select(static_cast<int>(handle) + 1, &readable, nullptr, nullptr, &wait) > 0;
}

}  // namespace

LoopbackListener::LoopbackListener(const char* address, int port, int connections, int seconds)
    : where_(std::string(address) + ":" + std::to_string(port)) {
    StartSockets();
    socket_ = socket(AF_INET, SOCK_STREAM, 0);
    if (IsBadSocket(socket_)) return;
    int reuse = 1;
    setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    sockaddr_in at;
    memset(&at, 0, sizeof at);
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<unsigned short>(port));
    at.sin_addr.s_addr = inet_addr(address);
    if (bind(socket_, reinterpret_cast<const sockaddr*>(&at), sizeof at) < 0 || listen(socket_, 4) < 0) {
        CloseSocket(socket_);
        return;
    }
    listening_ = true;
    thread_ = std::thread([this, connections, seconds] { Serve(connections, seconds); });
}

LoopbackListener::~LoopbackListener() {
    if (thread_.joinable()) thread_.join();
    if (listening_) CloseSocket(socket_);
}

void LoopbackListener::Serve(int connections, int seconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    const std::string late = " within " + std::to_string(seconds) + " s";
    for (int i = 0; i < connections; ++i) {
        if (!WaitReadable(socket_, deadline)) {
            failure_ = "the listener on " + where_ + " got " + std::to_string(i) + " of " +
                       std::to_string(connections) + " connections" + late + ": a send never reached it";
            return;
        }
        SocketHandle peer = accept(socket_, nullptr, nullptr);
        if (IsBadSocket(peer)) return;
        ++accepted_;
        char chunk[512];
        for (;;) {
            if (!WaitReadable(peer, deadline)) {
                failure_ = "connection " + std::to_string(i + 1) + " to " + where_ + " was not closed" + late;
                break;
            }
            const long got = recv(peer, chunk, sizeof chunk, 0);
            if (got <= 0) break;
            received_.append(chunk, static_cast<size_t>(got));
        }
        CloseSocket(peer);
        if (!failure_.empty()) return;
    }
}

std::string LoopbackListener::Received() {
    if (thread_.joinable()) thread_.join();
    if (!failure_.empty()) ADD_FAILURE() << failure_;
    return received_;
}
