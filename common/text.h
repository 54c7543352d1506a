// Bounded copying of NUL-terminated text between fixed-size buffers, and names compared as a user types them.
#pragma once

#include <cstddef>
#include <string_view>

// Copies at most `count` bytes of `source` (stopping at its NUL) into `target`, cut to
// `size` - 1 characters and always terminated. Returns the number of characters stored.
// Every copy of text in the program goes through here.
size_t CopyText(char* target, size_t size, const char* source, size_t count = static_cast<size_t>(-1));

// Appends `source` behind the text already in `target`, within the same bound.
size_t AppendText(char* target, size_t size, const char* source);

// Appends `value` in decimal, within the same bound; the program's only number formatting.
size_t AppendNumber(char* target, size_t size, unsigned long value);

// True when `a` and `b` differ at most in the case of their ASCII letters.
bool SameIgnoringCase(std::string_view a, std::string_view b);

template <size_t N>
size_t CopyText(char (&target)[N], const char* source, size_t count = static_cast<size_t>(-1)) {
    return CopyText(target, N, source, count);
}

template <size_t N>
size_t AppendText(char (&target)[N], const char* source) {
    return AppendText(target, N, source);
}

template <size_t N>
size_t AppendNumber(char (&target)[N], unsigned long value) {
    return AppendNumber(target, N, value);
}
