// Fake platform, settings file: profileGet/profilePut go through the real INI engine to
// real files; the archive attribute is a flag per path that writes set and
// setFileAttributes(NORMAL) clears, as on Windows.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <map>

#include "fake_profile.h"
#include "platform/platform.h"
#include "platform/posix/ini.h"

namespace fake {
Fault profileReadFails = {};
Fault profileWriteFails = {};
Fault attributesFail = {};
int profileReads = 0;
int profileWrites = 0;
int attributeSets = 0;
std::vector<ProfileWrite> profileWriteLog;

namespace {
// Paths whose archive flag is clear. A path never cleared counts as archived, as a file
// nobody has looked at yet would be on Windows.
std::map<std::string, bool> clearedPaths;

bool fileExists(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}
}  // namespace

std::string tempFilePath(const char* name) {
    static std::string folder;
    if (folder.empty()) {
        char pattern[] = "/tmp/norvalume-unit-XXXXXX";
        const char* made = mkdtemp(pattern);
        folder = made ? made : "/tmp";
    }
    std::string path = folder + "/" + name;
    std::remove(path.c_str());
    clearedPaths.erase(path);
    return path;
}

void writeFile(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    clearedPaths.erase(path);
}

std::string readFile(const std::string& path) {
    std::string text;
    ini::readFile(path.c_str(), &text);
    return text;
}

void touchFile(const std::string& path) { clearedPaths.erase(path); }

bool archiveSet(const std::string& path) { return clearedPaths.count(path) == 0; }

void resetProfile() {
    profileReadFails = false;
    profileWriteFails = false;
    attributesFail = false;
    profileReads = 0;
    profileWrites = 0;
    attributeSets = 0;
    profileWriteLog.clear();
    clearedPaths.clear();
}
}  // namespace fake

namespace platform {

uint32_t profileGet(const char* path, const char* section, const char* key, char* buf,
                    uint32_t size) {
    ++fake::profileReads;
    if (trips(fake::profileReadFails)) {
        if (buf && size) buf[0] = '\0';
        return 0;
    }
    return ini::fileGet(path, section, key, buf, size);
}

bool profilePut(const char* path, const char* section, const char* key, const char* value) {
    if (trips(fake::profileWriteFails)) return false;
    if (!ini::filePut(path, section, key, value)) return false;
    ++fake::profileWrites;
    fake::profileWriteLog.push_back(fake::ProfileWrite{section ? section : "", key ? key : "",
                                                       value ? value : "", key == nullptr,
                                                       value == nullptr});
    // Windows marks the file even when the write changed nothing in it.
    fake::clearedPaths.erase(path);
    return true;
}

uint32_t fileAttributes(const char* path) {
    if (trips(fake::attributesFail) || !path || !fake::fileExists(path)) return FILE_ATTR_INVALID;
    return fake::archiveSet(path) ? FILE_ATTR_ARCHIVE : FILE_ATTR_NORMAL;
}

bool setFileAttributes(const char* path, uint32_t attrs) {
    if (trips(fake::attributesFail) || !path || !fake::fileExists(path)) return false;
    ++fake::attributeSets;
    if (attrs & FILE_ATTR_ARCHIVE) {
        fake::clearedPaths.erase(path);
    } else {
        fake::clearedPaths[path] = true;
    }
    return true;
}

}  // namespace platform
