// What the relay needs to know about an upstream paging network, and what one delivery came to.
#pragma once

#include <string>

#include "paging_gateway/intake/page.h"

enum class UpstreamKind { Snpp, Smtp };

struct UpstreamUrl {
    UpstreamKind kind = UpstreamKind::Snpp;
    bool implicitTls = false;  // smtps://
    std::string host;
    int port = 0;
    std::string text;  // scheme://host:port, as printed
};

// snpp://HOST[:PORT] (444), smtp://HOST[:PORT] (25) or smtps://HOST[:PORT] (465); credentials in the
// address are refused, since it is printed.
bool ParseUpstreamUrl(const std::string& text, UpstreamUrl& url, std::string& error);

struct MailSettings {
    std::string from;        // envelope and From: address
    std::string toTemplate;  // "{phone}" stands for the pager id
    std::string user;        // empty: no login
    std::string password;
    bool requireTls = false;  // STARTTLS or give up; without it, STARTTLS whenever the server offers it
};

enum class Outcome { Delivered, Temporary, Permanent };

// Whose trouble a temporary failure is: the upstream's (no connection, a busy greeting, a dropped line: every
// page for it waits) or the one page's (a refusal of the page alone: only that pager's later pages wait).
enum class Scope { Upstream, Page };

struct Delivery {
    Outcome outcome;
    std::string reply;  // the upstream's last words, or what went wrong on the way
    Scope scope = Scope::Upstream;
};

// The phone number as a pager id: blanks removed, since both protocols take the id as one word; false when
// what is left is empty or holds a byte outside printable ASCII.
bool PagerIdOf(const std::string& phoneNumber, std::string& pagerId);

// A reply or error text made safe for one printed line.
std::string PrintableText(const std::string& text);
