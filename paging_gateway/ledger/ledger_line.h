// One line of the ledger file: one event of one page, as text that grep, tail and a pager read.
#pragma once

#include <ctime>
#include <string>
#include <utility>
#include <vector>

// 2026-12-07T13:27:36Z 000000000001 received carrier=Sprint phone="555 1234" client=127.0.0.1 ...
// Values are bare when they hold only letters, digits and . : / _ - and quoted as the console quotes
// text otherwise, so no value can break a line or run into the next field.
// A route's events are the gateway's, not a page's: this stands where a page's id would.
constexpr char GATEWAY_EVENT_ID[] = "-";

struct LedgerEvent {
    std::time_t time = 0;
    std::string id;    // a page's, or GATEWAY_EVENT_ID
    std::string kind;  // received, attempt, sent-again, receipt, failed, expired, late, route-down, route-up
    std::vector<std::pair<std::string, std::string>> fields;

    // The value of `key`, or "" when the line has none.
    std::string Field(const std::string& key) const;
};

// The line with its line end.
std::string FormatLedgerLine(const LedgerEvent& event);

// False for a line that is not a whole event (such as one cut short by a crash).
bool ParseLedgerLine(const std::string& line, LedgerEvent& event);

// UTC, to the second: 2026-12-07T13:27:36Z.
std::string FormatUtcTime(std::time_t time);
bool ParseUtcTime(const std::string& text, std::time_t& time);

// The inverse of the console's quoting; false for text that is not one quoted value.
bool UnquoteText(const std::string& quoted, std::string& text);
