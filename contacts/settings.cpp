// The settings file: its line reader, contact and details lines, and the save that replaces the file whole.
#include "contacts/settings.h"

#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include "gateway/carriers.h"
#include "common/text.h"

namespace {

// Binary reads with CR LF or a bare LF taken as one '\n', so both builds cut the same pieces.
bool ReadLine(std::FILE* file, char (&line)[LINE_BUFFER_SIZE]) {
    int length = 0;
    while (length < LINE_PIECE_CHARS) {
        int c = std::getc(file);
        if (c == EOF) break;
        if (c == '\r') {
            const int next = std::getc(file);
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                std::ungetc(next, file);
        }
        line[length++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    line[length] = '\0';
    return length > 0;
}

// Tokenizer on ':' alone, as strtok: runs of ':' separate, no field is empty, the line end belongs to the last run.
char* NextField(char*& cursor) {
    while (*cursor == ':') ++cursor;
    if (*cursor == '\0') return nullptr;
    char* field = cursor;
    while (*cursor != '\0' && *cursor != ':') ++cursor;
    if (*cursor == ':') *cursor++ = '\0';
    return field;
}

int CarrierFromField(const char* field) {
    if (field[0] >= '0' && field[0] <= '3') {
        int value = 0;  // stops growing past 3, so no digit string can overflow it
        for (const char* digit = field; *digit >= '0' && *digit <= '9' && value <= 3; ++digit)
            value = value * 10 + (*digit - '0');
        return value <= 3 ? value + 2 : 0;  // a larger number names no carrier
    }
    const int index = CarrierIndexOf(field[0]);
    return index >= 0 ? index : 0;
}

// Any line with three fields is a contact, short or long; fewer fields hold no contact to store.
void ReadContactLine(ContactTable& table, ReaderBuffers& buffers) {
    char* cursor = buffers.line;
    char* name = NextField(cursor);
    char* number = name ? NextField(cursor) : nullptr;
    char* carrier = number ? NextField(cursor) : nullptr;
    if (!carrier) return;
    CopyText(buffers.carrierField, carrier);
    AddContact(table, name, number, CarrierFromField(buffers.carrierField));  // a full table takes no more
}

// A details field ends at ':' or, not closed, at the end of the line without its line end.
const char* ReadDetailsField(const char* start, char* target, size_t size) {
    const size_t length = std::strcspn(start, ":\n");
    CopyText(target, size, start, length);
    return start[length] == ':' ? start + length + 1 : start + length;
}

struct Writer {
    std::FILE* file;
    bool ok;

    void Put(const char* text, size_t size = static_cast<size_t>(-1)) {
        const size_t length = strnlen(text, size);
        ok = ok && std::fwrite(text, 1, length, file) == length;
    }
};

void WriteContents(Writer& out, const ContactTable& table, const UserDetails& details) {
    out.Put("CONTACTS\r\n");
    const int count = table.count < MAX_CONTACTS ? table.count : MAX_CONTACTS;
    for (int slot = 0; slot < count; ++slot) {
        char code = CarrierCodeOf(table.carriers[slot]);
        // No window stores a carrier outside 0..5; the reader would turn its unknown field into 0 anyway.
        if (code == '\0') code = CarrierCodeOf(0);
        const char tail[] = {':', code, ':', '\r', '\n', '\0'};
        out.Put(table.names[slot], NAME_SIZE);
        out.Put(":");
        out.Put(table.numbers[slot], NUMBER_SIZE);
        out.Put(tail);
    }
    out.Put("USER DETAILS\r\n");
    out.Put(details.sender, SENDER_SIZE);
    out.Put(":");
    out.Put(details.callback, CALLBACK_SIZE);
    out.Put(":");
}

bool MoveOver(const char* source, const char* target) {
#ifdef _WIN32
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(source, target) == 0;
#endif
}

}  // namespace

bool LoadSettings(ContactTable& table, UserDetails& details, ReaderBuffers& buffers, const char* fileName) {
    std::FILE* file = std::fopen(fileName, "rb");
    if (!file) return false;
    details = UserDetails{};
    bool marker = false;
    if (ReadLine(file, buffers.line)) {  // the header, whatever it holds
        while (!marker && ReadLine(file, buffers.line)) {
            // Equal strings: the same as comparing the 14 bytes of the marker with its NUL.
            marker = std::strcmp(buffers.line, "USER DETAILS\n") == 0;
            if (!marker) ReadContactLine(table, buffers);
        }
    }
    if (marker && ReadLine(file, buffers.line) && std::strlen(buffers.line) > 2) {
        const char* rest = ReadDetailsField(buffers.line, details.sender, SENDER_SIZE);
        ReadDetailsField(rest, details.callback, CALLBACK_SIZE);
    }
    std::fclose(file);
    return true;
}

bool SaveSettings(const ContactTable& table, const UserDetails& details, const char* fileName) {
    const std::string temporary = std::string(fileName) + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return false;  // whatever stands at that path is not ours to remove
    Writer out{file, true};
    WriteContents(out, table, details);
    const bool written = out.ok && std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (written && closed && MoveOver(temporary.c_str(), fileName)) return true;
    std::remove(temporary.c_str());
    return false;
}
