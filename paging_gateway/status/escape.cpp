// Page text made safe for where the status pages put it: HTML, JSON strings, Prometheus label values.
#include "paging_gateway/status/escape.h"

#include "paging_gateway/platform/cp1252.h"

namespace {

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
    escaped.reserve(text.size() + 16);
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            escaped += '\\';
            escaped += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            escaped += c;
        } else {
            unsigned code = UnicodeOfCp1252(byte);
            if (code >= 0x80 && code <= 0x9F) code = 0xFFFD;  // a byte windows-1252 leaves unassigned
            static const char HEX[] = "0123456789abcdef";
            const char unit[] = {'\\',           'u',
                                 HEX[code >> 12 & 15], HEX[code >> 8 & 15],
                                 HEX[code >> 4 & 15],  HEX[code & 15]};
            escaped.append(unit, sizeof unit);
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
