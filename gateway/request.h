// The one outgoing-request record, and the operations that fill its user fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gateway/carriers.h"
#include "gateway/net.h"

// Longest user texts the send command can pass (its read buffers minus the terminator).
constexpr size_t MAX_MESSAGE_CHARS = 199;
constexpr size_t MAX_PHONE_CHARS = 14;
constexpr size_t MAX_SENDER_CHARS = 19;
constexpr size_t MAX_CALLBACK_CHARS = 10;

// Percent-encoding turns one byte into at most three characters.
constexpr size_t EncodedLength(size_t chars) { return 3 * chars; }

constexpr size_t PROFILE_TEXT_SIZE = 50;
constexpr size_t BODY_PREFIX_SIZE = 200;
constexpr size_t PATH_SIZE = 50 + 64 + 1;  // the Ameritech path carries the form e-mail
constexpr size_t REQUEST_TEXT_SIZE = 1000;

struct GatewayRequest {
    const hostent* hostEntry;
    const protoent* protocolEntry;
    sockaddr_in serverAddress;
    int32_t portNumber;
    SocketHandle socketHandle;
    char requestText[REQUEST_TEXT_SIZE];
    char encodedMessage[EncodedLength(MAX_MESSAGE_CHARS) + 1];
    char phoneNumber[MAX_PHONE_CHARS + 1];  // as typed; encoded only when the request is assembled
    char encodedCallback[EncodedLength(MAX_CALLBACK_CHARS) + 1];
    char callbackPrefix[PROFILE_TEXT_SIZE];
    char encodedSender[EncodedLength(MAX_SENDER_CHARS) + 1];
    char senderPrefix[PROFILE_TEXT_SIZE];
    char host[PROFILE_TEXT_SIZE];
    char path[PATH_SIZE];
    char messagePrefix[PROFILE_TEXT_SIZE];
    char method[PROFILE_TEXT_SIZE];
    char bodyPrefix[BODY_PREFIX_SIZE];
    char carrierCode;
};

// Words (runs of non-blank bytes) joined by "%20"; inside a word every byte other than
// A-Z a-z 0-9 - . _ ~ becomes "%XX". Stops before an escape that would not fit.
void EncodeSpaces(const char* text, char* encoded, size_t size);

// Every byte other than A-Z a-z 0-9 - . _ ~ as "%XX", blanks included: nothing collapses.
void EncodeEveryByte(const char* text, char* encoded, size_t size);

void EncodeSender(GatewayRequest& request, const char* sender);
void EncodeCallback(GatewayRequest& request, const char* callback);
void EncodeMessage(GatewayRequest& request, const char* message);
void SetPhoneNumber(GatewayRequest& request, const char* phoneNumber);

// Replaces the profile fields with those of the carrier with this code; an unknown code changes nothing.
void ApplyGatewayProfile(GatewayRequest& request, char carrierCode);

static_assert(LongestProfileText(&GatewayProfile::method) < PROFILE_TEXT_SIZE, "method does not fit");
static_assert(LongestProfileText(&GatewayProfile::host) < PROFILE_TEXT_SIZE,
              "a MERVASTX_HOST_* value does not fit the 50-byte host field");
static_assert(LongestProfileText(&GatewayProfile::path) < PATH_SIZE,
              "MERVASTX_FORM_EMAIL does not fit the Ameritech path");
static_assert(LongestProfileText(&GatewayProfile::bodyPrefix) < BODY_PREFIX_SIZE, "body prefix does not fit");
static_assert(LongestProfileText(&GatewayProfile::messagePrefix) < PROFILE_TEXT_SIZE, "message prefix does not fit");
static_assert(LongestProfileText(&GatewayProfile::senderPrefix) < PROFILE_TEXT_SIZE, "sender prefix does not fit");
static_assert(LongestProfileText(&GatewayProfile::callbackPrefix) < PROFILE_TEXT_SIZE,
              "callback prefix does not fit");
