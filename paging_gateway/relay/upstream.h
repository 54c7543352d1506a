// What the relay needs to know about an upstream paging network, and what one delivery came to.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "paging_gateway/intake/page.h"

enum class UpstreamKind { Snpp, Smtp, Wctp };

struct UpstreamUrl {
    UpstreamKind kind = UpstreamKind::Snpp;
    bool implicitTls = false;  // smtps://, wctp+https://
    std::string host;
    int port = 0;
    std::string path;  // WCTP: where to post, from its "/"
    std::string text;  // scheme://host:port[/path], as printed
};

// snpp://HOST[:PORT] (444), smtp://HOST[:PORT] (25), smtps://HOST[:PORT] (465), wctp+https://HOST[:PORT]/PATH
// (443) or wctp+http://HOST[:PORT]/PATH (80); credentials in the address are refused, since it is printed.
bool ParseUpstreamUrl(const std::string& text, UpstreamUrl& url, std::string& error);

struct MailSettings {
    std::string from;        // envelope and From: address
    std::string toTemplate;  // "{phone}" stands for the pager id
    std::string user;        // empty: no login
    std::string password;
    bool requireTls = false;  // STARTTLS or give up; without it, STARTTLS whenever the server offers it
};

struct WctpSettings {
    std::string senderId;      // senderID, from the environment only
    std::string securityCode;  // never printed
    bool enterprise = false;   // wctp-SubmitRequest with securityCode instead of the transient client's form
    std::string caFile;        // empty: the system's certificate authorities
    long pollMilliseconds = 60 * 1000;           // between receipt queries, unless the network asks for longer
    long receiptMilliseconds = 60 * 60 * 1000;   // how long to ask after a page went; 0: never
};

// How one SNPP route talks to its server; the command line sets them for every SNPP route, the
// configuration file per route.
struct SnppSettings {
    std::string user;      // empty: no LOGIn
    std::string password;  // from the environment or the configuration file only; never printed
    std::vector<std::string> beforePage;  // commands sent before each PAGE, each wanting a 2xx
    size_t maxLength = 0;                 // the longest text the server takes; 0: no limit
    bool senderInSubject = false;         // sender and callback in SUBJect rather than in the text
    long sendTimeoutMilliseconds = 5 * 60 * 1000;  // SEND's own wait for its reply
};

enum class Outcome { Delivered, Temporary, Permanent };

// Whose trouble a temporary failure is: the upstream's (no connection, a busy greeting, a dropped line: every
// page for it waits) or the one page's (a refusal of the page alone: only that pager's later pages wait).
enum class Scope { Upstream, Page };

struct Delivery {
    Outcome outcome;
    std::string reply;  // the upstream's last words, or what went wrong on the way
    Scope scope = Scope::Upstream;
    std::string tracking = {};  // WCTP: the network's number for the page, to ask for its receipt with
    std::string recipient = {};  // WCTP: the recipient id the page went to, asked for with the number
    size_t part = 0;   // a page sent in parts: which one this was (from 1), and of how many
    size_t parts = 0;
};

// A part of a page taken, with more of it still to send.
inline bool MorePartsAfter(const Delivery& delivery) {
    return delivery.outcome == Outcome::Delivered && delivery.part < delivery.parts;
}

// The phone number as a pager id: blanks removed, since both protocols take the id as one word; false when
// what is left is empty or holds a byte outside printable ASCII.
bool PagerIdOf(const std::string& phoneNumber, std::string& pagerId);

// A reply or error text made safe for one printed line and kept as windows-1252, as pages are (UTF-8
// turned back into it), control bytes as '?'.
std::string PrintableText(const std::string& text);

// Such a text for the console and the service's log, which take ASCII only: bytes above 0x7E as \xNN, as the
// ledger writes them.
std::string ConsoleText(const std::string& text);
