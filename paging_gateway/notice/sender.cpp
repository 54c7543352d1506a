// The notices' own thread: tries, backs off as the relay does, drops after a day, digests a storm.
#include "paging_gateway/notice/sender.h"

#include <algorithm>
#include <chrono>

#include "paging_gateway/ledger/ledger_line.h"
#include "paging_gateway/relay/relay.h"

namespace {

long long SystemMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

NoticeSender::NoticeSender(NoticeStore& store, std::vector<std::unique_ptr<NoticeChannel>> channels,
                           SenderSettings settings, Report report, WallClock clock)
    : store_(store),
      channels_(std::move(channels)),
      settings_(std::move(settings)),
      report_(std::move(report)),
      clock_(clock ? std::move(clock) : WallClock(SystemMilliseconds)) {}

NoticeSender::~NoticeSender() { Stop(); }

void NoticeSender::Load() {
    std::vector<std::string> damaged;
    std::vector<Notice> kept = store_.Load(damaged);
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.insert(waiting_.end(), kept.begin(), kept.end());
    fresh_ = fresh_ || !kept.empty();
}

void NoticeSender::Queue(const Notice& notice) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting_.push_back(notice);
        fresh_ = true;
    }
    wake_.notify_all();
}

size_t NoticeSender::Waiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_.size();
}

void NoticeSender::Start() { thread_ = std::thread([this] { Run(); }); }

void NoticeSender::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void NoticeSender::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (fresh_) {
            // A burst (a route's pages failing together) arrives whole before the round looks at it.
            const auto gather = std::chrono::milliseconds(settings_.gatherMilliseconds);
            wake_.wait_for(lock, gather, [this] { return stopping_.load(); });
            if (stopping_) break;
        }
        fresh_ = false;
        lock.unlock();
        const long long next = Round();
        lock.lock();
        if (fresh_) continue;
        const auto ready = [this] { return stopping_ || fresh_; };
        if (next < 0)
            wake_.wait(lock, ready);
        else
            wake_.wait_for(lock, std::chrono::milliseconds(std::max(next, 10LL)), ready);
    }
}

bool NoticeSender::Settle(Notice& notice, bool delivered, const std::string& error, long long now) {
    std::string problem;
    if (delivered) {
        // A file left behind would be sent again after a restart: at least once, never lost.
        store_.Remove(notice, problem);
        report_(notice, "delivered", problem.empty() ? "" : "cannot remove its file: " + problem);
        return false;
    }
    ++notice.attempts;
    notice.lastError = error;
    if (now - static_cast<long long>(notice.created) * 1000 >= settings_.keepMilliseconds) {
        store_.Remove(notice, problem);
        report_(notice, "dropped", "not delivered within a day; last: " + error);
        return false;
    }
    notice.backoffMilliseconds =
        NextBackoff(notice.backoffMilliseconds, settings_.retryFirstMilliseconds, settings_.retryMostMilliseconds);
    notice.dueMilliseconds = now + notice.backoffMilliseconds;
    if (!store_.Update(notice, problem)) notice.lastError += " (its file: " + problem + ")";
    report_(notice, "temporary", error);
    return true;
}

long long NoticeSender::Round() {
    const long long now = clock_();
    std::vector<Notice> due;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto keep = std::stable_partition(waiting_.begin(), waiting_.end(),
                                          [now](const Notice& notice) { return notice.dueMilliseconds > now; });
        due.assign(std::make_move_iterator(keep), std::make_move_iterator(waiting_.end()));
        waiting_.erase(keep, waiting_.end());
    }
    std::vector<Notice> kept;
    for (Notice& notice : due) {
        bool known = false;
        for (const auto& channel : channels_) known = known || notice.channel == channel->Name();
        std::string problem;
        if (!known && store_.Remove(notice, problem))
            report_(notice, "dropped", "the gateway no longer sends notices by " + notice.channel);
    }
    for (const auto& channel : channels_) {
        std::vector<Notice*> mine;
        for (Notice& notice : due)
            if (notice.channel == channel->Name()) mine.push_back(&notice);
        if (mine.empty()) continue;
        std::string error;
        std::vector<std::string> names;
        for (const Notice* notice : mine) names.push_back(notice->name);
        if (storms_[channel->Name()].CameDue(now, names)) {
            const std::vector<const Notice*> parts(mine.begin(), mine.end());
            const Outgoing digest = DigestOutgoing(parts, FormatUtcTime(now / 1000), settings_.host);
            const bool delivered = channel->Deliver(digest, error);
            for (Notice* notice : mine)
                if (Settle(*notice, delivered, error, now)) kept.push_back(*notice);
        } else {
            // A channel that just failed (a receiver down, a time-out) waits as a whole, as an upstream does:
            // the rest of its notices are not each given the same 30 s.
            std::string down;
            for (Notice* notice : mine) {
                if (stopping_) {  // the rest stay on disk for the next start
                    kept.push_back(*notice);
                    continue;
                }
                error.clear();
                const bool delivered = down.empty() && channel->Deliver(SingleOutgoing(*notice), error);
                if (!delivered && !down.empty()) error = "not tried: " + down;
                if (!delivered && down.empty()) down = error;
                if (Settle(*notice, delivered, error, clock_())) kept.push_back(*notice);
            }
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.insert(waiting_.end(), kept.begin(), kept.end());
    long long next = -1;
    for (const Notice& notice : waiting_) {
        const long long wait = std::max(0LL, notice.dueMilliseconds - clock_());
        if (next < 0 || wait < next) next = wait;
    }
    return next;
}
