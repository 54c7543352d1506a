// BSD sockets side of the socket shim.
#include <unistd.h>

#include "gateway/net.h"

void StartSockets() {}

bool IsBadSocket(SocketHandle handle) { return handle < 0; }

long SendBytes(SocketHandle handle, const char* bytes, long count) {
    // A peer that has gone away must give an error, not kill the process with SIGPIPE.
    return static_cast<long>(send(handle, bytes, static_cast<size_t>(count), MSG_NOSIGNAL));
}

void CloseSocket(SocketHandle handle) { close(handle); }
