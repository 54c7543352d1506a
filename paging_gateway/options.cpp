// The gateway's command line.
#include "paging_gateway/options.h"

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <utility>

#include "paging_gateway/config/config_file.h"
#include "common/text.h"
#include "paging_gateway/relay/snpp.h"

#ifdef PAGING_GATEWAY_MAIL
#define RELAY_KINDS "SNPP, e-mail or WCTP"
#define MAIL_USAGE                                                                                            \
    "  --mail-from ADDRESS      e-mail relays: the sender's address\n"                                        \
    "  --mail-to TEMPLATE       e-mail relays: the recipient, {phone} standing for the phone number\n"       \
    "                           (for example {phone}@pager.example.net)\n"                                    \
    "  --smtp-user USER         log in as USER (or set PAGING_GATEWAY_SMTP_USER); the password comes\n"       \
    "                           from PAGING_GATEWAY_SMTP_PASSWORD only, so it never shows in a process list\n" \
    "  --smtp-tls               insist on STARTTLS (without it, STARTTLS whenever the server offers it)\n"
#define URL_USAGE                                                                                             \
    "snpp://HOST[:PORT] (port 444), smtp://HOST[:PORT] (25), smtps://HOST[:PORT] (465),\n"                  \
    "                           wctp+https://HOST[:PORT]/PATH (443), wctp+http://HOST[:PORT]/PATH (80)"
#define CA_USAGE                                                                                              \
    "  --ca-file FILE           WCTP and --notify-url over HTTPS: trust only the certificate authorities\n"  \
    "                           in FILE (PEM) rather than the system's\n"
#define NOTIFY_MAIL_USAGE                                                                                     \
    "  --notify-mail ADDRESS    notices: a short e-mail to ADDRESS, through the e-mail relay's server\n"        \
    "                           (or --notify-smtp smtp://HOST[:PORT]), from --mail-from\n"
#else
#define RELAY_KINDS "SNPP or WCTP (this build has no e-mail relay: it is built without libcurl)"
#define MAIL_USAGE ""
#define URL_USAGE \
    "snpp://HOST[:PORT] (port 444), wctp+https://HOST[:PORT]/PATH (443), wctp+http://HOST[:PORT]/PATH (80)"
#define CA_USAGE ""
#define NOTIFY_MAIL_USAGE ""
#endif

