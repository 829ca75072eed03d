// Paths in the per-user run folder and shared-memory names (see rundir.h). Every path is
// built into the caller's buffer and refused, not cut, when it does not fit: a cut path
// would name another socket.
#include "platform/posix/rundir.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// Room for "/tmp/norvalume-" and any uid.
constexpr size_t DEFAULT_FOLDER_SIZE = 64;

// The run folder: the environment's, or the per-user default written into `fallback`.
const char* runFolder(char (&fallback)[DEFAULT_FOLDER_SIZE], bool* isDefault) {
    const char* dir = std::getenv("NORVALUME_RUNDIR");
    *isDefault = !dir || !*dir;
    if (!*isDefault) return dir;
    std::snprintf(fallback, sizeof fallback, "/tmp/norvalume-%u", unsigned(getuid()));
    return fallback;
}

int refuse(int code, char* out, size_t size) {
    if (size > 0) out[0] = '\0';
    return code;
}

// 0 when snprintf's count `n` fitted into `size` bytes; otherwise the path is refused.
int fitted(int n, char* out, size_t size) {
    if (n >= 0 && size_t(n) < size) return 0;
    return refuse(ENAMETOOLONG, out, size);
}

}  // namespace

int runFolderPath(const char* name, char* out, size_t size) {
    if (std::strchr(name, '/')) return refuse(EINVAL, out, size);
    char fallback[DEFAULT_FOLDER_SIZE];
    bool isDefault;
    const char* dir = runFolder(fallback, &isDefault);
    return fitted(std::snprintf(out, size, "%s/%s", dir, name), out, size);
}

void makeRunFolder() {
    char fallback[DEFAULT_FOLDER_SIZE];
    bool isDefault;
    const char* dir = runFolder(fallback, &isDefault);
    if (isDefault) mkdir(dir, 0700);
}

int sharedMemoryName(const char* name, char* out, size_t size) {
    if (std::strchr(name, '/')) return refuse(EINVAL, out, size);
    return fitted(std::snprintf(out, size, "/%s", name), out, size);
}

}  // namespace platform
