// Bounded copying of NUL-terminated text between fixed-size buffers, and names compared as a user types them.
#include "common/text.h"

#include <cstring>

size_t CopyText(char* target, size_t size, const char* source, size_t count) {
    if (size == 0) return 0;
    size_t n = 0;
    while (n + 1 < size && n < count && source[n] != '\0') {
        target[n] = source[n];
        ++n;
    }
    target[n] = '\0';
    return n;
}

size_t AppendText(char* target, size_t size, const char* source) {
    const size_t used = strnlen(target, size);
    if (used >= size) return used;  // not terminated within bounds: leave it alone
    return used + CopyText(target + used, size - used, source);
}

size_t AppendNumber(char* target, size_t size, unsigned long value) {
    char digits[24];
    size_t at = sizeof digits;
    digits[--at] = '\0';
    do {
        digits[--at] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return AppendText(target, size, digits + at);
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char c = a[i], d = b[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (d >= 'A' && d <= 'Z') d = static_cast<char>(d - 'A' + 'a');
        if (c != d) return false;
    }
    return true;
}
