// The gateway's command line.
#include "paging_gateway/options.h"

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <utility>

#include "paging_gateway/config/config_file.h"
#include "common/text.h"

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
    "  --ca-file FILE           WCTP over HTTPS: trust only the certificate authorities in FILE (PEM)\n"      \
    "                           rather than the system's\n"
#else
#define RELAY_KINDS "SNPP or WCTP (this Windows build has no e-mail relay: it is built without libcurl)"
#define MAIL_USAGE ""
#define URL_USAGE \
    "snpp://HOST[:PORT] (port 444), wctp+https://HOST[:PORT]/PATH (443), wctp+http://HOST[:PORT]/PATH (80)"
#define CA_USAGE ""
#endif

const char GATEWAY_USAGE[] =
    "Usage: paging_gateway [--address A] [--port P] [--once | --count N] [--relay [CARRIER=]URL ...]\n"
    "Stands in for the six carriers' paging web servers: answers mervasTX's requests\n"
    "and prints one line per page. With --relay it also hands each page on to a real\n"
    "paging network over " RELAY_KINDS ",\n"
    "keeping it in a spool folder until the network has taken it.\n"
    "Each page's story is on http://ADDRESS:PORT/status (also /status.json and /metrics).\n"
    "  --address A              IPv4 address to listen on (default 127.0.0.1; \"localhost\" means that)\n"
    "  --port P                 TCP port (default 80, where mervasTX sends)\n"
    "  --once                   exit after the first page\n"
    "  --count N                exit after N pages\n"
    "  --relay URL              relay every page to URL:\n"
    "                           " URL_USAGE "\n"
    "  --relay CARRIER=URL      relay that carrier's pages (its name as mervasTX shows it, e.g. AT&T)\n"
    "                           to URL; once per carrier; a bare --relay URL serves the rest\n"
    "  --spool DIR              where pages wait (default paging_gateway.spool); refused ones go to\n"
    "                           DIR/failed, each with the upstream's reply beside it\n"
    MAIL_USAGE
    "  --wctp-enterprise        WCTP: send pages as an enterprise host (wctp-SubmitRequest, the security\n"
    "                           code as securityCode) rather than as a transient client (the code as\n"
    "                           miscInfo); the sender id and security code come from the environment only:\n"
    "                           PAGING_GATEWAY_WCTP_SENDER and PAGING_GATEWAY_WCTP_SECURITY_CODE\n"
    CA_USAGE
    "  --wctp-poll S            WCTP: ask after a page's delivery every S seconds (default 60), or less\n"
    "                           often when the network asks for that\n"
    "  --wctp-receipts S        WCTP: keep asking for S seconds after a page went (default 3600; 0: never)\n"
    "  --status-allow CIDR      let addresses in CIDR (e.g. 192.168.1.0/24) see /status, /status.json and\n"
    "                           /metrics (loopback always can); repeatable\n"
    "  --ledger-pages N         keep the story of the last N pages (default 10000)\n"
    "  --ledger-days N          and of no page older than N days (default 30)\n"
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
#ifndef PAGING_GATEWAY_MAIL
    if (route.url.kind == UpstreamKind::Smtp) {
        error = "this paging_gateway relays SNPP only (built without libcurl): " + route.url.text;
        return false;
    }
#endif
    for (const RelayRoute& earlier : relay.routes)
        if (earlier.carrier == route.carrier) {
            error = route.carrier.empty() ? "more than one --relay for the other carriers"
                                          : "more than one --relay for " + route.carrier;
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

const char* const GATEWAY_FLAGS[] = {"--help", "-h", "--once", "--smtp-tls", "--wctp-enterprise", nullptr};
const char* const GATEWAY_VALUE_OPTIONS[] = {
    "--config",       "--check-config",
    "--address",      "--port",       "--count",            "--relay",    "--spool",   "--mail-from",
    "--mail-to",      "--smtp-user",  "--retry-first",      "--retry-most", "--upstream-timeout", "--sessions",
    "--ca-file",      "--wctp-poll",  "--wctp-receipts",    "--status-allow", "--ledger-pages", "--ledger-days",
    nullptr};

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
    } else if (option == "--ledger-pages" || option == "--ledger-days") {
        if (!ParseNumber(value, option == "--ledger-pages" ? 1000000 : 36500, number)) {
            error = option + " needs a positive number: " + PrintableText(value);
            return false;
        }
        if (option == "--ledger-pages")
            options.ledger.pages = static_cast<size_t>(number);
        else
            options.ledger.days = number;
    } else if (option == "--retry-first" || option == "--retry-most" || option == "--upstream-timeout") {
        long milliseconds = 0;
        if (!ParseDuration(value, 1, milliseconds) || milliseconds < 1 || milliseconds > 300 * 1000) {
            error = option + " needs a duration from 1ms to 5m (a bare number is milliseconds): " + PrintableText(value);
            return false;
        }
        (option == "--retry-first"  ? options.relay.retryFirstMilliseconds
         : option == "--retry-most" ? options.relay.retryMostMilliseconds
                                    : options.relay.timeoutMilliseconds) = milliseconds;
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

bool CheckOptions(GatewayOptions& options, std::string& error) { return CheckMail(options.relay, error); }

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
    }
    options.relay.mail.password = file.smtpPassword;
    options.relay.wctp.senderId = file.wctpSender;
    options.relay.wctp.securityCode = file.wctpSecurityCode;
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
