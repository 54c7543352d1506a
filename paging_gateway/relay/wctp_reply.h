// What a WCTP network answered, read with a real XML parser, and what it means for the page.
#pragma once

#include <string>
#include <vector>

#include "paging_gateway/platform/http_post.h"
#include "paging_gateway/relay/page_events.h"
#include "paging_gateway/relay/upstream.h"

struct WctpReply {
    std::string operation;  // the wctp-Operation's element: wctp-SubmitClientResponse, wctp-Confirmation...
    bool success = false;   // wctp-ClientSuccess or wctp-Success
    bool failure = false;   // wctp-Failure directly under the operation
    int code = 0;           // successCode or errorCode; 0 when missing or not a number
    std::string text;       // successText or errorText, then the element's own text
    std::string trackingNumber;
    long minNextPollInterval = -1;  // minutes, as the network asks; -1: not given
    // A query's status reports in order: QUEUED, DELIVERED, READ as given, or "failure" with code and text.
    struct Status {
        std::string type;
        int code = 0;
        std::string text;
    };
    std::vector<Status> statuses;
};

// False, with the reason, when the body is not well-formed XML or holds no wctp-Operation.
bool ParseWctpReply(const std::string& body, WctpReply& reply, std::string& error);

// A submit's HTTP answer as the relay's outcome: success relayed (with the tracking number), a 4xx or 5xx
// failure code permanent, anything that may go better later temporary.
Delivery SubmitOutcome(const HttpAnswer& answer);

// A ClientQuery's answer.
struct ReceiptNews {
    bool answered = false;  // a readable status answer (possibly "nothing yet")
    bool hopeless = false;  // the network refuses the question for good: stop asking
    bool known = false;     // `state` holds the latest status reported
    ReceiptState state = ReceiptState::Queued;
    std::string text;       // what to record or print
    long waitMinutes = -1;  // the network's minNextPollInterval, -1: not given
};
ReceiptNews QueryOutcome(const HttpAnswer& answer);
