// Relays spooled pages to their paging networks: per route a few sessions, a fallback when a route is down,
// in order per pager, each page within its useful life.
#include "paging_gateway/relay/relay.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "paging_gateway/intake/server.h"
#include "paging_gateway/platform/files.h"
#include "paging_gateway/relay/snpp.h"
#include "paging_gateway/relay/wctp.h"
#ifdef PAGING_GATEWAY_MAIL
#include "paging_gateway/relay/mail.h"
#endif

using Clock = std::chrono::steady_clock;

struct Relay::Item {
    std::string name;   // the spool file
    std::string pager;  // whose pages keep their order
    Page page;
    const std::vector<Route*>* chain;  // its carrier's routes
    long long lifeBegan;                // wall clock, milliseconds since 1970
    bool sending = false;
    bool lateTold = false;
    std::string lastReply = {};
    size_t partsDone = 0;  // a page sent in parts: those the upstream took, never sent again
};

// One upstream URL and its sessions. A route fails as a whole (no connection, no greeting, a dropped session):
// then all of it waits out its back-off, and once it has failed so for --failover-after with no answer
// between, it is down and its carriers' pages go by their next route.
struct Relay::Route {
    UpstreamUrl url;
    long backoffMilliseconds = 0;
    Clock::time_point due = Clock::now();
    bool failing = false;
    Clock::time_point failingSince;
    bool down = false;
    bool probing = false;  // a down route tries one page at a time
    std::string lastReply;
    std::vector<std::thread> workers;
};

namespace {

std::string Seconds(long milliseconds) {
    if (milliseconds % 1000 == 0) return std::to_string(milliseconds / 1000) + " s";
    return std::to_string(milliseconds / 1000) + "." + std::to_string(milliseconds % 1000 / 100) + " s";
}

// "60 min", "90 s", "250 ms": an option's duration as people say it.
std::string DurationText(long milliseconds) {
    if (milliseconds % 60000 == 0) return std::to_string(milliseconds / 60000) + " min";
    if (milliseconds % 1000 == 0) return std::to_string(milliseconds / 1000) + " s";
    return std::to_string(milliseconds) + " ms";
}

// Named by its id, as the page's first line, the ledger and the status page name it.
std::string Describe(const Page& page, const std::string& name) {
    return std::string(page.carrier->displayName) + " page " + PageIdOf(name) + " to " + QuoteText(page.phoneNumber);
}

std::string PagerOf(const Page& page) {
    std::string pager;
    return PagerIdOf(page.phoneNumber, pager) ? pager : page.phoneNumber;
}

long MillisecondsUntil(Clock::time_point when) {
    return std::max(0L, static_cast<long>(
                            std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count()));
}

long long WallMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Only a Windows gateway, built without libcurl, meets an e-mail route here, and its options refuse one.
Delivery Unrelayable(const UpstreamUrl&, const RelaySettings&, const Page&, long) {
    return {Outcome::Temporary, "this build cannot relay by e-mail"};
}

}  // namespace

std::vector<const RelayRoute*> RoutesFor(const RelaySettings& settings, const std::string& carrier) {
    std::vector<const RelayRoute*> own, rest;
    for (const RelayRoute& route : settings.routes) {
        if (route.carrier == carrier) own.push_back(&route);
        if (route.carrier.empty()) rest.push_back(&route);
    }
    return own.empty() ? rest : own;
}

const RelayRoute* ChooseRoute(const RelaySettings& settings, const std::string& carrier,
                              const std::function<bool(const std::string& url)>& isDown) {
    const std::vector<const RelayRoute*> routes = RoutesFor(settings, carrier);
    for (const RelayRoute* route : routes)
        if (!isDown(route->url.text)) return route;
    return routes.empty() ? nullptr : routes.front();
}

std::string NoRouteReason(const std::string& carrier) {
    return "no route for " + carrier + " (start the gateway with --relay " +
           (carrier.find('&') != std::string::npos ? "\"" + carrier + "=URL\"" : carrier + "=URL") +
           " or a bare --relay URL)";
}

