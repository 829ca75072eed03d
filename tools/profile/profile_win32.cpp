// The reference side: Windows' private-profile functions called as they are, without the
// guards the program's platform layer adds around them.
#include <windows.h>

#include "tools/profile/profile.h"

uint32_t profileToolGet(const char* path, const char* section, const char* key, char* buf,
                        uint32_t size) {
    return GetPrivateProfileStringA(section, key, "", buf, size, path);
}

bool profileToolPut(const char* path, const char* section, const char* key, const char* value) {
    return WritePrivateProfileStringA(section, key, value, path) != 0;
}
