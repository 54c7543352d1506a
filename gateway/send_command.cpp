// What "Send Message" does between reading the main window's fields and showing the outcome.
#include "gateway/send_command.h"

#include <cstring>

#include "common/text.h"

namespace {

int ReadLength(const char* text, int readSize) {
    return static_cast<int>(strnlen(text, static_cast<size_t>(readSize - 1)));
}

SendOutcome Box(const char* text, const char* title, bool clearMessage = false) {
    SendOutcome outcome{};
    CopyText(outcome.text, text);
    outcome.title = title;
    outcome.clearMessage = clearMessage;
    return outcome;
}

}  // namespace

int CountedLength(const char* message, const char* sender, const char* callback) {
    return ReadLength(message, FIELD_READ_SIZE) + ReadLength(sender, FIELD_READ_SIZE) +
           ReadLength(callback, FIELD_READ_SIZE);
}

SendOutcome RunSendCommand(GatewayRequest& request, UserDetails& details, const SendFields& fields,
                           DeliverFunction deliver) {
    const int counted = CountedLength(fields.message, fields.sender, fields.callback);

    char message[FIELD_READ_SIZE];
    char phone[PHONE_READ_SIZE];
    if (CopyText(message, fields.message) == 0) return Box(REQUIRED_FIELDS_TEXT, TITLE_ERROR);
    if (CopyText(phone, fields.phone) == 0) return Box(REQUIRED_FIELDS_TEXT, TITLE_ERROR);

    // Stored before the carrier check: a refusal from here on has already kept them.
    CopyText(details.sender, fields.sender);
    EncodeSender(request, details.sender);
    CopyText(details.callback, fields.callback);
    EncodeCallback(request, details.callback);

    const Carrier* carrier = CarrierAt(fields.carrierPosition);
    if (carrier == nullptr) return Box(NO_CARRIER_TEXT, TITLE_NO_CARRIER);
    ApplyGatewayProfile(request, carrier->carrierCode);

    if (counted > carrier->maxMessageLength) {
        SendOutcome outcome = Box("Maximum message length for ", TITLE_ERROR);
        AppendText(outcome.text, carrier->displayName);
        AppendText(outcome.text, " is ");
        AppendNumber(outcome.text, static_cast<unsigned long>(carrier->maxMessageLength));
        return outcome;
    }

    EncodeMessage(request, message);
    SetPhoneNumber(request, phone);
    // After a failure the user sends the same message again, so it stays.
    const char* status = deliver(request);
    return Box(status, TITLE_STATUS, std::strcmp(status, STATUS_SENT) == 0);
}
