// The gateway run by Windows' service manager: started, stopped and its state reported there.
#pragma once

#include <string>
#include <vector>

// Hands the process to the service manager, which then runs the gateway with `options` (the command line
// without --service). Returns the exit code once the service has stopped; 1 when the process was not started
// by the service manager.
int RunService(const std::vector<std::string>& options);
