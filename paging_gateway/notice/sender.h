// The notices' own thread: tries each waiting notice on its channel, again after the relay's back-off when it
// did not go, drops it after a day, and sends a storm as one digest. A page never waits for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "paging_gateway/notice/channel.h"
#include "paging_gateway/notice/digest.h"
#include "paging_gateway/notice/notice_store.h"

struct SenderSettings {
    long retryFirstMilliseconds = 2000;
    long retryMostMilliseconds = 5 * 60 * 1000;
    long long keepMilliseconds = 24LL * 3600 * 1000;  // undelivered this long: dropped
    long gatherMilliseconds = 1000;  // after a new notice, so a burst arrives whole and can go as one digest
    std::string host;
};

class NoticeSender {
public:
    // What became of one notice: "delivered", "temporary" (tried again later) or "dropped", and why.
    using Report = std::function<void(const Notice& notice, const std::string& outcome, const std::string& detail)>;
    using WallClock = std::function<long long()>;  // milliseconds since 1970

    NoticeSender(NoticeStore& store, std::vector<std::unique_ptr<NoticeChannel>> channels, SenderSettings settings,
                 Report report, WallClock clock = nullptr);
    ~NoticeSender();
    NoticeSender(const NoticeSender&) = delete;
    NoticeSender& operator=(const NoticeSender&) = delete;

    // Takes over what the store kept from earlier runs.
    void Load();
    // The notice is in the store already.
    void Queue(const Notice& notice);
    size_t Waiting() const;

    void Start();
    void Stop();

    // One pass over what is due now; the milliseconds until the next notice is due (-1: none waits). The
    // thread's own step, called directly by the tests.
    long long Round();

private:
    void Run();
    // True when the notice waits for another try.
    bool Settle(Notice& notice, bool delivered, const std::string& error, long long now);

    NoticeStore& store_;
    std::vector<std::unique_ptr<NoticeChannel>> channels_;
    SenderSettings settings_;
    Report report_;
    WallClock clock_;
    std::map<std::string, StormWatch> storms_;  // per channel
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Notice> waiting_;
    bool fresh_ = false;  // a notice came since the last round
    std::atomic<bool> stopping_{false};  // read by a round without the lock, so a stop never waits on a queue
    std::thread thread_;
};
