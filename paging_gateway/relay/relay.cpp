// Relays spooled pages to their upstream paging networks: per upstream a few sessions, in order per pager.
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
    bool sending = false;
    size_t partsDone = 0;  // a page sent in parts: those the upstream took, never sent again
};

// A pager whose last page was refused for now: its pages wait till `due`.
struct Waiting {
    long backoffMilliseconds = 0;
    Clock::time_point due;
};

// One upstream: its pages in arrival order, the pagers waiting out a refusal, and how long the whole
// upstream has to be left alone after it failed.
struct Relay::Lane {
    UpstreamUrl url;
    std::mutex mutex;
    std::condition_variable wake;
    std::list<Item> queue;  // a list, so an item being sent stays put while others come and go
    std::map<std::string, Waiting> waiting;
    long backoffMilliseconds = 0;
    Clock::time_point due = Clock::now();
    std::vector<std::thread> workers;
};

namespace {

std::string Seconds(long milliseconds) {
    if (milliseconds % 1000 == 0) return std::to_string(milliseconds / 1000) + " s";
    return std::to_string(milliseconds / 1000) + "." + std::to_string(milliseconds % 1000 / 100) + " s";
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

// Only a Windows gateway, built without libcurl, meets an e-mail route here, and its options refuse one.
Delivery Unrelayable(const UpstreamUrl&, const RelaySettings&, const Page&, long) {
    return {Outcome::Temporary, "this build cannot relay by e-mail"};
}

}  // namespace

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
        for (const auto& lane : lanes_) known = known || lane->url.text == route.url.text;
        if (known) continue;
        lanes_.push_back(std::make_unique<Lane>());
        lanes_.back()->url = route.url;
    }
}

Relay::~Relay() { Stop(); }

Relay::Lane* Relay::LaneFor(const Carrier* carrier) {
    const RelayRoute* chosen = RouteFor(settings_, carrier);
    if (chosen == nullptr) return nullptr;
    for (const auto& lane : lanes_)
        if (lane->url.text == chosen->url.text) return lane.get();
    return nullptr;
}

void Relay::Queue(Lane& lane, const std::string& name, const Page& page) {
    std::lock_guard<std::mutex> lock(lane.mutex);
    lane.queue.push_back({name, PagerOf(page), page});
    lane.wake.notify_all();
}

bool Relay::Take(const Page& page, const std::string& client, std::string& id, std::string& reason) {
    Lane* lane = LaneFor(page.carrier);
    if (lane == nullptr) {
        reason = std::string("no relay for ") + page.carrier->displayName;
        return false;
    }
    std::string name, error;
    if (!spool_.Put(page, name, error)) {
        reason = "cannot write the page to the spool: " + error;
        return false;
    }
    id = PageIdOf(name);
    if (events_ != nullptr) events_->Received(id, page, client, lane->url.text);
    Queue(*lane, name, page);
    return true;
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
    Lane* lane = LaneFor(page.carrier);
    if (lane == nullptr) {
        error = std::string("no relay for ") + page.carrier->displayName;
        return false;
    }
    if (!spool_.Restore(name, error)) return false;
    if (events_ != nullptr) events_->SentAgain(id, who);
    Print("sending again: " + Describe(page, name) + ", as " + who + " asked");
    if (started_) Queue(*lane, name, page);  // before Start, Start finds it in the spool
    return true;
}

void Relay::Start() {
    for (const std::string& name : spool_.Waiting()) {
        Page page;
        std::string problem;
        if (!spool_.Load(name, page, problem)) {
            Fail(name, "unreadable spool file: " + problem, "spool file " + name + ": " + problem);
            continue;
        }
        Lane* lane = LaneFor(page.carrier);
        if (lane == nullptr) {
            Print("kept: " + Describe(page, name) + ": no relay for " + page.carrier->displayName);
            continue;
        }
        lane->queue.push_back({name, PagerOf(page), page});
    }
    for (const auto& lane : lanes_) {
        Lane& each = *lane;
        for (int i = 0; i < settings_.sessions; ++i) each.workers.emplace_back([this, &each] { Work(each); });
    }
    started_ = true;
}

