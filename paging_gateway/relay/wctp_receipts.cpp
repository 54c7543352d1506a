// Asks a WCTP network what became of the pages it took, on a thread of its own, and tells the next
// PageEvents (the ledger) every event it sees and every receipt it learns.
#include "paging_gateway/relay/wctp_receipts.h"

#include <algorithm>

#include "paging_gateway/intake/server.h"
#include "paging_gateway/relay/wctp.h"

namespace {

const char* StateName(ReceiptState state) {
    switch (state) {
        case ReceiptState::Queued: return "queued";
        case ReceiptState::Delivered: return "delivered";
        case ReceiptState::Read: return "read";
        case ReceiptState::Failed: return "failed";
    }
    return "?";
}

}  // namespace

WctpReceipts::WctpReceipts(const RelaySettings& settings, PageEvents* next, std::ostream& out)
    : settings_(settings), next_(next), out_(out) {
    worker_ = std::thread([this] { Work(); });
}

WctpReceipts::~WctpReceipts() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
    }
    worker_.join();
}

const UpstreamUrl* WctpReceipts::WctpRoute(const std::string& route) const {
    for (const RelayRoute& each : settings_.routes)
        if (each.url.kind == UpstreamKind::Wctp && each.url.text == route) return &each.url;
    return nullptr;
}

void WctpReceipts::Received(const std::string& id, const Page& page, const std::string& client,
                            const std::string& route) {
    if (next_) next_->Received(id, page, client, route);
}

void WctpReceipts::Attempted(const std::string& id, const std::string& route, const Delivery& delivery,
                             long retryMilliseconds) {
    // Told on before a receipt can follow, so the next one hears of the page's delivery first.
    if (next_) next_->Attempted(id, route, delivery, retryMilliseconds);
    // The delivery names its recipient: a page found in the spool at start or sent again never passed
    // through Received here with it.
    const UpstreamUrl* url = WctpRoute(route);
    if (delivery.outcome != Outcome::Delivered || delivery.tracking.empty() || delivery.recipient.empty() ||
        url == nullptr)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    const Clock::time_point now = Clock::now();
    watches_.push_back({id, delivery.recipient, delivery.tracking, url,
                        now + std::chrono::milliseconds(settings_.wctp.pollMilliseconds),
                        now + std::chrono::milliseconds(settings_.wctp.receiptMilliseconds)});
    wake_.notify_all();
}

void WctpReceipts::SentAgain(const std::string& id, const std::string& who) {
    if (next_) next_->SentAgain(id, who);
}

void WctpReceipts::Failed(const std::string& id, const std::string& reason, bool expired) {
    if (next_) next_->Failed(id, reason, expired);
}

void WctpReceipts::Late(const std::string& id) {
    if (next_) next_->Late(id);
}

void WctpReceipts::RouteDown(const std::string& route, const std::string& reason) {
    if (next_) next_->RouteDown(route, reason);
}

void WctpReceipts::RouteUp(const std::string& route) {
    if (next_) next_->RouteUp(route);
}

void WctpReceipts::Receipt(const std::string& id, ReceiptState state, const std::string& text) {
    if (next_) next_->Receipt(id, state, text);
}

size_t WctpReceipts::Watching() {
    std::lock_guard<std::mutex> lock(mutex_);
    return watches_.size();
}

void WctpReceipts::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        auto soonest = std::min_element(watches_.begin(), watches_.end(),
                                        [](const Watch& a, const Watch& b) { return a.due < b.due; });
        if (soonest == watches_.end()) {
            wake_.wait(lock);
            continue;
        }
        if (Clock::now() < soonest->due) {
            // A copy: while it waits, a new watch may move the vector's elements.
            const Clock::time_point due = soonest->due;
            wake_.wait_until(lock, due);
            continue;
        }
        // Asked without the lock, so the relay's threads are never held up by a slow network.
        Watch watch = *soonest;
        watches_.erase(soonest);
        lock.unlock();
        Ask(watch);
        lock.lock();
        if (watch.due != Clock::time_point::max()) watches_.push_back(watch);
    }
}

// One question; sets `due` to when to ask again, or to max when the page's story is over.
void WctpReceipts::Ask(Watch& watch) {
    const ReceiptNews news =
        AskWctpReceipt(*watch.url, settings_.wctp, watch.recipientId, watch.tracking, settings_.timeoutMilliseconds);
    const Clock::time_point now = Clock::now();
    if (news.known && (!watch.reported || news.state != watch.last)) {
        watch.reported = true;
        watch.last = news.state;
        PrintLine(out_, "receipt: page " + watch.id + " " + StateName(news.state) + " (" + news.text + ")");
        Receipt(watch.id, news.state, news.text);
    }
    long waitMilliseconds = settings_.wctp.pollMilliseconds;
    if (news.waitMinutes > 0) waitMilliseconds = std::max(waitMilliseconds, news.waitMinutes * 60 * 1000);
    const bool over =
        news.hopeless || (news.known && (news.state == ReceiptState::Read || news.state == ReceiptState::Failed));
    if (news.hopeless) PrintLine(out_, "receipt: page " + watch.id + ": the network will not say (" + news.text + ")");
    if (over || now + std::chrono::milliseconds(waitMilliseconds) > watch.giveUp)
        watch.due = Clock::time_point::max();
    else
        watch.due = now + std::chrono::milliseconds(waitMilliseconds);
}

std::unique_ptr<WctpReceipts> StartWctpReceipts(const RelaySettings& settings, PageEvents* next, std::ostream& out) {
    bool wctp = false;
    for (const RelayRoute& route : settings.routes) wctp = wctp || route.url.kind == UpstreamKind::Wctp;
    if (!wctp || settings.wctp.receiptMilliseconds <= 0) return nullptr;
    return std::make_unique<WctpReceipts>(settings, next, out);
}
