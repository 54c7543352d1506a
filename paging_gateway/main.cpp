// Runs the local paging gateway from the command line.
#include <atomic>
#include <iostream>

#include "paging_gateway/options.h"
#include "paging_gateway/platform/console.h"
#include "paging_gateway/platform/stamped_console.h"
#include "paging_gateway/platform/stop_signal.h"
#include "paging_gateway/run_gateway.h"
#include "paging_gateway/service/service_command.h"

namespace {

int Run(int argc, char** argv) {
    GatewayOptions options;
    std::string error;
    if (!ReadGatewayOptions(argc, argv, options, error)) {
        // The usage would push the one useful line out of a console window.
        std::cerr << "paging_gateway: " << error << "\npaging_gateway --help shows every option\n";
        return 2;
    }
    if (options.showHelp) {
        std::cout << GATEWAY_USAGE << SERVICE_USAGE;
        return 0;
    }
    if (options.checkConfig) {
        std::cout << "paging_gateway: " << options.configFile << " is good\n";
        PrintRoutes(options.relay, std::cout);
        if (options.relay.routes.empty()) std::cout << "paging_gateway: no route: pages are printed, not relayed\n";
        return 0;
    }
    std::atomic<bool> stop{false};
    StopOnSignals(stop);
    // The run's lines, as the service's log has them; the help and a mistyped option's line are no log.
    StampedConsole stamped;
    return RunGateway(options, std::cout, std::cerr, stop);
}

}  // namespace

int main(int argc, char** argv) {
    int code = 0;
    bool mayPause = true;
    const bool serviceCommand = RunServiceCommand(argc, argv, code, mayPause);
    if (!serviceCommand) code = Run(argc, argv);
    // Started from Explorer or a shortcut, the window would close before anyone could read why, or what
    // an installation did.
    if ((code != 0 || serviceCommand) && mayPause && ConsoleClosesWithUs()) WaitForKey(std::cout);
    return code;
}
