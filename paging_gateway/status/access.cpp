// Who may read the status pages and press their buttons: the client's address, the Host it named, the token.
#include "paging_gateway/status/access.h"

#include "common/text.h"

namespace {

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

bool InRange(uint32_t address, const AddressRange& range) { return (address & range.mask) == range.address; }

}  // namespace

bool ParseAddressRange(const std::string& text, AddressRange& range) {
    const size_t slash = text.find('/');
    int bits = 32;
    if (slash != std::string::npos) {
        const std::string digits = text.substr(slash + 1);
        if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        bits = std::stoi(digits);
        if (bits > 32) return false;
    }
    uint32_t address = 0;
    if (!ParseIpv4(text.substr(0, slash), address)) return false;
    range.mask = bits == 0 ? 0 : ~uint32_t(0) << (32 - bits);
    range.address = address & range.mask;
    return true;
}

bool ClientAllowed(const std::string& client, const std::vector<AddressRange>& allowed) {
    uint32_t address = 0;
    if (!ParseIpv4(client, address)) return false;
    if (address >> 24 == 127) return true;
    for (const AddressRange& range : allowed)
        if (InRange(address, range)) return true;
    return false;
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

bool SameSecret(const std::string& given, const std::string& secret) {
    if (secret.empty() || given.size() != secret.size()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < secret.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ secret[i]);
    return difference == 0;
}
