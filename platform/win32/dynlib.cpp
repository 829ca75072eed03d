// Dynamic libraries and the registry on Windows: a thin pass-through to the loader and
// to the registry's string values under HKEY_LOCAL_MACHINE.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

LibraryRef loadLibrary(const char* nameOrPath, bool* otherBitness) {
    if (otherBitness) *otherBitness = false;
    if (!nameOrPath || !*nameOrPath) return nullptr;
    HMODULE module = LoadLibraryA(nameOrPath);
    // A DLL of the other word size is found but refused as not a valid image.
    if (!module && otherBitness) *otherBitness = GetLastError() == ERROR_BAD_EXE_FORMAT;
    return reinterpret_cast<LibraryRef>(module);
}

void* librarySymbol(LibraryRef library, const char* name) {
    if (!library || !name) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeLibrary(LibraryRef library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}

int32_t registryGetString(const char* subKey, const char* valueName, char* buf,
                          uint32_t size) {
    if (!subKey || !valueName || !buf) return -1;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    DWORD type = 0;
    DWORD length = size;
    LONG rc = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buf),
                               &length);
    RegCloseKey(key);  // whether the read succeeded or not
    if (rc != ERROR_SUCCESS) return -1;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return -1;
    if (length > size) length = size;
    return static_cast<int32_t>(length);
}

}  // namespace platform
