// A client connection whose every wait is bounded, so an upstream that goes silent cannot hold the relay.
#include "paging_gateway/relay/client_socket.h"

#include <chrono>
#include <cstring>

#include "paging_gateway/platform/socket_calls.h"
#include "paging_gateway/platform/socket_wait.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <cerrno>
#endif

namespace {

const size_t MAX_LINE_BYTES = 4096;

// The host's IPv4 address; lookups by name are thread-safe on both systems (getaddrinfo; Winsock keeps
// gethostbyname's result per thread).
bool Resolve(const std::string& host, in_addr& address, std::string& error) {
    address.s_addr = inet_addr(host.c_str());
    if (address.s_addr != INADDR_NONE) return true;
#ifdef _WIN32
    const hostent* entry = gethostbyname(host.c_str());
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list[0] == nullptr) {
        error = "unknown host " + host;
        return false;
    }
    memcpy(&address, entry->h_addr_list[0], sizeof address);
    return true;
#else
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        error = "unknown host " + host;
        return false;
    }
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
#endif
}

}  // namespace

ClientSocket::~ClientSocket() {
    if (open_) CloseSocket(handle_);
}

bool ClientSocket::Connect(const std::string& host, int port, long timeoutMilliseconds, std::string& error) {
    StartSockets();
    sockaddr_in where;
    memset(&where, 0, sizeof where);
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<unsigned short>(port));
    if (!Resolve(host, where.sin_addr, error)) return false;
    handle_ = socket(AF_INET, SOCK_STREAM, 0);
    if (IsBadSocket(handle_)) {
        error = SocketErrorText(LastSocketErrorCode());
        return false;
    }
    open_ = true;
    SetBlocking(handle_, false);
    if (connect(handle_, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
        const int code = LastSocketErrorCode();
#ifdef _WIN32
        const bool pending = code == WSAEWOULDBLOCK;
#else
        const bool pending = code == EINPROGRESS;
#endif
        if (!pending) {
            error = SocketErrorText(code);
            return false;
        }
        if (!WaitForSocket(handle_, true, timeoutMilliseconds)) {
            error = "no connection within " + std::to_string(timeoutMilliseconds) + " ms";
            return false;
        }
        int result = 0;
#ifdef _WIN32
        int size = sizeof result;
#else
        socklen_t size = sizeof result;
#endif
        if (getsockopt(handle_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &size) != 0 || result != 0) {
            error = SocketErrorText(result != 0 ? result : LastSocketErrorCode());
            return false;
        }
    }
    SetBlocking(handle_, true);
    return true;
}

bool ClientSocket::SendAll(const std::string& bytes, std::string& error) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const long written = SendBytes(handle_, bytes.data() + sent, static_cast<long>(bytes.size() - sent));
        if (written <= 0) {
            error = "connection lost while sending: " + SocketErrorText(LastSocketErrorCode());
            return false;
        }
        sent += static_cast<size_t>(written);
    }
    return true;
}

bool ClientSocket::ReadLine(long timeoutMilliseconds, std::string& line, std::string& error) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    timedOut_ = false;
    for (;;) {
        const size_t newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            line = buffered_.substr(0, newline);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            buffered_.erase(0, newline + 1);
            return true;
        }
        if (buffered_.size() > MAX_LINE_BYTES) {
            error = "reply line longer than " + std::to_string(MAX_LINE_BYTES) + " bytes";
            return false;
        }
        const long left = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
        if (left <= 0 || !WaitForSocket(handle_, false, left)) {
            timedOut_ = true;
            error = "no reply within " + std::to_string(timeoutMilliseconds) + " ms";
            return false;
        }
        char chunk[1024];
        const long got = recv(handle_, chunk, sizeof chunk, 0);
        if (got <= 0) {
            error = got == 0 ? "connection closed by the server" : "connection lost: " + SocketErrorText(LastSocketErrorCode());
            return false;
        }
        buffered_.append(chunk, static_cast<size_t>(got));
    }
}
