// The gateway's command line.
#include "tools/paging_gateway/options.h"

const char GATEWAY_USAGE[] =
    "Usage: paging_gateway [--address A] [--port P] [--once | --count N]\n"
    "Stands in for the six carriers' paging web servers: answers mervasTX's requests\n"
    "and prints one line per page.\n"
    "  --address A  IPv4 address to listen on (default 127.0.0.1; \"localhost\" means that)\n"
    "  --port P     TCP port (default 80, where mervasTX sends)\n"
    "  --once       exit after the first page\n"
    "  --count N    exit after N pages\n"
    "  --help       show this text\n";

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

}  // namespace

bool ParseOptions(int argc, const char* const* argv, GatewayOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            options.showHelp = true;
            continue;
        }
        if (option == "--once") {
            options.pageLimit = 1;
            continue;
        }
        if (option != "--address" && option != "--port" && option != "--count") {
            error = "unknown option " + option;
            return false;
        }
        if (i + 1 >= argc) {
            error = option + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
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
        } else {
            if (!ParseNumber(value, 999999999, number)) {
                error = "not a positive count: " + value;
                return false;
            }
            options.pageLimit = number;
        }
    }
    return true;
}
