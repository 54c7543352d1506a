// Recognises a carrier's paging form by method and path, and reads the five fields of a page out of it.
#pragma once

#include <optional>
#include <string>

#include "gateway/carriers.h"
#include "paging_gateway/intake/form.h"

// One carrier's paging form as its web server reads it.
struct CarrierForm {
    char carrierCode;
    const char* method;
    const char* path;
    const char* phoneKey;
    const char* messageKey;
    const char* senderKey;    // null: the sender rides on the message after " -from "
    const char* callbackKey;  // null: the callback rides on the sender (or, without one, the message) after "-"
};

struct Page {
    const Carrier* carrier = nullptr;
    std::string phoneNumber;
    std::string message;
    std::optional<std::string> sender;  // absent when the request leaves the part out
    std::optional<std::string> callback;
};

// The most one page may bring: its message, sender and callback together, and its phone number. Far above
// the 230 characters the largest carrier takes, and small enough that no sender can swell the spool or
// the ledger with a few large requests.
constexpr size_t MAX_PAGE_TEXT_BYTES = 1000;
constexpr size_t MAX_PAGE_PHONE_BYTES = 64;

// Why the page is larger than a page may be, or "" when it is not.
std::string PageTooLarge(const Page& page);

// The form answering this method ("GET", "POST") and path (without the query), or null.
const CarrierForm* FindCarrierForm(const std::string& method, const std::string& path);

// False, naming the missing key in `problem`, when the form lacks the phone number or the message.
bool ReadPage(const CarrierForm& carrierForm, const FormFields& form, Page& page, std::string& problem);

// "message -from sender" split at the last " -from " that has text after it; false when there is none.
bool SplitJoinedSender(const std::string& joined, std::string& message, std::string& sender);

// "text-callback" split before the callback; false when the text ends in nothing that can be one.
bool SplitJoinedCallback(const std::string& joined, std::string& text, std::string& callback);

// page via Sprint: to "5551234567": "hi there" from "Bob" callback "5550001111"
// (the sender and callback parts only when present).
std::string FormatPageLine(const Page& page);

// The text in double quotes, with quote, backslash, control bytes and bytes above 0x7E escaped.
std::string QuoteText(const std::string& text);
