// The status pages' bodies, made from a view of the ledger: the HTML page, its JSON twin and the metrics.
#pragma once

#include <string>

#include "paging_gateway/ledger/ledger.h"

// How many of the newest pages the page and the JSON list.
constexpr size_t STATUS_PAGE_ROWS = 200;
constexpr int STATUS_REFRESH_SECONDS = 5;

// `token` goes into every form; without `canSendAgain` (print-only) failed pages get no button.
std::string RenderStatusHtml(const LedgerView& view, const std::string& token, bool canSendAgain);

// {"pages": [...], "routes": [...]}: the newest pages, and older failed ones too.
std::string RenderStatusJson(const LedgerView& view);

// One page and one route as /status.json lists them (the notices carry the same objects).
std::string PageJson(const LedgerPage& page);
std::string RouteJson(const LedgerRoute& route, std::time_t now);

// Prometheus' text format.
std::string RenderMetrics(const LedgerView& view);

// "42 s", "3 min", "5 h", "2 d": how long ago, for people.
std::string AgeText(long seconds);