std::unique_ptr<UpstreamSession> OpenSession(const RelaySettings& settings, const UpstreamUrl& url) {
    const long timeout = settings.timeoutMilliseconds;
    // A kind that sends each page as one request of its own needs no session: `alone(ItsSendFunction)`.
    const auto alone = [&](Delivery (*send)(const UpstreamUrl&, const RelaySettings&, const Page&, long)) {
        return std::make_unique<EachPageAlone>(
            [send, url, settings, timeout](const Page& page) { return send(url, settings, page, timeout); });
    };
#ifdef PAGING_GATEWAY_MAIL
    if (url.kind == UpstreamKind::Smtp) return std::make_unique<MailSession>(url, settings.mail, timeout);
#endif
    if (url.kind == UpstreamKind::Snpp) {
        const auto route = std::find_if(settings.routes.begin(), settings.routes.end(),
                                        [&](const RelayRoute& each) { return each.url.text == url.text; });
        return std::make_unique<SnppSession>(url, route != settings.routes.end() ? route->snpp : SnppSettings{},
                                             timeout);
    }
    if (url.kind == UpstreamKind::Wctp) return alone(SendWctpPage);
    return alone(Unrelayable);
}

long NextBackoff(long current, long first, long most) { return current == 0 ? first : std::min(current * 2, most); }

Relay::Relay(const RelaySettings& settings, Spool& spool, std::ostream& out, PageEvents* events)
    : settings_(settings), spool_(spool), out_(out), events_(events) {
    settings_.sessions = std::max(1, settings_.sessions);
    for (const RelayRoute& route : settings_.routes) {
        bool known = false;
        for (const auto& each : routes_) known = known || each->url.text == route.url.text;
        if (known) continue;
        routes_.push_back(std::make_unique<Route>());
        routes_.back()->url = route.url;
    }
    for (const Carrier& carrier : CARRIER_TABLE) {
        std::vector<Route*>& chain = chains_[carrier.displayName];
        for (const RelayRoute* route : RoutesFor(settings_, carrier.displayName))
            for (const auto& each : routes_)
                if (each->url.text == route->url.text) chain.push_back(each.get());
    }
}

Relay::~Relay() { Stop(); }

void Relay::Queue(const std::string& name, const Page& page, long long lifeBegan) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back({name, PagerOf(page), page, &chains_.at(page.carrier->displayName), lifeBegan});
    wake_.notify_all();
}

bool Relay::Take(const Page& page, const std::string& client, std::string& id, std::string& reason) {
    std::string name, error;
    if (!spool_.Put(page, name, error)) {
        reason = "cannot write the page to the spool: " + error;
        return false;
    }
    id = PageIdOf(name);
    std::string route;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const RelayRoute* chosen = ChooseRoute(settings_, page.carrier->displayName,
                                               [this](const std::string& url) { return IsDown(url); });
        if (chosen != nullptr) route = chosen->url.text;
    }
    if (events_ != nullptr) events_->Received(id, page, client, route);
    // Read whole and on disk: without a route it is answered like any other and waits in failed/ for one.
    if (route.empty())
        FailUnrouted(name, page);
    else
        Queue(name, page, WallMilliseconds());
    return true;
}

bool Relay::IsDown(const std::string& url) const {
    for (const auto& each : routes_)
        if (each->url.text == url) return each->down;
    return false;
}

void Relay::FailUnrouted(const std::string& name, const Page& page) {
    const std::string why = NoRouteReason(page.carrier->displayName);
    Fail(name, why, Describe(page, name) + ": " + why);
    if (events_ != nullptr) events_->Failed(PageIdOf(name), why, false);
}

bool Relay::SendAgain(const std::string& id, const std::string& who, std::string& error) {
    // The id becomes part of a path: digits only.
    if (id.empty() || id.size() > 40 || id.find_first_not_of("0123456789") != std::string::npos) {
        error = "no failed page " + QuoteText(id);
        return false;
    }
    const std::string name = PageFileName(id);
    Page page;
    std::string problem;
    if (!spool_.Load("failed/" + name, page, problem)) {
        error = "failed page " + id + ": " + problem;
        return false;
    }
    if (chains_.at(page.carrier->displayName).empty()) {
        error = NoRouteReason(page.carrier->displayName);
        return false;
    }
    if (!spool_.Restore(name, error)) return false;
    if (events_ != nullptr) events_->SentAgain(id, who);
    Print("sending again: " + Describe(page, name) + ", as " + who + " asked");
    if (started_) Queue(name, page, WallMilliseconds());  // before Start, Start finds it in the spool
    return true;
}

