// The gateway's command line.
#pragma once

#include <string>
#include <vector>

#include "paging_gateway/ledger/ledger.h"
#include "paging_gateway/relay/relay.h"
#include "paging_gateway/status/access.h"

struct GatewayOptions {
    std::string address = "127.0.0.1";
    int port = 80;  // the program always sends to port 80
    long pageLimit = 0;  // 0: serve until stopped
    bool showHelp = false;
    RelaySettings relay;  // no routes: print pages and relay nothing
    std::string spoolFolder = "paging_gateway.spool";
    std::vector<AddressRange> statusAllow;  // who besides loopback may see the status pages
    LedgerLimits ledger;
};

extern const char GATEWAY_USAGE[];

// The environment variables holding the SMTP login.
constexpr const char SMTP_USER_VARIABLE[] = "PAGING_GATEWAY_SMTP_USER";
constexpr const char SMTP_PASSWORD_VARIABLE[] = "PAGING_GATEWAY_SMTP_PASSWORD";

// The environment variables holding the WCTP sender id and security code.
constexpr const char WCTP_SENDER_VARIABLE[] = "PAGING_GATEWAY_WCTP_SENDER";
constexpr const char WCTP_SECURITY_CODE_VARIABLE[] = "PAGING_GATEWAY_WCTP_SECURITY_CODE";

// False, with the reason in `error`, for an unknown option or a bad or missing value.
bool ParseOptions(int argc, const char* const* argv, GatewayOptions& options, std::string& error);

// Takes the SMTP user (unless --smtp-user gave one) and password from the environment; false when a user
// has no password.
bool ReadMailCredentials(MailSettings& mail, std::string& error);

// Takes the WCTP sender id and security code from the environment when a route is WCTP; false when the
// sender id is missing or either holds more than printable ASCII.
bool ReadWctpCredentials(const RelaySettings& relay, WctpSettings& wctp, std::string& error);
