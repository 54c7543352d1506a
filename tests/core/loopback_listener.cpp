// A one-connection TCP listener on a loopback address of the test's own, port 80.
#include "loopback_listener.h"

#include <cstring>

#ifndef _WIN32
#include <arpa/inet.h>
#include <unistd.h>
#endif

LoopbackListener::LoopbackListener(const char* address, int port, int connections) {
    StartSockets();
    socket_ = socket(AF_INET, SOCK_STREAM, 0);
    if (IsBadSocket(socket_)) return;
    int reuse = 1;
    setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    sockaddr_in where;
    memset(&where, 0, sizeof where);
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<unsigned short>(port));
    where.sin_addr.s_addr = inet_addr(address);
    if (bind(socket_, reinterpret_cast<const sockaddr*>(&where), sizeof where) < 0 || listen(socket_, 4) < 0) {
        CloseSocket(socket_);
        return;
    }
    listening_ = true;
    thread_ = std::thread([this, connections] { Serve(connections); });
}

LoopbackListener::~LoopbackListener() {
    if (thread_.joinable()) thread_.join();
    if (listening_) CloseSocket(socket_);
}

void LoopbackListener::Serve(int connections) {
    for (int i = 0; i < connections; ++i) {
        SocketHandle peer = accept(socket_, nullptr, nullptr);
        if (IsBadSocket(peer)) return;
        ++accepted_;
        char chunk[512];
        for (;;) {
            const long got = recv(peer, chunk, sizeof chunk, 0);
            if (got <= 0) break;
            received_.append(chunk, static_cast<size_t>(got));
        }
        CloseSocket(peer);
    }
}

std::string LoopbackListener::Received() {
    if (thread_.joinable()) thread_.join();
    return received_;
}
