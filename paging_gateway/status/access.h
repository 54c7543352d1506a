// Who may read the status pages and press their buttons: the client's address, the Host it named, the token.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AddressRange {
    uint32_t address = 0;  // host order
    uint32_t mask = 0;
};

// "A.B.C.D/N" or a single address "A.B.C.D"; false for anything else.
bool ParseAddressRange(const std::string& text, AddressRange& range);

// Loopback always; other addresses only within one of `allowed`.
bool ClientAllowed(const std::string& client, const std::vector<AddressRange>& allowed);

// A Host header must name localhost or the gateway's own address (any IPv4 address when it listens on all of
// them), with the gateway's port or none when that is 80: a rebound DNS name never gets in. No Host header
// (HTTP/1.0 tools) is let through, since a browser always sends one.
bool HostAllowed(const std::string* host, const std::string& listenAddress, int port);

// Compared in time independent of where they differ.
bool SameSecret(const std::string& given, const std::string& secret);
