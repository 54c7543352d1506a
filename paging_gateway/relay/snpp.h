// Hands a page to a paging network over SNPP (RFC 1861).
#pragma once

#include <string>
#include <vector>

#include "paging_gateway/relay/upstream.h"

// The text the pager shows: the message, then the sender and callback when the page has them.
std::string SnppText(const Page& page);

// The text as DATA lines: split at CR LF, CR or LF, a leading "." doubled.
std::vector<std::string> SnppDataLines(const std::string& text);

// One SNPP session for one page; `timeoutMilliseconds` bounds the connect and each reply.
Delivery SendSnppPage(const UpstreamUrl& url, const Page& page, long timeoutMilliseconds);
