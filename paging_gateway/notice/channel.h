// The ways a notice leaves the gateway: each channel delivers one object (a notice or a digest) or says why not.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "paging_gateway/platform/http_post.h"
#include "paging_gateway/relay/upstream.h"

struct Outgoing {
    std::string event;    // failed, late, route-down, route-up, or digest
    std::string subject;  // the page's id or the route's URL; a digest's: how many notices it holds
    std::string title;    // one line for people: the mail's subject
    std::string json;     // the object itself
    std::vector<std::string> titles;  // a digest's: each notice's own title
};

class NoticeChannel {
public:
    virtual ~NoticeChannel() = default;
    // "webhook", "command", "mail": what the ledger and the notices' files call it.
    virtual const char* Name() const = 0;
    // True when the other end took it (a 2xx, exit code 0, the mail server's yes); else false with the reason.
    virtual bool Deliver(const Outgoing& outgoing, std::string& error) = 0;
};

// An HTTP(S) POST of the object; certificates always checked.
std::unique_ptr<NoticeChannel> MakeWebhookChannel(const HttpTarget& target, long timeoutMilliseconds);

// PROGRAM EVENT SUBJECT, the object on its standard input, stopped after `timeoutMilliseconds`.
std::unique_ptr<NoticeChannel> MakeCommandChannel(const std::string& program, long timeoutMilliseconds);

#ifdef PAGING_GATEWAY_MAIL
// A short e-mail to `to` through `server` with the e-mail relay's sender, login and TLS settings.
std::unique_ptr<NoticeChannel> MakeMailChannel(const UpstreamUrl& server, const MailSettings& settings,
                                               const std::string& to, long timeoutMilliseconds);

// The mail's whole text, headers and body, for the tests too.
std::string NoticeMailText(const MailSettings& settings, const std::string& to, const Outgoing& outgoing);
#endif
