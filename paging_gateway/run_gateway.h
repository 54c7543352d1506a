// The gateway's whole run, from listening to the last page relayed, for the console and the service alike.
#pragma once

#include <atomic>
#include <functional>
#include <ostream>
#include <string>

#include "paging_gateway/options.h"

// The command line and the logins the relays take from the environment, for the console and the service
// alike; false, with the reason, for anything the gateway cannot run with.
bool ReadGatewayOptions(int argc, const char* const* argv, GatewayOptions& options, std::string& error);

// One line per route: whose pages go where.
void PrintRoutes(const RelaySettings& relay, std::ostream& err);

// Serves until the page limit or until `stop` turns true; page lines go to `out`, everything else to `err`.
// `listening` is called once the port and the spool are the gateway's. 0 after a clean stop, 1 when the
// gateway could not start (the reason, and what to do about it, printed to `err`).
int RunGateway(const GatewayOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& stop,
               const std::function<void()>& listening = {});
