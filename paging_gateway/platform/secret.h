// Unguessable text from the system's random source, for the status pages' per-start token.
#pragma once

#include <string>

// `bytes` random bytes as lower-case hex; empty when the system gave none.
std::string NewSecret(size_t bytes);