const char GATEWAY_USAGE[] =
    "Usage: paging_gateway [--address A] [--port P] [--once | --count N] [--relay [CARRIER=]URL ...]\n"
    "Stands in for the six carriers' paging web servers: answers mervasTX's requests\n"
    "and prints one line per page. With --relay it also hands each page on to a real\n"
    "paging network over " RELAY_KINDS ",\n"
    "keeping it in a spool folder until the network has taken it.\n"
    "Each page's story is on http://ADDRESS:PORT/status (also /status.json and /metrics).\n"
    "The manual: docs/gateway.md in the source, or readme.txt beside the Windows program.\n"
    "  --address A              IPv4 address to listen on (default 127.0.0.1; \"localhost\" means that)\n"
    "  --port P                 TCP port (default 80, where mervasTX sends)\n"
    "  --once                   exit after the first page\n"
    "  --count N                exit after N pages\n"
    "  --relay URL              relay every page to URL:\n"
    "                           " URL_USAGE "\n"
    "  --relay CARRIER=URL      relay that carrier's pages (its name as mervasTX shows it, e.g. AT&T)\n"
    "                           to URL; a bare --relay URL serves the rest. Repeated for one carrier\n"
    "                           (or bare), the later ones are fallbacks, in order, for when one is down\n"
    "  --failover-after D       a route failing as a whole this long is down and its waiting pages go\n"
    "                           by the next route (default 60s; 0: never)\n"
    "  --expire-after D         a page no network took this long after it came goes to DIR/failed\n"
    "                           (default 60m; 0: never)\n"
    "  --late-after D           a page waiting this long is marked late (default 5m; 0: never)\n"
    "                           D is a duration with its unit: 90s, 60m, 2h\n"
    "  --spool DIR              where pages wait (default paging_gateway.spool); refused ones go to\n"
    "                           DIR/failed, each with the upstream's reply beside it\n"
    MAIL_USAGE
    "  --snpp-user USER         SNPP: log in as USER (LOGIn) after the greeting; the password comes from\n"
    "                           PAGING_GATEWAY_SNPP_PASSWORD only, so it never shows in a process list\n"
    "  --snpp-before-page CMD   SNPP: send CMD before each PAGE, wanting a 2xx (for hfaxd:\n"
    "                           \"SITE JQUEUE YES\", so SEND is answered at once); repeatable, in order\n"
    "  --snpp-send-timeout D    SNPP: longest wait for SEND's reply (default 5m; a bare number is seconds);\n"
    "                           a page whose SEND went unanswered is sent again, and may arrive twice\n"
    "  --snpp-max-length N      SNPP: the longest text the server takes (hfaxd: 128); a longer page goes\n"
    "                           as up to 3 parts marked (1/2), (2/2), cut to fit with \"...\" past that\n"
    "  --snpp-subject           SNPP: sender and callback in SUBJect rather than at the end of the text\n"
    "                           (the --snpp- options apply to every SNPP route)\n"
    "  --wctp-enterprise        WCTP: send pages as an enterprise host (wctp-SubmitRequest, the security\n"
    "                           code as securityCode) rather than as a transient client (the code as\n"
    "                           miscInfo); the sender id and security code come from the environment only:\n"
    "                           PAGING_GATEWAY_WCTP_SENDER and PAGING_GATEWAY_WCTP_SECURITY_CODE\n"
    CA_USAGE
    "  --wctp-poll S            WCTP: ask after a page's delivery every S seconds (default 60), or less\n"
    "                           often when the network asks for that\n"
    "  --wctp-receipts S        WCTP: keep asking for S seconds after a page went (default 3600; 0: never)\n"
    "  --notify-url URL         notices of failed and late pages and of routes down or up: an HTTP(S) POST\n"
    "                           of a JSON object to URL (http://HOST[:PORT]/PATH or https://...)\n"
    "  --notify-command PROGRAM notices: run PROGRAM (no shell) with the event and the page id or route\n"
    "                           URL as its arguments and the JSON object on its standard input\n"
    NOTIFY_MAIL_USAGE
    "  --status-allow CIDR      let addresses in CIDR (e.g. 192.168.1.0/24) see /status, /status.json and\n"
    "                           /metrics (loopback always can); repeatable\n"
    "  --ledger-pages N         keep the story of the last N pages (default 10000)\n"
    "  --ledger-days N          and of no page older than N days (default 30)\n"
    "  --ledger-megabytes N     and of no more pages than fill N MB (default 24; the file stays\n"
    "                           within about twice that)\n"
    "  --retry-first MS         first wait after a temporary failure (default 2000; it doubles\n"
    "                           up to --retry-most)\n"
    "  --retry-most MS          longest wait between tries (default 300000, 5 minutes)\n"
    "  --sessions N             connections to each upstream at once (default 4, at most 64); each\n"
    "                           pager's pages still leave in the order they came\n"
    "  --upstream-timeout MS    longest wait for a connection or a reply (default 30000)\n"
    "  --config FILE            read these options from FILE, a TOML file whose keys are the options\n"
    "                           without their --, with the routes as [[route]] tables; an option also\n"
    "                           given on the command line replaces the file's values\n"
    "  --check-config FILE      check FILE, show the routes it gives, and exit (0: good)\n"
    "  --help                   show this text\n";

