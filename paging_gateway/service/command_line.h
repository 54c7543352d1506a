// The service's command line: the relay options checked for a service and written back as one Windows command line.
#pragma once

#include <string>
#include <vector>

constexpr const char SERVICE_NAME[] = "mervasTXGateway";
constexpr const char SERVICE_DISPLAY_NAME[] = "mervasTX paging gateway";

// False, with the reason, for options a service cannot take: --spool (the service keeps its own), --once,
// --count, --help, or any option the gateway itself refuses.
bool CheckServiceOptions(const std::vector<std::string>& options, std::string& error);

// "EXE" --service OPTIONS... --spool "SPOOL", each argument quoted as it needs.
std::string ServiceCommandLine(const std::string& exe, const std::vector<std::string>& options,
                               const std::string& spool);
