// The gateway's intake under 50 clients at once, each page in a real spool before its 200, poll against select.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "gateway/assemble.h"
#include "gateway/request.h"
#include "paging_gateway/intake/server.h"
#include "paging_gateway/spool/spool.h"
#include "tests/bench/select_server.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int CLIENTS = 50;
constexpr int PAGES_PER_CLIENT = 20;
constexpr int PORT = 8080;

std::string ProgramRequest(int client, int page) {
    GatewayRequest request{};
    const std::string message = "bench page " + std::to_string(client) + "/" + std::to_string(page);
    EncodeSender(request, "Bench");
    ApplyGatewayProfile(request, "MACSUV"[page % 6]);
    EncodeMessage(request, message.c_str());
    SetPhoneNumber(request, "5551234567");
    AssembleRequest(request);
    return request.requestText;
}

// One page from connect to the whole answer; false unless the answer is 200.
bool SendPage(const std::string& address, const std::string& request) {
    const int handle = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(PORT);
    where.sin_addr.s_addr = inet_addr(address.c_str());
    std::string answer;
    if (connect(handle, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 &&
        send(handle, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char chunk[512];
        for (ssize_t got; (got = recv(handle, chunk, sizeof chunk, 0)) > 0;) answer.append(chunk, got);
    }
    close(handle);
    return answer.compare(0, 12, "HTTP/1.0 200") == 0;
}

// A spool in a folder of its own beside the benchmark, on the disk the build is on.
struct SpoolFolder {
    std::string path;
    Spool spool;
    SpoolFolder() {
        char pattern[] = "intake_bench.XXXXXX";
        path = mkdtemp(pattern);
        std::string error;
        if (!spool.Open(path + "/spool", error)) std::abort();
    }
    ~SpoolFolder() {
        const std::string command = "rm -rf '" + path + "'";
        if (std::system(command.c_str()) != 0) std::abort();
    }
};

void SetSink(PagingServer& server, Spool& spool) {
    server.SetPageSink([&spool](const Page& page, const std::string&, std::string& id, std::string& reason) {
        return spool.Put(page, id, reason);
    });
}

void SetSink(SelectPagingServer& server, Spool& spool) {
    server.SetSelectPageSink([&spool](const Page& page, std::string& reason) {
        std::string name;
        return spool.Put(page, name, reason);
    });
}

template <class Server>
void Intake(benchmark::State& state, const char* address) {
    SpoolFolder folder;
    Server server;
    std::string error;
    if (!server.Listen(address, PORT, error)) {
        state.SkipWithError(("cannot listen: " + error).c_str());
        return;
    }
    SetSink(server, folder.spool);
    std::ostream discard(nullptr);
    std::thread serving([&] { server.Serve(discard); });

    std::vector<std::string> requests;
    for (int client = 0; client < CLIENTS; ++client)
        for (int page = 0; page < PAGES_PER_CLIENT; ++page) requests.push_back(ProgramRequest(client, page));
    std::vector<double> waits;
    std::mutex waitsLock;
    long failed = 0;
    for (auto _ : state) {
        std::vector<std::thread> clients;
        for (int client = 0; client < CLIENTS; ++client)
            clients.emplace_back([&, client] {
                std::vector<double> mine;
                long mineFailed = 0;
                for (int page = 0; page < PAGES_PER_CLIENT; ++page) {
                    const auto start = Clock::now();
                    mineFailed += SendPage(address, requests[client * PAGES_PER_CLIENT + page]) ? 0 : 1;
                    mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                }
                std::lock_guard<std::mutex> lock(waitsLock);
                waits.insert(waits.end(), mine.begin(), mine.end());
                failed += mineFailed;
            });
        for (std::thread& client : clients) client.join();
    }
    server.Stop();
    serving.join();

    std::sort(waits.begin(), waits.end());
    const double pages = static_cast<double>(state.iterations()) * CLIENTS * PAGES_PER_CLIENT;
    state.counters["pages_per_s"] = benchmark::Counter(pages, benchmark::Counter::kIsRate);
    state.counters["p50_ms"] = waits[waits.size() / 2];
    state.counters["p99_ms"] = waits[waits.size() * 99 / 100];
    state.counters["not_200"] = static_cast<double>(failed);
}

void SelectLoop(benchmark::State& state) { Intake<SelectPagingServer>(state, "127.77.25.11"); }
void PollLoop(benchmark::State& state) { Intake<PagingServer>(state, "127.77.25.12"); }

}  // namespace

// 1,000 pages an iteration, from 50 clients of 20 pages each.
BENCHMARK(SelectLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(PollLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

BENCHMARK_MAIN();
