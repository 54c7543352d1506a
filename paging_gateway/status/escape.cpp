// Page text made safe for where the status pages put it: HTML, JSON strings, Prometheus label values.
#include "paging_gateway/status/escape.h"

#include <cstdio>

namespace {

// Unicode of windows-1252's bytes 0x80..0x9F (0 for the five it leaves undefined); the rest are Latin-1.
const unsigned short CP1252_HIGH[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                        0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

}  // namespace

std::string HtmlEscaped(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '"': escaped += "&quot;"; break;
            case '\'': escaped += "&#39;"; break;
            default: escaped += IsControl(static_cast<unsigned char>(c)) ? '?' : c;
        }
    }
    return escaped;
}

std::string JsonEscaped(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size() + 8);
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            escaped += '\\';
            escaped += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            escaped += c;
        } else {
            unsigned code = byte;
            if (byte >= 0x80 && byte <= 0x9F) code = CP1252_HIGH[byte - 0x80] != 0 ? CP1252_HIGH[byte - 0x80] : 0xFFFD;
            char unit[8];
            std::snprintf(unit, sizeof unit, "\\u%04x", code);
            escaped += unit;
        }
    }
    return escaped;
}

std::string LabelEscaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F) {
            escaped += c;  // routes are ASCII; anything else could break the format's UTF-8
        }
    }
    return escaped;
}
