// Benchmarks of a full settings load and of adds to the contact table, beside the original exchange sort.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "contacts/settings.h"
#include "tests/core/reference_sort.h"

namespace {

// People's names: shared first names and prefixes (Ann, Anna, Annabel), 264 combinations so some repeat.
std::string PersonName(int i) {
    static const char* first[] = {"Ann",  "Anna", "Annabel", "Andrew", "Andrea", "Bob",  "Bobby", "Carl",
                                  "Carla", "Chris", "Christine", "Dave", "David", "Ed",  "Maria", "Mario",
                                  "Mark", "Mom",  "Dad",     "Sam",    "Samantha", "Zed", "dentist", "work"};
    static const char* last[] = {"",        " Smith",  " Smithers", " Lopez", " Long",     " Miller",
                                 " Mills",  " Nguyen", " Ng",       " O'Neil", " Oppenheimer-Zimmermann"};
    if (i % 20 == 19) i -= 7;  // every twentieth repeats an earlier contact's name
    return std::string(first[(i * 7) % 24]) + last[(i * 5 + i / 24) % 11];
}

enum Book { DISTINCT, PEOPLE, DUPLICATES };
const char* const BOOK_NAMES[] = {"distinct", "people", "duplicates"};

std::string NameOf(Book book, int i) {
    static const char* few[] = {"Mom", "Dad", "Ann", "Anna", "work", "dentist"};
    switch (book) {
        case DISTINCT: return std::to_string(i * 337 % 1000) + " " + PersonName(i);
        case PEOPLE: return PersonName(i);
        case DUPLICATES: break;
    }
    return few[i * 5 % 6];  // six names, about 83 contacts each
}

std::vector<std::string> Names(Book book, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back(NameOf(book, i));
    return names;
}

std::string settingsFiles[3];

const std::string& SettingsFile(Book book) {
    std::string& path = settingsFiles[book];
    if (path.empty()) {
        path = (std::filesystem::temp_directory_path() /
                ("mervastx-bench-" + std::to_string(getpid()) + "-" + BOOK_NAMES[book] + ".ini"))
                   .string();
        std::ofstream out(path, std::ios::binary);
        out << "CONTACTS\r\n";
        for (int i = 0; i < MAX_CONTACTS; ++i)
            out << NameOf(book, i) << ':' << 5550000000LL + i * 37 << ':' << "MACSUV"[i % 6] << ":\r\n";
        out << "USER DETAILS\r\nSam:5550001111:";
    }
    return path;
}

struct Program {
    ContactTable table;
    UserDetails details;
    ReaderBuffers buffers;
};

void LoadSettings500(benchmark::State& state) {
    const Book book = static_cast<Book>(state.range(0));
    state.SetLabel(BOOK_NAMES[book]);
    auto program = std::make_unique<Program>();
    for (auto _ : state) {
        program->table.count = 0;
        LoadSettings(program->table, program->details, program->buffers, SettingsFile(book).c_str());
        benchmark::DoNotOptimize(program->table.names[0][0]);
    }
    if (program->table.count != MAX_CONTACTS) state.SkipWithError("the file did not load 500 contacts");
}
BENCHMARK(LoadSettings500)->DenseRange(DISTINCT, DUPLICATES)->Unit(benchmark::kMillisecond);

// The adds of a load without the file: the program's add against the original one.
template <bool (*Add)(ContactTable&, const char*, const char*, int)>
void Add500(benchmark::State& state) {
    const Book book = static_cast<Book>(state.range(0));
    state.SetLabel(BOOK_NAMES[book]);
    const std::vector<std::string> names = Names(book, MAX_CONTACTS);
    auto table = std::make_unique<ContactTable>();
    for (auto _ : state) {
        table->count = 0;
        for (const std::string& name : names) Add(*table, name.c_str(), "5551234567", 3);
        benchmark::DoNotOptimize(table->names[0][0]);
    }
}
BENCHMARK(Add500<AddContact>)->Name("Add500/new")->DenseRange(DISTINCT, DUPLICATES)->Unit(benchmark::kMillisecond);
BENCHMARK(Add500<reference::Add>)
    ->Name("Add500/literal")
    ->DenseRange(DISTINCT, DUPLICATES)
    ->Unit(benchmark::kMillisecond);

// Each add starts from the same 499 contacts; the table copy is measured on its own below.
template <bool (*Add)(ContactTable&, const char*, const char*, int)>
void AddTo499(benchmark::State& state) {
    const Book book = static_cast<Book>(state.range(0));
    state.SetLabel(BOOK_NAMES[book]);
    auto start = std::make_unique<ContactTable>();
    for (const std::string& name : Names(book, MAX_CONTACTS - 1)) AddContact(*start, name.c_str(), "5551234567", 3);
    auto table = std::make_unique<ContactTable>();
    for (auto _ : state) {
        *table = *start;
        if (!Add(*table, book == DUPLICATES ? "Ann" : "Mario Lopez", "5559876543", 3))
            state.SkipWithError("table full");
        benchmark::DoNotOptimize(table->names[0][0]);
    }
}
BENCHMARK(AddTo499<AddContact>)->Name("AddTo499/new")->DenseRange(DISTINCT, DUPLICATES)->Unit(benchmark::kMicrosecond);
BENCHMARK(AddTo499<reference::Add>)
    ->Name("AddTo499/literal")
    ->DenseRange(DISTINCT, DUPLICATES)
    ->Unit(benchmark::kMicrosecond);

void CopyTableOnly(benchmark::State& state) {
    const auto start = std::make_unique<ContactTable>();
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
    for (const std::string& file : settingsFiles)
        if (!file.empty()) std::remove(file.c_str());
    return 0;
}
