// Fake platform: time and program services.
#include "fake_time.h"

#include <cstring>

#include "platform/platform.h"

namespace fake {
uint32_t nowMs = 0;
uint32_t totalSleptMs = 0;
std::vector<uint32_t> beeps;
char programPathText[300] = "C:\\norvalume\\norvalume.exe";

void advance(uint32_t ms) { nowMs += ms; }

void resetTime() {
    nowMs = 0;
    totalSleptMs = 0;
    beeps.clear();
    std::strcpy(programPathText, "C:\\norvalume\\norvalume.exe");
}
}  // namespace fake

namespace platform {

uint32_t tickCount() { return fake::nowMs; }

void sleepMs(uint32_t ms) {
    fake::nowMs += ms;
    fake::totalSleptMs += ms;
}

uint32_t programPath(char* buf, uint32_t size) {
    if (!buf || size == 0) return 0;
    size_t n = std::strlen(fake::programPathText);
    if (n >= size) n = size - 1;
    std::memcpy(buf, fake::programPathText, n);
    buf[n] = '\0';
    return static_cast<uint32_t>(n);
}

void* programInstance() { return reinterpret_cast<void*>(0x400000); }

void beep(uint32_t kind) { fake::beeps.push_back(kind); }

}  // namespace platform
