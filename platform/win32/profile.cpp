// Windows settings-file services: a thin pass-through to the private-profile functions
// and the file attributes, whose archive bit is the settings file's change marker. A
// batch (a load) checks the file's size and write time before each of its writes, so a
// save by someone else in the middle of a load is never written into; and it asks for
// each section's key names once, so that keys the file does not have cost no call.
#include <windows.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

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

// The key names of the section the batch asked about last, as the profile functions list
// them (each ended by a NUL). `complete` is false when the list could not be had whole:
// then every key counts as listed.
struct KeyList {
    bool valid;
    bool complete;
    std::string section;
    std::vector<char> names;
};
KeyList keyList;

constexpr DWORD MAX_KEY_LIST = 16u * 1024u * 1024u;

void listKeys(const char* section) {
    keyList.valid = true;
    keyList.complete = false;
    keyList.section = section;
    // A list that does not fit comes back cut, with its length at size - 2: grow and ask again.
    for (DWORD size = 8192; size <= MAX_KEY_LIST; size *= 2) {
        keyList.names.resize(size);
        DWORD n = GetPrivateProfileStringA(section, nullptr, "", keyList.names.data(), size,
                                           batch.path);
        if (n < size - 2) {
            keyList.names.resize(n);
            keyList.complete = true;
            return;
        }
    }
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Names compare as the profile functions compare them: without case, blanks around
// them not counted. (Our keys are plain ASCII, where that is all there is to it.)
bool sameName(const char* a, size_t aLength, const char* b) {
    while (aLength && isBlank(*a)) ++a, --aLength;
    while (aLength && isBlank(a[aLength - 1])) --aLength;
    while (isBlank(*b)) ++b;
    size_t bLength = std::strlen(b);
    while (bLength && isBlank(b[bLength - 1])) --bLength;
    if (aLength != bLength) return false;
    for (size_t i = 0; i < aLength; ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

// False only when the section's list shows for certain that it has no such key.
bool mayHaveKey(const char* section, const char* key) {
    if (!keyList.valid || _stricmp(keyList.section.c_str(), section) != 0) listKeys(section);
    if (!keyList.complete) return true;
    const char* names = keyList.names.data();
    size_t at = 0;
    const size_t length = keyList.names.size();
    while (at < length) {
        size_t end = at;
        while (end < length && names[end]) ++end;
        if (sameName(names + at, end - at, key)) return true;
        at = end + 1;
    }
    return false;
}

}  // namespace

namespace platform {

void profileBegin(const char* path) {
    batch = Batch{};
    if (!path || std::strlen(path) >= sizeof batch.path) return;
    batch.open = true;
    std::strcpy(batch.path, path);
    batch.known = fileStamp(path, &batch.expected);
    keyList = KeyList{};
}

ProfileOutcome profileEnd() {
    keyList = KeyList{};
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
    if (inBatch(path) && !mayHaveKey(section, key)) return 0;
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
    keyList.valid = false;  // the section may have a key more now
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
