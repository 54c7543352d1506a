// The sender's own name and callback number, kept in the settings file.
#pragma once

#include <cstddef>

constexpr int SENDER_SIZE = 20;
constexpr int CALLBACK_SIZE = 11;

struct UserDetails {
    char sender[SENDER_SIZE];
    char callback[CALLBACK_SIZE];
};

// The details line separates its fields with ':' and ends at a line break, so neither may be in a field;
// other control characters go too, since no edit shows them.
constexpr bool FitsDetailsLine(char c) { return c != ':' && static_cast<unsigned char>(c) >= ' '; }

// Copies the first line of `source` (at most `count` bytes of it) into `target` (`size` bytes) without the
// characters that do not fit the details line, cut to `size` - 1 characters. False when a character was
// left out for not fitting.
bool CopyDetailsText(char* target, size_t size, const char* source, size_t count = static_cast<size_t>(-1));
