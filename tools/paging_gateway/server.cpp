// The gateway's socket side: one connection at a time, each read bounded in size and in time.
#include "tools/paging_gateway/server.h"

#include <chrono>
#include <cstring>

#include "tools/paging_gateway/http.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <cerrno>
#include <sys/select.h>
#endif

namespace {

constexpr int SEND_SIDE = 1;  // SHUT_WR and SD_SEND alike
constexpr long ACCEPT_POLL_MILLISECONDS = 200;
constexpr long LINGER_MILLISECONDS = 500;

std::string LastSocketError() {
#ifdef _WIN32
    const int code = WSAGetLastError();
    switch (code) {
        case WSAEADDRINUSE: return "Address already in use";
        case WSAEACCES: return "Permission denied";
        case WSAEADDRNOTAVAIL: return "Cannot assign requested address";
        default: return "Winsock error " + std::to_string(code);
    }
#else
    return strerror(errno);
#endif
}

// True when the socket can be read (bytes or end of stream) within `milliseconds`.
bool WaitReadable(SocketHandle handle, long milliseconds) {
#ifndef _WIN32
    if (handle >= FD_SETSIZE) return false;  // select cannot watch it; treated as a time-out
#endif
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle, &readable);
    timeval wait;
    wait.tv_sec = milliseconds / 1000;
    wait.tv_usec = (milliseconds % 1000) * 1000;
    return select(static_cast<int>(handle) + 1, &readable, nullptr, nullptr, &wait) > 0;
}

long MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
}

void SendAll(SocketHandle handle, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const long written = SendBytes(handle, bytes.data() + sent, static_cast<long>(bytes.size() - sent));
        if (written <= 0) return;  // the program closes without reading; nothing to do about it
        sent += static_cast<size_t>(written);
    }
}

// Closing with unread bytes resets the connection and can destroy the answer before the client reads it,
// so the send side is closed first and what still comes is read away for a moment.
void CloseGently(SocketHandle handle) {
    shutdown(handle, SEND_SIDE);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(LINGER_MILLISECONDS);
    char discard[4096];
    for (long left = LINGER_MILLISECONDS; left > 0 && WaitReadable(handle, left); left = MillisecondsUntil(deadline))
        if (recv(handle, discard, sizeof discard, 0) <= 0) break;
    CloseSocket(handle);
}

}  // namespace

PagingServer::~PagingServer() {
    if (listening_) CloseSocket(listener_);
}

bool PagingServer::Listen(const std::string& address, int port, std::string& error) {
    StartSockets();
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    if (IsBadSocket(listener_)) {
        error = LastSocketError();
        return false;
    }
#ifndef _WIN32
    // Lets a restarted gateway take its port back at once; on Windows the option would let two share it.
    int reuse = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (listener_ >= FD_SETSIZE) {
        CloseSocket(listener_);
        error = "Too many open files";
        return false;
    }
#endif
    sockaddr_in where;
    memset(&where, 0, sizeof where);
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<unsigned short>(port));
    where.sin_addr.s_addr = inet_addr(address.c_str());
    if (bind(listener_, reinterpret_cast<const sockaddr*>(&where), sizeof where) < 0 || listen(listener_, 8) < 0) {
        error = LastSocketError();
        CloseSocket(listener_);
        return false;
    }
    listening_ = true;
    return true;
}

void PagingServer::Serve(std::ostream& out, long pageLimit) {
    long pages = 0;
    while (listening_ && !stopping_ && (pageLimit == 0 || pages < pageLimit)) {
        if (!WaitReadable(listener_, ACCEPT_POLL_MILLISECONDS)) continue;
        const SocketHandle peer = accept(listener_, nullptr, nullptr);
        if (IsBadSocket(peer)) continue;
        if (ServeConnection(peer, out)) ++pages;
    }
}

bool PagingServer::ServeConnection(SocketHandle peer, std::ostream& out) {
    // One deadline for the whole request, so a peer dripping a byte at a time cannot hold the gateway.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds_);
    std::string received;
    HttpRequest request;
    std::string problem;
    RequestState state = RequestState::Incomplete;
    bool timedOut = false;
    char chunk[4096];
    while (state == RequestState::Incomplete) {
        const long left = MillisecondsUntil(deadline);
        if (left <= 0 || !WaitReadable(peer, left)) {
            timedOut = true;
            break;
        }
        const long got = recv(peer, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        received.append(chunk, static_cast<size_t>(got));
        state = ExamineRequest(received, request, problem);
    }
    Answer answer = AnswerConnection(state, request, problem, received.size(), timedOut);
    if (answer.status == 200 && sink_) {
        Page page;
        std::string reason;
        ReadRequestPage(request, page, problem);
        if (!sink_(page, reason)) answer = {503, "not taken: " + reason};
    }
    if (!answer.line.empty()) out << answer.line << std::endl;
    if (answer.status != 0) SendAll(peer, ResponseText(answer.status));
    CloseGently(peer);
    return answer.status == 200;
}
