// The service's command line, checked and quoted.
#include "paging_gateway/service/command_line.h"

#include "paging_gateway/options.h"

std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    // Backslashes are literal except before a quote, where each must be doubled; so before the closing one too.
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

bool CheckServiceOptions(const std::vector<std::string>& options, std::string& error) {
    static const char* const REFUSED[][2] = {
        {"--spool", "the service keeps its pages in its own folder; leave --spool out"},
        {"--once", "a service runs until it is stopped; leave --once out"},
        {"--count", "a service runs until it is stopped; leave --count out"},
        {"--help", "--help does not go with --install-service"},
        {"-h", "--help does not go with --install-service"},
        {"--config", "the service writes its own settings file from the options; edit that file afterwards"},
        {"--check-config", "--check-config does not go with --install-service"},
    };
    for (const std::string& option : options)
        for (const auto& refused : REFUSED)
            if (option == refused[0]) {
                error = refused[1];
                return false;
            }
    std::vector<const char*> argv{"paging_gateway"};
    for (const std::string& option : options) argv.push_back(option.c_str());
    GatewayOptions parsed;
    return ParseOptions(static_cast<int>(argv.size()), argv.data(), parsed, error);
}

std::string ServiceCommandLine(const std::string& exe, const std::vector<std::string>& options,
                               const std::string& spool) {
    std::string line = QuoteArgument(exe) + " --service";
    for (const std::string& option : options) line += " " + QuoteArgument(option);
    return line + " --spool " + QuoteArgument(spool);
}
