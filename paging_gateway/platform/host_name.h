// The gateway machine's name, as notices name their sender.
#pragma once

#include <string>

// "localhost" when the system will not say.
std::string HostName();
