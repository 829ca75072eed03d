// Fake platform, settings file: profileGet/profilePut go through the real INI engine to
// real files; the archive attribute is a flag per path that writes set and
// setFileAttributes(NORMAL) clears, as on Windows.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>

#include "fake_profile.h"
#include "platform/platform.h"
#include "platform/common/file_access.h"

namespace fake {
Fault profileReadFails = {};
Fault profileWriteFails = {};
Fault attributesFail = {};
std::function<void()> beforeProfileEnd;
int profileReads = 0;
int profileWrites = 0;
int attributeSets = 0;
std::vector<ProfileWrite> profileWriteLog;

namespace {
// Paths whose archive flag is clear. A path never cleared counts as archived, as a file
// nobody has looked at yet would be on Windows.
std::map<std::string, bool> clearedPaths;
// Every save of a path counts one up: the write time fileStamp reports, so that two
// saves within the file system's clock grain still look different.
std::map<std::string, uint64_t> saveCounts;
// The batches in progress, and the writes each made, logged once they reach the file.
struct Batch {
    ini::Session session;
    std::vector<ProfileWrite> writes;
};
Batch batches[platform::PROFILE_BATCHES];

void markSaved(const std::string& path) {
    clearedPaths.erase(path);
    ++saveCounts[path];
}

Batch* batchOf(const char* path) {
    if (!path) return nullptr;
    for (Batch& b : batches)
        if (b.session.open && b.session.path == path) return &b;
    return nullptr;
}

ProfileWrite logEntry(const char* section, const char* key, const char* value) {
    return ProfileWrite{section ? section : "", key ? key : "", value ? value : "",
                        key == nullptr, value == nullptr};
}

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
    markSaved(path);
}

std::string readFile(const std::string& path) {
    std::string text;
    ini::readFile(path.c_str(), &text);
    return text;
}

void touchFile(const std::string& path) { markSaved(path); }

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
    beforeProfileEnd = nullptr;
    for (Batch& b : batches) b = Batch{};
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
    if (const fake::Batch* batch = fake::batchOf(path))
        return ini::sessionGet(batch->session, section, key, buf, size);
    return ini::fileGet(path, section, key, buf, size);
}

// Answered from the same reading as profileGet; the read failure switch counts the
// reads of values only, so the tests' call numbers stay those of the keys.
bool profileHasSection(const char* path, const char* section) {
    if (const fake::Batch* batch = fake::batchOf(path))
        return ini::sessionHasSection(batch->session, section);
    return ini::fileHasSection(path, section);
}

bool fileReadable(const char* path) {
    return !trips(fake::profileReadFails) && ini::canRead(path);
}

bool profilePut(const char* path, const char* section, const char* key, const char* value) {
    if (trips(fake::profileWriteFails)) return false;
    if (fake::Batch* batch = fake::batchOf(path)) {
        if (!ini::sessionPut(&batch->session, section, key, value)) return false;
        ++fake::profileWrites;
        batch->writes.push_back(fake::logEntry(section, key, value));
        return true;
    }
    if (!ini::filePut(path, section, key, value)) return false;
    ++fake::profileWrites;
    fake::profileWriteLog.push_back(fake::logEntry(section, key, value));
    // Windows marks the file even when the write changed nothing in it.
    fake::markSaved(path);
    return true;
}

bool profileBegin(const char* path) {
    if (!path || fake::batchOf(path)) return true;
    for (fake::Batch& b : fake::batches) {
        if (b.session.open) continue;
        ini::sessionBegin(&b.session, path);
        b.writes.clear();
        return b.session.readable || !b.session.state.exists;
    }
    return true;
}

ProfileOutcome profileEnd(const char* path) {
    fake::Batch* batch = fake::batchOf(path);
    if (!batch) return PROFILE_NOTHING_WRITTEN;
    if (fake::beforeProfileEnd) fake::beforeProfileEnd();
    bool wrote = !batch->writes.empty();
    ini::Commit commit = ini::sessionEnd(&batch->session);
    if (commit == ini::Commit::WRITTEN || (wrote && commit == ini::Commit::NOTHING_TO_WRITE)) {
        fake::profileWriteLog.insert(fake::profileWriteLog.end(), batch->writes.begin(),
                                     batch->writes.end());
        fake::markSaved(path);
    }
    batch->writes.clear();
    return ini::profileOutcome(commit);
}

bool fileStamp(const char* path, FileStamp* stamp) {
    struct stat st;
    if (!path || stat(path, &st) != 0) return false;
    *stamp = FileStamp{static_cast<uint64_t>(st.st_size), fake::saveCounts[path],
                       static_cast<uint64_t>(st.st_ino)};
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