void Relay::Start() {
    const long long now = WallMilliseconds();
    for (const std::string& name : spool_.Waiting()) {
        Page page;
        std::string problem;
        if (!spool_.Load(name, page, problem)) {
            Fail(name, "unreadable spool file: " + problem, "spool file " + name + ": " + problem);
            continue;
        }
        // Today's options may have no route for a page that waited.
        if (chains_.at(page.carrier->displayName).empty()) {
            FailUnrouted(name, page);
            continue;
        }
        Item item{name, PagerOf(page), page, &chains_.at(page.carrier->displayName), spool_.LifeBegan(name)};
        // What waited past its life while the gateway was stopped goes before anything is sent.
        if (PastLife(item, now)) {
            Expire(name, page, "none since the gateway started");
            continue;
        }
        queue_.push_back(item);
    }
    for (const auto& route : routes_) {
        Route& each = *route;
        for (int i = 0; i < settings_.sessions; ++i) each.workers.emplace_back([this, &each] { Work(each); });
    }
    watcher_ = std::thread([this] { Watch(); });
    started_ = true;
}

void Relay::Stop() {
    if (!started_) return;
    stopping_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wake_.notify_all();
        watch_.notify_all();
    }
    for (const auto& route : routes_)
        for (std::thread& worker : route->workers)
            if (worker.joinable()) worker.join();
    if (watcher_.joinable()) watcher_.join();
    started_ = false;
}

// Whether `route` may send `item` now, its back-off aside: it is the first of the item's routes that is not
// down, or a down route before that one, tried one page at a time to see whether it is back. A down route
// whose back-off is over has the first page due to itself.
bool Relay::MayTake(const Route& route, const Item& item, Clock::time_point now) const {
    for (const Route* each : *item.chain) {
        if (each == &route) return !route.down || !route.probing;
        if (!each->down || (!each->probing && now >= each->due)) return false;
    }
    return false;
}

// The first page this route may take whose pager has no page on the way and is not waiting out a refusal, so
// each pager's pages leave in the order they came, by whichever route; with none, `wakeAt` says when one may be
// ready.
std::list<Relay::Item>::iterator Relay::NextFor(Route& route, Clock::time_point& wakeAt) {
    const Clock::time_point now = Clock::now();
    wakeAt = Clock::time_point::max();
    std::unordered_set<std::string> seen;
    for (auto item = queue_.begin(); item != queue_.end(); ++item) {
        if (!seen.insert(item->pager).second || item->sending || !MayTake(route, *item, now)) continue;
        const auto waiting = waiting_.find(item->pager);
        if (waiting != waiting_.end() && now < waiting->second.due) {
            wakeAt = std::min(wakeAt, waiting->second.due);
            continue;
        }
        if (now < route.due) {
            wakeAt = std::min(wakeAt, route.due);
            continue;
        }
        return item;
    }
    return queue_.end();
}

void Relay::Work(Route& route) {
    const std::unique_ptr<UpstreamSession> session = OpenSession(settings_, route.url);
    bool kept = false;  // the session may hold a connection
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        Clock::time_point wakeAt;
        const auto item = NextFor(route, wakeAt);
        if (item == queue_.end()) {
            if (kept) {
                // Nothing to send now: no connection is held open while waiting.
                lock.unlock();
                session->Close();
                kept = false;
                lock.lock();
            } else if (wakeAt == Clock::time_point::max()) {
                wake_.wait(lock);
            } else {
                wake_.wait_until(lock, wakeAt);
            }
            continue;
        }
        item->sending = true;
        const bool probe = route.down;
        if (probe) {
            route.probing = true;
            wake_.notify_all();  // the other pages are the fallback's again
        }
        const Clock::time_point began = Clock::now();
        lock.unlock();
        const Delivery delivery = session->Send(item->page, item->partsDone);
        kept = true;
        lock.lock();
        if (probe) route.probing = false;
        const bool more = MorePartsAfter(delivery);
        if (delivery.outcome == Outcome::Delivered) item->partsDone = delivery.part;
        std::vector<Change> changes;
        const long retry = Reckon(route, *item, delivery, began, changes);
        lock.unlock();
        Settle(route, *item, delivery, retry);
        Tell(changes);
        lock.lock();
        item->sending = false;
        // Its life may have ended during the attempt, which was let finish.
        // The next part goes as soon as a session is free, unless the page's life ended meanwhile.
        const bool expired =
            (delivery.outcome == Outcome::Temporary || more) && PastLife(*item, WallMilliseconds());
        if ((delivery.outcome != Outcome::Temporary && !more) || expired) {
            const Item gone = *item;
            queue_.erase(item);
            if (expired) {
                lock.unlock();
                Expire(gone.name, gone.page, gone.lastReply);
                lock.lock();
            }
        }
        wake_.notify_all();
    }
    lock.unlock();
    session->Close();
}

