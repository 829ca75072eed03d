// The run folder of the Linux platform: one folder per user in which a name stands for a
// window of that class, plus the rule for shared-memory names. The IPC layer and every
// program that plays the other side of it must agree on these paths to the byte, so the
// rule lives here once. It knows nothing of what the names mean to their users.
#pragma once

#include <cstddef>

namespace platform {

// Writes "<run folder>/<name>" into `out` (`size` bytes). The run folder is
// $NORVALUME_RUNDIR, or /tmp/norvalume-<uid> when that is unset or empty. Returns 0;
// EINVAL when `name` holds a '/' (it would point outside the folder); ENAMETOOLONG when
// the path does not fit. On failure `out` is left empty (when size > 0).
int runFolderPath(const char* name, char* out, size_t size);

// Creates the per-user default run folder, readable by its owner only, when
// $NORVALUME_RUNDIR does not name another. A folder named there is the environment's to
// provide. Errors are not reported: whoever then uses the folder finds out.
void makeRunFolder();

// Writes the POSIX shared-memory name of `name` ("/<name>") into `out` (`size` bytes).
// Returns 0; EINVAL when `name` holds a '/', which shm names may not contain after their
// first; ENAMETOOLONG when it does not fit. On failure `out` is left empty (size > 0).
int sharedMemoryName(const char* name, char* out, size_t size);

}  // namespace platform
