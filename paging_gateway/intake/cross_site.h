// Whether a carrier form's request came from the gateway's own client and not from another site's page in a
// browser, which could otherwise send pages through the operator's paging account.
#pragma once

#include <string>

#include "paging_gateway/intake/http.h"

// False, with the reason, for a request that names another site as its origin (Origin, Sec-Fetch-Site) or
// calls the gateway by a name that is not its own (Host, as the status pages read it). mervasTX and curl send
// none of the first two, and a Host the rule lets through.
bool FormRequestAllowed(const HttpRequest& request, const std::string& listenAddress, int port, std::string& why);
