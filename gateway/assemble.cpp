// Builds the HTTP/1.0 request text from the record's fields; touches no socket.
#include "gateway/assemble.h"

#include <cstring>

#include "common/text.h"

namespace {

// Phone number, message, then the sender and callback parts, each left out when empty.
void AppendFields(char* text, size_t size, const GatewayRequest& request) {
    char encodedPhone[EncodedLength(MAX_PHONE_CHARS) + 1];
    EncodeEveryByte(request.phoneNumber, encodedPhone, sizeof encodedPhone);
    AppendText(text, size, encodedPhone);
    AppendText(text, size, request.messagePrefix);
    AppendText(text, size, request.encodedMessage);
    if (request.encodedSender[0] != '\0') {
        AppendText(text, size, request.senderPrefix);
        AppendText(text, size, request.encodedSender);
    }
    if (request.encodedCallback[0] != '\0') {
        AppendText(text, size, request.callbackPrefix);
        AppendText(text, size, request.encodedCallback);
    }
}

}  // namespace

void AssembleRequest(GatewayRequest& request) {
    CopyText(request.requestText, request.method);
    AppendText(request.requestText, request.path);
    if (!IsPostMethod(request.method)) {
        AppendFields(request.requestText, sizeof request.requestText, request);
        AppendText(request.requestText, GET_REQUEST_END);
        return;
    }
    char body[BODY_TEXT_SIZE];
    CopyText(body, request.bodyPrefix);
    AppendFields(body, sizeof body, request);
    char contentLength[32];
    CopyText(contentLength, CONTENT_LENGTH_NAME);
    AppendNumber(contentLength, strlen(body));
    AppendText(contentLength, "\r\n");
    AppendText(request.requestText, HTTP_VERSION_LINE);
    AppendText(request.requestText, FORM_CONTENT_TYPE);
    AppendText(request.requestText, contentLength);
    AppendText(request.requestText, "\r\n");
    AppendText(request.requestText, body);
    AppendText(request.requestText, "\r\n\r\n");
}
