// Fuzz target for the WCTP relay's reading of a network's answers: any bytes, or real answers damaged,
// through the parser and the outcome mapping; and any text escaped into an answer reads back whole.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "paging_gateway/relay/wctp_message.h"
#include "paging_gateway/relay/wctp_reply.h"

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "wctp reply fuzz: %s\n", what);
    std::abort();
}

const char* const ANSWERS[] = {
    "<?xml version=\"1.0\"?><wctp-Operation wctpVersion=\"wctp-dtd-v1r3\"><wctp-SubmitClientResponse>"
    "<wctp-ClientSuccess successCode=\"200\" successText=\"OK\" trackingNumber=\"T1\"/>"
    "</wctp-SubmitClientResponse></wctp-Operation>",
    "<wctp-Operation><wctp-Confirmation><wctp-Failure errorCode=\"403\" errorText=\"no\">why</wctp-Failure>"
    "</wctp-Confirmation></wctp-Operation>",
    "<!DOCTYPE wctp-Operation SYSTEM \"x.dtd\"><wctp-Operation><wctp-ClientQueryResponse minNextPollInterval=\"2\">"
    "<wctp-ClientResponse><wctp-ClientStatusInfo><wctp-Notification type=\"DELIVERED\"/></wctp-ClientStatusInfo>"
    "</wctp-ClientResponse></wctp-ClientQueryResponse></wctp-Operation>",
};

// A network's windows-1252 text is kept as its bytes (the ledger quotes them, the console escapes them); no
// control byte may come through.
bool OneCleanLine(const std::string& text) {
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

// Code points in UTF-8 text: the escaping must give one character for every byte it was given.
size_t Characters(const std::string& utf8) {
    size_t count = 0;
    for (char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

void CheckOutcomes(const std::string& body, int status) {
    HttpAnswer answer;
    answer.answered = true;
    answer.status = status;
    answer.body = body;
    WctpReply reply;
    std::string error;
    const bool parsed = ParseWctpReply(body, reply, error);
    const Delivery delivery = SubmitOutcome(answer);
    Check(OneCleanLine(delivery.reply) && delivery.reply.size() < 2000, "the reply breaks its line");
    Check(delivery.tracking.empty() || delivery.outcome == Outcome::Delivered, "tracking without delivery");
    const bool delivered = parsed && status < 500 && reply.success && (reply.code == 0 || (reply.code / 100 == 2));
    Check((delivery.outcome == Outcome::Delivered) == delivered, "delivered other than by a success");
    if (delivery.outcome == Outcome::Permanent)
        Check(parsed && reply.failure && status < 500 && reply.code >= 301 && reply.code <= 599,
              "permanent by mistake");
    const ReceiptNews news = QueryOutcome(answer);
    Check(OneCleanLine(news.text), "the receipt text breaks its line");
    Check(!news.known || news.answered, "a state from no answer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (size > 0 && data[0] == '<') {
        CheckOutcomes(bytes, 200);
        return 0;
    }
    // A real answer with the input spliced in at a place it picks, under an HTTP status it picks.
    std::string body = ANSWERS[size > 0 ? data[0] % 3 : 0];
    const size_t at = size > 1 ? data[1] * body.size() / 256 : 0;
    body.insert(at, bytes.substr(size > 2 ? 2 : size));
    CheckOutcomes(body, size > 0 && data[0] % 7 == 0 ? 503 : 200);

    // Escaped text, in an attribute and as content, reads back one character per byte.
    const std::string text = bytes.substr(0, 150);
    const std::string answer =
        "<wctp-Operation><wctp-SubmitClientResponse><wctp-Failure errorCode=\"402\" errorText=\"" +
        XmlText(text, true) + "\"/></wctp-SubmitClientResponse></wctp-Operation>";
    WctpReply reply;
    std::string error;
    Check(ParseWctpReply(answer, reply, error), "escaped text is not well-formed");
    Check(reply.failure && reply.code == 402 && Characters(reply.text) == text.size(), "attribute changed");
    const std::string content = "<wctp-Operation><x><wctp-Failure errorCode=\"402\">" + XmlText(text, false) +
                                "</wctp-Failure></x></wctp-Operation>";
    Check(ParseWctpReply(content, reply, error), "escaped content is not well-formed");
    // The element's text is kept trimmed of blanks at its ends.
    const size_t first = text.find_first_not_of(" \t\r\n");
    const size_t kept = first == std::string::npos ? 0 : text.find_last_not_of(" \t\r\n") - first + 1;
    Check(reply.failure && Characters(reply.text) == kept, "content changed");
    return 0;
}
