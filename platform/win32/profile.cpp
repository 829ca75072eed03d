// Windows settings-file services: a thin pass-through to the private-profile functions
// and the file attributes, whose archive bit is the settings file's change marker.
#include <windows.h>

#include <cstring>
#include <initializer_list>

#include "platform/platform.h"

namespace platform {

uint32_t profileGet(const char* path, const char* section, const char* key, char* buf,
                    uint32_t size) {
    if (!buf || size == 0) return 0;
    buf[0] = '\0';
    if (!path || !section || !key) return 0;
    DWORD n = GetPrivateProfileStringA(section, key, "", buf, size, path);
    if (n >= size) n = size - 1;
    buf[n] = '\0';
    return n;
}

bool profilePut(const char* path, const char* section, const char* key, const char* value) {
    if (!path || !section) return false;
    // A line break would split the line in two and plant a stray key in the file.
    for (const char* s : {section, key, value}) {
        if (s && std::strpbrk(s, "\r\n")) return false;
    }
    if (key && std::strchr(key, '=')) return false;
    return WritePrivateProfileStringA(section, key, value, path) != 0;
}

uint32_t fileAttributes(const char* path) {
    if (!path) return FILE_ATTR_INVALID;
    return GetFileAttributesA(path);
}

bool setFileAttributes(const char* path, uint32_t attrs) {
    if (!path) return false;
    return SetFileAttributesA(path, attrs) != 0;
}

}  // namespace platform
