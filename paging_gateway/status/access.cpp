// Who may read the status pages and press their buttons: the client's address, the Host it named, the token.
#include "paging_gateway/status/access.h"

namespace {

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

bool SameSecret(const std::string& given, const std::string& secret) {
    if (secret.empty() || given.size() != secret.size()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < secret.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ secret[i]);
    return difference == 0;
}
