// The gateway's command line.
#pragma once

#include <string>

struct GatewayOptions {
    std::string address = "127.0.0.1";
    int port = 80;  // the program always sends to port 80
    long pageLimit = 0;  // 0: serve until stopped
    bool showHelp = false;
};

extern const char GATEWAY_USAGE[];

// False, with the reason in `error`, for an unknown option or a bad or missing value.
bool ParseOptions(int argc, const char* const* argv, GatewayOptions& options, std::string& error);