namespace {

// Digits only, within 1..most; false otherwise.
bool ParseNumber(const std::string& text, long most, long& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stol(text);
    return value >= 1 && value <= most;
}

bool IsDottedQuad(const std::string& text) {
    int parts = 0;
    size_t start = 0;
    for (;;) {
        const size_t dot = text.find('.', start);
        const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(part) > 255)
            return false;
        ++parts;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return parts == 4;
}

// "URL" or "CARRIER=URL"; the carrier's name is taken as the program shows it, in any case.
bool ParseRoute(const std::string& value, RelaySettings& relay, std::string& error) {
    RelayRoute route;
    std::string address = value;
    const size_t equals = value.find('=');
    if (equals != std::string::npos && value.find("://") > equals) {
        const std::string name = value.substr(0, equals);
        for (const Carrier& carrier : CARRIER_TABLE)
            if (SameIgnoringCase(name, carrier.displayName)) route.carrier = carrier.displayName;
        if (route.carrier.empty()) {
            error = "no carrier is called " + PrintableText(name) + " (Ameritech, AT&T, Cingular, Sprint, SunCom, Verizon)";
            return false;
        }
        address = value.substr(equals + 1);
    }
    if (!ParseUpstreamUrl(address, route.url, error)) return false;
    // A later --relay for the same carrier is a fallback; the same address twice would be no second road.
    for (const RelayRoute& earlier : relay.routes)
        if (earlier.carrier == route.carrier && earlier.url.text == route.url.text) {
            error = "--relay " + route.url.text + " twice for " +
                    (route.carrier.empty() ? std::string("the other carriers") : route.carrier);
            return false;
        }
    relay.routes.push_back(route);
    return true;
}

bool IsAddressText(const std::string& text) {
    if (text.find('@') == std::string::npos) return false;
    for (char c : text)
        if (c <= 0x20 || c > 0x7E || c == '<' || c == '>') return false;
    return true;
}

// E-mail relays need both addresses; checked once every option is read.
bool CheckMail(const RelaySettings& relay, std::string& error) {
    bool mail = false;
    for (const RelayRoute& route : relay.routes) mail = mail || route.url.kind == UpstreamKind::Smtp;
    if (!mail) return true;
    if (!IsAddressText(relay.mail.from)) {
        error = relay.mail.from.empty() ? "an e-mail relay needs --mail-from" : "not an address: " + relay.mail.from;
        return false;
    }
    if (!IsAddressText(relay.mail.toTemplate) || relay.mail.toTemplate.find("{phone}") == std::string::npos) {
        error = relay.mail.toTemplate.empty() ? "an e-mail relay needs --mail-to"
                                              : "--mail-to needs an address with {phone} in it: " +
                                                    PrintableText(relay.mail.toTemplate);
        return false;
    }
    return true;
}

// Printable ASCII, with blanks only where `blanks` says: what SNPP can carry in a command.
bool IsCommandText(const std::string& text, bool blanks) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < 0x20 || c > 0x7E || (c == ' ' && !blanks)) return false;
    return true;
}

bool ApplySnppOption(const std::string& option, const std::string& value, GatewayOptions& options,
                     std::string& error) {
    SnppSettings& snpp = options.snpp;
    long number = 0;
    if (option == "--snpp-subject") {
        snpp.senderInSubject = true;
    } else if (option == "--snpp-user") {
        if (!IsCommandText(value, false)) {
            error = "--snpp-user needs a login id of printable characters without blanks: " + PrintableText(value);
            return false;
        }
        snpp.user = value;
    } else if (option == "--snpp-before-page") {
        if (!IsCommandText(value, true) || value.front() == ' ') {
            error = "--snpp-before-page needs a command of printable characters, such as \"SITE JQUEUE YES\": " +
                    PrintableText(value);
            return false;
        }
        snpp.beforePage.push_back(value);
    } else if (option == "--snpp-send-timeout") {
        long milliseconds = 0;
        if (!ParseDuration(value, 1000, milliseconds) || milliseconds < 1000 || milliseconds > 2 * 3600 * 1000) {
            error = "--snpp-send-timeout needs a duration from 1s to 2h (a bare number is seconds): " +
                    PrintableText(value);
            return false;
        }
        snpp.sendTimeoutMilliseconds = milliseconds;
    } else if (option == "--snpp-max-length") {
        if (!ParseNumber(value, 100000, number) || number < SNPP_LEAST_MAX_LENGTH) {
            error = "--snpp-max-length needs a number of characters from " + std::to_string(SNPP_LEAST_MAX_LENGTH) +
                    " to 100000: " + PrintableText(value);
            return false;
        }
        snpp.maxLength = static_cast<size_t>(number);
    } else {
        error = "unknown option " + option;
        return false;
    }
    options.snppGiven = true;
    return true;
}

