// The few socket calls delivery needs: Winsock 1.1 on Windows, BSD sockets elsewhere.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock.h>
using SocketHandle = SOCKET;
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
using SocketHandle = int;
#endif

// Starts the sockets layer (WSAStartup 1.1 on Windows); the result is not needed.
void StartSockets();

// Socket creation reports failure as a negative value read as signed.
bool IsBadSocket(SocketHandle handle);

// One send call; returns the bytes written or a negative value.
long SendBytes(SocketHandle handle, const char* bytes, long count);

void CloseSocket(SocketHandle handle);
