// --install-service and --uninstall-service: the gateway registered with Windows' service manager, and removed.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// `options` are the relay options the service runs with. 0 on success; 1, with the reason on `err`, otherwise.
int InstallService(const std::vector<std::string>& options, std::ostream& out, std::ostream& err);

// Stops the service, waiting for the page under way, and removes it; its folder and spooled pages stay.
int UninstallService(std::ostream& out, std::ostream& err);
