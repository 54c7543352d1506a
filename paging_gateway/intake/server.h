// The gateway's socket side: thousands of connections at once in one loop, each bounded in size and in time.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "gateway/net.h"
#include "paging_gateway/intake/http.h"
#include "paging_gateway/intake/page.h"

// Takes each page before the 200 answer goes back; false, with a reason, answers 503 and prints the reason.
// `client` is the peer's address ("127.0.0.1"); an `id` given back shows on the page's line.
using PageSink =
    std::function<bool(const Page& page, const std::string& client, std::string& id, std::string& reason)>;

// Asked first for every complete request: true when it answered, with the whole HTTP response (of any size)
// in `response`; false leaves the request to the carriers' forms.
using RequestHandler =
    std::function<bool(const HttpRequest& request, const std::string& client, std::string& response)>;

// Writes the line and its line end to `out` in one write, never interleaved with another thread's line.
void PrintLine(std::ostream& out, const std::string& line);

class PagingServer {
public:
    // Connections that end before their request is whole (idle ones, say) are printed one at a time at most
    // once every `quietMilliseconds`, and counted in between.
    explicit PagingServer(long timeoutMilliseconds = 5000, long quietMilliseconds = 60000)
        : timeoutMilliseconds_(timeoutMilliseconds), quietMilliseconds_(quietMilliseconds) {}
    ~PagingServer();
    PagingServer(const PagingServer&) = delete;
    PagingServer& operator=(const PagingServer&) = delete;

    // False, with the system's reason (such as "Address already in use") in `error`.
    bool Listen(const std::string& address, int port, std::string& error);

    // Set before Serve. Both run on the thread that runs Serve, one request at a time.
    void SetPageSink(PageSink sink) { sink_ = std::move(sink); }
    void SetRequestHandler(RequestHandler handler) { handler_ = std::move(handler); }

    // Prints one line per connection to `out` until `pageLimit` pages (0: no limit) or Stop().
    void Serve(std::ostream& out, long pageLimit = 0);

    // May be called from another thread; Serve returns within a fraction of a second.
    void Stop() { stopping_ = true; }

private:
    struct Peer;

    // False when no connection can be taken for now (out of descriptors, say).
    bool Accept(std::vector<Peer>& peers);
    Answer AnswerComplete(const HttpRequest& request, const std::string& client);
    // Prints the connection's line and starts writing its answer; true for a page taken.
    bool Finish(Peer& peer, bool timedOut, std::ostream& out);
    // Writes what the socket takes now; at the end, closes the send side and lingers.
    void Write(Peer& peer);
    // Prints an incomplete request's line, or counts it while the last such line is recent.
    void ReportIncomplete(const std::string& line, std::ostream& out);
    // Prints the count once its quiet time is over, or at once when serving ends.
    void ReportCount(std::ostream& out, bool ending);

    long timeoutMilliseconds_;
    long quietMilliseconds_;
    std::chrono::steady_clock::time_point quietUntil_{};
    long uncounted_ = 0;
    SocketHandle listener_{};
    std::string address_;
    int port_ = 0;
    bool listening_ = false;
    std::atomic<bool> stopping_{false};
    PageSink sink_;
    RequestHandler handler_;
};
