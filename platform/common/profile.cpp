// The settings-file services both builds share: the profile calls answered by our INI
// engine, a load's batch over one reading of the file, and the file's stamp.
#include "platform/common/file_access.h"
#include "platform/common/ini.h"
#include "platform/platform.h"

namespace {

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
    ini::FileState state;
    if (!path || !ini::glanceAt(path, &state)) return false;
    stamp->size = state.size;
    stamp->writeTime = static_cast<uint64_t>(state.modified);
    // A save by rename may keep size and time, but it is another file (where we can tell).
    stamp->fileId = state.fileId;
    return true;
}

}  // namespace platform
