// What happens to each page after it is acknowledged, told to whoever keeps its story (the ledger).
#pragma once

#include <string>

#include "paging_gateway/intake/page.h"
#include "paging_gateway/relay/upstream.h"

// What a network reported after it took a page (WCTP's message status).
enum class ReceiptState { Queued, Delivered, Read, Failed };

// Called from the intake and relay threads alike, so implementations lock for themselves. `id` is the
// page's spool number as the console line shows it.
class PageEvents {
public:
    virtual ~PageEvents() = default;

    // The page is on disk and about to be acknowledged; `route` is the upstream it will go to ("" without one).
    virtual void Received(const std::string& id, const Page& page, const std::string& client,
                          const std::string& route) = 0;

    // One attempt and its outcome; `retryMilliseconds` > 0 when a temporary failure will be tried again then.
    virtual void Attempted(const std::string& id, const std::string& route, const Delivery& delivery,
                           long retryMilliseconds) = 0;

    // A failed page put back in its lane by the operator; `who` says from where (the status page's client).
    virtual void SentAgain(const std::string& id, const std::string& who) = 0;

    // A network's later word on a page it took.
    virtual void Receipt(const std::string& id, ReceiptState state, const std::string& text) = 0;

    // The page left for good with no network taking it (no route, or past its useful life); failed/ holds it.
    virtual void Failed(const std::string& id, const std::string& reason, bool expired) {
        (void)id, (void)reason, (void)expired;
    }

    // The page has waited longer than --late-after; told once per page.
    virtual void Late(const std::string& id) { (void)id; }

    // A route failed as a whole for --failover-after with no success between, and after that its first success.
    virtual void RouteDown(const std::string& route, const std::string& reason) { (void)route, (void)reason; }
    virtual void RouteUp(const std::string& route) { (void)route; }
};