// The --snpp- options, and the login's password, go to every SNPP route; they need one.
bool CheckSnpp(GatewayOptions& options, std::string& error) {
    const char* password = std::getenv(SNPP_PASSWORD_VARIABLE);
    if (!options.snppGiven) {
        // The environment's password still wins over a [[route]]'s own.
        for (RelayRoute& route : options.relay.routes)
            if (route.snppOwn && !route.snpp.user.empty() && password != nullptr && *password != 0)
                route.snpp.password = password;
        return true;
    }
    if (password != nullptr) options.snpp.password = password;
    if (!options.snpp.password.empty() && !IsCommandText(options.snpp.password, false)) {
        error = std::string("the SNPP password in ") + SNPP_PASSWORD_VARIABLE +
                " must be printable characters without blanks (it is sent as one word)";
        return false;
    }
    if (!options.snpp.password.empty() && options.snpp.user.empty()) {
        error = std::string("an SNPP password in ") + SNPP_PASSWORD_VARIABLE + " needs --snpp-user";
        return false;
    }
    bool used = false;
    for (RelayRoute& route : options.relay.routes) {
        if (route.url.kind != UpstreamKind::Snpp) continue;
        used = true;
        // A [[route]]'s own snpp- keys stand, unless the command line gives SNPP options for this run.
        if (!route.snppOwn || options.snppOnCommandLine) route.snpp = options.snpp;
        if (password != nullptr && *password != 0 && !route.snpp.user.empty()) route.snpp.password = password;
    }
    if (!used) error = "the --snpp- options need an snpp:// --relay";
    return used;
}

bool UseCaFile(const std::string& path, WctpSettings& wctp, std::string& error) {
#ifdef _WIN32
    (void)wctp;
    error = "--ca-file " + path +
            ": this Windows build checks certificates through the Windows certificate store; add the authority "
            "there";
    return false;
#else
    std::FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot read the --ca-file " + PrintableText(path);
        return false;
    }
    std::fclose(file);
    wctp.caFile = path;
    return true;
#endif
}

}  // namespace

const char* const GATEWAY_FLAGS[] = {"--help", "-h", "--once", "--smtp-tls", "--wctp-enterprise", "--snpp-subject",
                                     nullptr};
const char* const GATEWAY_VALUE_OPTIONS[] = {
    "--config",       "--check-config",
    "--address",      "--port",       "--count",            "--relay",    "--spool",   "--mail-from",
    "--mail-to",      "--smtp-user",  "--retry-first",      "--retry-most", "--upstream-timeout", "--sessions",
    "--ca-file",      "--wctp-poll",  "--wctp-receipts",    "--status-allow", "--ledger-pages", "--ledger-days",
    "--failover-after", "--expire-after", "--late-after", "--ledger-megabytes", "--snpp-user",
    "--snpp-before-page", "--snpp-send-timeout", "--snpp-max-length", "--notify-url", "--notify-command",
    "--notify-mail", "--notify-smtp", nullptr};

bool IsGatewayOption(const std::string& name, bool& takesValue) {
    for (const char* const* flag = GATEWAY_FLAGS; *flag != nullptr; ++flag)
        if (name == *flag) return !(takesValue = false);
    for (const char* const* option = GATEWAY_VALUE_OPTIONS; *option != nullptr; ++option)
        if (name == *option) return takesValue = true;
    return false;
}

const char* const GATEWAY_REPEATABLE_OPTIONS[] = {"--relay", "--status-allow", "--snpp-before-page", nullptr};

bool ParseDuration(const std::string& text, long bareUnitMilliseconds, long& milliseconds) {
    std::string digits = text;
    long unit = bareUnitMilliseconds;
    const std::pair<const char*, long> UNITS[] = {{"ms", 1}, {"s", 1000}, {"m", 60 * 1000}, {"h", 3600 * 1000}};
    for (const auto& suffix : UNITS) {
        const size_t length = std::strlen(suffix.first);
        if (text.size() > length && text.compare(text.size() - length, length, suffix.first) == 0 &&
            text.find_first_not_of("0123456789") == text.size() - length) {
            digits = text.substr(0, text.size() - length);
            unit = suffix.second;
            break;
        }
    }
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long long value = std::stoll(digits) * unit;
    // A week is longer than any wait the gateway has; it also keeps the sum within a 32-bit long.
    if (value > 7LL * 24 * 3600 * 1000) return false;
    milliseconds = static_cast<long>(value);
    return true;
}

