// A storm of notices on one channel (more than 20 come due within a minute) goes as one digest object.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "paging_gateway/notice/channel.h"
#include "paging_gateway/notice/notice.h"

constexpr size_t STORM_NOTICES = 20;
constexpr long long STORM_WINDOW_MILLISECONDS = 60 * 1000;

// When one channel's notices came due, to tell a storm from a few notices.
class StormWatch {
public:
    // These notices (their file names) come due at `nowMilliseconds`; true when, with them, more than
    // STORM_NOTICES different notices came due within the last minute, so they go as one digest. A notice
    // tried again counts once.
    bool CameDue(long long nowMilliseconds, const std::vector<std::string>& names);

private:
    std::deque<std::pair<long long, std::string>> due_;
};

// One notice as its channel sends it.
Outgoing SingleOutgoing(const Notice& notice);

// {"event": "digest", "time": ..., "host": ..., "notices": [...]}, titled with how many and of what.
Outgoing DigestOutgoing(const std::vector<const Notice*>& notices, const std::string& time, const std::string& host);
