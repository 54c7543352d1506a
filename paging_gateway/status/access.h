// Who may read the status pages and press their buttons: the client's address, the Host it named, the token.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "paging_gateway/platform/host_names.h"  // the Host rule, shared with the carriers' forms

struct AddressRange {
    uint32_t address = 0;  // host order
    uint32_t mask = 0;
};

// "A.B.C.D/N" or a single address "A.B.C.D"; false for anything else.
bool ParseAddressRange(const std::string& text, AddressRange& range);

// Loopback always; other addresses only within one of `allowed`.
bool ClientAllowed(const std::string& client, const std::vector<AddressRange>& allowed);

// Compared in time independent of where they differ.
bool SameSecret(const std::string& given, const std::string& secret);
