// The status paths of the gateway's port: who may ask, and what each path answers.
#include "paging_gateway/status/status_pages.h"

#include "paging_gateway/intake/form.h"
#include "paging_gateway/platform/secret.h"
#include "paging_gateway/status/escape.h"
#include "paging_gateway/status/render.h"

namespace {

constexpr size_t TOKEN_BYTES = 16;
const char SEND_AGAIN_PATH[] = "/status/send-again";

// No script, nothing from elsewhere, no framing; forms post only back here.
const char SECURITY_HEADERS[] =
    "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
    "frame-ancestors 'none'; base-uri 'none'\r\n"
    "X-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\nCache-Control: no-store\r\n";

const char* Reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 303: return "See Other";
        case 400: return "Bad Request";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 409: return "Conflict";
        default: return "Error";
    }
}

std::string Response(int status, const char* contentType, const std::string& body,
                     const std::string& extraHeaders = std::string()) {
    return "HTTP/1.0 " + std::to_string(status) + " " + Reason(status) + "\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + SECURITY_HEADERS + extraHeaders +
           "Connection: close\r\n\r\n" + body;
}

// A short page for refusals and errors, with the way back.
std::string Message(int status, const std::string& text, const std::string& extraHeaders = std::string()) {
    const std::string body = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"windows-1252\">"
                             "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                             "<title>Paging gateway</title></head><body><p>" +
                             HtmlEscaped(text) + "</p><p><a href=\"/status\">Back to the status page</a></p></body></html>\n";
    return Response(status, "text/html; charset=windows-1252", body, extraHeaders);
}

}  // namespace

bool IsStatusPath(const std::string& path) {
    return path == "/status" || path == "/status.json" || path == "/metrics" || path.compare(0, 8, "/status/") == 0;
}

StatusPages::StatusPages(const Ledger& ledger, StatusSettings settings, SendAgainCall sendAgain)
    : ledger_(ledger), settings_(std::move(settings)), sendAgain_(std::move(sendAgain)), token_(NewSecret(TOKEN_BYTES)) {}

bool StatusPages::Handle(const HttpRequest& request, const std::string& client, std::string& response) const {
    const std::string path = request.target.substr(0, request.target.find('?'));
    if (!IsStatusPath(path)) return false;
    response = Respond(request, path, client);
    return true;
}

std::string StatusPages::Respond(const HttpRequest& request, const std::string& path, const std::string& client) const {
    if (!ClientAllowed(client, settings_.allowed))
        return Message(403, "The status pages answer this computer only (and ranges given with --status-allow).");
    const std::vector<std::string> hosts = HeaderValues(request, "Host");
    if (hosts.size() > 1) return Message(400, "More than one Host header.");
    if (!HostAllowed(hosts.empty() ? nullptr : &hosts[0], settings_.listenAddress, settings_.port))
        return Message(403, "The Host header names neither this gateway nor localhost.");

    if (path == SEND_AGAIN_PATH) {
        if (request.method != "POST") return Message(405, "Send again is a form's POST.", "Allow: POST\r\n");
        return SendAgain(request, client);
    }
    if (path != "/status" && path != "/status.json" && path != "/metrics")
        return Message(404, "No such status page.");
    if (request.method != "GET") return Message(405, "The status pages are read with GET.", "Allow: GET\r\n");
    const LedgerView view = ledger_.View(path == "/metrics" ? 0 : STATUS_PAGE_ROWS);
    if (path == "/status")
        return Response(200, "text/html; charset=windows-1252", RenderStatusHtml(view, token_, bool(sendAgain_)));
    if (path == "/status.json") return Response(200, "application/json", RenderStatusJson(view));
    return Response(200, "text/plain; version=0.0.4; charset=utf-8", RenderMetrics(view));
}

std::string StatusPages::SendAgain(const HttpRequest& request, const std::string& client) const {
    const FormFields form = DecodeForm(request.body);
    const std::string* token = FormValue(form, "token");
    // Another site's page can make this browser post here, but it cannot read the token off our page.
    if (token == nullptr || !SameSecret(*token, token_))
        return Message(403, "This form is stale or not from the status page (the gateway may have restarted): "
                            "reload the status page and press again.");
    if (!sendAgain_) return Message(409, "This gateway relays nothing (no --relay), so there is nothing to send again.");
    const std::string* id = FormValue(form, "id");
    LedgerPage page;
    if (id == nullptr || !ledger_.Find(*id, page)) return Message(404, "The ledger has no such page.");
    if (page.state != PageState::Failed || !page.canSendAgain)
        return Message(409, "Page " + page.id + " is " + PageStateName(page.state) + ", not a failed page to send again.");
    std::string error;
    if (!sendAgain_(page.id, "status page from " + client, error))
        return Message(409, "Page " + page.id + " could not be sent again: " + error);
    return Response(303, "text/plain", "Sent again.\r\n", "Location: /status\r\n");
}
