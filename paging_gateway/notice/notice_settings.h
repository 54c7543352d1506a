// Where notices of failed and late pages and of routes going down or up are sent.
#pragma once

#include <functional>
#include <string>

#include "paging_gateway/platform/http_post.h"

struct NoticeSettings {
    std::string url;      // --notify-url, as given
    HttpTarget webhook;   // parsed from it
    std::string command;  // --notify-command: a program, run without a shell
    std::string mailTo;   // --notify-mail
    std::string smtpUrl;  // --notify-smtp; empty: the first e-mail route's server
    // Under the Windows service manager: writes one warning to the event log.
    std::function<void(const std::string& text)> warn;

    bool Any() const { return !url.empty() || !command.empty() || !mailTo.empty(); }
};

// http://HOST[:PORT][/PATH] (80) or https://HOST[:PORT][/PATH] (443); credentials in the address are refused,
// since it is printed.
bool ParseNotifyUrl(const std::string& text, HttpTarget& target, std::string& error);
