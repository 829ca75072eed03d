// Windows time and program services.
#include <windows.h>

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

void beep(uint32_t kind) { MessageBeep(kind); }

}  // namespace platform
