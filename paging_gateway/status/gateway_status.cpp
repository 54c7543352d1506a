// The ledger and the status pages of one run of the gateway, set up together.
#include "paging_gateway/status/gateway_status.h"

#include "paging_gateway/intake/server.h"
#include "paging_gateway/platform/files.h"
#include "paging_gateway/spool/spool.h"

GatewayStatus::GatewayStatus(const GatewayOptions& options) : options_(options), ledger_(options.ledger) {}

bool GatewayStatus::Open(Spool& spool, std::string& error) {
    const std::string path = spool.Folder() + "/" + LEDGER_FILE_NAME;
    ledger_.KeepLastNumberWith(
        [&spool](unsigned long long number, std::string& problem) { return spool.KeepLastNumber(number, problem); });
    if (!ledger_.Open(path, error)) {
        error = "the ledger " + NativePath(path) + ": " + error;
        return false;
    }
    for (const RelayRoute& route : options_.relay.routes) ledger_.AddRoute(route.url.text);
    // The relay's own rule, so a waiting page shows the route it will leave by under today's options.
    ledger_.SetRouteChoice([this](const std::string& carrier, const std::function<bool(const std::string&)>& isDown) {
        const RelayRoute* route = ChooseRoute(options_.relay, carrier, isDown);
        return route != nullptr ? route->url.text : std::string();
    });
    ledger_.Recover(spool, [this](const Page& page) {
        const RelayRoute* route = RouteFor(options_.relay, page.carrier);
        return route != nullptr ? route->url.text : std::string();
    });
    spool.CountPast(ledger_.LastNumber());
    return true;
}

void GatewayStatus::Serve(PagingServer& server, SendAgainCall sendAgain) {
    StatusSettings settings;
    settings.listenAddress = options_.address;
    settings.port = options_.port;
    settings.allowed = options_.statusAllow;
    pages_ = std::make_unique<StatusPages>(ledger_, settings, std::move(sendAgain));
    server.SetRequestHandler([this](const HttpRequest& request, const std::string& client, std::string& response) {
        return pages_->Handle(request, client, response);
    });
    if (!options_.relay.routes.empty()) return;
    server.SetPageSink([this](const Page& page, const std::string& client, std::string& id, std::string&) {
        id = ledger_.NextId();
        ledger_.Received(id, page, client, "");
        return true;
    });
}
