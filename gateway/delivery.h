// Hands the prepared request to the carrier's paging web server over TCP port 80.
#pragma once

#include "gateway/request.h"

constexpr const char* STATUS_SENT = "Message sent!";
constexpr const char* STATUS_CONNECT_FAILED = "Connect failed!";
constexpr const char* STATUS_NO_TCP = "cannot map tcp to protocol number";
constexpr const char* STATUS_NO_SOCKET = "socket creation failed";
constexpr const char* STATUS_SEND_FAILED = "Send failed!";

constexpr int GATEWAY_PORT = 80;

// Connects, writes the whole request, closes, and returns one of the status texts above.
// No reply is read: "Message sent!" means the request was written.
const char* DeliverRequest(GatewayRequest& request);
