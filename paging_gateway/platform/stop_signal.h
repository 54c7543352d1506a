// Ctrl+C and the service managers' stop signal end the gateway's run cleanly instead of killing it mid-delivery.
#pragma once

#include <atomic>

// From now on the first SIGTERM or SIGINT (Ctrl+C, Ctrl+Break on Windows) sets `stop`; a second one ends the
// process at once, for a user who does not want to wait for the delivery under way.
void StopOnSignals(std::atomic<bool>& stop);
