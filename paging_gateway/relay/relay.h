// Relays spooled pages to their paging networks: per route a few sessions, a fallback when a route is down,
// in order per pager, each page within its useful life.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "paging_gateway/relay/page_events.h"
#include "paging_gateway/relay/session.h"
#include "paging_gateway/spool/spool.h"

// A carrier may have several routes, in order of preference: the first that is not down takes its pages.
struct RelayRoute {
    std::string carrier;  // a carrier's display name; empty: every carrier without a route of its own
    UpstreamUrl url;
    SnppSettings snpp;  // SNPP routes only
    bool snppOwn = false;  // `snpp` set by the configuration file's [[route]], not by the --snpp- options
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

// A carrier's routes in order of preference: its own, else those for every carrier without its own.
std::vector<const RelayRoute*> RoutesFor(const RelaySettings& settings, const std::string& carrier);

// The route a carrier's pages leave by now: the first of its routes that is not down, else its first; null
// when it has none. `isDown` is asked by URL.
const RelayRoute* ChooseRoute(const RelaySettings& settings, const std::string& carrier,
                              const std::function<bool(const std::string& url)>& isDown);

// The route that carries a carrier's pages while every route is up.
inline const RelayRoute* RouteFor(const RelaySettings& settings, const Carrier* carrier) {
    return ChooseRoute(settings, carrier->displayName, [](const std::string&) { return false; });
}

// Why a page of a carrier without a route cannot go, as failed/ and the ledger keep it.
std::string NoRouteReason(const std::string& carrier);

// The one place that knows each kind of upstream: a new session for one worker.
std::unique_ptr<UpstreamSession> OpenSession(const RelaySettings& settings, const UpstreamUrl& url);

// The wait after a failure, given the last one (0: none yet): the first wait, doubled each time up to the most.
long NextBackoff(long current, long first, long most);

class Relay {
public:
    // `events` (may be null) hears of every page taken, every attempt and every change of a route.
    Relay(const RelaySettings& settings, Spool& spool, std::ostream& out, PageEvents* events = nullptr);
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // The server's page sink: true, with the page's id, once it is in the spool and queued, or, for a carrier
    // without a route, in failed/ with the reason; false, with the reason, only when it cannot be written.
    // `client` is the sender's address.
    bool Take(const Page& page, const std::string& client, std::string& id, std::string& reason);

    // Puts a failed page (failed/ID.page) back in the spool, behind its pager's waiting pages, with a new
    // life; `who` says who asked. False, with the reason, when there is no such page or it cannot go back.
    bool SendAgain(const std::string& id, const std::string& who, std::string& error);

    // Fails what the spool holds that has no route or is past its life, queues the rest, starts the workers.
    void Start();

    // Lets deliveries under way finish, then joins the workers; what is left stays in the spool.
    void Stop();

private:
    struct Route;
    struct Item;
    // A pager whose last page was refused for now: its pages wait till `due`.
    struct PagerWait {
        long backoffMilliseconds = 0;
        std::chrono::steady_clock::time_point due;
    };
    // Why a route changed, to be told once the lock is let go.
    struct Change {
        const Route* route;
        bool down;
    };

    void Queue(const std::string& name, const Page& page, long long lifeBegan);
    bool IsDown(const std::string& url) const;  // with the lock held
    void FailUnrouted(const std::string& name, const Page& page);
    void Work(Route& route);
    void Watch();
    std::list<Item>::iterator NextFor(Route& route, std::chrono::steady_clock::time_point& wakeAt);
    bool MayTake(const Route& route, const Item& item, std::chrono::steady_clock::time_point now) const;
    long Reckon(Route& route, Item& item, const Delivery& delivery, std::chrono::steady_clock::time_point began,
                std::vector<Change>& changes);
    bool GoesDown(Route& route, std::vector<Change>& changes);
    void Settle(const Route& route, const Item& item, const Delivery& delivery, long retry);
    void Tell(const std::vector<Change>& changes);
    std::string WhereNow(const Route& route) const;
    bool PastLife(const Item& item, long long now) const;
    void Expire(const std::string& name, const Page& page, const std::string& lastReply);
    // Moves a spool file to the failed folder with `reason` beside it, and says so.
    void Fail(const std::string& name, const std::string& reason, const std::string& what);
    void Print(const std::string& line);

    RelaySettings settings_;
    Spool& spool_;
    std::ostream& out_;
    PageEvents* events_;
    std::vector<std::unique_ptr<Route>> routes_;              // one per URL
    std::map<std::string, std::vector<Route*>> chains_;       // each carrier's routes in order
    std::mutex mutex_;
    std::condition_variable wake_;   // the workers'
    std::condition_variable watch_;  // the watcher's
    std::list<Item> queue_;  // a list, so an item being sent stays put while others come and go
    std::map<std::string, PagerWait> waiting_;
    std::thread watcher_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> started_{false};
};
