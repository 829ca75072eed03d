// One running copy per settings file on Linux: an advisory lock on a file in the run
// folder named after the settings file's path. The kernel lets go of it when the process
// ends in any way, so a killed copy never blocks the next start. The lock file itself
// stays: removing it could let two starts lock two different files of the same name.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>

#include "platform/path_key.h"
#include "platform/platform.h"
#include "platform/posix/rundir.h"

namespace platform {

namespace {
int claimFd = -1;
}  // namespace

SettingsClaim claimSettingsFile(const char* path) {
    if (claimFd >= 0) return CLAIM_TAKEN;
    char key[PATH_KEY_SIZE];
    pathKey(path, key);
    char name[40];
    std::snprintf(name, sizeof name, "settings-%s.lock", key);
    char lockPath[PATH_MAX];
    // In a folder another user can write to, the lock would be theirs to hold.
    char why[256];
    if (!prepareRunFolder(why, sizeof why)) return CLAIM_UNAVAILABLE;
    if (runFolderPath(name, lockPath, sizeof lockPath) != 0) return CLAIM_UNAVAILABLE;
    const int fd = open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return CLAIM_UNAVAILABLE;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return held ? CLAIM_HELD : CLAIM_UNAVAILABLE;
    }
    claimFd = fd;
    return CLAIM_TAKEN;
}

void releaseSettingsFile() {
    if (claimFd < 0) return;
    close(claimFd);
    claimFd = -1;
}

}  // namespace platform
