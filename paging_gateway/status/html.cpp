// The status page: what waits on each upstream, the newest pages, and the failed ones with a button each.
#include <cstdio>
#include <string>
#include <vector>

#include "paging_gateway/platform/local_time.h"
#include "paging_gateway/status/escape.h"
#include "paging_gateway/status/render.h"

namespace {

constexpr size_t MESSAGE_START = 40;

struct Table {
    const char* id;
    std::vector<const char*> columns;
};

const Table ROUTES = {"routes", {"Upstream", "State", "Waiting", "Oldest", "Last reply", "Next attempt", "Pages go to"}};
const Table FAILED = {"failed", {"Id", "Time", "Carrier", "Phone", "Reason", ""}};
const Table PAGES = {"pages", {"Id", "Time", "Carrier", "Phone", "Message", "State", "Last reply"}};

const char STYLE[] =
    "body{font-family:sans-serif;margin:.5em;color:#222}h1{font-size:1.3em;margin:.2em 0}"
    "h2{font-size:1.1em;margin:1.2em 0 .3em}table{border-collapse:collapse;width:100%}"
    "td,th{border-bottom:1px solid #ddd;padding:.25em .4em;text-align:left;vertical-align:top}"
    "td.text{word-break:break-word}.note{color:#666;font-size:.9em}button{padding:.4em .8em}"
    ".queued{color:#8a5a00}.failed{color:#b00020}.relayed,.delivered,.read{color:#1b6e20}"
    // A phone gets each row as a little card, every value after its column's name.
    "@media (max-width:640px){table,tbody,tr,td{display:block}tr.head{display:none}"
    "tr{border-bottom:1px solid #ccc;padding:.3em 0}td{border:0;padding:.05em .2em}td::before{color:#666}";

// The phone's column names, once per column rather than in every cell.
std::string PhoneLabels(const Table& table) {
    std::string css;
    for (size_t at = 0; at < table.columns.size(); ++at)
        if (*table.columns[at] != '\0')
            css += std::string("#") + table.id + " td:nth-child(" + std::to_string(at + 1) + ")::before{content:\"" +
                   table.columns[at] + ": \"}";
    return css;
}

std::string Head(const Table& table) {
    std::string html = std::string("<table id=\"") + table.id + "\"><tr class=\"head\">";
    for (const char* column : table.columns) html += std::string("<th>") + column + "</th>";
    return html + "</tr>";
}

std::string Cell(const std::string& text, const char* cssClass = nullptr) {
    return std::string(cssClass != nullptr ? std::string("<td class=\"") + cssClass + "\">" : "<td>") +
           HtmlEscaped(text) + "</td>";
}

// Today's times as the gateway machine's clock shows them, older ones with their date.
std::string When(std::time_t time, std::time_t now) {
    const LocalTime at = ToLocalTime(time), today = ToLocalTime(now);
    char text[64];
    if (at.year == today.year && at.month == today.month && at.day == today.day)
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", at.hour, at.minute, at.second);
    else
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", at.year, at.month, at.day, at.hour, at.minute);
    return text;
}

std::string MessageStart(const std::string& message) {
    if (message.size() <= MESSAGE_START) return HtmlEscaped(message);
    return HtmlEscaped(message.substr(0, MESSAGE_START)) + "&hellip;";
}

std::string NextAttempt(const LedgerRoute& route, std::time_t now) {
    if (route.down && route.nextAttempt > now) return "in " + AgeText(static_cast<long>(route.nextAttempt - now));
    if (route.waiting == 0) return "-";
    // Without a retry planned the pages are in line for the next free session.
    if (route.nextAttempt == 0 || route.nextAttempt <= now) return "now";
    return "in " + AgeText(static_cast<long>(route.nextAttempt - now));
}

void AddRoutes(std::string& html, const LedgerView& view) {
    html += "<h2>Upstreams</h2>";
    if (view.routes.empty()) {
        html += "<p>No relay: pages are printed and answered, not sent on.</p>";
        return;
    }
    html += Head(ROUTES);
    for (const LedgerRoute& route : view.routes) {
        const std::string state = route.down ? "down since " + When(route.since, view.now) + ": " + route.downReason
                                             : "up since " + When(route.since, view.now);
        html += "<tr>" + Cell(route.url, "text") + Cell(state, route.down ? "text failed" : "text relayed") +
                Cell(std::to_string(route.waiting)) +
                Cell(route.waiting > 0 ? AgeText(static_cast<long>(view.now - route.oldestWaiting)) : "-") +
                Cell(route.lastReply.empty() ? "-" : route.lastReply, "text") + Cell(NextAttempt(route, view.now)) +
                Cell(route.goesTo.empty() || route.goesTo == route.url ? "-" : route.goesTo, "text") + "</tr>";
    }
    html += "</table>";
}

void AddFailed(std::string& html, const LedgerView& view, const std::string& token, bool canSendAgain) {
    html += "<h2>Failed pages (" + std::to_string(view.failedCount) + ")</h2>";
    if (view.failed.empty()) {
        html += "<p>None.</p>";
        return;
    }
    html += Head(FAILED);
    for (const LedgerPage& page : view.failed) {
        html += "<tr id=\"failed-" + HtmlEscaped(page.id) + "\">" + Cell(page.id) + Cell(When(page.updated, view.now)) +
                Cell(page.carrier) + Cell(page.phone) + Cell(page.reply, "text reason") + "<td>";
        if (canSendAgain && page.canSendAgain)
            html += "<form method=\"post\" action=\"/status/send-again\"><input type=\"hidden\" name=\"token\" value=\"" +
                    HtmlEscaped(token) + "\"><input type=\"hidden\" name=\"id\" value=\"" + HtmlEscaped(page.id) +
                    "\"><button type=\"submit\">Send again</button></form>";
        html += "</td></tr>";
    }
    html += "</table>";
    if (view.failedCount > view.failed.size())
        html += "<p class=\"note\">The newest " + std::to_string(view.failed.size()) + " shown.</p>";
}

// What a waiting page waits for, before the network's last word on it.
std::string ReplyText(const LedgerPage& page, std::time_t now) {
    if (page.state != PageState::Queued) return page.reply;
    if (page.sentAgain != 0 && page.lastAttempt < page.sentAgain)
        return "sent again at " + When(page.sentAgain, now) + ", waiting";
    if (!page.waitingBehind.empty()) return "waiting behind " + page.waitingBehind;
    return page.reply;
}

void AddPages(std::string& html, const LedgerView& view) {
    html += "<h2>Last " + std::to_string(STATUS_PAGE_ROWS) + " pages</h2>";
    if (view.latest.empty()) {
        html += "<p>None yet.</p>";
        return;
    }
    html += Head(PAGES);
    for (const LedgerPage& page : view.latest) {
        const std::string state = PageStateName(page.state);
        html += "<tr id=\"page-" + HtmlEscaped(page.id) + "\">" + Cell(page.id) + Cell(When(page.received, view.now)) +
                Cell(page.carrier) + Cell(page.phone) + "<td class=\"text\">" + MessageStart(page.message) + "</td>" +
                "<td class=\"state " + state + "\">" + state +
                (page.late && page.state == PageState::Queued ? ", late" : "") +
                (page.expired ? ", expired" : "") + "</td>" + Cell(ReplyText(page, view.now), "text reply") + "</tr>";
    }
    html += "</table>";
}

}  // namespace

