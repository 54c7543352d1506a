// The status page for scripts: {"pages": [...], "routes": [...]}.
#include <set>
#include <string>

#include "paging_gateway/status/escape.h"
#include "paging_gateway/status/render.h"

namespace {

std::string Text(const char* key, const std::string& value) {
    return std::string("\"") + key + "\": \"" + JsonEscaped(value) + "\"";
}

std::string Number(const char* key, long long value) {
    return std::string("\"") + key + "\": " + std::to_string(value);
}

}  // namespace

std::string PageJson(const LedgerPage& page) {
    return "{" + Text("id", page.id) + ", " + Text("state", PageStateName(page.state)) + ", " +
           Text("carrier", page.carrier) + ", " + Text("phone", page.phone) + ", " + Text("message", page.message) +
           ", " + Text("received", FormatUtcTime(page.received)) + ", " + Text("updated", FormatUtcTime(page.updated)) +
           ", " + Text("route", page.route) + ", " + Text("reply", page.reply) + "}";
}

std::string RouteJson(const LedgerRoute& route, std::time_t now) {
    const long long oldest = route.waiting > 0 ? static_cast<long long>(now - route.oldestWaiting) : 0;
    return "{" + Text("url", route.url) + ", " + Number("waiting", route.waiting) + ", " +
           Number("oldest_seconds", oldest < 0 ? 0 : oldest) + ", " + Text("last_reply", route.lastReply) + "}";
}

std::string RenderStatusJson(const LedgerView& view) {
    std::string json = "{\"pages\": [";
    std::set<std::string> listed;
    bool first = true;
    for (const LedgerPage& page : view.latest) {
        json += (first ? "\n  " : ",\n  ") + PageJson(page);
        listed.insert(page.id);
        first = false;
    }
    // Failed pages older than the newest ones still need a script's attention.
    for (const LedgerPage& page : view.failed)
        if (listed.count(page.id) == 0) {
            json += (first ? "\n  " : ",\n  ") + PageJson(page);
            first = false;
        }
    json += "],\n\"routes\": [";
    first = true;
    for (const LedgerRoute& route : view.routes) {
        json += std::string(first ? "\n  " : ",\n  ") + RouteJson(route, view.now);
        first = false;
    }
    return json + "]}\n";
}
