// The system's own words for why the last call failed, for the gateway's messages.
#pragma once

#include <string>

// GetLastError's text on Windows, errno's elsewhere; read it before any other call can change them.
std::string SystemError();
