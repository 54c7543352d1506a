// The program's single-byte text, windows-1252, as Unicode.
#pragma once

#include <string>

// Windows' own mapping: 0x80-0x9F as its table has them, the five it leaves unassigned (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) to the C1 controls of the same value; every other byte is Latin-1.
inline unsigned UnicodeOfCp1252(unsigned char byte) {
    static const unsigned short HIGH[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                            0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    return byte >= 0x80 && byte < 0xA0 ? HIGH[byte - 0x80] : byte;
}

// A network's text as the program's windows-1252: valid UTF-8 (what an XML reply always is, and what some
// servers send) turned back into windows-1252, '?' for what it lacks; any other bytes are windows-1252 already.
inline std::string Cp1252Text(const std::string& text) {
    std::string out;
    bool multibyte = false;
    for (size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        const size_t length =
            lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || at + length > text.size()) return text;
        unsigned code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t i = 1; i < length; ++i) {
            const unsigned char next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80) return text;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms are not UTF-8 a writer makes: the bytes are windows-1252 after all.
        if ((length == 2 && code < 0x80) || (length == 3 && code < 0x800) || (length == 4 && code < 0x10000))
            return text;
        multibyte = multibyte || length > 1;
        char byte = '?';
        if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
            byte = static_cast<char>(code);
        } else {
            for (unsigned candidate = 0x80; candidate < 0xA0; ++candidate)
                if (UnicodeOfCp1252(static_cast<unsigned char>(candidate)) == code) byte = static_cast<char>(candidate);
        }
        out += byte;
        at += length;
    }
    return multibyte ? out : text;
}
