// Linux time and program services.
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

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

uint32_t fullPath(const char* path, char* out, uint32_t size) {
    if (!out || size == 0) return 0;
    out[0] = '\0';
    if (!path || !*path) return 0;
    std::string joined;
    if (path[0] != '/') {
        char here[PATH_MAX];
        if (!getcwd(here, sizeof here)) return 0;
        joined = here;
        if (joined == "/") joined.clear();
    }
    // Step by step: an empty step ("//") and a "." step name the folder they are in.
    for (const char* p = path; *p;) {
        const char* end = std::strchr(p, '/');
        const size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if (length > 0 && !(length == 1 && *p == '.')) {
            joined += '/';
            joined.append(p, length);
        }
        p += length;
        if (*p == '/') ++p;
    }
    if (joined.empty()) joined = "/";
    if (joined.size() >= size) return 0;
    std::memcpy(out, joined.c_str(), joined.size() + 1);
    return static_cast<uint32_t>(joined.size());
}

void attachParentConsole() {}

void beep(uint32_t kind) {
    // No speaker to drive: the bell character reaches whoever watches the terminal.
    std::fprintf(stderr, "\a");
    std::fflush(stderr);
    (void)kind;
}

}  // namespace platform
