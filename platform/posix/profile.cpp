// Linux settings-file services: our INI engine behind the profile calls, and a stand-in
// for the Windows archive attribute. Linux has none, so "archive set" means the file is
// no longer the one we saw when the attribute was last cleared (inode, size, times).
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/posix/ini.h"

namespace {

struct FileIdentity {
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
    timespec changed;
};

// Files whose archive attribute was cleared, with what they looked like then. The
// program keeps one settings file; a handful of slots is plenty, the oldest is reused.
constexpr int CLEARED_SLOTS = 8;
constexpr size_t CLEARED_PATH_SIZE = 512;
struct ClearedFile {
    bool used;
    char path[CLEARED_PATH_SIZE];
    FileIdentity identity;
};
ClearedFile clearedFiles[CLEARED_SLOTS];
int nextSlot = 0;

FileIdentity identityOf(const struct stat& st) {
    return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool sameIdentity(const FileIdentity& a, const FileIdentity& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           sameTime(a.modified, b.modified) && sameTime(a.changed, b.changed);
}

ClearedFile* findCleared(const char* path) {
    for (ClearedFile& f : clearedFiles) {
        if (f.used && std::strcmp(f.path, path) == 0) return &f;
    }
    return nullptr;
}

}  // namespace

namespace platform {

uint32_t profileGet(const char* path, const char* section, const char* key, char* buf,
                    uint32_t size) {
    return ini::fileGet(path, section, key, buf, size);
}

bool profilePut(const char* path, const char* section, const char* key, const char* value) {
    return ini::filePut(path, section, key, value);
}

uint32_t fileAttributes(const char* path) {
    struct stat st;
    if (!path || stat(path, &st) != 0) return FILE_ATTR_INVALID;
    uint32_t attrs = 0;
    if (S_ISDIR(st.st_mode)) attrs |= 0x10;           // FILE_ATTRIBUTE_DIRECTORY
    if (access(path, W_OK) != 0) attrs |= 0x01;       // FILE_ATTRIBUTE_READONLY
    const ClearedFile* cleared = findCleared(path);
    if (!cleared || !sameIdentity(cleared->identity, identityOf(st))) attrs |= FILE_ATTR_ARCHIVE;
    return attrs ? attrs : FILE_ATTR_NORMAL;
}

bool setFileAttributes(const char* path, uint32_t attrs) {
    struct stat st;
    if (!path || stat(path, &st) != 0) return false;
    ClearedFile* slot = findCleared(path);
    if (attrs & FILE_ATTR_ARCHIVE) {
        if (slot) slot->used = false;
        return true;
    }
    if (std::strlen(path) >= CLEARED_PATH_SIZE) return false;
    if (!slot) {
        slot = &clearedFiles[nextSlot];
        nextSlot = (nextSlot + 1) % CLEARED_SLOTS;
        std::strcpy(slot->path, path);
        slot->used = true;
    }
    slot->identity = identityOf(st);
    // Read-only and the other Windows bits have no faithful Linux meaning; the file's
    // permissions are left as the user set them.
    return true;
}

}  // namespace platform
