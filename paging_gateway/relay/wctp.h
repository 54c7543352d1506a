// Hands a page to a paging network over WCTP (XML over HTTP or HTTPS), and asks after it later.
#pragma once

#include <string>

#include "paging_gateway/relay/relay.h"
#include "paging_gateway/relay/upstream.h"
#include "paging_gateway/relay/wctp_reply.h"

// Call once before any thread sends.
void StartWctp();

// One POST of the page with `settings.wctp`; a success carries the network's tracking number.
Delivery SendWctpPage(const UpstreamUrl& url, const RelaySettings& settings, const Page& page,
                      long timeoutMilliseconds);

// One wctp-ClientQuery for a page the network took.
ReceiptNews AskWctpReceipt(const UpstreamUrl& url, const WctpSettings& settings, const std::string& recipientId,
                           const std::string& trackingNumber, long timeoutMilliseconds);
