// Builds the HTTP/1.0 request text from the record's fields; touches no socket.
#pragma once

#include "gateway/request.h"

constexpr const char* HTTP_VERSION_LINE = " HTTP/1.0\r\n";
constexpr const char* GET_REQUEST_END = " HTTP/1.0\r\n\r\n";  // a GET sends no header
constexpr const char* FORM_CONTENT_TYPE = "Content-type: application/x-www-form-urlencoded\r\n";
constexpr const char* CONTENT_LENGTH_NAME = "Content-Length: ";
constexpr size_t BODY_TEXT_SIZE = 1000;

// Writes the GET or POST request into request.requestText.
void AssembleRequest(GatewayRequest& request);

constexpr size_t DecimalDigits(size_t value) {
    size_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

// Longest phone, message, sender and callback parts this profile can give, every byte escaped.
constexpr size_t WorstFieldsLength(const GatewayProfile& profile) {
    return EncodedLength(MAX_PHONE_CHARS) + TextLength(profile.messagePrefix) + EncodedLength(MAX_MESSAGE_CHARS) +
           TextLength(profile.senderPrefix) + EncodedLength(MAX_SENDER_CHARS) + TextLength(profile.callbackPrefix) +
           EncodedLength(MAX_CALLBACK_CHARS);
}

constexpr size_t WorstBodyLength(const GatewayProfile& profile) {
    return TextLength(profile.bodyPrefix) + WorstFieldsLength(profile);
}

// Longest request this carrier's profile can give with the longest user texts.
constexpr size_t WorstRequestLength(const GatewayProfile& profile) {
    const size_t head = TextLength(profile.method) + TextLength(profile.path);
    if (!IsPostMethod(profile.method)) return head + WorstFieldsLength(profile) + TextLength(GET_REQUEST_END);
    const size_t body = WorstBodyLength(profile);
    return head + TextLength(HTTP_VERSION_LINE) + TextLength(FORM_CONTENT_TYPE) +
           TextLength(CONTENT_LENGTH_NAME) + DecimalDigits(body) + TextLength("\r\n") + TextLength("\r\n") + body +
           TextLength("\r\n\r\n");
}

constexpr bool EveryRequestFits() {
    for (const Carrier& carrier : CARRIER_TABLE)
        if (WorstRequestLength(carrier.profile) >= REQUEST_TEXT_SIZE ||
            WorstBodyLength(carrier.profile) >= BODY_TEXT_SIZE)
            return false;
    return true;
}

static_assert(EveryRequestFits(), "the longest request of some carrier does not fit the request text");
