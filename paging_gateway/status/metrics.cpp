// The gateway's numbers in Prometheus' text format: counters since this start, gauges as of now.
#include <string>

#include "paging_gateway/status/escape.h"
#include "paging_gateway/status/render.h"

namespace {

void Family(std::string& text, const char* name, const char* type, const char* help) {
    text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void Sample(std::string& text, const char* name, const std::string& route, unsigned long long value,
            const char* outcome = nullptr) {
    text += std::string(name) + "{route=\"" + LabelEscaped(route) + "\"";
    if (outcome != nullptr) text += std::string(",outcome=\"") + outcome + "\"";
    text += "} " + std::to_string(value) + "\n";
}

}  // namespace

std::string RenderMetrics(const LedgerView& view) {
    std::string text;
    Family(text, "paging_gateway_pages_received_total", "counter",
           "Pages acknowledged since the gateway started (route \"\": printed only, no relay).");
    for (const LedgerRoute& route : view.routes) Sample(text, "paging_gateway_pages_received_total", route.url, route.received);
    if (view.routes.empty() || view.unroutedReceived > 0)
        Sample(text, "paging_gateway_pages_received_total", "", view.unroutedReceived);
    Family(text, "paging_gateway_pages_relayed_total", "counter", "Pages an upstream took since the gateway started.");
    for (const LedgerRoute& route : view.routes) Sample(text, "paging_gateway_pages_relayed_total", route.url, route.relayed);
    Family(text, "paging_gateway_pages_failed_total", "counter",
           "Pages an upstream refused for good since the gateway started.");
    for (const LedgerRoute& route : view.routes) Sample(text, "paging_gateway_pages_failed_total", route.url, route.failed);
    Family(text, "paging_gateway_attempts_total", "counter", "Relay attempts since the gateway started, by outcome.");
    for (const LedgerRoute& route : view.routes)
        for (int outcome = 0; outcome < ATTEMPT_OUTCOMES; ++outcome)
            Sample(text, "paging_gateway_attempts_total", route.url, route.attempts[outcome],
                   ATTEMPT_OUTCOME_NAMES[outcome]);
    Family(text, "paging_gateway_pages_waiting", "gauge", "Pages in the spool waiting for their upstream.");
    for (const LedgerRoute& route : view.routes)
        Sample(text, "paging_gateway_pages_waiting", route.url, static_cast<unsigned long long>(route.waiting));
    Family(text, "paging_gateway_oldest_waiting_seconds", "gauge", "How long the longest-waiting page has waited.");
    for (const LedgerRoute& route : view.routes) {
        const long long age = route.waiting > 0 ? static_cast<long long>(view.now - route.oldestWaiting) : 0;
        Sample(text, "paging_gateway_oldest_waiting_seconds", route.url, static_cast<unsigned long long>(age < 0 ? 0 : age));
    }
    Family(text, "paging_gateway_route_up", "gauge", "1 while the route is up, 0 while it is down.");
    for (const LedgerRoute& route : view.routes) Sample(text, "paging_gateway_route_up", route.url, route.down ? 0 : 1);
    Family(text, "paging_gateway_ledger_write_errors_total", "counter", "Ledger lines that could not be written.");
    text += "paging_gateway_ledger_write_errors_total " + std::to_string(view.writeErrors) + "\n";
    return text;
}
