// Hands pages to a paging network over SNPP (RFC 1861), several pages to a session.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "paging_gateway/relay/session.h"

class ClientSocket;

// The most texts one page becomes on a server with a length limit, and the least limit a route may set.
const size_t SNPP_MOST_PARTS = 3;
const long SNPP_LEAST_MAX_LENGTH = 40;

// The sender and callback as words ("from Bob, callback 5550001111"), or "" when the page has neither.
std::string SnppSenderWords(const Page& page);

// The text the pager shows: the message, then the sender and callback when the page has them.
std::string SnppText(const Page& page);

// What the server is sent for one page: one text, or, when the route's longest text is too short for it,
// up to SNPP_MOST_PARTS texts marked "(1/2) ", in order, with the sender and callback on the last only.
struct SnppParts {
    std::vector<std::string> texts;
    bool cut = false;  // the page needed more parts than that: its message was cut short, ending "..."
};
SnppParts SnppPartsOf(const Page& page, const SnppSettings& settings);

// The text as DATA lines: split at CR LF, CR or LF. RFC 1861 defines no transparency for DATA (servers store
// "..x" as it came), so only a line that is exactly "." changes, to ". ", since it would end the text.
std::vector<std::string> SnppDataLines(const std::string& text);

// What a reply other than the one wanted means for the page. `code` 0 is no reply at all; `pageCommand`
// says it answered PAGE, SUBJect, MESS, DATA or SEND rather than the greeting, the login or a route's own
// command. A 530 (log in first) is the upstream's trouble, whatever it answered.
Delivery SnppVerdict(int code, const std::string& text, bool pageCommand);

// A session kept open from page to page: LOGIn once, then for each part of each page the route's commands,
// PAGE, SUBJect, MESS (or DATA) and SEND; RESEt after a refusal, QUIT before it closes.
// `timeoutMilliseconds` bounds the connect and each whole reply but SEND's, which has the route's own.
class SnppSession : public UpstreamSession {
public:
    SnppSession(const UpstreamUrl& url, const SnppSettings& settings, long timeoutMilliseconds);
    ~SnppSession() override;
    Delivery Send(const Page& page, size_t partsDone) override;
    void Close() override;

    struct Reply {
        int code = 0;  // 0: no reply (time-out, closed connection, or not a reply line)
        std::string text;
    };

private:
    // How one part's transaction went; `again`: the kept session was closed or logged out under it, before
    // anything of the part was taken, so a fresh start may try it at once.
    struct Attempt {
        Delivery delivery;
        bool again = false;
    };

    bool Open(Delivery& failure);
    bool LogIn(Delivery& failure);
    Reply Step(const std::string& command, long timeoutMilliseconds);
    // The verdict on a refused step; the session is reset for the next page, or ended.
    Delivery Refused(const Reply& reply, bool pageCommand);
    Attempt SendPart(const std::string& pagerId, const std::string& text, const std::string& subject);
    // QUIT, waiting for its answer only from a server that has been answering, then closes.
    void End(bool waitForGoodbye);

    UpstreamUrl url_;
    SnppSettings settings_;
    long timeoutMilliseconds_;
    std::unique_ptr<ClientSocket> connection_;
};
