// Waits on sockets, any number and any handle value: poll on Linux, select on Windows, whose sets are lists
// of handles (so the handle's value is never the limit) sized far above Winsock's usual 64.
#pragma once

#include <cstddef>
#include <vector>

#include "gateway/net.h"

// How many sockets one wait can watch.
constexpr size_t MAX_WATCHED_SOCKETS = 4096;

struct SocketWatch {
    SocketHandle handle;
    bool forWriting;  // else for reading, which includes a new connection and the peer closing
    bool ready;
};

// Waits until some of the sockets are ready or `milliseconds` pass, and marks those that are. Without any
// socket it just waits.
void WaitForSockets(std::vector<SocketWatch>& watches, long milliseconds);

// Waits for one socket to be readable (or, with `forWriting`, writable or failed to connect); false at the
// time-out.
bool WaitForSocket(SocketHandle handle, bool forWriting, long milliseconds);
