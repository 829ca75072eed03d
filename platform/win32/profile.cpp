// Windows settings-file services: the file attributes, whose archive bit is the settings
// file's change marker. Where clearing it does not take (Wine reports every file as
// archived, always), the program keeps the marker itself (common/change_mark) and the bit
// reads as clear while the file is what it was when the marker was cleared.
#include <windows.h>

#include "platform/common/change_mark.h"
#include "platform/platform.h"

namespace platform {

uint32_t fileAttributes(const char* path) {
    if (!path) return FILE_ATTR_INVALID;
    DWORD attrs = GetFileAttributesA(path);
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTR_ARCHIVE)) return attrs;
    bool marked = false;
    if (changemark::changed(path, &marked) || !marked) return attrs;
    attrs &= ~FILE_ATTR_ARCHIVE;
    return attrs ? attrs : FILE_ATTR_NORMAL;
}

bool setFileAttributes(const char* path, uint32_t attrs) {
    if (!path || !SetFileAttributesA(path, attrs)) return false;
    DWORD now = (attrs & FILE_ATTR_ARCHIVE) ? 0 : GetFileAttributesA(path);
    // Read back: a clear that did not take leaves the marker to us.
    if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTR_ARCHIVE)) return changemark::clear(path);
    changemark::forget(path);
    return true;
}

}  // namespace platform