bool ApplyOption(const std::string& option, const std::string& value, GatewayOptions& options, std::string& error) {
    if (option == "--help" || option == "-h") {
        options.showHelp = true;
        return true;
    }
    if (option == "--once") {
        options.pageLimit = 1;
        return true;
    }
    if (option == "--smtp-tls") {
        options.relay.mail.requireTls = true;
        return true;
    }
    if (option == "--wctp-enterprise") {
        options.relay.wctp.enterprise = true;
        return true;
    }
    if (option.compare(0, 7, "--snpp-") == 0) return ApplySnppOption(option, value, options, error);
    long number = 0;
    if (option == "--address") {
        options.address = value == "localhost" ? "127.0.0.1" : value;
        if (!IsDottedQuad(options.address)) {
            error = "not an IPv4 address: " + value;
            return false;
        }
    } else if (option == "--port") {
        if (!ParseNumber(value, 65535, number)) {
            error = "not a port number (1-65535): " + value;
            return false;
        }
        options.port = static_cast<int>(number);
    } else if (option == "--count") {
        if (!ParseNumber(value, 999999999, number)) {
            error = "not a positive count: " + value;
            return false;
        }
        options.pageLimit = number;
    } else if (option == "--relay") {
        if (!ParseRoute(value, options.relay, error)) return false;
    } else if (option == "--spool") {
        if (value.empty()) {
            error = "--spool needs a folder";
            return false;
        }
        options.spoolFolder = value;
    } else if (option == "--mail-from") {
        options.relay.mail.from = value;
    } else if (option == "--mail-to") {
        options.relay.mail.toTemplate = value;
    } else if (option == "--smtp-user") {
        options.relay.mail.user = value;
    } else if (option == "--sessions") {
        if (!ParseNumber(value, 64, number)) {
            error = "--sessions needs a number of connections (1-64): " + value;
            return false;
        }
        options.relay.sessions = static_cast<int>(number);
    } else if (option == "--ca-file") {
        if (!UseCaFile(value, options.relay.wctp, error)) return false;
    } else if (option == "--wctp-poll" || option == "--wctp-receipts") {
        const bool poll = option == "--wctp-poll";
        long milliseconds = 0;
        if (!ParseDuration(value, 1000, milliseconds) || (poll && milliseconds < 1000)) {
            error = option + " needs a duration (" + (poll ? "1s" : "0") + " to 7 days; a bare number is seconds): " +
                    PrintableText(value);
            return false;
        }
        (poll ? options.relay.wctp.pollMilliseconds : options.relay.wctp.receiptMilliseconds) = milliseconds;
    } else if (option == "--status-allow") {
        AddressRange range;
        if (!ParseAddressRange(value, range)) {
            error = "--status-allow needs an address range such as 192.168.1.0/24: " + PrintableText(value);
            return false;
        }
        options.statusAllow.push_back(range);
    } else if (option == "--ledger-pages" || option == "--ledger-days" || option == "--ledger-megabytes") {
        const long most = option == "--ledger-pages" ? 1000000 : option == "--ledger-days" ? 36500 : 4096;
        if (!ParseNumber(value, most, number)) {
            error = option + " needs a positive number: " + PrintableText(value);
            return false;
        }
        if (option == "--ledger-pages")
            options.ledger.pages = static_cast<size_t>(number);
        else if (option == "--ledger-days")
            options.ledger.days = number;
        else
            options.ledger.bytes = static_cast<size_t>(number) * 1024 * 1024;
    } else if (option == "--failover-after" || option == "--expire-after" || option == "--late-after") {
        // A bare number would leave open whether it counts seconds or minutes: only 0 goes without a unit.
        long milliseconds = 0;
        const bool bare = value.find_first_not_of("0123456789") == std::string::npos;
        if ((bare && value != "0") || !ParseDuration(value, 1, milliseconds)) {
            error = option + " needs a duration with its unit, such as 90s, 60m or 2h (0: never; at most 7 days): " +
                    PrintableText(value);
            return false;
        }
        (option == "--failover-after" ? options.relay.failoverAfterMilliseconds
         : option == "--expire-after" ? options.relay.expireAfterMilliseconds
                                      : options.relay.lateAfterMilliseconds) = milliseconds;
    } else if (option == "--retry-first" || option == "--retry-most" || option == "--upstream-timeout") {
        long milliseconds = 0;
        if (!ParseDuration(value, 1, milliseconds) || milliseconds < 1 || milliseconds > 300 * 1000) {
            error = option + " needs a duration from 1ms to 5m (a bare number is milliseconds): " + PrintableText(value);
            return false;
        }
        (option == "--retry-first"  ? options.relay.retryFirstMilliseconds
         : option == "--retry-most" ? options.relay.retryMostMilliseconds
                                    : options.relay.timeoutMilliseconds) = milliseconds;
    } else if (option == "--notify-url") {
        if (!ParseNotifyUrl(value, options.notices.webhook, error)) return false;
        options.notices.url = value;
    } else if (option == "--notify-command") {
        if (value.empty()) {
            error = "--notify-command needs a program";
            return false;
        }
        options.notices.command = value;
    } else if (option == "--notify-mail" || option == "--notify-smtp") {
#ifndef PAGING_GATEWAY_MAIL
        error = option + ": this Windows build sends no e-mail (it is built without libcurl); use --notify-url";
        return false;
#else
        if (option == "--notify-mail" && !IsAddressText(value)) {
            error = "--notify-mail needs an e-mail address: " + PrintableText(value);
            return false;
        }
        UpstreamUrl server;
        if (option == "--notify-smtp" &&
            (!ParseUpstreamUrl(value, server, error) || server.kind != UpstreamKind::Smtp)) {
            error = "--notify-smtp needs smtp://HOST[:PORT] or smtps://HOST[:PORT]: " + PrintableText(value);
            return false;
        }
        (option == "--notify-mail" ? options.notices.mailTo : options.notices.smtpUrl) = value;
#endif
    } else if (option == "--config" || option == "--check-config") {
        if (value.empty() || (!options.configFile.empty() && options.configFile != value)) {
            error = value.empty() ? option + " needs a file" : "one configuration file at a time";
            return false;
        }
        options.configFile = value;
        options.checkConfig = options.checkConfig || option == "--check-config";
    } else {
        error = "unknown option " + option;
        return false;
    }
    return true;
}