// With the lock held: a route failing past --failover-after is down. True when it went down now.
bool Relay::GoesDown(Route& route, std::vector<Change>& changes) {
    if (route.down || !route.failing || settings_.failoverAfterMilliseconds <= 0) return false;
    if (Clock::now() - route.failingSince < std::chrono::milliseconds(settings_.failoverAfterMilliseconds))
        return false;
    route.down = true;
    changes.push_back({&route, true});
    return true;
}

// The waits that follow an attempt, with the lock held: a refusal of the page holds its pager's pages, a
// failure of the route holds the route; an answer clears the route's wait and brings a down route back.
// Gives the wait, or 0.
long Relay::Reckon(Route& route, Item& item, const Delivery& delivery, Clock::time_point began,
                   std::vector<Change>& changes) {
    const long first = settings_.retryFirstMilliseconds, most = settings_.retryMostMilliseconds;
    item.lastReply = delivery.reply;
    if (delivery.outcome == Outcome::Temporary && delivery.scope == Scope::Upstream) {
        route.lastReply = delivery.reply;
        if (!route.failing) {
            route.failing = true;
            route.failingSince = began;
            watch_.notify_all();  // to mark it down on time
        }
        GoesDown(route, changes);
        // Sessions failing together count as one failure.
        if (Clock::now() < route.due) return MillisecondsUntil(route.due);
        route.backoffMilliseconds = NextBackoff(route.backoffMilliseconds, first, most);
        route.due = Clock::now() + std::chrono::milliseconds(route.backoffMilliseconds);
        return route.backoffMilliseconds;
    }
    route.backoffMilliseconds = 0;
    route.failing = false;
    if (route.down) {
        route.down = false;
        changes.push_back({&route, false});
    }
    if (delivery.outcome != Outcome::Temporary) {
        waiting_.erase(item.pager);
        return 0;
    }
    PagerWait& waiting = waiting_[item.pager];
    waiting.backoffMilliseconds = NextBackoff(waiting.backoffMilliseconds, first, most);
    waiting.due = Clock::now() + std::chrono::milliseconds(waiting.backoffMilliseconds);
    return waiting.backoffMilliseconds;
}

void Relay::Settle(const Route& route, const Item& item, const Delivery& delivery, long retry) {
    const std::string what =
        Describe(item.page, item.name) + " via " + route.url.text + ": " + ConsoleText(delivery.reply);
    std::string error;
    switch (delivery.outcome) {
        case Outcome::Delivered:
            if (MorePartsAfter(delivery))
                Print("relayed part " + std::to_string(delivery.part) + "/" + std::to_string(delivery.parts) + ": " +
                      what);
            else if (spool_.Remove(item.name, error))
                Print("relayed: " + what);
            else
                Print("relayed: " + what + "; cannot remove it from the spool (" + error +
                      "), so a restart sends it again");
            break;
        case Outcome::Temporary:
            Print("retrying in " + Seconds(retry) + (delivery.scope == Scope::Page ? " (this pager only): " : ": ") +
                  what);
            break;
        // The same network would refuse it again by any route: it is not tried on the next one.
        case Outcome::Permanent: Fail(item.name, delivery.reply, what); break;
    }
    if (events_ != nullptr) events_->Attempted(PageIdOf(item.name), route.url.text, delivery, retry);
}

// What the pages of a route's carriers do now ("go by URL", or wait); with the lock held.
std::string Relay::WhereNow(const Route& route) const {
    std::string where;
    for (const auto& chain : chains_) {
        bool served = false;
        const Route* now = nullptr;
        for (const Route* each : chain.second) {
            served = served || each == &route;
            if (now == nullptr && !each->down) now = each;
        }
        if (!served) continue;
        const std::string text = now != nullptr ? "go by " + now->url.text : "wait: no route of theirs is up";
        if (where.find(text) == std::string::npos) where += (where.empty() ? "" : ", ") + text;
    }
    return where;
}

