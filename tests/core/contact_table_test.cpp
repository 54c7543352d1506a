// Contact table: name order, the exchange sort's order for equal names, removal and capacity.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_table.h"
#include "contact_rows.h"
#include "common/text.h"

using contact_rows::Names;
using contact_rows::Rows;

namespace {

// Tables are large; the program keeps one static instance, the tests one zero-filled heap copy each.
std::unique_ptr<ContactTable> EmptyTable() { return std::make_unique<ContactTable>(); }

struct Slot {
    const char* name;
    const char* number;
    int carrier;
};

// Lays slots out as given, without sorting, to start from an exact order.
void Place(ContactTable& table, std::initializer_list<Slot> slots) {
    table.count = 0;
    for (const Slot& slot : slots) {
        CopyText(table.names[table.count], slot.name);
        CopyText(table.numbers[table.count], slot.number);
        table.carriers[table.count++] = slot.carrier;
    }
}

}  // namespace

TEST(ContactTable, NamesInUnsignedByteOrder) {
    auto table = EmptyTable();
    for (const char* name : {"bob", "Carl", "adam", "Zed", "Anna", "Ann", "\xE9mile", "~tilde"})
        ASSERT_TRUE(AddContact(*table, name, "5550000000", 0));
    EXPECT_EQ(Names(*table),
              (std::vector<std::string>{"Ann", "Anna", "Carl", "Zed", "adam", "bob", "~tilde", "\xE9mile"}));
}

TEST(ContactTable, AddFirstContactAndCutOverlongTexts) {
    auto table = EmptyTable();
    ASSERT_TRUE(AddContact(*table, std::string(40, 'n').c_str(), "123456789012345", 3));
    EXPECT_EQ(table->count, 1);
    EXPECT_EQ(std::string(table->names[0]), std::string(34, 'n'));
    EXPECT_STREQ(GetContact(*table, 0).number, "1234567890");
    EXPECT_EQ(GetContact(*table, 0).carrier, 3);
    EXPECT_EQ(GetContact(*table, 1).carrier, -1);
    EXPECT_EQ(GetContact(*table, -1).carrier, -1);
}

TEST(ContactTable, EqualNamesReorderedAsTheExchangeSortLeavesThem) {
    auto table = EmptyTable();
    Place(*table, {{"Amy", "1", 0}, {"Bo", "first", 1}, {"Bo", "second", 2}, {"Cy", "4", 3}});
    ASSERT_TRUE(AddContact(*table, "Bo", "new", 5));
    EXPECT_EQ(Rows(*table), (std::vector<std::string>{"Amy/1/0", "Bo/second/2", "Bo/first/1", "Bo/new/5", "Cy/4/3"}));
}

TEST(ContactTable, RemoveAnyRowKeepsTheOthersWithTheirOwnNumbersAndCarriers) {
    const std::initializer_list<Slot> start = {
        {"Amy", "1", 0}, {"Bo", "2", 1}, {"Bo", "3", 2}, {"Cy", "4", 3}, {"Di", "5", 4}, {"Di", "6", 5}};
    for (int removed = 0; removed < static_cast<int>(start.size()); ++removed) {
        auto table = EmptyTable();
        Place(*table, start);
        std::vector<std::string> names = Names(*table), rows = Rows(*table);
        names.erase(names.begin() + removed);
        rows.erase(rows.begin() + removed);
        std::sort(rows.begin(), rows.end());
        RemoveContact(*table, removed);
        // The list box deletes only the removed row, so the names must line up slot for slot.
        EXPECT_EQ(Names(*table), names) << "removed row " << removed;
        std::vector<std::string> after = Rows(*table);
        std::sort(after.begin(), after.end());
        EXPECT_EQ(after, rows) << "removed row " << removed;
        EXPECT_STREQ(table->names[5], "Di") << "the vacated slot keeps a copy of a greatest name";
    }
}

TEST(ContactTable, RemoveOnlyContactLeavesItsSlotUntilOverwritten) {
    auto table = EmptyTable();
    AddContact(*table, "Solo", "5551234567", 4);
    RemoveContact(*table, 0);
    EXPECT_EQ(table->count, 0);
    EXPECT_STREQ(table->names[0], "Solo");
    AddContact(*table, "Al", "12", 1);
    EXPECT_EQ(Rows(*table), std::vector<std::string>{"Al/12/1"});
    EXPECT_EQ(std::memcmp(table->names[0], "Al\0o", 5), 0) << "only the new text and its terminator are written";
    RemoveContact(*table, 1);  // not a live row: nothing happens
    EXPECT_EQ(table->count, 1);
}

TEST(ContactTable, FullTableStoresNothingMore) {
    auto table = EmptyTable();
    for (int i = MAX_CONTACTS - 1; i >= 0; --i) {
        const std::string name = "Contact " + std::to_string(1000 + i);
        ASSERT_TRUE(AddContact(*table, name.c_str(), std::to_string(i).c_str(), i % 6));
    }
    ASSERT_EQ(table->count, MAX_CONTACTS);
    EXPECT_STREQ(table->names[0], "Contact 1000");
    EXPECT_STREQ(table->names[MAX_CONTACTS - 1], "Contact 1499");
    EXPECT_EQ(GetContact(*table, MAX_CONTACTS - 1).carrier, 499 % 6);
    const auto before = std::make_unique<ContactTable>(*table);
    EXPECT_FALSE(AddContact(*table, "A first name", "1", 0));
    EXPECT_EQ(std::memcmp(before.get(), table.get(), sizeof(ContactTable)), 0);
    RemoveContact(*table, 0);
    EXPECT_EQ(table->count, MAX_CONTACTS - 1);
    EXPECT_STREQ(table->names[0], "Contact 1001");
    EXPECT_TRUE(AddContact(*table, "A first name", "1", 0));
    EXPECT_STREQ(table->names[0], "A first name");
    EXPECT_EQ(table->count, MAX_CONTACTS);
}

// Only an exact duplicate (name, number and carrier) counts as a contact the book has already.
TEST(ContactTable, MissingContactsAreCountedOnceAndAddedWhileThereIsRoom) {
    auto book = EmptyTable();
    auto other = EmptyTable();
    Place(*book, {{"Al", "1", 2}, {"Bo", "2", 3}});
    Place(*other, {{"Al", "1", 2}, {"Al", "1", 5}, {"Bo", "22", 3}, {"Cy", "3", 0}, {"Cy", "3", 0}});
    EXPECT_EQ(CountMissingContacts(*book, *other), 3);
    EXPECT_EQ(AddMissingContacts(*book, *other), 0);
    std::vector<std::string> rows = Rows(*book);
    std::sort(rows.begin(), rows.end());  // equal names keep the book's own order
    EXPECT_EQ(rows, (std::vector<std::string>{"Al/1/2", "Al/1/5", "Bo/2/3", "Bo/22/3", "Cy/3/0"}));
    EXPECT_EQ(CountMissingContacts(*book, *other), 0);
    book->count = MAX_CONTACTS - 1;
    Place(*other, {{"Dee", "4", 1}, {"Eve", "5", 1}});
    EXPECT_EQ(AddMissingContacts(*book, *other), 1) << "the table's last slot takes one of the two";
}
