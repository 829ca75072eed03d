// Linux has no archive attribute: the settings file's change marker is kept by the
// program (common/change_mark), "set" whenever the file is no longer what it was when
// the marker was last cleared.
#include <sys/stat.h>
#include <unistd.h>

#include "platform/common/change_mark.h"
#include "platform/platform.h"

namespace platform {

uint32_t fileAttributes(const char* path) {
    struct stat st;
    if (!path || stat(path, &st) != 0) return FILE_ATTR_INVALID;
    uint32_t attrs = 0;
    if (S_ISDIR(st.st_mode)) attrs |= 0x10;           // FILE_ATTRIBUTE_DIRECTORY
    if (access(path, W_OK) != 0) attrs |= 0x01;       // FILE_ATTRIBUTE_READONLY
    if (changemark::changed(path)) attrs |= FILE_ATTR_ARCHIVE;
    return attrs ? attrs : FILE_ATTR_NORMAL;
}

bool setFileAttributes(const char* path, uint32_t attrs) {
    struct stat st;
    if (!path || stat(path, &st) != 0) return false;
    if (attrs & FILE_ATTR_ARCHIVE) {
        changemark::forget(path);
        return true;
    }
    // Read-only and the other Windows bits have no faithful Linux meaning; the file's
    // permissions are left as the user set them.
    return changemark::clear(path);
}

}  // namespace platform
