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

// The batch in progress: one reading of the settings file for a whole load.
ini::Session batch;

bool inBatch(const char* path) { return path && batch.open && batch.path == path; }

}  // namespace

namespace platform {

uint32_t profileGet(const char* path, const char* section, const char* key, char* buf,
                    uint32_t size) {
    if (inBatch(path)) return ini::sessionGet(batch, section, key, buf, size);
    return ini::fileGet(path, section, key, buf, size);
}

bool profilePut(const char* path, const char* section, const char* key, const char* value) {
    if (inBatch(path)) return ini::sessionPut(&batch, section, key, value);
    return ini::filePut(path, section, key, value);
}

void profileBegin(const char* path) { ini::sessionBegin(&batch, path); }

ProfileOutcome profileEnd() { return ini::profileOutcome(ini::sessionEnd(&batch)); }

bool fileStamp(const char* path, FileStamp* stamp) {
    struct stat st;
    if (!path || stat(path, &st) != 0) return false;
    stamp->size = static_cast<uint64_t>(st.st_size);
    stamp->writeTime = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
                       static_cast<uint64_t>(st.st_mtim.tv_nsec);
    // A save by rename may keep size and time, but it is another file.
    stamp->fileId = static_cast<uint64_t>(st.st_ino);
    return true;
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
