// Hands pages to a paging network over SNPP (RFC 1861), several pages to a session.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "paging_gateway/relay/session.h"

class ClientSocket;

// The text the pager shows: the message, then the sender and callback when the page has them.
std::string SnppText(const Page& page);

// The text as DATA lines: split at CR LF, CR or LF, a leading "." doubled.
std::vector<std::string> SnppDataLines(const std::string& text);

// What a reply other than the one wanted means for the page. `code` 0 is no reply at all; `pageCommand`
// says it answered PAGE, MESS, DATA or SEND rather than the greeting.
Delivery SnppVerdict(int code, const std::string& text, bool pageCommand);

// A session kept open from page to page: PAGE, MESS (or DATA) and SEND for each, RESEt after a refusal.
// `timeoutMilliseconds` bounds the connect and each whole reply.
class SnppSession : public UpstreamSession {
public:
    SnppSession(const UpstreamUrl& url, long timeoutMilliseconds);
    ~SnppSession() override;
    Delivery Send(const Page& page) override;
    void Close() override;

    struct Reply {
        int code = 0;  // 0: no reply (time-out, closed connection, or not a reply line)
        std::string text;
    };

private:
    bool Open(Delivery& failure);
    Reply Step(const std::string& command, long timeoutMilliseconds);
    // The verdict on a refused step; the connection is dropped, or RESEt for the next page.
    Delivery Refused(const Reply& reply, bool pageCommand);
    Delivery SendOnce(const std::string& pagerId, const Page& page, bool& unanswered);

    UpstreamUrl url_;
    long timeoutMilliseconds_;
    std::unique_ptr<ClientSocket> connection_;
};
