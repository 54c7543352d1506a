// A storm of notices on one channel goes as one digest object.
#include "paging_gateway/notice/digest.h"

#include <map>
#include <set>

bool StormWatch::CameDue(long long nowMilliseconds, const std::vector<std::string>& names) {
    while (!due_.empty() && due_.front().first <= nowMilliseconds - STORM_WINDOW_MILLISECONDS) due_.pop_front();
    for (const std::string& name : names) due_.emplace_back(nowMilliseconds, name);
    std::set<std::string> different;
    for (const auto& due : due_) different.insert(due.second);
    return different.size() > STORM_NOTICES && names.size() > 1;
}

Outgoing SingleOutgoing(const Notice& notice) {
    return {notice.event, notice.subject, notice.title, notice.body.dump(2, ' ', true), {}};
}

Outgoing DigestOutgoing(const std::vector<const Notice*>& notices, const std::string& time, const std::string& host) {
    Outgoing outgoing;
    outgoing.event = "digest";
    outgoing.subject = std::to_string(notices.size());
    nlohmann::json list = nlohmann::json::array();
    std::map<std::string, size_t> kinds;
    for (const Notice* notice : notices) {
        list.push_back(notice->body);
        outgoing.titles.push_back(notice->title);
        ++kinds[notice->event];
    }
    outgoing.title = std::to_string(notices.size()) + " notices from " + host + ":";
    for (const auto& kind : kinds) outgoing.title += " " + std::to_string(kind.second) + " " + kind.first + ",";
    outgoing.title.pop_back();
    const nlohmann::json digest = {{"event", "digest"}, {"time", time}, {"host", host}, {"notices", list}};
    outgoing.json = digest.dump(2, ' ', true);
    return outgoing;
}
