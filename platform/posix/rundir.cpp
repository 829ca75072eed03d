// Paths in the per-user run folder and shared-memory names (see rundir.h). Every path is
// built into the caller's buffer and refused, not cut, when it does not fit: a cut path
// would name another socket.
#include "platform/posix/rundir.h"

#include <errno.h>
#include <limits.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

int refuse(int code, char* out, size_t size) {
    if (size > 0) out[0] = '\0';
    return code;
}

// 0 when snprintf's count `n` fitted into `size` bytes; otherwise the path is refused.
int fitted(int n, char* out, size_t size) {
    if (n >= 0 && size_t(n) < size) return 0;
    return refuse(ENAMETOOLONG, out, size);
}

// An environment variable that names a folder: set, not empty, and absolute (a relative
// one would mean another folder in every working directory).
const char* folderVariable(const char* name) {
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? value : nullptr;
}

bool refuseFolder(char* why, size_t whySize, const char* dir, const char* what) {
    if (whySize > 0) std::snprintf(why, whySize, "run folder %s refused: %s", dir, what);
    return false;
}

// What is wrong with the folder `st` describes, or nullptr when nothing is. A named folder
// is looked at through links (the environment chose it) and may be readable by others.
const char* folderFault(const struct stat& st, bool named, char* text, size_t size) {
    if (S_ISLNK(st.st_mode)) return "it is a symbolic link, not a folder";
    if (!S_ISDIR(st.st_mode)) return "it is not a folder";
    if (st.st_uid != geteuid()) {
        std::snprintf(text, size, "it belongs to user %u, not to you (user %u)",
                      unsigned(st.st_uid), unsigned(geteuid()));
        return text;
    }
    const unsigned mode = unsigned(st.st_mode & 0777);
    if (named ? (mode & 022) != 0 : (mode & 077) != 0) {
        std::snprintf(text, size, "other users may %s it (mode %04o, must be %s)",
                      named ? "write to" : "use", mode, named ? "0755 or stricter" : "0700");
        return text;
    }
    return nullptr;
}

}  // namespace

int runFolder(char* out, size_t size, RunFolderSource* source) {
    if (const char* named = std::getenv("NORVALUME_RUNDIR"); named && *named) {
        *source = RUN_FOLDER_NAMED;
        return fitted(std::snprintf(out, size, "%s", named), out, size);
    }
    if (const char* runtime = folderVariable("XDG_RUNTIME_DIR")) {
        *source = RUN_FOLDER_RUNTIME;
        return fitted(std::snprintf(out, size, "%s/norvalume", runtime), out, size);
    }
    *source = RUN_FOLDER_TMP;
    return fitted(std::snprintf(out, size, "/tmp/norvalume-%u", unsigned(getuid())), out, size);
}

int runFolderPath(const char* name, char* out, size_t size) {
    if (std::strchr(name, '/')) return refuse(EINVAL, out, size);
    char dir[PATH_MAX];
    RunFolderSource source;
    if (runFolder(dir, sizeof dir, &source) != 0) return refuse(ENAMETOOLONG, out, size);
    return fitted(std::snprintf(out, size, "%s/%s", dir, name), out, size);
}

bool prepareRunFolder(char* why, size_t whySize) {
    char dir[PATH_MAX];
    RunFolderSource source;
    if (runFolder(dir, sizeof dir, &source) != 0)
        return refuseFolder(why, whySize, "(its path)", "the path is too long");
    const bool named = source == RUN_FOLDER_NAMED;
    char text[160];
    // Created by us or found, it is judged the same way: whoever made it first may not
    // be us, and the mode may be anything when it was there before.
    if (!named && mkdir(dir, 0700) != 0 && errno != EEXIST) {
        std::snprintf(text, sizeof text, "it cannot be created: %s", std::strerror(errno));
        return refuseFolder(why, whySize, dir, text);
    }
    struct stat st;
    if ((named ? stat(dir, &st) : lstat(dir, &st)) != 0) {
        std::snprintf(text, sizeof text, "%s", std::strerror(errno));
        return refuseFolder(why, whySize, dir, text);
    }
    if (const char* fault = folderFault(st, named, text, sizeof text))
        return refuseFolder(why, whySize, dir, fault);
    if (whySize > 0) why[0] = '\0';
    return true;
}

bool socketPeerIsUs(int fd) {
    ucred peer;
    socklen_t size = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           size == sizeof peer && peer.uid == geteuid();
}

int sharedMemoryName(const char* name, char* out, size_t size) {
    if (std::strchr(name, '/')) return refuse(EINVAL, out, size);
    return fitted(std::snprintf(out, size, "/%s", name), out, size);
}

}  // namespace platform
