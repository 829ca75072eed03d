// Windows time and program services.
#include <windows.h>

#include <cstdio>

#include "platform/platform.h"

namespace platform {

uint32_t tickCount() { return GetTickCount(); }

void sleepMs(uint32_t ms) { Sleep(ms); }

uint32_t programPath(char* buf, uint32_t size) {
    if (!buf || size == 0) return 0;
    DWORD n = GetModuleFileNameA(nullptr, buf, size);
    if (n >= size) n = size - 1;  // truncated paths are terminated by us, not always by XP
    buf[n] = '\0';
    return n;
}

void* programInstance() { return GetModuleHandleA(nullptr); }

uint32_t fullPath(const char* path, char* out, uint32_t size) {
    if (!out || size == 0) return 0;
    out[0] = '\0';
    if (!path || !*path) return 0;
    // Without this a bare name would reach the profile functions, which look for it in
    // the Windows folder rather than the current one.
    const DWORD n = GetFullPathNameA(path, size, out, nullptr);
    if (n == 0 || n >= size) {
        out[0] = '\0';
        return 0;
    }
    return n;
}

namespace {
bool goesSomewhere(HANDLE stream) {
    return stream && stream != INVALID_HANDLE_VALUE && GetFileType(stream) != FILE_TYPE_UNKNOWN;
}
}  // namespace

void attachParentConsole() {
    // A stream its starter redirected (a file, a pipe) keeps going there.
    const bool out = goesSomewhere(GetStdHandle(STD_OUTPUT_HANDLE));
    const bool err = goesSomewhere(GetStdHandle(STD_ERROR_HANDLE));
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (!out) std::freopen("CONOUT$", "w", stdout);
    if (!err) std::freopen("CONOUT$", "w", stderr);
}

void beep(uint32_t kind) { MessageBeep(kind); }

}  // namespace platform
