// Which names a request may call the gateway by: the Host rule the status pages and the carriers' forms share.
#include "paging_gateway/platform/host_names.h"

#include "common/text.h"

bool ParseIpv4(const std::string& text, uint32_t& address) {
    address = 0;
    int parts = 0;
    size_t start = 0;
    for (;;) {
        const size_t dot = text.find('.', start);
        const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos) return false;
        const unsigned long value = std::stoul(part);
        if (value > 255) return false;
        address = address << 8 | static_cast<uint32_t>(value);
        ++parts;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return parts == 4;
}

bool HostAllowed(const std::string* host, const std::string& listenAddress, int port) {
    if (host == nullptr) return true;
    std::string name = *host;
    const size_t colon = name.rfind(':');
    if (colon != std::string::npos) {
        if (name.substr(colon + 1) != std::to_string(port)) return false;
        name = name.substr(0, colon);
    } else if (port != 80) {
        return false;
    }
    if (SameIgnoringCase(name, "localhost")) return true;
    uint32_t named = 0;
    if (!ParseIpv4(name, named)) return false;
    return listenAddress == "0.0.0.0" || name == listenAddress;
}