void Relay::Stop() {
    if (!started_) return;
    stopping_ = true;
    for (const auto& lane : lanes_) {
        {
            std::lock_guard<std::mutex> lock(lane->mutex);
            lane->wake.notify_all();
        }
        for (std::thread& worker : lane->workers)
            if (worker.joinable()) worker.join();
    }
    started_ = false;
}

namespace {

// The first page whose pager has no page on the way and is not waiting out a refusal, so each pager's pages
// leave in the order they came; with none, `wakeAt` says when one may be ready.
template <typename Lane>
auto NextReady(Lane& lane, Clock::time_point& wakeAt) {
    const Clock::time_point now = Clock::now();
    wakeAt = Clock::time_point::max();
    if (now < lane.due) {
        wakeAt = lane.due;
        return lane.queue.end();
    }
    std::unordered_set<std::string> seen;
    for (auto item = lane.queue.begin(); item != lane.queue.end(); ++item) {
        if (!seen.insert(item->pager).second || item->sending) continue;
        const auto waiting = lane.waiting.find(item->pager);
        if (waiting != lane.waiting.end() && now < waiting->second.due) {
            wakeAt = std::min(wakeAt, waiting->second.due);
            continue;
        }
        return item;
    }
    return lane.queue.end();
}

}  // namespace

void Relay::Work(Lane& lane) {
    const std::unique_ptr<UpstreamSession> session = OpenSession(settings_, lane.url);
    bool kept = false;  // the session may hold a connection
    std::unique_lock<std::mutex> lock(lane.mutex);
    while (!stopping_) {
        Clock::time_point wakeAt;
        const auto item = NextReady(lane, wakeAt);
        if (item == lane.queue.end()) {
            if (kept) {
                // Nothing to send now: no connection is held open while waiting.
                lock.unlock();
                session->Close();
                kept = false;
                lock.lock();
            } else if (wakeAt == Clock::time_point::max()) {
                lane.wake.wait(lock);
            } else {
                lane.wake.wait_until(lock, wakeAt);
            }
            continue;
        }
        item->sending = true;
        lock.unlock();
        const Delivery delivery = session->Send(item->page, item->partsDone);
        kept = true;
        lock.lock();
        const bool more = MorePartsAfter(delivery);
        if (delivery.outcome == Outcome::Delivered) item->partsDone = delivery.part;
        const long retry = Reckon(lane, *item, delivery);
        lock.unlock();
        Settle(lane, *item, delivery, retry);
        lock.lock();
        if (delivery.outcome == Outcome::Temporary || more)  // the next part goes as soon as a session is free
            item->sending = false;
        else
            lane.queue.erase(item);
        lane.wake.notify_all();
    }
    lock.unlock();
    session->Close();
}

// The waits that follow an attempt, with the lane locked: a refusal of the page holds its pager's pages, a
// failure of the upstream holds them all; an answer clears the upstream's wait. Gives the wait, or 0.
long Relay::Reckon(Lane& lane, Item& item, const Delivery& delivery) {
    const long first = settings_.retryFirstMilliseconds, most = settings_.retryMostMilliseconds;
    if (delivery.outcome == Outcome::Temporary && delivery.scope == Scope::Upstream) {
        // Sessions failing together count as one failure.
        if (Clock::now() < lane.due) return MillisecondsUntil(lane.due);
        lane.backoffMilliseconds = NextBackoff(lane.backoffMilliseconds, first, most);
        lane.due = Clock::now() + std::chrono::milliseconds(lane.backoffMilliseconds);
        return lane.backoffMilliseconds;
    }
    lane.backoffMilliseconds = 0;
    if (delivery.outcome != Outcome::Temporary) {
        lane.waiting.erase(item.pager);
        return 0;
    }
    Waiting& waiting = lane.waiting[item.pager];
    waiting.backoffMilliseconds = NextBackoff(waiting.backoffMilliseconds, first, most);
    waiting.due = Clock::now() + std::chrono::milliseconds(waiting.backoffMilliseconds);
    return waiting.backoffMilliseconds;
}

void Relay::Settle(const Lane& lane, const Item& item, const Delivery& delivery, long retry) {
    const std::string what = Describe(item.page, item.name) + " via " + lane.url.text + ": " + delivery.reply;
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
        case Outcome::Permanent: Fail(item.name, delivery.reply, what); break;
    }
    if (events_ != nullptr) events_->Attempted(PageIdOf(item.name), lane.url.text, delivery, retry);
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
