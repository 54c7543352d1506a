// Adding, removing, looking up and sorting contacts.
#include "contacts/contact_table.h"

#include <cstring>

#include "common/text.h"

namespace {

// strncmp compares as unsigned bytes; the bound keeps a slot without terminator from being overread.
bool NameBefore(const char* a, const char* b) { return std::strncmp(a, b, NAME_SIZE) < 0; }

void CopySlot(ContactTable& table, int target, int source) {
    CopyText(table.names[target], table.names[source]);
    CopyText(table.numbers[target], table.numbers[source]);
    table.carriers[target] = table.carriers[source];
}

}  // namespace

bool AddContact(ContactTable& table, const char* name, const char* number, int carrier) {
    if (table.count < 0 || table.count >= MAX_CONTACTS) return false;
    const int slot = table.count;
    CopyText(table.names[slot], name);
    CopyText(table.numbers[slot], number);
    table.carriers[slot] = carrier;
    SortContacts(table);  // covers slot `count`, so the new contact takes part before it is counted
    ++table.count;
    return true;
}

void RemoveContact(ContactTable& table, int row) {
    if (row < 0 || row >= table.count || table.count > MAX_CONTACTS) return;
    const int last = table.count - 1;
    if (row != last) CopySlot(table, row, last);
    --table.count;
    SortContacts(table);  // takes in the vacated slot with its copy, which holds a greatest name
}

ContactEntry GetContact(const ContactTable& table, int row) {
    if (row < 0 || row >= table.count || row >= MAX_CONTACTS) return {"", -1};
    return {table.numbers[row], table.carriers[row]};
}

void SortContacts(ContactTable& table) {
    const int n = table.count;
    if (n < 0) return;
    // Slot `count` exists only below capacity; the add and remove paths never call with a full count.
    const int last = n < MAX_CONTACTS ? n : MAX_CONTACTS - 1;
    for (int i = 0; i <= last; ++i) {
        for (int j = 0; j <= last; ++j) {
            if (!NameBefore(table.names[i], table.names[j])) continue;
            char name[NAME_SIZE];
            char number[NUMBER_SIZE];
            CopyText(name, table.names[i]);
            CopyText(number, table.numbers[i]);
            const int32_t carrier = table.carriers[i];
            CopySlot(table, i, j);
            CopyText(table.names[j], name);
            CopyText(table.numbers[j], number);
            table.carriers[j] = carrier;
        }
    }
}