std::string AgeText(long seconds) {
    if (seconds < 0) seconds = 0;
    if (seconds < 120) return std::to_string(seconds) + " s";
    if (seconds < 2 * 3600) return std::to_string(seconds / 60) + " min";
    if (seconds < 2 * 86400) return std::to_string(seconds / 3600) + " h";
    return std::to_string(seconds / 86400) + " d";
}

std::string RenderStatusHtml(const LedgerView& view, const std::string& token, bool canSendAgain) {
    std::string html;
    html.reserve(4096 + 400 * (view.latest.size() + view.failed.size()));
    // The program's texts are windows-1252, so the page says so and its bytes pass unchanged.
    html += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"windows-1252\">"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
            "<meta http-equiv=\"refresh\" content=\"" + std::to_string(STATUS_REFRESH_SECONDS) + "\">"
            "<title>Paging gateway</title><style>";
    html += STYLE + PhoneLabels(ROUTES) + PhoneLabels(FAILED) + PhoneLabels(PAGES) + "}";
    html += "</style></head><body><h1>Paging gateway</h1><p class=\"note\">" + When(view.now, view.now) +
            " (this machine's time, UTC" + OffsetText(ToLocalTime(view.now).offsetMinutes) + ") &middot; " + std::to_string(view.pageCount) + " pages in the ledger &middot; refreshes every " +
            std::to_string(STATUS_REFRESH_SECONDS) + " s</p>";
    if (view.writeErrors > 0)
        html += "<p class=\"failed\">The ledger could not be written " + std::to_string(view.writeErrors) +
                " times: " + HtmlEscaped(view.lastWriteError) + "</p>";
    AddRoutes(html, view);
    AddFailed(html, view, token, canSendAgain);
    AddPages(html, view);
    html += "</body></html>\n";
    return html;
}
