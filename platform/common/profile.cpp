// The settings-file services both builds share: the profile calls answered by our INI
// engine, a load's batches over one reading of each file it reads, and the file's stamp.
#include "platform/common/file_access.h"
#include "platform/common/ini.h"
#include "platform/platform.h"

namespace {

// The batches in progress: one reading of each file a load reads (the settings file and
// the aircraft profile in force).
ini::Session batches[platform::PROFILE_BATCHES];

ini::Session* batchOf(const char* path) {
    if (!path) return nullptr;
    for (ini::Session& batch : batches)
        if (batch.open && batch.path == path) return &batch;
    return nullptr;
}

}  // namespace

namespace platform {

uint32_t profileGet(const char* path, const char* section, const char* key, char* buf,
                    uint32_t size) {
    if (const ini::Session* batch = batchOf(path))
        return ini::sessionGet(*batch, section, key, buf, size);
    return ini::fileGet(path, section, key, buf, size);
}

bool profilePut(const char* path, const char* section, const char* key, const char* value) {
    if (ini::Session* batch = batchOf(path)) return ini::sessionPut(batch, section, key, value);
    return ini::filePut(path, section, key, value);
}

bool profileHasSection(const char* path, const char* section) {
    if (const ini::Session* batch = batchOf(path)) return ini::sessionHasSection(*batch, section);
    return ini::fileHasSection(path, section);
}

bool profileBegin(const char* path) {
    if (!path || batchOf(path)) return true;
    for (ini::Session& batch : batches) {
        if (batch.open) continue;
        ini::sessionBegin(&batch, path);
        return batch.readable || !batch.state.exists;
    }
    return true;
}

ProfileOutcome profileEnd(const char* path) {
    ini::Session* batch = batchOf(path);
    if (!batch) return PROFILE_NOTHING_WRITTEN;
    return ini::profileOutcome(ini::sessionEnd(batch));
}

bool fileReadable(const char* path) { return ini::canRead(path); }

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
