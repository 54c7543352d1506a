// The gateway's socket side: many connections at once in one loop, each bounded in size and in time.
#include "paging_gateway/intake/server.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "paging_gateway/intake/cross_site.h"
#include "paging_gateway/intake/http.h"
#include "paging_gateway/platform/socket_calls.h"
#include "paging_gateway/platform/socket_wait.h"

#ifndef _WIN32
#include <arpa/inet.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int SEND_SIDE = 1;  // SHUT_WR and SD_SEND alike
constexpr long ACCEPT_POLL_MILLISECONDS = 200;
constexpr long ACCEPT_PAUSE_MILLISECONDS = 100;
constexpr long LINGER_MILLISECONDS = 500;
constexpr int LISTEN_BACKLOG = 512;
// The listener takes one of the watched sockets.
constexpr size_t MAX_PEERS = MAX_WATCHED_SOCKETS - 1;

// The reason stays on the page's line, whatever bytes it holds.
std::string OneLine(const std::string& text) {
    const std::string quoted = QuoteText(text);
    return quoted.substr(1, quoted.size() - 2);
}

long MillisecondsUntil(Clock::time_point when) {
    return static_cast<long>(
        std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count() + 1));
}

}  // namespace

void PrintLine(std::ostream& out, const std::string& line) {
    static std::mutex printing;
    const std::string whole = line + "\n";
    std::lock_guard<std::mutex> lock(printing);
    out.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    out.flush();
}

struct PagingServer::Peer {
    enum class Stage { Reading, Writing, Lingering };
    SocketHandle handle;
    std::string client;
    // For the whole request and then for the whole answer, never renewed by a chunk: a peer dripping a byte
    // at a time cannot hold its connection.
    Clock::time_point deadline;
    Stage stage = Stage::Reading;
    std::string received;
    std::string answer;
    size_t written = 0;
};

PagingServer::~PagingServer() {
    if (listening_) CloseSocket(listener_);
}

bool PagingServer::Listen(const std::string& address, int port, std::string& error) {
    StartSockets();
    RaiseOpenFileLimit();
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
    // The port as bound (port 0 takes any), for the Host rule.
    SocketLength length = sizeof where;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&where), &length);
    address_ = address;
    port_ = ntohs(where.sin_port);
    listening_ = true;
    return true;
}

void PagingServer::Serve(std::ostream& out, long pageLimit) {
    using Stage = Peer::Stage;
    std::vector<Peer> peers;
    std::vector<SocketWatch> watches;
    Clock::time_point acceptFrom = Clock::now();
    long pages = 0;
    for (;;) {
        const bool accepting = listening_ && !stopping_ && (pageLimit == 0 || pages < pageLimit);
        if (!accepting) {
            // Once serving ends, unanswered peers get nothing; answered ones keep their moment to read.
            for (const Peer& peer : peers)
                if (peer.stage == Stage::Reading) CloseSocket(peer.handle);
            peers.erase(std::remove_if(peers.begin(), peers.end(),
                                       [](const Peer& peer) { return peer.stage == Stage::Reading; }),
                        peers.end());
            if (peers.empty()) {
                ReportCount(out, true);
                return;
            }
        }

        watches.clear();
        const bool watchListener = accepting && peers.size() < MAX_PEERS && Clock::now() >= acceptFrom;
        Clock::time_point wakeUp = Clock::now() + std::chrono::milliseconds(ACCEPT_POLL_MILLISECONDS);
        if (!watchListener && accepting) wakeUp = std::min(wakeUp, acceptFrom);
        for (const Peer& peer : peers) {
            watches.push_back({peer.handle, peer.stage == Stage::Writing, false});
            wakeUp = std::min(wakeUp, peer.deadline);
        }
        if (watchListener) watches.push_back({listener_, false, false});
        WaitForSockets(watches, MillisecondsUntil(wakeUp));

        const Clock::time_point now = Clock::now();
        size_t kept = 0;
        for (size_t at = 0; at < peers.size(); ++at) {
            Peer& peer = peers[at];
            const bool ready = watches[at].ready;
            bool gone = false;
            if (peer.stage == Stage::Reading && pageLimit != 0 && pages >= pageLimit) {
                // Left unanswered: the page limit was reached earlier in this round.
            } else if (peer.stage == Stage::Writing) {
                if (ready) Write(peer);
                gone = peer.stage == Stage::Writing && now >= peer.deadline;
            } else if (ready) {
                char chunk[4096];
                const long got = recv(peer.handle, chunk, sizeof chunk, 0);
                if (peer.stage == Stage::Lingering) {
                    gone = got == 0 || (got < 0 && !WouldBlock(LastSocketErrorCode()));
                } else if (got == 0 || (got < 0 && !WouldBlock(LastSocketErrorCode()))) {
                    pages += Finish(peer, false, out) ? 1 : 0;
                } else if (got > 0) {
                    peer.received.append(chunk, static_cast<size_t>(got));
                    HttpRequest request;
                    std::string problem;
                    if (ExamineRequest(peer.received, request, problem) != RequestState::Incomplete)
                        pages += Finish(peer, false, out) ? 1 : 0;
                }
            } else if (now >= peer.deadline) {
                if (peer.stage == Stage::Lingering)
                    gone = true;
                else
                    pages += Finish(peer, true, out) ? 1 : 0;
            }
            if (gone || (peer.stage == Stage::Lingering && now >= peer.deadline)) {
                CloseSocket(peer.handle);
            } else {
                if (kept != at) peers[kept] = std::move(peer);
                ++kept;
            }
        }
        peers.resize(kept);
        ReportCount(out, false);
        if (watchListener && watches.back().ready && !Accept(peers))
            acceptFrom = Clock::now() + std::chrono::milliseconds(ACCEPT_PAUSE_MILLISECONDS);
    }
}

