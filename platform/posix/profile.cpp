// Settings-file services (placeholder until the INI engine lands).
#include "platform/platform.h"

namespace platform {
uint32_t profileGet(const char*, const char*, const char*, char* buf, uint32_t size) {
    if (buf && size) buf[0] = '\0';
    return 0;
}
bool profilePut(const char*, const char*, const char*, const char*) { return false; }
uint32_t fileAttributes(const char*) { return FILE_ATTR_INVALID; }
bool setFileAttributes(const char*, uint32_t) { return false; }
}  // namespace platform
