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

std::string PageObject(const LedgerPage& page) {
    return "{" + Text("id", page.id) + ", " + Text("state", PageStateName(page.state)) + ", " +
           Text("carrier", page.carrier) + ", " + Text("phone", page.phone) + ", " + Text("message", page.message) +
           ", " + Text("received", FormatUtcTime(page.received)) + ", " + Text("updated", FormatUtcTime(page.updated)) +
           ", " + Text("route", page.route) + ", " + Text("reply", page.reply) + "}";
}

}  // namespace

std::string RenderStatusJson(const LedgerView& view) {
    std::string json = "{\"pages\": [";
    std::set<std::string> listed;
    bool first = true;
    for (const LedgerPage& page : view.latest) {
        json += (first ? "\n  " : ",\n  ") + PageObject(page);
        listed.insert(page.id);
        first = false;
    }
    // Failed pages older than the newest ones still need a script's attention.
    for (const LedgerPage& page : view.failed)
        if (listed.count(page.id) == 0) {
            json += (first ? "\n  " : ",\n  ") + PageObject(page);
            first = false;
        }
    json += "],\n\"routes\": [";
    first = true;
    for (const LedgerRoute& route : view.routes) {
        const long long oldest = route.waiting > 0 ? static_cast<long long>(view.now - route.oldestWaiting) : 0;
        json += std::string(first ? "\n  " : ",\n  ") + "{" + Text("url", route.url) + ", " +
                Number("waiting", route.waiting) + ", " + Number("oldest_seconds", oldest < 0 ? 0 : oldest) + ", " +
                Text("last_reply", route.lastReply) + "}";
        first = false;
    }
    return json + "]}\n";
}
