// Unguessable text from the system's random source, for the status pages' per-start token.
#include "paging_gateway/platform/secret.h"

#include <cstdio>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// RtlGenRandom, exported by advapi32 under this name.
extern "C" BOOLEAN NTAPI SystemFunction036(PVOID buffer, ULONG length);
#endif

namespace {

bool FillRandom(std::vector<unsigned char>& buffer) {
#ifdef _WIN32
    return SystemFunction036(buffer.data(), static_cast<ULONG>(buffer.size())) != FALSE;
#else
    FILE* source = std::fopen("/dev/urandom", "rb");
    if (source == nullptr) return false;
    const bool filled = std::fread(buffer.data(), 1, buffer.size(), source) == buffer.size();
    std::fclose(source);
    return filled;
#endif
}

}  // namespace

std::string NewSecret(size_t bytes) {
    static const char HEX[] = "0123456789abcdef";
    std::vector<unsigned char> buffer(bytes);
    if (!FillRandom(buffer)) return std::string();
    std::string text;
    for (unsigned char byte : buffer) {
        text += HEX[byte >> 4];
        text += HEX[byte & 0x0F];
    }
    return text;
}
