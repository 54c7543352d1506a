// Waits on sockets: poll on Linux; on Windows select, since WSAPoll needs Vista and Winsock 2 and the gateway
// runs on the Winsock 1.1 of every Windows.
#ifdef _WIN32
// Winsock's sets are lists, so this only sizes them; select itself takes any count (Wine's too).
#define FD_SETSIZE 4096
#endif
#include "paging_gateway/platform/socket_wait.h"

#include <chrono>
#include <memory>
#include <thread>
#include <unordered_set>

#ifndef _WIN32
#include <poll.h>
#endif

static_assert(MAX_WATCHED_SOCKETS <= 4096, "the Windows sets are sized for 4096 sockets");

#ifdef _WIN32

void WaitForSockets(std::vector<SocketWatch>& watches, long milliseconds) {
    // Two sets of 16 KB each: too large for a thread's stack to take lightly.
    auto sets = std::make_unique<fd_set[]>(2);
    fd_set& readable = sets[0];
    fd_set& writable = sets[1];
    readable.fd_count = writable.fd_count = 0;
    for (SocketWatch& watch : watches) {
        fd_set& set = watch.forWriting ? writable : readable;
        if (set.fd_count < FD_SETSIZE) set.fd_array[set.fd_count++] = watch.handle;
        watch.ready = false;
    }
    if (readable.fd_count + writable.fd_count == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return;
    }
    timeval wait;
    wait.tv_sec = milliseconds / 1000;
    wait.tv_usec = (milliseconds % 1000) * 1000;
    if (select(0, &readable, &writable, nullptr, &wait) <= 0) return;
    // Select leaves only the ready sockets in each set.
    std::unordered_set<SocketHandle> ready(readable.fd_array, readable.fd_array + readable.fd_count);
    ready.insert(writable.fd_array, writable.fd_array + writable.fd_count);
    for (SocketWatch& watch : watches) watch.ready = ready.count(watch.handle) != 0;
}

bool WaitForSocket(SocketHandle handle, bool forWriting, long milliseconds) {
    if (milliseconds < 0) milliseconds = 0;
    // A set of one: select reads fd_count entries of the list, whatever the handles' values, so these need
    // not be the 16 KB of a full fd_set.
    struct OneSocket {
        u_int fd_count;
        SOCKET fd_array[1];
    } watched{1, {handle}}, failed{1, {handle}};  // Winsock reports a refused connect in `failed`
    timeval wait;
    wait.tv_sec = milliseconds / 1000;
    wait.tv_usec = (milliseconds % 1000) * 1000;
    fd_set* const set = reinterpret_cast<fd_set*>(&watched);
    return select(0, forWriting ? nullptr : set, forWriting ? set : nullptr, reinterpret_cast<fd_set*>(&failed),
                  &wait) > 0;
}

#else

void WaitForSockets(std::vector<SocketWatch>& watches, long milliseconds) {
    std::vector<pollfd> polled(watches.size());
    for (size_t i = 0; i < watches.size(); ++i) {
        polled[i].fd = watches[i].handle;
        polled[i].events = watches[i].forWriting ? POLLOUT : POLLIN;
        polled[i].revents = 0;
        watches[i].ready = false;
    }
    if (watches.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return;
    }
    if (poll(polled.data(), polled.size(), static_cast<int>(milliseconds)) <= 0) return;
    // An error or hang-up counts as ready: the next read or write says which.
    for (size_t i = 0; i < watches.size(); ++i) watches[i].ready = polled[i].revents != 0;
}

bool WaitForSocket(SocketHandle handle, bool forWriting, long milliseconds) {
    if (milliseconds < 0) milliseconds = 0;
    pollfd polled{handle, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
    // A refused connect or a reset shows as POLLERR or POLLHUP: ready, and the next call says which.
    return poll(&polled, 1, static_cast<int>(milliseconds)) > 0;
}

#endif
