// Adding, removing and looking up contacts, in the exact order the book has always had.
//
// Equal names must end in exactly the order that an exchange sort over slots 0..count (swap i and j when
// name i < name j) gave them, since saved files and the list box show it. Those loops only ever met two
// tables, and for those they reduce to a few run rotations ("turns": a run of equal names moves its first
// contact to its end):
//  - add x to a sorted table: x goes behind every name not after it; each run turns once, except that a
//    run after x turns twice unless it is the last run, and the last run stays when its names equal x;
//  - remove row r of run q: the runs before q turn once; unless q is the last run, the copy of the last
//    contact moves to the head of the last run and q's first contact to just before r's place. The
//    slot behind the live ones keeps the last contact, as the loops left it.
#include "contacts/contact_table.h"

#include <cstring>

#include "common/text.h"

namespace {

// strncmp compares as unsigned bytes; the bound keeps a slot without terminator from being overread.
int CompareNames(const char* a, const char* b) { return std::strncmp(a, b, NAME_SIZE); }

// First slot in [first, last) whose name is not before `name` (`after`: whose name is after it).
int Bound(const ContactTable& table, int first, int last, const char* name, bool after) {
    while (first < last) {
        const int middle = first + (last - first) / 2;
        const int order = CompareNames(table.names[middle], name);
        if (order < 0 || (after && order == 0))
            first = middle + 1;
        else
            last = middle;
    }
    return first;
}

// Most neighbours differ in their first byte, and every add looks at neighbours all through the table.
bool SameName(const char* a, const char* b) { return a[0] == b[0] && CompareNames(a, b) == 0; }

// End of the run of names equal to slot `first`'s, within [first, last). The slots are in name order,
// so one equal name further on vouches for all before it: long runs take a few comparisons.
int RunEnd(const ContactTable& table, int first, int last) {
    const char* name = table.names[first];
    int equal = first;
    int step = 1;
    while (step < last - equal && SameName(table.names[equal + step], name)) {
        equal += step;
        step *= 2;
    }
    int end = step < last - equal ? equal + step : last;  // the first different name, or `last`
    while (end - equal > 1) {
        const int middle = equal + (end - equal) / 2;
        if (SameName(table.names[middle], name))
            equal = middle;
        else
            end = middle;
    }
    return end;
}

void CopySlot(ContactTable& table, int target, int source) {
    CopyText(table.names[target], table.names[source]);
    CopyText(table.numbers[target], table.numbers[source]);
    table.carriers[target] = table.carriers[source];
}

// Moves the contact in slot `from` to slot `to`; the slots between shift by one towards `from`.
void MoveSlot(ContactTable& table, int from, int to) {
    if (from == to) return;
    char name[NAME_SIZE];
    char number[NUMBER_SIZE];
    const int32_t carrier = table.carriers[from];
    std::memcpy(name, table.names[from], NAME_SIZE);
    std::memcpy(number, table.numbers[from], NUMBER_SIZE);
    const int low = from < to ? from : to + 1;
    const int high = from < to ? from + 1 : to;
    const int shifted = from < to ? to - from : from - to;
    std::memmove(table.names[low], table.names[high], shifted * sizeof table.names[0]);
    std::memmove(table.numbers[low], table.numbers[high], shifted * sizeof table.numbers[0]);
    std::memmove(&table.carriers[low], &table.carriers[high], shifted * sizeof table.carriers[0]);
    std::memcpy(table.names[to], name, NAME_SIZE);
    std::memcpy(table.numbers[to], number, NUMBER_SIZE);
    table.carriers[to] = carrier;
}

// Turns each run of equal names in [first, last) `turns` times: its first contact moves to its end.
void TurnRuns(ContactTable& table, int first, int last, int turns) {
    while (first < last) {
        const int end = RunEnd(table, first, last);
        for (int turn = turns % (end - first); turn > 0; --turn) MoveSlot(table, first, end - 1);
        first = end;
    }
}

}  // namespace

bool AddContact(ContactTable& table, const char* name, const char* number, int carrier) {
    if (table.count < 0 || table.count >= MAX_CONTACTS) return false;
    const int n = table.count;
    CopyText(table.names[n], name);
    CopyText(table.numbers[n], number);
    table.carriers[n] = carrier;
    const int at = Bound(table, 0, n, table.names[n], true);
    MoveSlot(table, n, at);
    ++table.count;
    const bool lastRunEqual = at == n && n > 0 && SameName(table.names[n - 1], table.names[n]);
    TurnRuns(table, 0, lastRunEqual ? Bound(table, 0, n, table.names[n], false) : at, 1);
    if (at < n) {
        const int lastRun = Bound(table, at + 1, n + 1, table.names[n], false);
        TurnRuns(table, at + 1, lastRun, 2);
        TurnRuns(table, lastRun, n + 1, 1);
    }
    return true;
}

void RemoveContact(ContactTable& table, int row) {
    if (row < 0 || row >= table.count || table.count > MAX_CONTACTS) return;
    const int last = table.count - 1;
    const int rowRun = Bound(table, 0, table.count, table.names[row], false);
    const int lastRun = Bound(table, 0, table.count, table.names[last], false);
    if (row != last) CopySlot(table, row, last);  // the vacated slot keeps its own copy
    --table.count;
    if (rowRun != lastRun) {
        MoveSlot(table, row, lastRun - 1);
        if (row > rowRun) MoveSlot(table, rowRun, row - 1);
    }
    TurnRuns(table, 0, rowRun, 1);
}

ContactEntry GetContact(const ContactTable& table, int row) {
    if (row < 0 || row >= table.count || row >= MAX_CONTACTS) return {"", -1};
    return {table.numbers[row], table.carriers[row]};
}

namespace {

// The same contact as slot `slot` of `other`: name, number and carrier all equal.
bool HoldsSlot(const ContactTable& table, int count, const ContactTable& other, int slot) {
    for (int i = 0; i < count && i < MAX_CONTACTS; ++i)
        if (CompareNames(table.names[i], other.names[slot]) == 0 &&
            std::strncmp(table.numbers[i], other.numbers[slot], NUMBER_SIZE) == 0 &&
            table.carriers[i] == other.carriers[slot])
            return true;
    return false;
}

bool Lacks(const ContactTable& book, const ContactTable& other, int slot) {
    return !HoldsSlot(book, book.count, other, slot) && !HoldsSlot(other, slot, other, slot);
}

}  // namespace

int CountMissingContacts(const ContactTable& book, const ContactTable& other) {
    int missing = 0;
    for (int slot = 0; slot < other.count && slot < MAX_CONTACTS; ++slot)
        if (Lacks(book, other, slot)) ++missing;
    return missing;
}

int AddMissingContacts(ContactTable& book, const ContactTable& other) {
    int notAdded = 0;
    for (int slot = 0; slot < other.count && slot < MAX_CONTACTS; ++slot)
        if (!HoldsSlot(book, book.count, other, slot) &&
            !AddContact(book, other.names[slot], other.numbers[slot], other.carriers[slot]))
            ++notAdded;
    return notAdded;
}
