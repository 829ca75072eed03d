// Linux time and program services.
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace platform {

uint32_t tickCount() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void sleepMs(uint32_t ms) {
    timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0) {
    }
}

uint32_t programPath(char* buf, uint32_t size) {
    if (!buf || size == 0) return 0;
    ssize_t n = readlink("/proc/self/exe", buf, size - 1);
    if (n <= 0) {
        buf[0] = '\0';
        return 0;
    }
    buf[n] = '\0';
    // Linux programs carry no extension. Report the name as Windows would know the
    // program, so that its settings file is found beside it as <name>.ini there too.
    const char* slash = std::strrchr(buf, '/');
    const char* name = slash ? slash + 1 : buf;
    if (!std::strchr(name, '.') && static_cast<uint32_t>(n) + 4 < size) {
        std::memcpy(buf + n, ".exe", 5);
        n += 4;
    }
    return static_cast<uint32_t>(n);
}

void* programInstance() { return nullptr; }

void beep(uint32_t kind) {
    // No speaker to drive: the bell character reaches whoever watches the terminal.
    std::fprintf(stderr, "\a");
    std::fflush(stderr);
    (void)kind;
}

}  // namespace platform