namespace {

// Notices need the relay's spool and, by mail, a server and a sender.
bool CheckNotices(GatewayOptions& options, std::string& error) {
    NoticeSettings& notices = options.notices;
    notices.webhook.caFile = options.relay.wctp.caFile;
    if (notices.Any() && options.relay.routes.empty()) {
        error = "notices (--notify-...) are of relayed pages: they need --relay";
        return false;
    }
    if (notices.mailTo.empty()) return true;
    bool smtpRoute = false;
    for (const RelayRoute& route : options.relay.routes) smtpRoute = smtpRoute || route.url.kind == UpstreamKind::Smtp;
    if (notices.smtpUrl.empty() && !smtpRoute) {
        error = "--notify-mail needs an SMTP server: an e-mail --relay, or --notify-smtp smtp://HOST[:PORT]";
        return false;
    }
    if (!IsAddressText(options.relay.mail.from)) {
        error = "--notify-mail needs --mail-from, the address its mails come from";
        return false;
    }
    return true;
}

}  // namespace

bool CheckOptions(GatewayOptions& options, std::string& error) {
    return CheckMail(options.relay, error) && CheckSnpp(options, error) && CheckNotices(options, error);
}

namespace {

// The file's settings under the command line's: an option the command line gives replaces the file's values
// (all of them, for --relay and --status-allow), so a --relay on the command line replaces the file's routes.
bool ApplyConfigFile(const ConfigFile& file, const std::vector<std::string>& given, GatewayOptions& options,
                     std::string& error) {
    for (const ConfigSetting& setting : file.settings) {
        if (std::find(given.begin(), given.end(), setting.option) != given.end()) continue;
        const size_t routes = options.relay.routes.size();
        if (!ApplyOption(setting.option, setting.value, options, error)) {
            error = setting.where + ": " + error;
            return false;
        }
        if (setting.option != "--relay" || options.relay.routes.size() != routes + 1) continue;
        RelayRoute& route = options.relay.routes.back();
        if (!setting.snppWhere.empty() && route.url.kind != UpstreamKind::Snpp) {
            error = setting.snppWhere + ": the snpp- keys are for an snpp:// route";
            return false;
        }
        route.snpp = setting.snpp;
        route.snppOwn = !setting.snppWhere.empty();
    }
    options.relay.mail.password = file.smtpPassword;
    options.relay.wctp.senderId = file.wctpSender;
    options.relay.wctp.securityCode = file.wctpSecurityCode;
    options.snpp.password = file.snppPassword;
    return true;
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, GatewayOptions& options, std::string& error) {
    // The file first, whatever its place on the command line, so that every option given there wins.
    std::vector<std::string> given;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        bool takesValue = false;
        if (!IsGatewayOption(option, takesValue)) continue;
        given.push_back(option);
        if (takesValue && i + 1 < argc && (option == "--config" || option == "--check-config")) {
            if (!ApplyOption(option, argv[i + 1], options, error)) return false;
        }
        if (takesValue) ++i;
    }
    if (!options.configFile.empty()) {
        ConfigFile file;
        if (!ReadConfigFile(options.configFile, file, error) || !ApplyConfigFile(file, given, options, error))
            return false;
    }
    const bool fileGaveSnpp = options.snppGiven;
    options.snppGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        bool takesValue = false;
        if (!IsGatewayOption(option, takesValue)) {
            error = "unknown option " + option;
            return false;
        }
        if (takesValue && i + 1 >= argc) {
            error = option + " needs a value";
            return false;
        }
        if (!ApplyOption(option, takesValue ? argv[++i] : "", options, error)) return false;
    }
    options.snppOnCommandLine = options.snppGiven;
    options.snppGiven = options.snppGiven || fileGaveSnpp;
    return CheckOptions(options, error);
}

