// The gateway's socket side: one connection at a time, each read bounded in size and in time.
#pragma once

#include <atomic>
#include <functional>
#include <ostream>
#include <string>
#include <utility>

#include "gateway/net.h"
#include "tools/paging_gateway/page.h"

// Takes each page before the 200 answer goes back; false, with a reason, answers 503 and prints the reason.
using PageSink = std::function<bool(const Page& page, std::string& reason)>;

class PagingServer {
public:
    explicit PagingServer(long timeoutMilliseconds = 5000) : timeoutMilliseconds_(timeoutMilliseconds) {}
    ~PagingServer();
    PagingServer(const PagingServer&) = delete;
    PagingServer& operator=(const PagingServer&) = delete;

    // False, with the system's reason (such as "Address already in use") in `error`.
    bool Listen(const std::string& address, int port, std::string& error);

    // Prints one line per connection to `out` until `pageLimit` pages (0: no limit) or Stop().
    void Serve(std::ostream& out, long pageLimit = 0);

    // May be called from another thread; Serve returns within a fraction of a second.
    void Stop() { stopping_ = true; }

    void SetPageSink(PageSink sink) { sink_ = std::move(sink); }

private:
    bool ServeConnection(SocketHandle peer, std::ostream& out);

    long timeoutMilliseconds_;
    SocketHandle listener_{};
    bool listening_ = false;
    std::atomic<bool> stopping_{false};
    PageSink sink_;
};
