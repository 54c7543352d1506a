// The intake as it was before poll: one select loop of at most 60 peers, kept only to be measured against.
#pragma once

#include <atomic>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "gateway/net.h"
#include "paging_gateway/intake/http.h"
#include "paging_gateway/intake/page.h"

// Takes each page before the 200 answer goes back; false, with a reason, answers 503 and prints the reason.
using SelectPageSink = std::function<bool(const Page& page, std::string& reason)>;

// Writes the line and its line end to `out` in one write, never interleaved with another thread's line.
void SelectPrintLine(std::ostream& out, const std::string& line);

class SelectPagingServer {
public:
    explicit SelectPagingServer(long timeoutMilliseconds = 5000) : timeoutMilliseconds_(timeoutMilliseconds) {}
    ~SelectPagingServer();
    SelectPagingServer(const SelectPagingServer&) = delete;
    SelectPagingServer& operator=(const SelectPagingServer&) = delete;

    // False, with the system's reason (such as "Address already in use") in `error`.
    bool Listen(const std::string& address, int port, std::string& error);

    // Set before Serve. The sink runs on the thread that runs Serve, one page at a time.
    void SetSelectPageSink(SelectPageSink sink) { sink_ = std::move(sink); }

    // Prints one line per connection to `out` until `pageLimit` pages (0: no limit) or Stop().
    void Serve(std::ostream& out, long pageLimit = 0);

    // May be called from another thread; Serve returns within a fraction of a second.
    void Stop() { stopping_ = true; }

private:
    struct Peer;

    void Accept(std::vector<Peer>& peers, std::ostream& out);
    Answer AnswerComplete(const HttpRequest& request);
    // Prints the connection's line and answers it; true for a page taken.
    bool Finish(Peer& peer, bool timedOut, std::ostream& out);

    long timeoutMilliseconds_;
    SocketHandle listener_{};
    bool listening_ = false;
    std::atomic<bool> stopping_{false};
    SelectPageSink sink_;
};
