// The relay against an SNPP stand-in that answers every line after 20 ms: 1,000 pages, the old relay beside
// the new one in the same run.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "paging_gateway/relay/relay.h"
#include "tests/bench/reference_relay.h"

namespace {

const int PAGES = 1000;
const int PAGERS = 200;  // five pages each, interleaved, so order per pager is at stake
const auto REPLY_DELAY = std::chrono::milliseconds(20);
const char ADDRESS[] = "127.77.15.9";
const int PORT = 4444;

// A level 2 server with a thread per session, every reply 20 ms after the line it answers.
class SlowSnpp {
public:
    SlowSnpp() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        int reuse = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(PORT);
        where.sin_addr.s_addr = inet_addr(ADDRESS);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || listen(listener_, 128) != 0)
            std::abort();
        acceptor_ = std::thread([this] {
            for (int peer; (peer = accept(listener_, nullptr, nullptr)) >= 0;) {
                std::lock_guard<std::mutex> lock(mutex_);
                sessions_.emplace_back([this, peer] { Session(peer); });
            }
        });
    }
    ~SlowSnpp() {
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        acceptor_.join();
        for (std::thread& session : sessions_) session.join();
    }
    int Sent() const { return sent_; }
    void Reset() { sent_ = 0; }

private:
    void Answer(int peer, const char* reply) {
        std::this_thread::sleep_for(REPLY_DELAY);
        send(peer, reply, strlen(reply), MSG_NOSIGNAL);
    }
    void Session(int peer) {
        Answer(peer, "220 ready\r\n");
        std::string buffered;
        char chunk[4096];
        for (ssize_t got; (got = recv(peer, chunk, sizeof chunk, 0)) > 0;) {
            buffered.append(chunk, got);
            for (size_t end; (end = buffered.find("\r\n")) != std::string::npos; buffered.erase(0, end + 2)) {
                const std::string verb = buffered.substr(0, 4);
                if (verb == "QUIT") {
                    Answer(peer, "221 bye\r\n");
                    close(peer);
                    return;
                }
                if (verb == "SEND") ++sent_;
                Answer(peer, "250 OK\r\n");
            }
        }
        close(peer);
    }

    int listener_;
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> sessions_;
    std::atomic<int> sent_{0};
};

SlowSnpp& Upstream() {
    static SlowSnpp upstream;
    return upstream;
}

RelaySettings Settings(int sessions) {
    RelaySettings settings;
    std::string error;
    settings.routes.emplace_back();
    if (!ParseUpstreamUrl("snpp://" + std::string(ADDRESS) + ":" + std::to_string(PORT), settings.routes[0].url,
                          error))
        std::abort();
    settings.sessions = sessions;
    return settings;
}

// A fresh spool folder holding the burst, as the intake left it.
std::string FillSpool(Spool& spool, std::vector<reference::Item>* items) {
    char pattern[] = "/tmp/relay_bench.XXXXXX";
    const std::string folder = mkdtemp(pattern);
    std::string error, name;
    if (!spool.Open(folder, error)) std::abort();
    for (int i = 0; i < PAGES; ++i) {
        Page page;
        page.carrier = CarrierByCode("MACSUV"[i % 6]);
        page.phoneNumber = std::to_string(5550000000LL + i % PAGERS);
        page.message = "All staff: code orange drill at 14:00, page " + std::to_string(i);
        if (!spool.Put(page, name, error)) std::abort();
        if (items) items->push_back({name, page});
    }
    return folder;
}

void Clean(const std::string& folder) {
    const std::string command = "rm -rf '" + folder + "'";
    if (system(command.c_str()) != 0) std::abort();
}

void OneSessionAtATime(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        Spool spool;
        std::vector<reference::Item> items;
        const std::string folder = FillSpool(spool, &items);
        std::deque<reference::Item> queue(items.begin(), items.end());
        Upstream().Reset();
        state.ResumeTiming();
        reference::Work(Settings(1), Settings(1).routes[0].url, spool, queue);
        state.PauseTiming();
        if (Upstream().Sent() != PAGES || !spool.Waiting().empty()) state.SkipWithError("pages left behind");
        Clean(folder);
        state.ResumeTiming();
    }
}

void SessionsKeptPerUpstream(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        Spool spool;
        const std::string folder = FillSpool(spool, nullptr);
        std::ostream nowhere(nullptr);
        Upstream().Reset();
        state.ResumeTiming();
        Relay relay(Settings(static_cast<int>(state.range(0))), spool, nowhere);
        relay.Start();
        while (Upstream().Sent() < PAGES || !spool.Waiting().empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        relay.Stop();
        state.PauseTiming();
        if (Upstream().Sent() != PAGES) state.SkipWithError("pages sent more than once");
        Clean(folder);
        state.ResumeTiming();
    }
}

}  // namespace

BENCHMARK(OneSessionAtATime)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(SessionsKeptPerUpstream)->Arg(4)->Arg(8)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
