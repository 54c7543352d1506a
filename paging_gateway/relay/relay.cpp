// Relays spooled pages to their upstream paging networks, one worker thread per upstream.
#include "paging_gateway/relay/relay.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "paging_gateway/intake/server.h"
#include "paging_gateway/relay/snpp.h"
#include "paging_gateway/relay/wctp.h"
#ifdef PAGING_GATEWAY_MAIL
#include "paging_gateway/relay/mail.h"
#endif

using Clock = std::chrono::steady_clock;

struct Relay::Item {
    std::string name;  // the spool file
    Page page;
};

// One upstream: its pages in arrival order, and how long it has to be left alone after a failure.
struct Relay::Lane {
    UpstreamUrl url;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Item> queue;
    long backoffMilliseconds = 0;
    Clock::time_point due = Clock::now();
    std::thread worker;
};

namespace {

std::string Seconds(long milliseconds) {
    if (milliseconds % 1000 == 0) return std::to_string(milliseconds / 1000) + " s";
    return std::to_string(milliseconds / 1000) + "." + std::to_string(milliseconds % 1000 / 100) + " s";
}

std::string Describe(const Page& page, const std::string& name) {
    return std::string(page.carrier->displayName) + " page " + name + " to " + QuoteText(page.phoneNumber);
}

}  // namespace

Delivery DeliverPage(const RelaySettings& settings, const UpstreamUrl& url, const Page& page) {
#ifdef PAGING_GATEWAY_MAIL
    if (url.kind == UpstreamKind::Smtp) return SendMailPage(url, settings.mail, page, settings.timeoutMilliseconds);
#endif
    if (url.kind == UpstreamKind::Snpp) return SendSnppPage(url, page, settings.timeoutMilliseconds);
    if (url.kind == UpstreamKind::Wctp) return SendWctpPage(url, settings, page, settings.timeoutMilliseconds);
    return {Outcome::Temporary, "this build relays SNPP only", ""};
}

Relay::Relay(const RelaySettings& settings, Spool& spool, std::ostream& out)
    : settings_(settings), spool_(spool), out_(out) {
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
    const RelayRoute* chosen = nullptr;
    for (const RelayRoute& route : settings_.routes) {
        if (route.carrier == carrier->displayName) chosen = &route;
        if (route.carrier.empty() && chosen == nullptr) chosen = &route;
    }
    if (chosen == nullptr) return nullptr;
    for (const auto& lane : lanes_)
        if (lane->url.text == chosen->url.text) return lane.get();
    return nullptr;
}

bool Relay::Take(const Page& page, std::string& reason) {
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
    std::lock_guard<std::mutex> lock(lane->mutex);
    lane->queue.push_back({name, page});
    lane->wake.notify_one();
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
        lane->queue.push_back({name, page});
    }
    for (const auto& lane : lanes_) {
        Lane& each = *lane;
        each.worker = std::thread([this, &each] { Work(each); });
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
        if (lane->worker.joinable()) lane->worker.join();
    }
    started_ = false;
}

void Relay::Work(Lane& lane) {
    std::unique_lock<std::mutex> lock(lane.mutex);
    for (;;) {
        while (!stopping_ && (lane.queue.empty() || Clock::now() < lane.due)) {
            if (lane.queue.empty())
                lane.wake.wait(lock);
            else
                lane.wake.wait_until(lock, lane.due);
        }
        if (stopping_) return;
        const Item item = lane.queue.front();
        lock.unlock();
        const Delivery delivery = DeliverPage(settings_, lane.url, item.page);
        const long backoff = delivery.outcome == Outcome::Temporary ? NextBackoff(lane.backoffMilliseconds) : 0;
        Settle(lane, item, delivery, backoff);
        lock.lock();
        // After a temporary failure the whole upstream waits and the page keeps its place, so pages still go
        // out in the order they came.
        lane.backoffMilliseconds = backoff;
        if (backoff > 0)
            lane.due = Clock::now() + std::chrono::milliseconds(backoff);
        else
            lane.queue.pop_front();
    }
}

long Relay::NextBackoff(long current) const {
    return current == 0 ? settings_.retryFirstMilliseconds : std::min(current * 2, settings_.retryMostMilliseconds);
}

void Relay::Settle(const Lane& lane, const Item& item, const Delivery& delivery, long backoff) {
    const std::string what = Describe(item.page, item.name) + " via " + lane.url.text + ": " + delivery.reply;
    std::string error;
    switch (delivery.outcome) {
        case Outcome::Delivered:
            if (spool_.Remove(item.name, error))
                Print("relayed: " + what);
            else
                Print("relayed: " + what + "; cannot remove it from the spool (" + error +
                      "), so a restart sends it again");
            break;
        case Outcome::Temporary: Print("retrying in " + Seconds(backoff) + ": " + what); break;
        case Outcome::Permanent: Fail(item.name, delivery.reply, what); break;
    }
}

void Relay::Fail(const std::string& name, const std::string& reason, const std::string& what) {
    const std::string where = spool_.FailedFolder() + "/" + name;
    std::string error;
    if (spool_.MoveToFailed(name, reason, error))
        Print("failed: " + what + " (now in " + where + ")");
    else
        Print("failed: " + what + "; cannot move it to " + where + " (" + error + ")");
}

void Relay::Print(const std::string& line) { PrintLine(out_, line); }
