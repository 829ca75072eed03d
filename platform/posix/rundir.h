// The run folder of the Linux platform: one folder per user in which a name stands for a
// window of that class, plus the rule for shared-memory names. The IPC layer and every
// program that plays the other side of it must agree on these paths to the byte, so the
// rule lives here once. It knows nothing of what the names mean to their users.
#pragma once

#include <cstddef>

namespace platform {

// Where the run folder comes from, in the order it is chosen.
enum RunFolderSource : int {
    RUN_FOLDER_NAMED,    // $NORVALUME_RUNDIR, set by the tests and the demo
    RUN_FOLDER_RUNTIME,  // $XDG_RUNTIME_DIR/norvalume: the session's own private folder
    RUN_FOLDER_TMP,      // /tmp/norvalume-<uid>
};

// Writes the run folder into `out` (`size` bytes) and says where it came from. Returns 0;
// ENAMETOOLONG when it does not fit (then `out` is left empty when size > 0).
int runFolder(char* out, size_t size, RunFolderSource* source);

// Writes "<run folder>/<name>" into `out` (`size` bytes). Returns 0; EINVAL when `name`
// holds a '/' (it would point outside the folder); ENAMETOOLONG when the path does not
// fit. On failure `out` is left empty (when size > 0).
int runFolderPath(const char* name, char* out, size_t size);

// Makes the run folder ready and makes sure no other user can put a name into it, before
// anything is served or looked up there. A default folder (RUNTIME, TMP) is created with
// mode 0700 when missing and then, new or not, must be a directory and not a link, owned
// by this user, with no access for group or others. A named folder is the environment's
// to provide and is not created; it must be a directory owned by this user that group
// and others cannot write to (they may look in: the names in it are ours to write and
// the sockets let only their owner connect). Returns true; false with a message naming
// the folder and what is wrong in `why` (`whySize` bytes, always terminated).
bool prepareRunFolder(char* why, size_t whySize);

// True when the other end of the connected Unix socket `fd` runs as this user: the module
// answers its own user only, and the client talks to its own user's module only.
bool socketPeerIsUs(int fd);

// Writes the POSIX shared-memory name of `name` ("/<name>") into `out` (`size` bytes).
// Returns 0; EINVAL when `name` holds a '/', which shm names may not contain after their
// first; ENAMETOOLONG when it does not fit. On failure `out` is left empty (size > 0).
int sharedMemoryName(const char* name, char* out, size_t size);

}  // namespace platform
