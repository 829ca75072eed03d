// The key both platforms name a settings file's claim by: a 64-bit FNV-1a hash of its
// full path (as each platform compares paths), in 16 hex digits. Short and of one length,
// so it fits every name the systems allow, whatever characters the path holds.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/common/ini.h"

namespace platform {

constexpr size_t PATH_KEY_SIZE = 17;

inline void pathKey(const char* path, char (&out)[PATH_KEY_SIZE]) {
    const uint64_t hash = ini::digest(path);
    std::snprintf(out, sizeof out, "%08X%08X", static_cast<unsigned>(hash >> 32),
                  static_cast<unsigned>(hash & 0xFFFFFFFFu));
}

}  // namespace platform
