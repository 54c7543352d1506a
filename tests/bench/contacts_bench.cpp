// Benchmarks of a full settings load and of one add to a nearly full contact table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "contacts/settings.h"

namespace {

// Names as people keep them: shared first names and prefixes (Ann, Anna, Annabel), and some exact repeats.
std::string NameOf(int i) {
    static const char* first[] = {"Ann",  "Anna", "Annabel", "Andrew", "Andrea", "Bob",  "Bobby", "Carl",
                                  "Carla", "Chris", "Christine", "Dave", "David", "Ed",  "Maria", "Mario",
                                  "Mark", "Mom",  "Dad",     "Sam",    "Samantha", "Zed", "dentist", "work"};
    static const char* last[] = {"",        " Smith",  " Smithers", " Lopez", " Long",     " Miller",
                                 " Mills",  " Nguyen", " Ng",       " O'Neil", " Oppenheimer-Zimmermann"};
    if (i % 20 == 19) i -= 7;  // every twentieth repeats an earlier contact's name
    return std::string(first[(i * 7) % 24]) + last[(i * 5 + i / 24) % 11];
}

const std::string& SettingsFile() {
    static const std::string path = [] {
        const std::string file = (std::filesystem::temp_directory_path() / "mervastx-bench.ini").string();
        std::ofstream out(file, std::ios::binary);
        out << "CONTACTS\r\n";
        for (int i = 0; i < MAX_CONTACTS; ++i)
            out << NameOf(i) << ':' << 5550000000LL + i * 37 << ':' << "MACSUV"[i % 6] << ":\r\n";
        out << "USER DETAILS\r\nSam:5550001111:";
        return file;
    }();
    return path;
}

struct Program {
    ContactTable table;
    UserDetails details;
    ReaderBuffers buffers;
};

void LoadSettings500(benchmark::State& state) {
    auto program = std::make_unique<Program>();
    for (auto _ : state) {
        program->table.count = 0;
        LoadSettings(program->table, program->details, program->buffers, SettingsFile().c_str());
        benchmark::DoNotOptimize(program->table.names[0][0]);
    }
    if (program->table.count != MAX_CONTACTS) state.SkipWithError("the file did not load 500 contacts");
}
BENCHMARK(LoadSettings500)->Unit(benchmark::kMillisecond);

std::unique_ptr<ContactTable> TableOf499() {
    auto table = std::make_unique<ContactTable>();
    for (int i = 0; i < MAX_CONTACTS - 1; ++i) AddContact(*table, NameOf(i).c_str(), "5551234567", i % 6);
    return table;
}

// Each add starts from the same 499 contacts; the table copy is measured on its own below.
void AddContactTo499(benchmark::State& state) {
    const auto start = TableOf499();
    auto table = std::make_unique<ContactTable>();
    for (auto _ : state) {
        *table = *start;
        if (!AddContact(*table, "Mario Lopez", "5559876543", 3)) state.SkipWithError("table full");
        benchmark::DoNotOptimize(table->names[0][0]);
    }
}
BENCHMARK(AddContactTo499)->Unit(benchmark::kMicrosecond);

void CopyTableOnly(benchmark::State& state) {
    const auto start = TableOf499();
    auto table = std::make_unique<ContactTable>();
    for (auto _ : state) {
        *table = *start;
        benchmark::DoNotOptimize(table->names[0][0]);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(CopyTableOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(SettingsFile().c_str());
    return 0;
}
