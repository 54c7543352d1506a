// What the ledger costs each page, and what the status page costs with a full ledger of 10,000 pages.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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

}  // namespace

BENCHMARK_MAIN();
