// Windows settings-file services: a thin pass-through to the private-profile functions
// and the file attributes, whose archive bit is the settings file's change marker. A
// batch (a load) checks the file's size and write time before each of its writes, so a
// save by someone else in the middle of a load is never written into.
#include <windows.h>

#include <cstring>
#include <initializer_list>

#include "platform/platform.h"

namespace {

struct Batch {
    bool open;
    char path[MAX_PATH + 1];
    bool known;            // `expected` describes the file (false: it was missing)
    platform::FileStamp expected;  // the file as read at the start or after our last write
    bool changed;          // someone else saved it: the batch writes nothing more
    bool wrote;
    bool failed;
};
Batch batch = {};

bool sameStamp(const platform::FileStamp& a, const platform::FileStamp& b) {
    return a.size == b.size && a.writeTime == b.writeTime;
}

// Whether the file is still as the batch last saw it.
bool unchanged() {
    platform::FileStamp now;
    bool exists = platform::fileStamp(batch.path, &now);
    if (exists != batch.known) return false;
    return !exists || sameStamp(now, batch.expected);
}

bool inBatch(const char* path) { return batch.open && std::strcmp(batch.path, path) == 0; }

}  // namespace

namespace platform {

void profileBegin(const char* path) {
    batch = Batch{};
    if (!path || std::strlen(path) >= sizeof batch.path) return;
    batch.open = true;
    std::strcpy(batch.path, path);
    batch.known = fileStamp(path, &batch.expected);
}

ProfileOutcome profileEnd() {
    if (!batch.open) return PROFILE_NOTHING_WRITTEN;
    bool changed = batch.changed || !unchanged();
    Batch done = batch;
    batch = Batch{};
    if (changed) return PROFILE_FILE_CHANGED;
    if (done.failed) return PROFILE_WRITE_FAILED;
    return done.wrote ? PROFILE_WRITTEN : PROFILE_NOTHING_WRITTEN;
}

bool fileStamp(const char* path, FileStamp* stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!path || !GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    stamp->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp->writeTime = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                       data.ftLastWriteTime.dwLowDateTime;
    stamp->fileId = 0;
    return true;
}

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
    if (!inBatch(path)) return WritePrivateProfileStringA(section, key, value, path) != 0;
    if (batch.changed || !unchanged()) {
        batch.changed = true;
        return false;
    }
    bool ok = WritePrivateProfileStringA(section, key, value, path) != 0;
    if (ok) batch.wrote = true;
    if (!ok) batch.failed = true;
    batch.known = fileStamp(path, &batch.expected);
    return ok;
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
