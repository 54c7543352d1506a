// The original add and remove with the literal exchange sort: the reference for tests and benchmarks.
#pragma once

#include <cstring>

#include "common/text.h"
#include "contacts/contact_table.h"

namespace reference {

// Every slot 0..count against every slot, (count+1)^2 comparisons, swapping when name i < name j.
inline void Sort(ContactTable& table) {
    const int n = table.count;
    if (n < 0) return;
    const int last = n < MAX_CONTACTS ? n : MAX_CONTACTS - 1;
    for (int i = 0; i <= last; ++i) {
        for (int j = 0; j <= last; ++j) {
            if (std::strncmp(table.names[i], table.names[j], NAME_SIZE) >= 0) continue;
            char name[NAME_SIZE];
            char number[NUMBER_SIZE];
            CopyText(name, table.names[i]);
            CopyText(number, table.numbers[i]);
            const int32_t carrier = table.carriers[i];
            CopyText(table.names[i], table.names[j]);
            CopyText(table.numbers[i], table.numbers[j]);
            table.carriers[i] = table.carriers[j];
            CopyText(table.names[j], name);
            CopyText(table.numbers[j], number);
            table.carriers[j] = carrier;
        }
    }
}

inline bool Add(ContactTable& table, const char* name, const char* number, int carrier) {
    if (table.count < 0 || table.count >= MAX_CONTACTS) return false;
    CopyText(table.names[table.count], name);
    CopyText(table.numbers[table.count], number);
    table.carriers[table.count] = carrier;
    Sort(table);
    ++table.count;
    return true;
}

inline void Remove(ContactTable& table, int row) {
    if (row < 0 || row >= table.count || table.count > MAX_CONTACTS) return;
    const int last = table.count - 1;
    CopyText(table.names[row], table.names[last]);
    CopyText(table.numbers[row], table.numbers[last]);
    table.carriers[row] = table.carriers[last];
    --table.count;
    Sort(table);
}

}  // namespace reference
