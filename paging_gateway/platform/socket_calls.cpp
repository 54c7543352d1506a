// Socket calls the gateway's server and its relay share, spelled once for Winsock and for BSD sockets.
#include "paging_gateway/platform/socket_calls.h"

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#endif

int LastSocketErrorCode() {
#ifdef _WIN32
    return WSAGetLastError();
#else
    return errno;
#endif
}

std::string SocketErrorText(int code) {
#ifdef _WIN32
    // Winsock has no text of its own for its codes; these are the ones a gateway meets.
    switch (code) {
        case WSAEADDRINUSE: return "Address already in use";
        case WSAEACCES: return "Permission denied";
        case WSAEADDRNOTAVAIL: return "Cannot assign requested address";
        case WSAECONNREFUSED: return "Connection refused";
        case WSAECONNRESET: return "Connection reset by peer";
        case WSAENETUNREACH: return "Network is unreachable";
        case WSAEHOSTUNREACH: return "No route to host";
        case WSAETIMEDOUT: return "Connection timed out";
        default: return "Winsock error " + std::to_string(code);
    }
#else
    return std::strerror(code);
#endif
}

bool SetBlocking(SocketHandle handle, bool blocking) {
#ifdef _WIN32
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(handle, FIONBIO, &nonBlocking) == 0;
#else
    const int flags = fcntl(handle, F_GETFL, 0);
    return flags >= 0 && fcntl(handle, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
#endif
}

bool WouldBlock(int code) {
#ifdef _WIN32
    return code == WSAEWOULDBLOCK;
#else
    return code == EWOULDBLOCK || code == EAGAIN || code == EINTR;
#endif
}

void RaiseOpenFileLimit() {
#ifndef _WIN32
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
#endif
}
