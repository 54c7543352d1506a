// The gateway's whole run, from listening to the last page relayed.
#include "paging_gateway/run_gateway.h"

#include <chrono>
#include <memory>
#include <thread>

#include "paging_gateway/intake/server.h"
#include "paging_gateway/platform/console.h"
#include "paging_gateway/relay/relay.h"
#include "paging_gateway/relay/wctp.h"
#include "paging_gateway/relay/wctp_receipts.h"
#include "paging_gateway/status/gateway_status.h"
#ifdef PAGING_GATEWAY_MAIL
#include "paging_gateway/relay/mail.h"
#endif

namespace {

// Passes `stop` on to the server, which has a flag of its own, until the run ends.
class StopWatcher {
public:
    StopWatcher(std::atomic<bool>& stop, PagingServer& server)
        : thread_([this, &stop, &server] {
              while (!done_ && !stop) std::this_thread::sleep_for(std::chrono::milliseconds(50));
              if (stop) server.Stop();
          }) {}
    ~StopWatcher() {
        done_ = true;
        thread_.join();
    }
    StopWatcher(const StopWatcher&) = delete;
    StopWatcher& operator=(const StopWatcher&) = delete;

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace

void PrintRoutes(const RelaySettings& relay, std::ostream& err) {
    for (const RelayRoute& route : relay.routes) {
        const std::string whose = !route.carrier.empty()      ? route.carrier + "'s"
                                  : relay.routes.size() == 1 ? std::string("every carrier's")
                                                             : std::string("the other carriers'");
        err << "paging_gateway: relaying " << whose << " pages to " << route.url.text << "\n";
    }
}

namespace {

// What a user can do about the commonest reasons a port cannot be had.
std::string ListenHint(const std::string& error, int port) {
    const std::string number = std::to_string(port);
    if (error == "Address already in use") {
#ifdef _WIN32
        return "another program uses port " + number + "; `netstat -ano | findstr :" + number + "` shows which";
#else
        return "another program uses port " + number + "; `ss -ltnp 'sport = :" + number + "'` shows which";
#endif
    }
    if (error == "Permission denied" && port < 1024) {
#ifdef _WIN32
        return "this account may not use port " + number;
#else
        return "ports below 1024 need root or CAP_NET_BIND_SERVICE (the systemd unit gives it)";
#endif
    }
    return "";
}

}  // namespace

bool ReadGatewayOptions(int argc, const char* const* argv, GatewayOptions& options, std::string& error) {
    return ParseOptions(argc, argv, options, error) && ReadMailCredentials(options.relay.mail, error) &&
           ReadWctpCredentials(options.relay, options.relay.wctp, error);
}

int RunGateway(const GatewayOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& stop,
               const std::function<void()>& listening) {
    std::string error;
    PagingServer server;
    if (!server.Listen(options.address, options.port, error)) {
        err << "paging_gateway: cannot listen on " << options.address << ":" << options.port << ": " << error << "\n";
        const std::string hint = ListenHint(error, options.port);
        if (!hint.empty()) err << "paging_gateway: " << hint << "\n";
        return 1;
    }

    Spool spool;
    GatewayStatus status(options);
    std::unique_ptr<WctpReceipts> receipts;  // outlives the relay, which tells it each page's events
    std::unique_ptr<Relay> relay;
    if (!options.relay.routes.empty()) {
        if (!spool.Open(options.spoolFolder, error)) {
            err << "paging_gateway: " << error << "\n";
            return 1;
        }
        if (!status.Open(spool, error)) {
            err << "paging_gateway: " << error << "\n";
            return 1;
        }
#ifdef PAGING_GATEWAY_MAIL
        StartMail();
#endif
        StartWctp();
        // It passes every event on to the ledger.
        receipts = StartWctpReceipts(options.relay, status.Events(), out);
        relay = std::make_unique<Relay>(options.relay, spool, out,
                                        receipts ? static_cast<PageEvents*>(receipts.get()) : status.Events());
        relay->Start();
        server.SetPageSink([&relay](const Page& page, const std::string& client, std::string& id,
                                    std::string& reason) { return relay->Take(page, client, id, reason); });
        PrintRoutes(options.relay, err);
    }
    status.Serve(server, relay ? SendAgainCall([&relay](const std::string& id, const std::string& who,
                                                        std::string& error) { return relay->SendAgain(id, who, error); })
                               : SendAgainCall());
    err << "paging_gateway: each page's story on http://" << options.address << ":" << options.port << "/status\n";
    err << "paging_gateway: listening on " << options.address << ":" << options.port << "\n";
    if (listening) listening();
    {
        StopWatcher watcher(stop, server);
        server.Serve(out, options.pageLimit);
    }
    if (relay) relay->Stop();
    return 0;
}
