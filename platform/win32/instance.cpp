// One running copy per settings file on Windows: a named mutex whose name comes from the
// settings file's full path as Windows compares paths, so every spelling of one file
// (case, short names, "." and "..") meets the same mutex. Windows closes the handle when
// the process ends in any way, so a killed copy never blocks the next start.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/path_key.h"
#include "platform/platform.h"

namespace platform {

namespace {
HANDLE claimed = nullptr;
// Room for the longest path the long-name form can take.
constexpr DWORD PATH_ROOM = 1024;
}  // namespace

SettingsClaim claimSettingsFile(const char* path) {
    if (claimed) return CLAIM_TAKEN;
    char full[PATH_ROOM];
    char longer[PATH_ROOM];
    DWORD n = GetFullPathNameA(path, PATH_ROOM, full, nullptr);
    if (n == 0 || n >= PATH_ROOM) return CLAIM_UNAVAILABLE;
    // Fails for a file not there yet; its full path is then the best there is.
    const DWORD m = GetLongPathNameA(full, longer, PATH_ROOM);
    if (m > 0 && m < PATH_ROOM) {
        std::memcpy(full, longer, m + 1);
        n = m;
    }
    CharUpperBuffA(full, n);
    char key[PATH_KEY_SIZE];
    pathKey(full, key);
    char name[48];
    std::snprintf(name, sizeof name, "Norvalume.settings.%s", key);
    SetLastError(0);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    // A copy started by another user, or elevated, holds one this one may not open.
    if (!mutex) return GetLastError() == ERROR_ACCESS_DENIED ? CLAIM_HELD : CLAIM_UNAVAILABLE;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return CLAIM_HELD;
    }
    claimed = mutex;
    return CLAIM_TAKEN;
}

void releaseSettingsFile() {
    if (!claimed) return;
    CloseHandle(claimed);
    claimed = nullptr;
}

}  // namespace platform
