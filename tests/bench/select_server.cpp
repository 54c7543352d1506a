// The intake as it was before poll: one select loop of at most 60 peers, kept only to be measured against.
#include "tests/bench/select_server.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "paging_gateway/intake/http.h"
#include "paging_gateway/platform/socket_calls.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <sys/select.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int SEND_SIDE = 1;  // SHUT_WR and SD_SEND alike
constexpr long ACCEPT_POLL_MILLISECONDS = 200;
constexpr long LINGER_MILLISECONDS = 500;
constexpr int LISTEN_BACKLOG = 128;
// Winsock's select watches at most 64 sockets: the listener and this many peers; the rest wait in the backlog.
constexpr size_t MAX_PEERS = 60;

bool CanWatch(SocketHandle handle) {
#ifdef _WIN32
    (void)handle;
    return true;
#else
    return handle < FD_SETSIZE;
#endif
}

void SendAll(SocketHandle handle, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const long written = SendBytes(handle, bytes.data() + sent, static_cast<long>(bytes.size() - sent));
        if (written <= 0) return;  // the program closes without reading; nothing to do about it
        sent += static_cast<size_t>(written);
    }
}

// The reason stays on the page's line, whatever bytes it holds.
std::string OneLine(const std::string& text) {
    const std::string quoted = QuoteText(text);
    return quoted.substr(1, quoted.size() - 2);
}

}  // namespace

void SelectPrintLine(std::ostream& out, const std::string& line) {
    static std::mutex printing;
    const std::string whole = line + "\n";
    std::lock_guard<std::mutex> lock(printing);
    out.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    out.flush();
}

struct SelectPagingServer::Peer {
    SocketHandle handle;
    Clock::time_point deadline;  // for the whole request, so a peer dripping a byte at a time cannot hold it
    std::string received;
    // Closing with unread bytes resets the connection and can destroy the answer before the client reads it,
    // so after the answer the send side is closed and what still comes is read away for a moment.
    bool answered = false;
};

SelectPagingServer::~SelectPagingServer() {
    if (listening_) CloseSocket(listener_);
}

bool SelectPagingServer::Listen(const std::string& address, int port, std::string& error) {
    StartSockets();
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    if (IsBadSocket(listener_)) {
        error = SocketErrorText(LastSocketErrorCode());
        return false;
    }
#ifndef _WIN32
    // Lets a restarted gateway take its port back at once; on Windows the option would let two share it.
    int reuse = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
#endif
    if (!CanWatch(listener_)) {
        CloseSocket(listener_);
        error = "Too many open files";
        return false;
    }
    sockaddr_in where;
    memset(&where, 0, sizeof where);
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<unsigned short>(port));
    where.sin_addr.s_addr = inet_addr(address.c_str());
    if (bind(listener_, reinterpret_cast<const sockaddr*>(&where), sizeof where) < 0 ||
        listen(listener_, LISTEN_BACKLOG) < 0) {
        error = SocketErrorText(LastSocketErrorCode());
        CloseSocket(listener_);
        return false;
    }
    SetBlocking(listener_, false);  // neither accept nor a send may ever hold the loop
    listening_ = true;
    return true;
}

