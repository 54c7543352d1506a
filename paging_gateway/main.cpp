// Runs the local paging gateway from the command line.
#include <iostream>
#include <memory>

#include "paging_gateway/options.h"
#include "paging_gateway/relay/relay.h"
#include "paging_gateway/intake/server.h"
#include "paging_gateway/relay/wctp.h"
#include "paging_gateway/relay/wctp_receipts.h"
#ifdef PAGING_GATEWAY_MAIL
#include "paging_gateway/relay/mail.h"
#endif

int main(int argc, char** argv) {
    GatewayOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error) || !ReadMailCredentials(options.relay.mail, error) ||
        !ReadWctpCredentials(options.relay, options.relay.wctp, error)) {
        std::cerr << "paging_gateway: " << error << "\n" << GATEWAY_USAGE;
        return 2;
    }
    if (options.showHelp) {
        std::cout << GATEWAY_USAGE;
        return 0;
    }
    PagingServer server;
    if (!server.Listen(options.address, options.port, error)) {
        std::cerr << "paging_gateway: cannot listen on " << options.address << ":" << options.port << ": " << error
                  << "\n";
        return 1;
    }

    Spool spool;
    std::unique_ptr<WctpReceipts> receipts;  // outlives the relay, which tells it each page's events
    std::unique_ptr<Relay> relay;
    if (!options.relay.routes.empty()) {
        if (!spool.Open(options.spoolFolder, error)) {
            std::cerr << "paging_gateway: cannot use the spool folder " << options.spoolFolder << ": " << error << "\n";
            return 1;
        }
#ifdef PAGING_GATEWAY_MAIL
        StartMail();
#endif
        StartWctp();
        // It passes every event on to the next PageEvents (the ledger; none yet).
        receipts = StartWctpReceipts(options.relay, nullptr, std::cout);
        relay = std::make_unique<Relay>(options.relay, spool, std::cout);
        relay->Start();
        server.SetPageSink([&relay](const Page& page, std::string& reason) { return relay->Take(page, reason); });
        for (const RelayRoute& route : options.relay.routes) {
            const std::string whose = !route.carrier.empty()              ? route.carrier + "'s"
                                      : options.relay.routes.size() == 1 ? std::string("every carrier's")
                                                                         : std::string("the other carriers'");
            std::cerr << "paging_gateway: relaying " << whose << " pages to " << route.url.text << "\n";
        }
    }
    std::cerr << "paging_gateway: listening on " << options.address << ":" << options.port << "\n";
    server.Serve(std::cout, options.pageLimit);
    if (relay) relay->Stop();
    return 0;
}
