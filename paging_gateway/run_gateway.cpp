// The gateway's whole run, from listening to the last page relayed.
#include "paging_gateway/run_gateway.h"

#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

#include "paging_gateway/intake/server.h"
#include "paging_gateway/notice/notices.h"
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
    bool others = false;  // carriers with routes of their own
    for (const RelayRoute& route : relay.routes) others = others || !route.carrier.empty();
    for (size_t at = 0; at < relay.routes.size(); ++at) {
        const RelayRoute& route = relay.routes[at];
        const std::string whose = !route.carrier.empty() ? route.carrier + "'s"
                                  : !others              ? std::string("every carrier's")
                                                         : std::string("the other carriers'");
        bool fallback = false;
        for (size_t before = 0; before < at; ++before) fallback = fallback || relay.routes[before].carrier == route.carrier;
        err << "paging_gateway: relaying " << whose << " pages to " << route.url.text
            << (fallback ? " while the route before it is down" : "") << "\n";
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
    std::unique_ptr<Notices> notices;        // outlives the receipts and the relay, which tell it each event
    std::unique_ptr<WctpReceipts> receipts;  // outlives the relay, which tells it each page's events
    std::unique_ptr<Relay> relay;
    if (!options.relay.routes.empty()) {
        if (!spool.Open(options.spoolFolder, error)) {
            err << "paging_gateway: " << error << "\n";
            return 1;
        }
        const std::time_t opened = std::time(nullptr);
        if (!status.Open(spool, error)) {
            err << "paging_gateway: " << error << "\n";
            return 1;
        }
        for (const std::string& note : status.Notes()) err << "paging_gateway: " << note << "\n";
#ifdef PAGING_GATEWAY_MAIL
        StartMail();
#endif
        StartWctp();
        PageEvents* story = status.Events();
        if (options.notices.Any() || options.notices.warn) {
            // In front of the ledger: every event goes on to it, and the ones worth a notice get one.
            notices = std::make_unique<Notices>(options.notices, options.relay, status.Book(), out);
            if (!notices->Open(options.spoolFolder, error)) {
                err << "paging_gateway: " << error << "\n";
                return 1;
            }
            notices->NoticeRecovered(opened);
            notices->Start();
            story = notices.get();
        }
        // It passes every event on.
        receipts = StartWctpReceipts(options.relay, story, out);
        relay = std::make_unique<Relay>(options.relay, spool, out,
                                        receipts ? static_cast<PageEvents*>(receipts.get()) : story);
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
    if (notices) notices->Stop();
    return 0;
}