void SelectPagingServer::Serve(std::ostream& out, long pageLimit) {
    std::vector<Peer> peers;
    long pages = 0;
    for (;;) {
        const bool accepting = listening_ && !stopping_ && (pageLimit == 0 || pages < pageLimit);
        if (!accepting) {
            // Once serving ends, unanswered peers get nothing; answered ones keep their moment to read.
            for (const Peer& peer : peers)
                if (!peer.answered) CloseSocket(peer.handle);
            peers.erase(std::remove_if(peers.begin(), peers.end(), [](const Peer& peer) { return !peer.answered; }),
                        peers.end());
            if (peers.empty()) return;
        }

        fd_set readable;
        FD_ZERO(&readable);
        SocketHandle highest = 0;
        const bool watchListener = accepting && peers.size() < MAX_PEERS;
        Clock::time_point wakeUp = Clock::now() + std::chrono::milliseconds(ACCEPT_POLL_MILLISECONDS);
        if (watchListener) {
            FD_SET(listener_, &readable);
            highest = listener_;
        }
        for (const Peer& peer : peers) {
            FD_SET(peer.handle, &readable);
            highest = std::max(highest, peer.handle);
            wakeUp = std::min(wakeUp, peer.deadline);
        }
        const long long waitMicroseconds = std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::microseconds>(wakeUp - Clock::now()).count());
        timeval wait;
        wait.tv_sec = static_cast<long>(waitMicroseconds / 1000000);
        wait.tv_usec = static_cast<long>(waitMicroseconds % 1000000);
        if (select(static_cast<int>(highest) + 1, &readable, nullptr, nullptr, &wait) < 0) {
            FD_ZERO(&readable);  // interrupted; deadlines are still kept below
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }

        const Clock::time_point now = Clock::now();
        for (size_t at = 0; at < peers.size();) {
            Peer& peer = peers[at];
            const bool ready = FD_ISSET(peer.handle, &readable) != 0;
            bool gone = false;
            if (!peer.answered && pageLimit != 0 && pages >= pageLimit) {
                // Left unanswered: the page limit was reached earlier in this round.
            } else if (ready) {
                char chunk[4096];
                const long got = recv(peer.handle, chunk, sizeof chunk, 0);
                if (peer.answered) {
                    gone = got <= 0;
                } else if (got <= 0) {
                    pages += Finish(peer, false, out) ? 1 : 0;
                } else {
                    peer.received.append(chunk, static_cast<size_t>(got));
                    HttpRequest request;
                    std::string problem;
                    if (ExamineRequest(peer.received, request, problem) != RequestState::Incomplete)
                        pages += Finish(peer, false, out) ? 1 : 0;
                }
            } else if (now >= peer.deadline) {
                if (peer.answered)
                    gone = true;
                else
                    pages += Finish(peer, true, out) ? 1 : 0;
            }
            if (gone) {
                CloseSocket(peer.handle);
                peers.erase(peers.begin() + static_cast<std::ptrdiff_t>(at));
            } else {
                ++at;
            }
        }
        if (watchListener && FD_ISSET(listener_, &readable)) Accept(peers, out);
    }
}

void SelectPagingServer::Accept(std::vector<Peer>& peers, std::ostream& out) {
    while (peers.size() < MAX_PEERS) {
        const SocketHandle handle = accept(listener_, nullptr, nullptr);
        if (IsBadSocket(handle)) return;
        Peer peer{handle, Clock::now() + std::chrono::milliseconds(timeoutMilliseconds_), std::string(), false};
        if (!CanWatch(handle)) {
            // Select cannot watch it; it is answered as one that sent nothing in time.
            Finish(peer, true, out);
            CloseSocket(handle);
            continue;
        }
        SetBlocking(handle, false);
        peers.push_back(std::move(peer));
    }
}

Answer SelectPagingServer::AnswerComplete(const HttpRequest& request) {
    Page page;
    std::string problem;
    if (!sink_ || ReadRequestPage(request, page, problem) != 200) return AnswerRequest(request);
    std::string reason;
    if (!sink_(page, reason)) return {503, FormatPageLine(page) + " not taken: " + OneLine(reason)};
    return {200, FormatPageLine(page)};
}

bool SelectPagingServer::Finish(Peer& peer, bool timedOut, std::ostream& out) {
    HttpRequest request;
    std::string problem;
    const RequestState state = ExamineRequest(peer.received, request, problem);
    const Answer answer = state == RequestState::Complete
                              ? AnswerComplete(request)
                              : AnswerConnection(state, request, problem, peer.received.size(), timedOut);
    if (!answer.line.empty()) SelectPrintLine(out, answer.line);
    if (answer.status != 0) SendAll(peer.handle, ResponseText(answer.status));
    shutdown(peer.handle, SEND_SIDE);
    peer.answered = true;
    peer.received.clear();
    peer.deadline = Clock::now() + std::chrono::milliseconds(LINGER_MILLISECONDS);
    return answer.status == 200;
}