bool PagingServer::Accept(std::vector<Peer>& peers) {
    while (peers.size() < MAX_PEERS) {
        sockaddr_in from;
        memset(&from, 0, sizeof from);
        SocketLength length = sizeof from;
        const SocketHandle handle = accept(listener_, reinterpret_cast<sockaddr*>(&from), &length);
        if (IsBadSocket(handle)) return WouldBlock(LastSocketErrorCode());
        SetBlocking(handle, false);
        Peer peer;
        peer.handle = handle;
        peer.client = inet_ntoa(from.sin_addr);
        peer.deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds_);
        peers.push_back(std::move(peer));
    }
    return true;
}

Answer PagingServer::AnswerComplete(const HttpRequest& request, const std::string& client) {
    std::string why;
    if (!FormRequestAllowed(request, address_, port_, why))
        return {403, "refused: " + request.method + " " + QuoteText(request.target) + " from " + client + ": " + why};
    Page page;
    std::string problem;
    if (!sink_ || ReadRequestPage(request, page, problem) != 200) return AnswerRequest(request);
    std::string id, reason;
    if (!sink_(page, client, id, reason)) return {503, FormatPageLine(page) + " not taken: " + OneLine(reason)};
    std::string line = FormatPageLine(page);
    if (!id.empty()) line.insert(line.find(' ') + 1, OneLine(id) + " ");
    return {200, line};
}

bool PagingServer::Finish(Peer& peer, bool timedOut, std::ostream& out) {
    HttpRequest request;
    std::string problem;
    const RequestState state = ExamineRequest(peer.received, request, problem);
    Answer answer{0, std::string()};
    if (state == RequestState::Complete && handler_ && handler_(request, peer.client, peer.answer)) {
        answer.status = -1;  // answered in full by the handler, which says what it wants said
    } else {
        answer = state == RequestState::Complete
                     ? AnswerComplete(request, peer.client)
                     : AnswerConnection(state, request, problem, peer.received.size(), timedOut);
        if (answer.status != 0) peer.answer = ResponseText(answer.status);
    }
    if (!answer.line.empty() && state == RequestState::Incomplete)
        ReportIncomplete(answer.line, out);
    else if (!answer.line.empty())
        PrintLine(out, answer.line);
    peer.received.clear();
    peer.received.shrink_to_fit();
    peer.stage = Peer::Stage::Writing;
    peer.deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds_);
    Write(peer);
    return answer.status == 200;
}

void PagingServer::Write(Peer& peer) {
    while (peer.written < peer.answer.size()) {
        const long sent = SendBytes(peer.handle, peer.answer.data() + peer.written,
                                    static_cast<long>(std::min<size_t>(peer.answer.size() - peer.written, 1 << 20)));
        if (sent > 0) {
            peer.written += static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && WouldBlock(LastSocketErrorCode())) return;
        // The program closes without reading: nothing to do about it but let the connection go.
        break;
    }
    peer.answer.clear();
    peer.answer.shrink_to_fit();
    // Closing with unread bytes resets the connection and can destroy the answer before the client reads it,
    // so the send side is closed and what still comes is read away for a moment.
    shutdown(peer.handle, SEND_SIDE);
    peer.stage = Peer::Stage::Lingering;
    peer.deadline = Clock::now() + std::chrono::milliseconds(LINGER_MILLISECONDS);
}

void PagingServer::ReportIncomplete(const std::string& line, std::ostream& out) {
    const Clock::time_point now = Clock::now();
    if (now < quietUntil_) {
        ++uncounted_;
        return;
    }
    PrintLine(out, line);
    quietUntil_ = now + std::chrono::milliseconds(quietMilliseconds_);
}

void PagingServer::ReportCount(std::ostream& out, bool ending) {
    const Clock::time_point now = Clock::now();
    if (uncounted_ == 0 || (!ending && now < quietUntil_)) return;
    PrintLine(out, "bad request: " + std::to_string(uncounted_) + " more incomplete request" +
                       (uncounted_ == 1 ? "" : "s") + " (timed out or closed early) since the last one printed");
    uncounted_ = 0;
    // The count takes the quiet time's one line.
    quietUntil_ = now + std::chrono::milliseconds(quietMilliseconds_);
}
