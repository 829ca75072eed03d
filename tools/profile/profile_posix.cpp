// Our side: the INI engine the Linux build reads and writes settings files with.
#include "platform/common/ini.h"
#include "tools/profile/profile.h"

uint32_t profileToolGet(const char* path, const char* section, const char* key, char* buf,
                        uint32_t size) {
    return ini::fileGet(path, section, key, buf, size);
}

bool profileToolPut(const char* path, const char* section, const char* key, const char* value) {
    return ini::filePut(path, section, key, value);
}
