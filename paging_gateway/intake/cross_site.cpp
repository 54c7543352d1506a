// Whether a carrier form's request came from the gateway's own client and not from another site's page.
#include "paging_gateway/intake/cross_site.h"

#include "paging_gateway/platform/host_names.h"

namespace {

// A browser's origin for the gateway itself: "http://" and a Host the rule lets through. "null" (a sandboxed
// frame, a file, a redirect across sites) is no origin of ours.
bool IsOwnOrigin(const std::string& origin, const std::string& listenAddress, int port) {
    const std::string scheme = "http://";
    if (origin.compare(0, scheme.size(), scheme) != 0) return false;
    const std::string host = origin.substr(scheme.size());
    return !host.empty() && host.find('/') == std::string::npos && HostAllowed(&host, listenAddress, port);
}

}  // namespace

bool FormRequestAllowed(const HttpRequest& request, const std::string& listenAddress, int port, std::string& why) {
    const struct {
        const char* name;
        const char* many;
    } single[] = {{"Host", "more than one Host header"},
                  {"Origin", "more than one Origin header"},
                  {"Sec-Fetch-Site", "more than one Sec-Fetch-Site header"}};
    for (const auto& header : single) {
        if (HeaderValues(request, header.name).size() > 1) {
            why = header.many;
            return false;
        }
    }
    const std::vector<std::string> hosts = HeaderValues(request, "Host");
    if (!HostAllowed(hosts.empty() ? nullptr : &hosts[0], listenAddress, port)) {
        why = "the Host header " + QuoteText(hosts[0]) + " names neither this gateway nor localhost";
        return false;
    }
    const std::vector<std::string> origins = HeaderValues(request, "Origin");
    if (!origins.empty() && !IsOwnOrigin(origins[0], listenAddress, port)) {
        why = "sent by another site's page (Origin " + QuoteText(origins[0]) + ")";
        return false;
    }
    // A browser says "none" for an address typed or bookmarked, "same-origin" for the gateway's own pages.
    const std::vector<std::string> fetchSites = HeaderValues(request, "Sec-Fetch-Site");
    if (!fetchSites.empty() && fetchSites[0] != "none" && fetchSites[0] != "same-origin") {
        why = "sent by another site's page (Sec-Fetch-Site " + QuoteText(fetchSites[0]) + ")";
        return false;
    }
    return true;
}
