// Field encoding and the operations that fill the request record's user and profile fields.
#include "gateway/request.h"

#include "common/text.h"

namespace {

bool IsUnreserved(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
           byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

// Writes one byte, escaped when needed; false (and nothing written) when it would not fit.
bool PutEncodedByte(unsigned char byte, char* encoded, size_t size, size_t& used) {
    static const char HEX[] = "0123456789ABCDEF";
    const size_t needed = IsUnreserved(byte) ? 1 : 3;
    if (used + needed >= size) return false;
    if (needed == 1) {
        encoded[used++] = static_cast<char>(byte);
    } else {
        encoded[used++] = '%';
        encoded[used++] = HEX[byte >> 4];
        encoded[used++] = HEX[byte & 0x0F];
    }
    encoded[used] = '\0';
    return true;
}

}  // namespace

void EncodeSpaces(const char* text, char* encoded, size_t size) {
    if (size == 0) return;
    encoded[0] = '\0';
    size_t used = 0;
    bool wordsWritten = false;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(text);
    while (*at != '\0') {
        if (*at == ' ') {
            ++at;
            continue;
        }
        if (wordsWritten && !PutEncodedByte(' ', encoded, size, used)) return;
        for (; *at != '\0' && *at != ' '; ++at)
            if (!PutEncodedByte(*at, encoded, size, used)) return;
        wordsWritten = true;
    }
}

void EncodeEveryByte(const char* text, char* encoded, size_t size) {
    if (size == 0) return;
    encoded[0] = '\0';
    size_t used = 0;
    for (const unsigned char* at = reinterpret_cast<const unsigned char*>(text); *at != '\0'; ++at)
        if (!PutEncodedByte(*at, encoded, size, used)) return;
}

void EncodeSender(GatewayRequest& request, const char* sender) {
    EncodeSpaces(sender, request.encodedSender, sizeof request.encodedSender);
}

void EncodeCallback(GatewayRequest& request, const char* callback) {
    EncodeSpaces(callback, request.encodedCallback, sizeof request.encodedCallback);
}

void EncodeMessage(GatewayRequest& request, const char* message) {
    EncodeSpaces(message, request.encodedMessage, sizeof request.encodedMessage);
}

void SetPhoneNumber(GatewayRequest& request, const char* phoneNumber) {
    CopyText(request.phoneNumber, phoneNumber);
}

void ApplyGatewayProfile(GatewayRequest& request, char carrierCode) {
    const Carrier* carrier = CarrierByCode(carrierCode);
    if (carrier == nullptr) return;
    const GatewayProfile& profile = carrier->profile;
    request.carrierCode = carrierCode;
    CopyText(request.method, profile.method);
    CopyText(request.host, profile.host);
    CopyText(request.path, profile.path);
    CopyText(request.messagePrefix, profile.messagePrefix);
    CopyText(request.senderPrefix, profile.senderPrefix);
    CopyText(request.callbackPrefix, profile.callbackPrefix);
    // A GET never reads bodyPrefix, so what a POST carrier left there does no harm.
    if (IsPostMethod(profile.method)) CopyText(request.bodyPrefix, profile.bodyPrefix);
}
