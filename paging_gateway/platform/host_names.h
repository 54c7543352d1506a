// Which names a request may call the gateway by: the Host rule the status pages and the carriers' forms share.
#pragma once

#include <cstdint>
#include <string>

// "A.B.C.D" with four decimal parts of at most three digits each, in host order; false for anything else.
bool ParseIpv4(const std::string& text, uint32_t& address);

// A Host header must name localhost or the gateway's own address (any IPv4 address when it listens on all of
// them), with the gateway's port or none when that is 80: a rebound DNS name never gets in. No Host header
// (HTTP/1.0 tools, mervasTX itself) is let through, since a browser always sends one.
bool HostAllowed(const std::string* host, const std::string& listenAddress, int port);
