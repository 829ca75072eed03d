// The Linux build has no system profile functions: its reference is our own engine, as
// the program calls it.
#include "platform/platform.h"
#include "tools/profile/profile.h"

uint32_t profileToolGet(const char* path, const char* section, const char* key, char* buf,
                        uint32_t size) {
    return platform::profileGet(path, section, key, buf, size);
}

bool profileToolPut(const char* path, const char* section, const char* key, const char* value) {
    return platform::profilePut(path, section, key, value);
}
