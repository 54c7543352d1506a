// Relays spooled pages to their upstream paging networks: per upstream a few sessions, in order per pager.
#pragma once

#include <atomic>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "paging_gateway/relay/page_events.h"
#include "paging_gateway/relay/session.h"
#include "paging_gateway/spool/spool.h"

// A carrier may have several routes, in order of preference: the first that is not down takes its pages.
struct RelayRoute {
    std::string carrier;  // a carrier's display name; empty: every carrier without a route of its own
    UpstreamUrl url;
    SnppSettings snpp;  // SNPP routes only
};

struct RelaySettings {
    std::vector<RelayRoute> routes;
    MailSettings mail;
    WctpSettings wctp;
    long retryFirstMilliseconds = 2000;
    long retryMostMilliseconds = 5 * 60 * 1000;
    long timeoutMilliseconds = 30 * 1000;
    int sessions = 4;  // connections to each upstream at once
    long failoverAfterMilliseconds = 60 * 1000;    // failing this long makes a route down; 0: never
    long expireAfterMilliseconds = 60 * 60 * 1000;  // a page's useful life from its 200; 0: for ever
    long lateAfterMilliseconds = 5 * 60 * 1000;     // waiting this long makes a page late; 0: never
};

// The route that carries a carrier's pages: its own, else the one for every other carrier; null without.
inline const RelayRoute* RouteFor(const RelaySettings& settings, const Carrier* carrier) {
    const RelayRoute* rest = nullptr;
    for (const RelayRoute& route : settings.routes) {
        if (route.carrier == carrier->displayName) return &route;
        if (route.carrier.empty() && rest == nullptr) rest = &route;
    }
    return rest;
}

// The one place that knows each kind of upstream: a new session for one worker.
std::unique_ptr<UpstreamSession> OpenSession(const RelaySettings& settings, const UpstreamUrl& url);

// The wait after a failure, given the last one (0: none yet): the first wait, doubled each time up to the most.
long NextBackoff(long current, long first, long most);

class Relay {
public:
    // `events` (may be null) hears of every page taken and every attempt.
    Relay(const RelaySettings& settings, Spool& spool, std::ostream& out, PageEvents* events = nullptr);
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // The server's page sink: true, with the page's id, once it is in the spool and queued; false, with the
    // reason, when it has no route or cannot be written. `client` is the sender's address.
    bool Take(const Page& page, const std::string& client, std::string& id, std::string& reason);

    // Puts a failed page (failed/ID.page) back in the spool, behind its pager's waiting pages; `who` says who
    // asked. False, with the reason, when there is no such page or it cannot go back.
    bool SendAgain(const std::string& id, const std::string& who, std::string& error);

    // Queues what the spool already holds and starts the workers.
    void Start();

    // Lets deliveries under way finish, then joins the workers; what is left stays in the spool.
    void Stop();

private:
    struct Lane;
    struct Item;

    Lane* LaneFor(const Carrier* carrier);
    void Queue(Lane& lane, const std::string& name, const Page& page);
    void Work(Lane& lane);
    long Reckon(Lane& lane, Item& item, const Delivery& delivery);
    void Settle(const Lane& lane, const Item& item, const Delivery& delivery, long retry);
    // Moves a spool file to the failed folder with `reason` beside it, and says so.
    void Fail(const std::string& name, const std::string& reason, const std::string& what);
    void Print(const std::string& line);

    RelaySettings settings_;
    Spool& spool_;
    std::ostream& out_;
    PageEvents* events_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> started_{false};
};
