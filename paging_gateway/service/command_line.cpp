// The service's command line, checked and quoted.
#include "paging_gateway/service/command_line.h"

#include "paging_gateway/options.h"
#include "paging_gateway/platform/command_line_quote.h"

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
    std::string line = QuoteWindowsArgument(exe) + " --service";
    for (const std::string& option : options) line += " " + QuoteWindowsArgument(option);
    return line + " --spool " + QuoteWindowsArgument(spool);
}
