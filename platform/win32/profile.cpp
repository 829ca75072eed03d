// Windows settings-file services: the file attributes, whose archive bit is the settings
// file's change marker. The program also keeps a marker of its own (common/change_mark),
// cleared with the bit: where clearing the bit does not take (Wine reports every file as
// archived, always), the bit is not believed and the program's marker alone tells a save.
#include <windows.h>

#include "platform/common/change_mark.h"
#include "platform/platform.h"

namespace {

// Whether the last clear of the archive bit took, read back from the file.
bool archiveClears = true;

}  // namespace

namespace platform {

uint32_t fileAttributes(const char* path) {
    if (!path) return FILE_ATTR_INVALID;
    DWORD attrs = GetFileAttributesA(path);
    if (attrs == INVALID_FILE_ATTRIBUTES) return attrs;
    bool marked = false;
    const bool saved = changemark::changed(path, &marked);
    if (!marked) return attrs;  // never cleared by us: the bit as the system has it
    const bool set = (archiveClears && (attrs & FILE_ATTR_ARCHIVE)) || saved;
    attrs = set ? attrs | FILE_ATTR_ARCHIVE : attrs & ~FILE_ATTR_ARCHIVE;
    return attrs ? attrs : FILE_ATTR_NORMAL;
}

bool setFileAttributes(const char* path, uint32_t attrs) {
    if (!path || !SetFileAttributesA(path, attrs)) return false;
    if (attrs & FILE_ATTR_ARCHIVE) {
        changemark::forget(path);
        return true;
    }
    const DWORD now = GetFileAttributesA(path);
    archiveClears = now != INVALID_FILE_ATTRIBUTES && !(now & FILE_ATTR_ARCHIVE);
    changemark::clear(path);
    return true;
}

}  // namespace platform
