// Socket calls the gateway's server and its relay share, spelled once for Winsock and for BSD sockets.
#pragma once

#include <string>

#include "gateway/net.h"

#ifdef _WIN32
using SocketLength = int;
#else
using SocketLength = socklen_t;
#endif

// The error of the last failed socket call (WSAGetLastError or errno).
int LastSocketErrorCode();

// The error in words, such as "Connection refused".
std::string SocketErrorText(int code);

// False when the mode could not be set.
bool SetBlocking(SocketHandle handle, bool blocking);

// True for the error of a call on a non-blocking socket that had nothing to do yet.
bool WouldBlock(int code);

// Lets the process hold as many descriptors as it may (Linux' usual 1024 is too few for the connections a
// gateway serves); nothing on Windows.
void RaiseOpenFileLimit();
