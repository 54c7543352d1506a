// The gateway's command line.
#pragma once

#include <string>
#include <vector>

#include "paging_gateway/ledger/ledger.h"
#include "paging_gateway/notice/notice_settings.h"
#include "paging_gateway/relay/relay.h"
#include "paging_gateway/status/access.h"

struct GatewayOptions {
    std::string address = "127.0.0.1";
    int port = 80;  // the program always sends to port 80
    long pageLimit = 0;  // 0: serve until stopped
    bool showHelp = false;
    std::string configFile;    // --config or --check-config: the file read before the command line
    bool checkConfig = false;  // --check-config: check the file, show the routes, start nothing
    RelaySettings relay;  // no routes: print pages and relay nothing
    std::string spoolFolder = "paging_gateway.spool";
    std::vector<AddressRange> statusAllow;  // who besides loopback may see the status pages
    LedgerLimits ledger;
    SnppSettings snpp;       // the --snpp- options, for every SNPP route
    bool snppGiven = false;  // any of them was given
    bool snppOnCommandLine = false;  // and on the command line, over the configuration file's
    NoticeSettings notices;
};

extern const char GATEWAY_USAGE[];

// The environment variables holding the SMTP login.
constexpr const char SMTP_USER_VARIABLE[] = "PAGING_GATEWAY_SMTP_USER";
constexpr const char SMTP_PASSWORD_VARIABLE[] = "PAGING_GATEWAY_SMTP_PASSWORD";

// The environment variable holding the SNPP login's password.
constexpr const char SNPP_PASSWORD_VARIABLE[] = "PAGING_GATEWAY_SNPP_PASSWORD";

// The environment variables holding the WCTP sender id and security code.
constexpr const char WCTP_SENDER_VARIABLE[] = "PAGING_GATEWAY_WCTP_SENDER";
constexpr const char WCTP_SECURITY_CODE_VARIABLE[] = "PAGING_GATEWAY_WCTP_SECURITY_CODE";

// The options the command line takes, each table ending in null: flags, and options with a value.
extern const char* const GATEWAY_FLAGS[];
extern const char* const GATEWAY_VALUE_OPTIONS[];
// The value options that may be given more than once (an array in the configuration file).
extern const char* const GATEWAY_REPEATABLE_OPTIONS[];

// True for a known option; `takesValue` says which table it is in.
bool IsGatewayOption(const std::string& name, bool& takesValue);

// A duration: digits with a unit "ms", "s", "m" or "h" ("90s", "60m"), or bare digits counted in
// `bareUnitMilliseconds`; false for anything else or for more than a week.
bool ParseDuration(const std::string& text, long bareUnitMilliseconds, long& milliseconds);

// One option (a flag's `value` is ignored) applied on top of what `options` holds; false, with the reason.
bool ApplyOption(const std::string& option, const std::string& value, GatewayOptions& options, std::string& error);

// The checks that need every option read (an e-mail route needs its addresses; the --snpp- options, and the
// password from PAGING_GATEWAY_SNPP_PASSWORD, go to every SNPP route); false, with the reason.
bool CheckOptions(GatewayOptions& options, std::string& error);

// False, with the reason in `error`, for an unknown option or a bad or missing value.
bool ParseOptions(int argc, const char* const* argv, GatewayOptions& options, std::string& error);

// Takes the SMTP user (unless --smtp-user gave one) and password from the environment; false when a user
// has no password.
bool ReadMailCredentials(MailSettings& mail, std::string& error);

// Takes the WCTP sender id and security code from the environment when a route is WCTP; false when the
// sender id is missing or either holds more than printable ASCII.
bool ReadWctpCredentials(const RelaySettings& relay, WctpSettings& wctp, std::string& error);
