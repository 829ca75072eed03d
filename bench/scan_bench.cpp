// The cost of one scan of the demo cockpit (examples/demo.ini, five panels), run in-process
// against the emulated interface module and a fake panel library that logs nothing.
// `scan_bench` times it with Google Benchmark; `scan_bench --scans N` just runs N scans,
// so that bench/check-scan-cost can compare heap use and instruction counts under valgrind.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "config/items.h"
#include "config/loader.h"
#include "devices/devices.h"
#include "eval/eval.h"
#include "fake_platform/fake_dl.h"
#include "fake_platform/fake_ipc.h"
#include "fake_platform/fake_profile.h"
#include "fake_platform/fake_time.h"
#include "link/link.h"
#include "platform/platform.h"
#include "shell/shell.h"

// The fake loop records every title and timer call, which allocates; the benchmark
// brings its own loop that keeps nothing.
namespace platform {
bool registerMainClass(const char*, const WindowHandlers*) { return true; }
bool createMainWindow(const char*) { return true; }
void showMainMinimised() {}
void setTitle(const char*) {}
void setTimer(uint32_t, uint32_t) {}
void killTimer(uint32_t) {}
int runMainLoop() { return 0; }
bool postToLoop(void (*)()) { return false; }
bool stopRequested() { return false; }
}  // namespace platform

namespace {

bool setUpCockpit(const char* iniSource) {
    std::ifstream in(iniSource, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", iniSource);
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::string path = fake::tempFilePath("bench.ini");
    fake::writeFile(path, text.str());
    std::snprintf(shellSettings.iniPath, sizeof shellSettings.iniPath, "%s", path.c_str());

    fake::resetTime();
    fake::nowMs = 100000;
    fake::resetIpc();
    fake::installModule("FS98MAIN");
    fake::installFakeLibrary();
    fake::dlLogEnabled = false;
    fake::setFakeUnits(DEV_GF45, 1);
    fake::setFakeUnits(DEV_GFP8, 1);
    fake::setFakeUnits(DEV_GF166, 1);
    fake::setFakeUnits(DEV_GFMCP, 1);
    fake::setFakeUnits(DEV_GFMCPPRO, 1);
    if (!bindDeviceLibrary(nullptr)) return false;
    countDevices();
    loadConfiguration(LOAD_FORCED);

    // Battery and avionics on, a healthy bus, gear in transit: most items apply.
    fake::setU8(STATUS_POWER_OFFSET, 1);
    fake::setU8(STATUS_POWER_OFFSET + 1, 1);
    fake::setF64(STATUS_VOLTAGE_OFFSET, 28.0);
    fake::setU32(0x0BEC, 8000);
    fake::setU16(0x0C4E, 270);
    linkSupervisionTick();
    return linkStatus.connected && itemCount > 0;
}

// One scan period: time passes, a few values move, the scan runs.
void oneScan(uint32_t n) {
    fake::advance(220);
    fake::setU32(0x0BEC, n % 16384);
    fake::setU16(0x07E2, static_cast<uint16_t>(n % 400));
    fake::setU32(0x07D4, (n % 1000) * 65536u);
    scanTick();
}

void BM_ScanDemoCockpit(benchmark::State& state) {
    uint32_t n = 0;
    for (auto _ : state) oneScan(n++);
    state.counters["items"] = itemCount;
}
BENCHMARK(BM_ScanDemoCockpit);

}  // namespace

int main(int argc, char** argv) {
    const char* ini = std::getenv("NORVALUME_BENCH_INI");
    if (!setUpCockpit(ini ? ini : NORVALUME_DEMO_INI)) {
        std::fprintf(stderr, "the demo cockpit did not come up\n");
        return 2;
    }
    if (argc == 3 && std::strcmp(argv[1], "--scans") == 0) {
        long scans = std::strtol(argv[2], nullptr, 10);
        for (long i = 0; i < scans; ++i) oneScan(static_cast<uint32_t>(i));
        std::printf("%ld scans of %d items\n", scans, itemCount);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
