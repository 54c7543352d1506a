// Runs the local paging gateway from the command line.
#include <atomic>
#include <iostream>

#include "paging_gateway/options.h"
#include "paging_gateway/run_gateway.h"

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
    std::atomic<bool> stop{false};
    return RunGateway(options, std::cout, std::cerr, stop);
}