void Relay::Tell(const std::vector<Change>& changes) {
    for (const Change& change : changes) {
        std::string where, reason;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            where = WhereNow(*change.route);
            reason = change.route->lastReply;
        }
        const std::string& url = change.route->url.text;
        if (change.down) {
            Print("route down: " + url + " has failed for " + DurationText(settings_.failoverAfterMilliseconds) +
                  " (" + reason + "); its pages " + where);
            if (events_ != nullptr) events_->RouteDown(url, reason);
        } else {
            Print("route up: " + url + " answers again; its pages " + where);
            if (events_ != nullptr) events_->RouteUp(url);
        }
    }
}

bool Relay::PastLife(const Item& item, long long now) const {
    return settings_.expireAfterMilliseconds > 0 && now - item.lifeBegan >= settings_.expireAfterMilliseconds;
}

void Relay::Expire(const std::string& name, const Page& page, const std::string& lastReply) {
    const std::string why = "expired: not taken within " + DurationText(settings_.expireAfterMilliseconds) +
                            " (last reply: " + (lastReply.empty() ? "none" : lastReply) + ")";
    Fail(name, why, Describe(page, name) + ": " + why);
    if (events_ != nullptr) events_->Failed(PageIdOf(name), why, true);
}

// Marks routes down, pages late and pages past their life, each when its time comes: it sleeps till the next
// such time it knows of, and a second at most, so it need not hear of every page that comes.
void Relay::Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        std::vector<Change> changes;
        std::vector<Item> expired, late;
        const long long now = WallMilliseconds();
        Clock::time_point wakeAt = Clock::now() + std::chrono::seconds(1);
        // A route goes down on the clock only while pages wait for it: one that failed once and then had
        // nothing to send is not reported down for that.
        std::unordered_set<const Route*> awaited;
        for (const Item& item : queue_)
            for (const Route* each : *item.chain)
                if (!each->down) {
                    awaited.insert(each);
                    break;
                }
        for (const auto& route : routes_) {
            if (awaited.count(route.get()) != 0) GoesDown(*route, changes);
            if (route->failing && !route->down && settings_.failoverAfterMilliseconds > 0)
                wakeAt = std::min(wakeAt, route->failingSince + std::chrono::milliseconds(
                                                                    settings_.failoverAfterMilliseconds));
        }
        const auto in = [&](long long milliseconds) {
            return Clock::now() + std::chrono::milliseconds(std::max(0LL, milliseconds));
        };
        for (auto item = queue_.begin(); item != queue_.end();) {
            if (!item->lateTold && settings_.lateAfterMilliseconds > 0) {
                if (now - item->lifeBegan >= settings_.lateAfterMilliseconds) {
                    item->lateTold = true;
                    late.push_back(*item);
                } else {
                    wakeAt = std::min(wakeAt, in(item->lifeBegan + settings_.lateAfterMilliseconds - now));
                }
            }
            // A page on its way finishes its attempt; its worker expires it after.
            if (!item->sending && PastLife(*item, now)) {
                expired.push_back(*item);
                item = queue_.erase(item);
                continue;
            }
            if (settings_.expireAfterMilliseconds > 0)
                wakeAt = std::min(wakeAt, in(item->lifeBegan + settings_.expireAfterMilliseconds - now));
            ++item;
        }
        if (!changes.empty() || !expired.empty()) wake_.notify_all();
        lock.unlock();
        Tell(changes);
        for (const Item& item : late) {
            Print("late: " + Describe(item.page, item.name) + " has waited " +
                  DurationText(settings_.lateAfterMilliseconds) + " or more" +
                  (item.lastReply.empty() ? std::string() : " (last reply: " + item.lastReply + ")"));
            if (events_ != nullptr) events_->Late(PageIdOf(item.name));
        }
        for (const Item& item : expired) Expire(item.name, item.page, item.lastReply);
        lock.lock();
        if (!stopping_) watch_.wait_until(lock, wakeAt);
    }
}

void Relay::Fail(const std::string& name, const std::string& reason, const std::string& what) {
    const std::string where = NativePath(spool_.FailedFolder() + "/" + name);
    std::string error;
    if (spool_.MoveToFailed(name, reason, error))
        Print("failed: " + what + " (now in " + where + ")");
    else
        Print("failed: " + what + "; cannot move it to " + where + " (" + error + ")");
}

void Relay::Print(const std::string& line) { PrintLine(out_, line); }
