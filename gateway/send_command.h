// What "Send Message" does between reading the main window's fields and showing the outcome.
#pragma once

#include "contacts/user_details.h"
#include "gateway/delivery.h"
#include "gateway/request.h"

// Sizes of the window's read buffers.
constexpr int FIELD_READ_SIZE = 200;
constexpr int PHONE_READ_SIZE = 15;

constexpr const char* REQUIRED_FIELDS_TEXT = "Message and Phone # fields are required";
constexpr const char* NO_CARRIER_TEXT = "Please select a carrier";
constexpr const char* TITLE_ERROR = "Error";
constexpr const char* TITLE_NO_CARRIER = "error";
constexpr const char* TITLE_STATUS = "Message Status";

// The edits' texts as read from the window, and the carrier box's selected position (-1 for none).
struct SendFields {
    const char* message;
    const char* phone;
    const char* sender;
    const char* callback;
    int carrierPosition;
};

// The box the window shows, and whether it then empties the message and shows a count of 0 (only once sent).
struct SendOutcome {
    char text[80];
    const char* title;
    bool clearMessage;
};

// Message, sender and callback lengths, each as read into a 200-byte buffer.
int CountedLength(const char* message, const char* sender, const char* callback);

using DeliverFunction = const char* (*)(GatewayRequest& request);

// Runs the checks, stores the sender and callback into `details`, fills and delivers `request`.
// Tests pass their own `deliver` to reach a listener of their own.
SendOutcome RunSendCommand(GatewayRequest& request, UserDetails& details, const SendFields& fields,
                           DeliverFunction deliver = DeliverRequest);
