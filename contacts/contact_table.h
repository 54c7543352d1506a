// The contact book in memory: parallel arrays of name, number and carrier, kept in name order.
#pragma once

#include <cstdint>

constexpr int MAX_CONTACTS = 500;
constexpr int NAME_SIZE = 35;
constexpr int NUMBER_SIZE = 11;

struct ContactTable {
    int32_t count;  // live slots are 0..count-1; the slots behind keep whatever they last held
    int32_t carriers[MAX_CONTACTS];
    char names[MAX_CONTACTS][NAME_SIZE];
    char numbers[MAX_CONTACTS][NUMBER_SIZE];
};

struct ContactEntry {
    const char* number;
    int carrier;
};

// The table must be in name order, as these operations leave it; equal names keep the book's own order.

// Stores the contact (texts cut to their slots) in name order; false and nothing stored when the table is full.
bool AddContact(ContactTable& table, const char* name, const char* number, int carrier);

// Takes out the contact in `row`; the slot behind the live ones keeps a copy of the last contact.
// A row outside 0..count-1 does nothing.
void RemoveContact(ContactTable& table, int row);

// The number and carrier of a live row; an empty number and carrier -1 outside 0..count-1.
ContactEntry GetContact(const ContactTable& table, int row);

// Contacts of `other` that `book` lacks, each counted once: only exact duplicates (name, number and carrier)
// are the same contact.
int CountMissingContacts(const ContactTable& book, const ContactTable& other);

// Adds those contacts to the book; returns how many of them the full table could not take.
int AddMissingContacts(ContactTable& book, const ContactTable& other);
