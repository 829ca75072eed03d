// The scan tick as the program runs it on Linux, against this machine's floor, measured
// in one run:
//   tick_bench --ini FILE [--ticks N] [--period MS]
// with norvalume-sim serving in the run folder (NORVALUME_RUNDIR) and the virtual panel
// library beside this program (its units from GFDEV_UNITS). Loads FILE with the program's
// loader (writing nothing into it), connects through the real platform layer, and times N
// ticks spaced the scan period apart, as the program runs them, and N back to back. The
// floor is what no tick can go below: a round trip of the same sizes on an open socket to
// another process, plus copying the bytes one tick exchanges into the block and out,
// measured the same two ways (after a pause the other process has to be woken, which back
// to back it does not), a trip after each tick. Prints the least time of each in
// microseconds (what it costs, without what else the machine did meanwhile), one figure a
// line:
//   items <records> exchanges <per tick> bytes <of requests per tick>
//   tick-as-run <us>
//   floor-as-run <us>
//   tick-back-to-back <us>
//   floor-back-to-back <us>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/items.h"
#include "config/loader.h"
#include "devices/devices.h"
#include "eval/eval.h"
#include "link/link.h"
#include "platform/platform.h"

namespace {

double nowUs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

double least(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}

// Microseconds of one scan tick.
double oneTick() {
    const double begin = nowUs();
    scanTick();
    return nowUs() - begin;
}

// The other end of the floor's socket: answers every line with four bytes, as the
// emulator answers a block's name.
void echoLines(int fd) {
    char buffer[256];
    const uint8_t answer[4] = {1, 0, 0, 0};
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) _exit(0);
        if (std::memchr(buffer, '\n', static_cast<size_t>(n)) &&
            write(fd, answer, sizeof answer) != sizeof answer)
            _exit(0);
    }
}

// The other process of the floor, answering on `socket`.
struct Echo {
    int socket;
    pid_t child;
};

Echo startEcho() {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return Echo{-1, -1};
    const pid_t child = fork();
    if (child == 0) {
        close(pair[0]);
        echoLines(pair[1]);
    }
    close(pair[1]);
    return Echo{pair[0], child};
}

void stopEcho(const Echo& echo) {
    close(echo.socket);
    if (echo.child > 0) waitpid(echo.child, nullptr, 0);
}

// The floor's buffers: the prepared requests, the block and where the replies go.
struct FloorBuffers {
    std::vector<uint8_t> prepared, block, out;
    FloorBuffers()
        : prepared(LINK_BLOCK_SIZE, 1), block(LINK_BLOCK_SIZE), out(LINK_BLOCK_SIZE) {}
};

// Microseconds of a round trip with the link's message sizes on an open socket, with
// `bytes` copied into a block before it and out after it; a negative time when the other
// process is gone.
double oneFloorTrip(const Echo& echo, FloorBuffers& b, uint32_t bytes) {
    const char line[] = "FsasmLib:IPC:1A2C:1\n";  // what the link sends: the block's name
    const double begin = nowUs();
    std::memcpy(b.block.data(), b.prepared.data(), bytes);
    uint8_t answer[4];
    if (write(echo.socket, line, sizeof line - 1) != static_cast<ssize_t>(sizeof line - 1) ||
        read(echo.socket, answer, sizeof answer) != sizeof answer)
        return -1;
    std::memcpy(b.out.data(), b.block.data(), bytes);
    return nowUs() - begin;
}

// The least tick and the least floor trip of `rounds`, each after a pause of `periodMs`.
// Each round takes one of both, so that whatever else the machine does meanwhile weighs
// on the two alike.
void measure(const Echo& echo, uint32_t bytes, int rounds, uint32_t periodMs, double* tick,
             double* floor) {
    FloorBuffers buffers;
    std::vector<double> ticks, trips;
    for (int n = 0; n < rounds; ++n) {
        if (periodMs) platform::sleepMs(periodMs);
        ticks.push_back(oneTick());
        if (echo.socket < 0) continue;
        if (periodMs) platform::sleepMs(periodMs);
        const double trip = oneFloorTrip(echo, buffers, bytes);
        if (trip >= 0) trips.push_back(trip);
    }
    *tick = least(ticks);
    *floor = least(trips);
}

}  // namespace

int main(int argc, char** argv) {
    const char* ini = nullptr;
    int ticks = 25;
    uint32_t period = 220;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--ini") == 0) ini = argv[i + 1];
        if (std::strcmp(argv[i], "--ticks") == 0) ticks = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--period") == 0) period = static_cast<uint32_t>(std::atoi(argv[i + 1]));
    }
    if (!ini || ticks <= 0) {
        std::fprintf(stderr, "usage: tick_bench --ini FILE [--ticks N] [--period MS]\n");
        return 2;
    }
    if (!bindDeviceLibrary(nullptr)) {
        std::fprintf(stderr, "tick_bench: no panel library beside the program\n");
        return 2;
    }
    const LoadObserver readOnly{nullptr, nullptr, true};
    loadConfigurationOnce(LoadInputs{ini, deviceCounts(), false, false, false}, &readOnly);
    adoptItemTable();
    for (int attempt = 0; attempt < 50 && !linkStatus().connected; ++attempt) {
        linkSupervisionTick();
        if (!linkStatus().connected) platform::sleepMs(100);
    }
    if (!linkStatus().connected || itemCount() <= 0) {
        std::fprintf(stderr, "tick_bench: %s\n",
                     linkStatus().connected ? "no item loaded" : "the emulator did not answer");
        return 2;
    }
    scanTick();  // the two sends after a load
    scanTick();
    const ScanPlan plan = scanPlan();
    const Echo echo = startEcho();
    double asRun = 0, floorAsRun = 0, backToBack = 0, floorBackToBack = 0;
    measure(echo, plan.bytes, ticks, period, &asRun, &floorAsRun);
    measure(echo, plan.bytes, ticks, 0, &backToBack, &floorBackToBack);
    stopEcho(echo);
    std::printf("items %d exchanges %d bytes %u\n", static_cast<int>(itemCount()),
                static_cast<int>(lastScanExchanges()), static_cast<unsigned>(plan.bytes));
    std::printf("tick-as-run %.1f\nfloor-as-run %.1f\ntick-back-to-back %.1f\n"
                "floor-back-to-back %.1f\n",
                asRun, floorAsRun, backToBack, floorBackToBack);
    resetLinkStatus();
    unbindDeviceLibrary();
    releaseItemStates();
    freeItemTable();
    return 0;
}
