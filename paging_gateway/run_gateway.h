// The gateway's whole run, from listening to the last page relayed, for the console and the service alike.
#pragma once

#include <atomic>
#include <ostream>

#include "paging_gateway/options.h"

// Serves until the page limit or until `stop` turns true; page lines go to `out`, everything else to `err`.
// 0 after a clean stop, 1 when the gateway could not start.
int RunGateway(const GatewayOptions& options, std::ostream& out, std::ostream& err, std::atomic<bool>& stop);
