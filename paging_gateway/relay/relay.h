// Relays spooled pages to their upstream paging networks, one worker thread per upstream.
#pragma once

#include <atomic>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "paging_gateway/spool/spool.h"
#include "paging_gateway/relay/upstream.h"

struct RelayRoute {
    std::string carrier;  // a carrier's display name; empty: every carrier without a route of its own
    UpstreamUrl url;
};

struct RelaySettings {
    std::vector<RelayRoute> routes;
    MailSettings mail;
    WctpSettings wctp;
    long retryFirstMilliseconds = 2000;
    long retryMostMilliseconds = 5 * 60 * 1000;
    long timeoutMilliseconds = 30 * 1000;
};

// SNPP or SMTP, as the address says.
Delivery DeliverPage(const RelaySettings& settings, const UpstreamUrl& url, const Page& page);

class Relay {
public:
    Relay(const RelaySettings& settings, Spool& spool, std::ostream& out);
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // The server's page sink: true once the page is in the spool and queued; false, with the reason, when it
    // has no route or cannot be written.
    bool Take(const Page& page, std::string& reason);

    // Queues what the spool already holds and starts the workers.
    void Start();

    // Lets a delivery under way finish, then joins the workers; what is left stays in the spool.
    void Stop();

private:
    struct Lane;
    struct Item;

    Lane* LaneFor(const Carrier* carrier);
    void Work(Lane& lane);
    long NextBackoff(long current) const;
    void Settle(const Lane& lane, const Item& item, const Delivery& delivery, long backoff);
    // Moves a spool file to the failed folder with `reason` beside it, and says so.
    void Fail(const std::string& name, const std::string& reason, const std::string& what);
    void Print(const std::string& line);

    RelaySettings settings_;
    Spool& spool_;
    std::ostream& out_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::atomic<bool> stopping_{false};
    bool started_ = false;
};
