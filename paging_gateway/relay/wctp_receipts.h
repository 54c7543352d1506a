// Asks a WCTP network what became of the pages it took, on a thread of its own, and tells the next
// PageEvents (the ledger) every event it sees and every receipt it learns.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "paging_gateway/relay/page_events.h"
#include "paging_gateway/relay/relay.h"

class WctpReceipts : public PageEvents {
public:
    // `next` may be null; `out` gets one line per receipt.
    WctpReceipts(const RelaySettings& settings, PageEvents* next, std::ostream& out);
    ~WctpReceipts() override;
    WctpReceipts(const WctpReceipts&) = delete;
    WctpReceipts& operator=(const WctpReceipts&) = delete;

    void Received(const std::string& id, const Page& page, const std::string& client,
                  const std::string& route) override;
    void Attempted(const std::string& id, const std::string& route, const Delivery& delivery,
                   long retryMilliseconds) override;
    void SentAgain(const std::string& id, const std::string& who) override;
    void Receipt(const std::string& id, ReceiptState state, const std::string& text) override;
    // Passed on as they come.
    void Failed(const std::string& id, const std::string& reason, bool expired) override;
    void Late(const std::string& id) override;
    void RouteDown(const std::string& route, const std::string& reason) override;
    void RouteUp(const std::string& route) override;

    // Pages still being asked after.
    size_t Watching();

private:
    using Clock = std::chrono::steady_clock;
    struct Watch {
        std::string id, recipientId, tracking;
        const UpstreamUrl* url;
        Clock::time_point due, giveUp;
        bool reported = false;
        ReceiptState last = ReceiptState::Queued;
    };

    const UpstreamUrl* WctpRoute(const std::string& route) const;
    void Work();
    void Ask(Watch& watch);

    RelaySettings settings_;
    PageEvents* next_;
    std::ostream& out_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Watch> watches_;
    bool stopping_ = false;
    std::thread worker_;
};

// The poller for these settings, or null when no route is WCTP or receipts are off.
std::unique_ptr<WctpReceipts> StartWctpReceipts(const RelaySettings& settings, PageEvents* next, std::ostream& out);
