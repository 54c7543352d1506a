// Runs the local paging gateway from the command line.
#include <iostream>

#include "tools/paging_gateway/options.h"
#include "tools/paging_gateway/server.h"

int main(int argc, char** argv) {
    GatewayOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
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
    std::cerr << "paging_gateway: listening on " << options.address << ":" << options.port << "\n";
    server.Serve(std::cout, options.pageLimit);
    return 0;
}
