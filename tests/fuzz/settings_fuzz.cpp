// Fuzz target for the settings reader: bounds, capacity, order, and that what it keeps survives a save.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "contacts/settings.h"

namespace {

struct Files {
    std::string input, saved;
};

const Files& TheFiles() {
    static const Files files = [] {
        const char* folder = std::getenv("TMPDIR");
        const std::string base = std::string(folder && *folder ? folder : "/tmp") + "/mervastx-fuzz-" +
                                 std::to_string(static_cast<long>(getpid()));
        return Files{base + ".ini", base + "-saved.ini"};
    }();
    return files;
}

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "settings fuzz: %s\n", what);
    std::abort();
}

bool Terminated(const char* text, size_t size) { return std::memchr(text, '\0', size) != nullptr; }

// Fields are cut at ':' and the line end, so neither can be inside one.
bool Clean(const char* text) { return std::strpbrk(text, ":\n") == nullptr; }

struct State {
    ContactTable table;
    UserDetails details;
    ReaderBuffers buffers;
};

std::unique_ptr<State> LoadFrom(const std::string& fileName) {
    auto state = std::make_unique<State>();
    Check(LoadSettings(state->table, state->details, state->buffers, fileName.c_str()).state == SettingsState::Loaded,
          "file did not load");
    const ContactTable& table = state->table;
    Check(table.count >= 0 && table.count <= MAX_CONTACTS, "count out of range");
    for (int slot = 0; slot < table.count; ++slot) {
        Check(Terminated(table.names[slot], NAME_SIZE) && Terminated(table.numbers[slot], NUMBER_SIZE),
              "unterminated slot");
        Check(table.names[slot][0] != '\0' && table.numbers[slot][0] != '\0', "empty field stored");
        Check(Clean(table.names[slot]) && Clean(table.numbers[slot]), "separator inside a field");
        Check(table.carriers[slot] >= 0 && table.carriers[slot] <= 5, "carrier out of range");
        if (slot > 0) Check(std::strcmp(table.names[slot - 1], table.names[slot]) <= 0, "names out of order");
    }
    Check(Terminated(state->details.sender, SENDER_SIZE) && Terminated(state->details.callback, CALLBACK_SIZE),
          "unterminated details");
    Check(Clean(state->details.sender) && Clean(state->details.callback), "separator inside a detail");
    return state;
}

std::vector<std::tuple<std::string, std::string, int>> Contacts(const ContactTable& table) {
    std::vector<std::tuple<std::string, std::string, int>> contacts;
    for (int slot = 0; slot < table.count; ++slot)
        contacts.emplace_back(table.names[slot], table.numbers[slot], table.carriers[slot]);
    std::sort(contacts.begin(), contacts.end());
    return contacts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Files& files = TheFiles();
    std::FILE* file = std::fopen(files.input.c_str(), "wb");
    Check(file != nullptr, "cannot write the input file");
    Check(std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0, "cannot write the input file");

    const auto first = LoadFrom(files.input);
    Check(SaveSettings(first->table, first->details, files.saved.c_str()), "save failed");
    const auto second = LoadFrom(files.saved);
    // Everything the reader keeps must read back, though equal names may come back in another order.
    Check(Contacts(first->table) == Contacts(second->table), "contacts changed on reload");
    Check(std::strcmp(first->details.sender, second->details.sender) == 0 &&
              std::strcmp(first->details.callback, second->details.callback) == 0,
          "details changed on reload");
    // Removed each time: libFuzzer ends without running exit handlers.
    std::remove(files.input.c_str());
    std::remove(files.saved.c_str());
    return 0;
}
