// The key both platforms name a settings file's claim by: a 64-bit FNV-1a hash of its
// full path (as each platform compares paths), in 16 hex digits. Short and of one length,
// so it fits every name the systems allow, whatever characters the path holds.
#pragma once

#include <cstdint>
#include <cstdio>

namespace platform {

constexpr size_t PATH_KEY_SIZE = 17;

inline void pathKey(const char* path, char (&out)[PATH_KEY_SIZE]) {
    uint64_t hash = 1469598103934665603ull;
    for (const char* p = path; *p; ++p) {
        hash ^= static_cast<unsigned char>(*p);
        hash *= 1099511628211ull;
    }
    std::snprintf(out, sizeof out, "%08X%08X", static_cast<unsigned>(hash >> 32),
                  static_cast<unsigned>(hash & 0xFFFFFFFFu));
}

}  // namespace platform
