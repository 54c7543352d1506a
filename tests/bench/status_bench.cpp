// What the ledger costs each page, what the status page costs with a full ledger of 10,000 pages, and what a
// ledger full of the largest pages there are costs on disk, in memory and in /status.json.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "paging_gateway/ledger/ledger.h"
#include "paging_gateway/spool/spool.h"
#include "paging_gateway/status/status_pages.h"

namespace fs = std::filesystem;

namespace {

const char ROUTE[] = "snpp://snpp.pager.example.net:444";

std::string IdOf(long number) {
    char id[32];
    std::snprintf(id, sizeof id, "%012ld", number);
    return id;
}

Page SamplePage(long number) {
    Page page;
    page.carrier = CarrierByCode("MACSUV"[number % 6]);
    page.phoneNumber = "555" + std::to_string(1000000 + number % 9000000);
    page.message = "Server room temperature 31 C, please check the air conditioning (alert " +
                   std::to_string(number) + ")";
    return page;
}

// A ledger file in a folder of its own on the build's disk, gone afterwards.
struct LedgerFolder {
    fs::path folder = fs::temp_directory_path() / ("mervastx-ledger-bench-" + std::to_string(std::rand()));
    LedgerFolder() { fs::create_directories(folder); }
    ~LedgerFolder() { fs::remove_all(folder); }
    std::string File() const { return (folder / "ledger.txt").string(); }
};

// What one page adds: its arrival (on disk before the 200) and the attempt that relayed it. Compaction of a
// full ledger (10,000 pages) is part of the cost.
void BM_LedgerPerPage(benchmark::State& state) {
    LedgerFolder where;
    Ledger ledger;
    std::string error;
    if (!ledger.Open(where.File(), error)) state.SkipWithError(error.c_str());
    long number = 0;
    for (auto _ : state) {
        const std::string id = IdOf(++number);
        ledger.Received(id, SamplePage(number), "127.0.0.1", ROUTE);
        ledger.Attempted(id, ROUTE, {Outcome::Delivered, "250 Message Sent"}, 0);
    }
    state.counters["file_lines"] = static_cast<double>(ledger.FileLines());
}
BENCHMARK(BM_LedgerPerPage)->Unit(benchmark::kMicrosecond)->Iterations(30000);

// The same without a file (print-only mode): the in-memory part alone.
void BM_LedgerPerPageInMemory(benchmark::State& state) {
    Ledger ledger;
    long number = 0;
    for (auto _ : state) {
        const std::string id = IdOf(++number);
        ledger.Received(id, SamplePage(number), "127.0.0.1", ROUTE);
        ledger.Attempted(id, ROUTE, {Outcome::Delivered, "250 Message Sent"}, 0);
    }
}
BENCHMARK(BM_LedgerPerPageInMemory)->Unit(benchmark::kMicrosecond)->Iterations(30000);

// For scale, in the same run: what the spool already spends on each page (written, then removed once relayed).
void BM_SpoolPerPage(benchmark::State& state) {
    LedgerFolder where;
    Spool spool;
    std::string error, name;
    if (!spool.Open((where.folder / "spool").string(), error)) state.SkipWithError(error.c_str());
    long number = 0;
    for (auto _ : state) {
        spool.Put(SamplePage(++number), name, error);
        spool.Remove(name, error);
    }
}
BENCHMARK(BM_SpoolPerPage)->Unit(benchmark::kMicrosecond)->Iterations(30000);

// 10,000 pages: most relayed, one in 50 failed, the last 20 still waiting.
void FillLedger(Ledger& ledger) {
    for (long number = 1; number <= 10000; ++number) {
        const std::string id = IdOf(number);
        ledger.Received(id, SamplePage(number), "127.0.0.1", ROUTE);
        if (number > 9980) {
            ledger.Attempted(id, ROUTE, {Outcome::Temporary, "421 Too busy, try later"}, 4000);
        } else if (number % 50 == 0) {
            ledger.Attempted(id, ROUTE, {Outcome::Permanent, "550 Pager ID not found"}, 0);
        } else {
            ledger.Attempted(id, ROUTE, {Outcome::Delivered, "250 Message Sent"}, 0);
        }
    }
}

// The whole answer to GET `target`, as the server sends it.
void ServePath(benchmark::State& state, const char* target) {
    Ledger ledger;
    FillLedger(ledger);
    StatusPages pages(ledger, StatusSettings(),
                      [](const std::string&, const std::string&, std::string&) { return true; });
    const HttpRequest request{"GET", target, "", {{"Host", "localhost"}}};
    std::string response;
    for (auto _ : state) {
        response.clear();
        pages.Handle(request, "127.0.0.1", response);
        benchmark::DoNotOptimize(response.data());
    }
    if (response.compare(0, 15, "HTTP/1.0 200 OK") != 0) state.SkipWithError("not answered");
    state.counters["bytes"] = static_cast<double>(response.size());
}

void BM_StatusPage10000(benchmark::State& state) { ServePath(state, "/status"); }
void BM_StatusJson10000(benchmark::State& state) { ServePath(state, "/status.json"); }
void BM_Metrics10000(benchmark::State& state) { ServePath(state, "/metrics"); }
BENCHMARK(BM_StatusPage10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StatusJson10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Metrics10000)->Unit(benchmark::kMicrosecond);

// The largest page there is, every byte one the ledger quotes as \xNN and the JSON as \u00ff, with a long
// reply of the same bytes.
Page LargestPage() {
    Page page;
    page.carrier = CarrierByCode('V');
    page.phoneNumber = std::string(MAX_PAGE_PHONE_BYTES, '\xFF');
    page.message = std::string(MAX_PAGE_TEXT_BYTES, '\xFF');
    return page;
}
const std::string LARGEST_REPLY(500, '\xFF');

// A figure of /proc/self/status, in kB.
long StatusKilobytes(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, std::strlen(key), key) == 0) return std::atol(line.c_str() + std::strlen(key) + 1);
    return -1;
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Run as a process of its own (`status_bench --serve-ledger FILE`), so its memory is only what a gateway starting
// on that file takes: it opens the ledger and answers /status.json and /status twenty times each.
int ServeLedger(const char* file) {
    const auto start = std::chrono::steady_clock::now();
    Ledger ledger;
    std::string error;
    if (!ledger.Open(file, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const double openMs = MillisecondsSince(start);
    StatusPages pages(ledger, StatusSettings(),
                      [](const std::string&, const std::string&, std::string&) { return true; });
    double slowest[2] = {0, 0};
    size_t bytes[2] = {0, 0};
    for (int round = 0; round < 20; ++round)
        for (int which = 0; which < 2; ++which) {
            const HttpRequest request{"GET", which == 0 ? "/status.json" : "/status", "", {{"Host", "localhost"}}};
            std::string response;
            const auto asked = std::chrono::steady_clock::now();
            pages.Handle(request, "127.0.0.1", response);
            slowest[which] = std::max(slowest[which], MillisecondsSince(asked));
            bytes[which] = response.size();
            if (response.compare(0, 15, "HTTP/1.0 200 OK") != 0) return 1;
        }
    std::printf("%zu %.1f %.2f %zu %.2f %zu %ld %ld\n", ledger.View(0).pageCount, openMs, slowest[0], bytes[0],
                slowest[1], bytes[1], StatusKilobytes("VmRSS:"), StatusKilobytes("VmHWM:"));
    return 0;
}

// 20,000 of the largest pages through a ledger with the default bounds, then a fresh process opening what is
// left as the gateway does at start. file_MB: the largest the file grew to, checked every 50 pages.
void BM_LedgerOfLargestPages(benchmark::State& state) {
    for (auto _ : state) {
        LedgerFolder where;
        double largestFile = 0;
        {
            Ledger ledger;
            std::string error;
            if (!ledger.Open(where.File(), error)) state.SkipWithError(error.c_str());
            const Page page = LargestPage();
            for (long number = 1; number <= 20000; ++number) {
                const std::string id = IdOf(number);
                ledger.Received(id, page, "127.0.0.1", ROUTE);
                ledger.Attempted(id, ROUTE, {Outcome::Delivered, LARGEST_REPLY}, 0);
                if (number % 50 == 0)
                    largestFile = std::max(largestFile, static_cast<double>(fs::file_size(where.File())));
            }
        }
        char self[4096] = "";
        const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
        if (length <= 0) state.SkipWithError("cannot find this program");
        const std::string command = std::string(self) + " --serve-ledger '" + where.File() + "'";
        FILE* child = popen(command.c_str(), "r");
        size_t kept = 0, jsonBytes = 0, htmlBytes = 0;
        double openMs = 0, jsonMs = 0, htmlMs = 0;
        long rss = 0, peak = 0;
        const bool read = child != nullptr && std::fscanf(child, "%zu %lf %lf %zu %lf %zu %ld %ld", &kept, &openMs,
                                                          &jsonMs, &jsonBytes, &htmlMs, &htmlBytes, &rss, &peak) == 8;
        if (child != nullptr) pclose(child);
        if (!read) state.SkipWithError("the ledger's process said nothing");
        state.counters["file_MB"] = largestFile / (1024 * 1024);
        state.counters["pages_kept"] = static_cast<double>(kept);
        state.counters["open_ms"] = openMs;
        state.counters["json_ms_max"] = jsonMs;
        state.counters["json_KB"] = static_cast<double>(jsonBytes) / 1024;
        state.counters["html_ms_max"] = htmlMs;
        state.counters["resident_MB"] = static_cast<double>(rss) / 1024;
        state.counters["peak_resident_MB"] = static_cast<double>(peak) / 1024;
    }
}
BENCHMARK(BM_LedgerOfLargestPages)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--serve-ledger") == 0) return ServeLedger(argv[2]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
