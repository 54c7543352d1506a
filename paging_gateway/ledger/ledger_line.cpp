// One line of the ledger file: one event of one page, as text that grep, tail and a pager read.
#include "paging_gateway/ledger/ledger_line.h"

#include <cstdio>

#include "paging_gateway/intake/page.h"

namespace {

bool IsBareByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == ':' ||
           c == '/' || c == '_' || c == '-';
}

bool IsBare(const std::string& value) {
    if (value.empty()) return false;
    for (char c : value)
        if (!IsBareByte(c)) return false;
    return true;
}

bool IsKey(const std::string& key) {
    if (key.empty()) return false;
    for (char c : key)
        if (!((c >= 'a' && c <= 'z') || c == '_')) return false;
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and back.
long long DaysFromCivil(long long year, unsigned month, unsigned day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

void CivilFromDays(long long days, long long& year, unsigned& month, unsigned& day) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    month = shifted < 10 ? shifted + 3 : shifted - 9;
    year = static_cast<long long>(yearOfEra) + era * 400 + (month <= 2);
}

// Reads `count` digits at `at` into `value`.
bool ReadDigits(const std::string& text, size_t at, size_t count, unsigned& value) {
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

}  // namespace

std::string LedgerEvent::Field(const std::string& key) const {
    for (const auto& field : fields)
        if (field.first == key) return field.second;
    return std::string();
}

std::string FormatUtcTime(std::time_t time) {
    const long long seconds = static_cast<long long>(time);
    const long long days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const long long inDay = seconds - days * 86400;
    long long year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    char text[96];  // room for any year the arithmetic can give
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", year, month, day, inDay / 3600,
                  inDay / 60 % 60, inDay % 60);
    return text;
}

bool ParseUtcTime(const std::string& text, std::time_t& time) {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return false;
    if (!ReadDigits(text, 0, 4, year) || !ReadDigits(text, 5, 2, month) || !ReadDigits(text, 8, 2, day) ||
        !ReadDigits(text, 11, 2, hour) || !ReadDigits(text, 14, 2, minute) || !ReadDigits(text, 17, 2, second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return false;
    time = static_cast<std::time_t>(DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second);
    return true;
}

bool UnquoteText(const std::string& quoted, std::string& text) {
    if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') return false;
    text.clear();
    for (size_t at = 1; at + 1 < quoted.size(); ++at) {
        const char c = quoted[at];
        if (c == '"') return false;
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++at + 1 >= quoted.size()) return false;
        switch (quoted[at]) {
            case '"': text += '"'; break;
            case '\\': text += '\\'; break;
            case 'r': text += '\r'; break;
            case 'n': text += '\n'; break;
            case 't': text += '\t'; break;
            case 'x': {
                if (at + 3 >= quoted.size()) return false;
                const int high = HexValue(quoted[at + 1]), low = HexValue(quoted[at + 2]);
                if (high < 0 || low < 0) return false;
                text += static_cast<char>(high * 16 + low);
                at += 2;
                break;
            }
            default: return false;
        }
    }
    return true;
}

std::string FormatLedgerLine(const LedgerEvent& event) {
    std::string line = FormatUtcTime(event.time) + " " + event.id + " " + event.kind;
    for (const auto& field : event.fields) {
        line += ' ';
        line += field.first;
        line += '=';
        line += IsBare(field.second) ? field.second : QuoteText(field.second);
    }
    return line + "\n";
}

bool ParseLedgerLine(const std::string& line, LedgerEvent& event) {
    event = LedgerEvent{};
    const size_t first = line.find(' ');
    const size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second == std::string::npos || !ParseUtcTime(line.substr(0, first), event.time)) return false;
    event.id = line.substr(first + 1, second - first - 1);
    // "-": a line of no page (a route's).
    if (event.id.empty() || (event.id != "-" && event.id.find_first_not_of("0123456789") != std::string::npos))
        return false;
    size_t at = line.find(' ', second + 1);
    event.kind = line.substr(second + 1, at == std::string::npos ? std::string::npos : at - second - 1);
    if (event.kind.empty()) return false;
    while (at != std::string::npos) {
        ++at;  // the blank before the field
        const size_t equals = line.find('=', at);
        if (equals == std::string::npos) return false;
        const std::string key = line.substr(at, equals - at);
        if (!IsKey(key)) return false;
        std::string value;
        size_t end = equals + 1;
        if (end < line.size() && line[end] == '"') {
            // The closing quote is the first one no backslash escapes.
            for (++end; end < line.size() && line[end] != '"'; ++end)
                if (line[end] == '\\') ++end;
            if (end >= line.size()) return false;
            ++end;
            if (!UnquoteText(line.substr(equals + 1, end - equals - 1), value)) return false;
        } else {
            end = line.find(' ', equals + 1);
            if (end == std::string::npos) end = line.size();
            value = line.substr(equals + 1, end - equals - 1);
            if (!IsBare(value)) return false;
        }
        event.fields.emplace_back(key, value);
        if (end == line.size()) break;
        if (line[end] != ' ') return false;
        at = end;
    }
    return true;
}
