// Fuzz target for the settings file: the reader's bounds, capacity and order, that what it keeps survives a save,
// and that what the windows can hold reads back as saved.
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

#include "common/text.h"
#include "contacts/settings.h"

namespace {

struct Files {
    std::string input, saved;
};

const Files& TheFiles() {
    static const Files files = [] {
        // Every save is flushed to the disk; in memory that costs nothing and the inputs keep coming fast.
        const char* folder = std::getenv("TMPDIR");
        if (!folder || !*folder) folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        const std::string base = std::string(folder) + "/mervastx-fuzz-" +
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

using ContactList = std::vector<std::tuple<std::string, std::string, int>>;

ContactList Contacts(const ContactTable& table) {
    ContactList contacts;
    for (int slot = 0; slot < table.count; ++slot)
        contacts.emplace_back(table.names[slot], table.numbers[slot], table.carriers[slot]);
    std::sort(contacts.begin(), contacts.end());
    return contacts;
}

// Whatever the file holds, what the reader keeps must survive a save and a second read.
void CheckReadSaveRead(const std::string& fileName) {
    const Files& files = TheFiles();
    const auto first = LoadFrom(fileName);
    Check(SaveSettings(first->table, first->details, files.saved.c_str()), "save failed");
    const auto second = LoadFrom(files.saved);
    // Equal names may come back in another order.
    Check(Contacts(first->table) == Contacts(second->table), "contacts changed on reload");
    Check(std::strcmp(first->details.sender, second->details.sender) == 0 &&
              std::strcmp(first->details.callback, second->details.callback) == 0,
          "details changed on reload");
}

// The input read as contacts and details the windows can hold: names of 1 to 34 bytes, numbers of 1 to 10,
// a sender of up to 19 and a callback of up to 10, every byte from 0x01 to 0xFF but ':', CR and LF.
class StorableSource {
public:
    StorableSource(const uint8_t* data, size_t size) : at_(data), end_(data + size) {}
    uint8_t Next() { return at_ < end_ ? *at_++ : 0; }
    std::string Text(size_t shortest, size_t longest) {
        std::string text;
        for (size_t length = shortest + Next() % (longest - shortest + 1); length > 0; --length) {
            const uint8_t byte = Next();
            // The bytes the edits refuse become letters, so every input stays a storable one.
            text += static_cast<char>(byte == 0 || byte == ':' || byte == '\r' || byte == '\n' ? byte ^ 0x40 : byte);
        }
        return text;
    }

private:
    const uint8_t* at_;
    const uint8_t* end_;
};

// Saved by the program, then read back: the same contacts, short lines included, and the same details.
void CheckStoredReadsBack(const uint8_t* data, size_t size) {
    const Files& files = TheFiles();
    StorableSource source(data, size);
    auto stored = std::make_unique<State>();
    ContactList expected;
    for (int contacts = source.Next() % 41; contacts > 0; --contacts) {
        const std::string name = source.Text(1, NAME_SIZE - 1);
        const std::string number = source.Text(1, NUMBER_SIZE - 1);
        const int carrier = source.Next() % 6;
        Check(AddContact(stored->table, name.c_str(), number.c_str(), carrier), "contact not added");
        expected.emplace_back(name, number, carrier);
    }
    std::sort(expected.begin(), expected.end());
    CopyText(stored->details.sender, source.Text(0, SENDER_SIZE - 1).c_str());
    CopyText(stored->details.callback, source.Text(0, CALLBACK_SIZE - 1).c_str());
    Check(SaveSettings(stored->table, stored->details, files.input.c_str()), "save failed");

    const auto loaded = LoadFrom(files.input);
    Check(Contacts(loaded->table) == expected, "stored contacts did not read back");
    Check(std::strcmp(stored->details.sender, loaded->details.sender) == 0 &&
              std::strcmp(stored->details.callback, loaded->details.callback) == 0,
          "stored details did not read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Files& files = TheFiles();
    std::FILE* file = std::fopen(files.input.c_str(), "wb");
    Check(file != nullptr, "cannot write the input file");
    Check(std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0, "cannot write the input file");
    CheckReadSaveRead(files.input);

    CheckStoredReadsBack(data, size);
    // Removed each time: libFuzzer ends without running exit handlers.
    std::remove(files.input.c_str());
    std::remove(files.saved.c_str());
    return 0;
}
