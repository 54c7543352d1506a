// One notice waiting for one channel, as the store keeps it and the sender tries it.
#pragma once

#include <ctime>
#include <nlohmann/json.hpp>
#include <string>

struct Notice {
    std::string name;     // its file in DIR/notices
    std::string channel;  // webhook, command, mail
    std::string event;    // failed, late, route-down, route-up
    std::string subject;  // the page's id or the route's URL
    std::string pageId;   // empty for a route's notice
    std::string title;    // one line for people: the mail's subject
    nlohmann::json body;  // the object the channel sends
    std::time_t created = 0;    // wall clock: a notice not delivered within a day is dropped
    long long dueMilliseconds = 0;  // wall clock of the next try
    long backoffMilliseconds = 0;   // the last wait, doubled on each failure as the relay's is
    int attempts = 0;
    std::string lastError;
};
