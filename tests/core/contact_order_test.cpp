// Differential test: every add and remove against the original exchange sort, slot for slot.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "contacts/contact_table.h"
#include "reference_sort.h"

namespace {

std::string Describe(const ContactTable& table, int slot) {
    static const char hex[] = "0123456789abcdef";
    std::string text = "\"";
    for (const char* c = table.names[slot]; *c; ++c) {
        const unsigned byte = static_cast<unsigned char>(*c);
        text += byte < 0x80 ? std::string(1, *c) : std::string{'\\', 'x', hex[byte >> 4], hex[byte & 15]};
    }
    return text + "\"/" + table.numbers[slot] + "/" + std::to_string(table.carriers[slot]);
}

// The program's table and the reference table, changed alike and compared after every change.
class Books {
public:
    ::testing::AssertionResult Add(const std::string& name, int carrier = 0) {
        const std::string number = std::to_string(++added_);
        const bool stored = AddContact(*fast_, name.c_str(), number.c_str(), carrier);
        if (stored != reference::Add(*literal_, name.c_str(), number.c_str(), carrier))
            return ::testing::AssertionFailure() << "add " << name << ": stored " << stored << " differs";
        return Same("add " + number);
    }

    ::testing::AssertionResult Remove(int row) {
        RemoveContact(*fast_, row);
        reference::Remove(*literal_, row);
        return Same("remove row " + std::to_string(row));
    }

    int Count() const { return literal_->count; }
    const ContactTable& Fast() const { return *fast_; }
    void StartFrom(const ContactTable& table) { *fast_ = *literal_ = table; }
    long Operations() const { return operations_; }

private:
    // Live slots, and the free one behind them: the loops leave it holding a copy of the last contact.
    ::testing::AssertionResult Same(const std::string& operation) {
        ++operations_;
        if (fast_->count != literal_->count)
            return ::testing::AssertionFailure() << operation << ": count " << fast_->count << " not "
                                                 << literal_->count;
        const int slots = literal_->count < MAX_CONTACTS ? literal_->count + 1 : MAX_CONTACTS;
        for (int slot = 0; slot < slots; ++slot) {
            if (std::strcmp(fast_->names[slot], literal_->names[slot]) != 0 ||
                std::strcmp(fast_->numbers[slot], literal_->numbers[slot]) != 0 ||
                fast_->carriers[slot] != literal_->carriers[slot])
                return ::testing::AssertionFailure() << operation << " (count " << literal_->count << "): slot "
                                                     << slot << " holds " << Describe(*fast_, slot) << " not "
                                                     << Describe(*literal_, slot);
        }
        return ::testing::AssertionSuccess();
    }

    std::unique_ptr<ContactTable> fast_ = std::make_unique<ContactTable>();
    std::unique_ptr<ContactTable> literal_ = std::make_unique<ContactTable>();
    int added_ = 0;
    long operations_ = 0;
};

// Names over a few letters of one sequence's choosing: equal names, prefixes, both cases and high bytes
// are the rule. Now and then a name longer than a slot, cut to the same 34 characters as its likes.
std::string RandomName(std::mt19937& random, int letters, int longest) {
    static const char alphabet[] = {'a', 'A', '\xE9', 'b'};
    if (random() % 16 == 0) return std::string(33 + random() % 4, 'a');
    std::string name(random() % (longest + 1), ' ');
    for (char& c : name) c = alphabet[random() % letters];
    return name;
}

// A live row, and now and then one just outside the table.
int RandomRow(std::mt19937& random, int count) {
    if (count == 0 || random() % 64 == 0) return random() % 2 ? -1 : count;
    return static_cast<int>(random() % count);
}

}  // namespace

TEST(ContactOrder, RandomAddsAndRemovesMatchTheExchangeSort) {
    // The reference costs (count+1)^2 comparisons an operation, so most sequences stay small.
    static const int sizes[] = {2, 4, 7, 11, 16, 24, 40};
    std::mt19937 random(9);
    Books books;
    for (int sequence = 0; sequence < 1500; ++sequence) {
        books.StartFrom(ContactTable{});
        const int size = sizes[random() % 7];
        const int letters = 1 + random() % 4;
        const int longest = 1 + random() % 3;
        for (int step = 0; step < 200; ++step) {
            const bool grow = books.Count() < size ? random() % 3 != 0 : random() % 3 == 0;
            if (grow) {
                ASSERT_TRUE(books.Add(RandomName(random, letters, longest), static_cast<int>(random() % 9) - 1))
                    << "sequence " << sequence;
            } else {
                ASSERT_TRUE(books.Remove(RandomRow(random, books.Count()))) << "sequence " << sequence;
            }
        }
    }
    std::printf("%ld operations compared\n", books.Operations());
}

TEST(ContactOrder, BoundariesMatchTheExchangeSort) {
    Books books;
    EXPECT_TRUE(books.Remove(0)) << "empty table";
    EXPECT_TRUE(books.Add("Solo"));
    EXPECT_TRUE(books.Remove(0)) << "only contact";
    EXPECT_TRUE(books.Add("Al"));

    books.StartFrom(ContactTable{});
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(books.Add("Same"));
    for (int row : {0, 20, 37, 0, 18, 35}) ASSERT_TRUE(books.Remove(row)) << "all names equal";
    for (const char* name : {"Same", "Samd", "Samf", "Same"}) ASSERT_TRUE(books.Add(name));

    // Filling the table through the reference alone would cost a second, so both start from the program's.
    ContactTable full{};
    for (int i = 0; i < MAX_CONTACTS - 3; ++i) AddContact(full, (i % 3 ? "Bo" : i % 2 ? "Al" : "Cy"), "1", i % 6);
    books.StartFrom(full);
    for (const char* name : {"Bo", "Zed", "Al"}) ASSERT_TRUE(books.Add(name)) << "up to the last slot";
    ASSERT_EQ(books.Count(), MAX_CONTACTS);
    const ContactTable before = books.Fast();
    EXPECT_TRUE(books.Add("A first name")) << "a full table takes no more";
    EXPECT_EQ(std::memcmp(&before, &books.Fast(), sizeof before), 0);
    for (int row : {0, MAX_CONTACTS / 2, MAX_CONTACTS - 1}) {
        ASSERT_TRUE(books.Remove(row)) << "first, middle and last rows of a full table";
        ASSERT_TRUE(books.Add("Bo"));
    }
}
