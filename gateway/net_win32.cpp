// Winsock 1.1 side of the socket shim.
#include "gateway/net.h"

void StartSockets() {
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
}

bool IsBadSocket(SocketHandle handle) { return static_cast<long>(handle) < 0; }

long SendBytes(SocketHandle handle, const char* bytes, long count) {
    return send(handle, bytes, static_cast<int>(count), 0);
}

void CloseSocket(SocketHandle handle) { closesocket(handle); }