bool ReadMailCredentials(MailSettings& mail, std::string& error) {
    const char* user = std::getenv(SMTP_USER_VARIABLE);
    if (mail.user.empty() && user != nullptr) mail.user = user;
    if (mail.user.empty()) return true;
    // The environment wins over the configuration file's smtp-password.
    const char* password = std::getenv(SMTP_PASSWORD_VARIABLE);
    if (password != nullptr) mail.password = password;
    if (password == nullptr && mail.password.empty()) {
        error = std::string("an SMTP login needs its password in ") + SMTP_PASSWORD_VARIABLE +
                " (or smtp-password in the configuration file)";
        return false;
    }
    return true;
}

bool ReadWctpCredentials(const RelaySettings& relay, WctpSettings& wctp, std::string& error) {
    bool used = false;
    for (const RelayRoute& route : relay.routes) used = used || route.url.kind == UpstreamKind::Wctp;
    if (!used) return true;
    // The environment wins over the configuration file's wctp-sender and wctp-security-code.
    const char* sender = std::getenv(WCTP_SENDER_VARIABLE);
    const char* code = std::getenv(WCTP_SECURITY_CODE_VARIABLE);
    if (sender != nullptr && *sender != 0) wctp.senderId = sender;
    if (code != nullptr) wctp.securityCode = code;
    if (wctp.senderId.empty()) {
        error = std::string("a WCTP relay needs its sender id in ") + WCTP_SENDER_VARIABLE +
                " (or wctp-sender in the configuration file)";
        return false;
    }
    // Both go into the XML as given, so nothing in them may need more than escaping; the code is never shown.
    for (const std::string* value : {&wctp.senderId, &wctp.securityCode})
        for (char c : *value)
            if (c < 0x20 || c > 0x7E) {
                error = std::string("only printable ASCII is taken in ") +
                        (value == &wctp.senderId ? WCTP_SENDER_VARIABLE : WCTP_SECURITY_CODE_VARIABLE);
                return false;
            }
    return true;
}
