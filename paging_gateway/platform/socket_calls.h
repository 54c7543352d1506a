// Socket calls the gateway's server and its relay share, spelled once for Winsock and for BSD sockets.
#pragma once

#include <string>

#include "gateway/net.h"

// The error of the last failed socket call (WSAGetLastError or errno).
int LastSocketErrorCode();

// The error in words, such as "Connection refused".
std::string SocketErrorText(int code);

// False when the mode could not be set.
bool SetBlocking(SocketHandle handle, bool blocking);
