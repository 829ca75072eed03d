// The cost of the scan, run in-process against the emulated interface module and a fake
// panel library that logs nothing.
//   scan_bench --ini FILE --units LIST --sim SCRIPT [--scans N] [benchmark options]
// loads FILE through the program's loader with those units connected (LIST as
// norvalume-check's --units takes it), plays SCRIPT (norvalume-sim commands: set, wait,
// fault) into the module and connects. With --scans N it runs exactly N scans, nothing
// changing between them, then changes every value the table reads directly and reads
// once more, prints
//   items <records loaded> scans <N> exchanges <of the last scan> fresh <F> of <R>
// (R items read directly, F of them holding the new value after that one read) and exits,
// so that valgrind can count; otherwise Google Benchmark times one scan and, as the floor
// any exchange pays, one copy of the whole block.
// Without --ini it scans the demo cockpit (examples/demo.ini) with a few values moving
// (none with --still), as bench/check-scan-cost budgets it. --move FROM-TO (hex offsets)
// adds 1 to every 16-bit value in that range before each scan. With --calls N it runs N
// scans and prints every call the panel library received, each scan's after a line
// "tick", for scripts/bench to count the device writes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

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
#include "tools/common/common.h"

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

constexpr uint32_t SCAN_PERIOD_MS = 220;
const char DEMO_UNITS[] = "GF45=1,GFP8=1,GF166=1,GFMCP=1,GFLGT2=1,GFMCPPRO=1";

struct Options {
    const char* ini = nullptr;
    const char* units = nullptr;
    const char* sim = nullptr;
    long scans = -1;  // -1: run as a benchmark
    long calls = -1;  // scans whose library calls are printed; -1: none
    bool still = false;
    uint32_t moveFrom = 0, moveTo = 0;  // 16-bit values moved by each scan
};

// Whether the demo cockpit's few values move between scans, and which range of 16-bit
// values every scan moves.
bool moving = false;
uint32_t moveFrom = 0, moveTo = 0;

bool readWhole(const char* path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "scan_bench: cannot read %s\n", path);
        return false;
    }
    std::stringstream s;
    s << in.rdbuf();
    *text = s.str();
    return true;
}

bool connectUnits(const char* list) {
    for (const tools::UnitsEntry& entry : tools::splitUnitsList(list)) {
        unsigned long count = 0;
        const DeviceType* model = findDeviceTypeByName(entry.name.data(), entry.name.size());
        if (!model || !entry.hasCount || !tools::wholeUnitCount(entry.count, &count)) {
            std::fprintf(stderr, "scan_bench: --units: bad entry near \"%s\"\n", entry.from);
            return false;
        }
        fake::setFakeUnits(model->code, static_cast<uint32_t>(count));
    }
    return true;
}

// The script's commands go to the in-process module; a wait moves the fake clock.
bool playScript(const char* path) {
    std::string text;
    if (!readWhole(path, &text)) return false;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        sim::CommandResult r = sim::runCommand(&fake::module(), line.c_str(), nullptr);
        if (r.kind == sim::COMMAND_ERROR) {
            std::fprintf(stderr, "scan_bench: %s:%d: %s\n", path, number, r.message);
            return false;
        }
        if (r.kind == sim::COMMAND_WAIT) fake::advance(r.waitMs);
        if (r.kind == sim::COMMAND_QUIT) break;
    }
    return true;
}

// The demo cockpit's values, as the old fixed set-up had them.
void demoValues() {
    fake::setU8(STATUS_POWER_OFFSET, 1);
    fake::setU8(STATUS_POWER_OFFSET + 1, 1);
    fake::setF64(STATUS_VOLTAGE_OFFSET, 28.0);
    fake::setU32(0x0BEC, 8000);
    fake::setU16(0x0C4E, 270);
}

bool setUp(const Options& o) {
    std::string text;
    if (!readWhole(o.ini ? o.ini : NORVALUME_DEMO_INI, &text)) return false;
    std::string path = fake::tempFilePath("bench.ini");
    fake::writeFile(path, text);
    // The settings file lies beside the program, as the shell finds it.
    std::snprintf(fake::programPathText, sizeof fake::programPathText, "%s",
                  fake::tempFilePath("bench.exe").c_str());
    readShellSettings();

    fake::resetTime();
    fake::nowMs = 100000;
    fake::resetIpc();
    fake::installModule("FS98MAIN");
    fake::installFakeLibrary();
    fake::dlLogEnabled = false;
    if (!connectUnits(o.units ? o.units : DEMO_UNITS)) return false;
    if (!bindDeviceLibrary(nullptr)) return false;
    countDevices();
    loadConfiguration(LOAD_FORCED);

    if (o.sim && !playScript(o.sim)) return false;
    if (!o.ini) demoValues();
    linkSupervisionTick();
    if (!linkStatus().connected || itemCount() <= 0) {
        std::fprintf(stderr, "scan_bench: %s\n",
                     linkStatus().connected ? "no item loaded" : "the link did not come up");
        return false;
    }
    return true;
}

// One scan period: time passes, the demo's values move, the scan runs.
void oneScan(uint32_t n) {
    fake::advance(SCAN_PERIOD_MS);
    if (moving) {
        fake::setU32(0x0BEC, n % 16384);
        fake::setU16(0x07E2, static_cast<uint16_t>(n % 400));
        fake::setU32(0x07D4, (n % 1000) * 65536u);
    }
    for (uint32_t at = moveFrom; at + 1 < moveTo; at += 2)
        fake::setU16(at, static_cast<uint16_t>(fake::getU16(at) + 1));
    scanTick();
}

void BM_Scan(benchmark::State& state) {
    uint32_t n = 0;
    for (auto _ : state) oneScan(n++);
    state.counters["items"] = itemCount();
}
BENCHMARK(BM_Scan);

// What any scan pays at least: the module's reply is one block's worth of memory.
void BM_CopyBlockFloor(benchmark::State& state) {
    static uint8_t from[LINK_BLOCK_SIZE];
    static uint8_t to[LINK_BLOCK_SIZE];
    for (auto _ : state) {
        std::memcpy(to, from, sizeof to);
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * LINK_BLOCK_SIZE);
}
BENCHMARK(BM_CopyBlockFloor);

// Whether item i's value is read straight from its offset, into its first bytes only.
bool readDirectly(const ItemRecord& line) {
    return (line.flags & (FLAG_HAS_OFFSET | FLAG_INDIRECT_OFFSET | FLAG_TYPE_FROM_SIM)) ==
               FLAG_HAS_OFFSET &&
           line.offset != RADIO_NAV_OFFSET && line.offset != RADIO_COM_OFFSET &&
           line.valueType < VALUE_TYPE_COUNT;
}

// Every value the table reads directly changes (each offset once, though several items
// read it), then one reading of the table: how many of those items hold the new value.
std::pair<int32_t, int32_t> freshnessOfOneRead() {
    const ItemRecord* lines = itemTable();
    std::vector<bool> changed(0x10000, false);
    for (int32_t i = 0; i < itemCount(); ++i) {
        if (!readDirectly(lines[i]) || changed[lines[i].offset]) continue;
        changed[lines[i].offset] = true;
        fake::setU8(lines[i].offset, static_cast<uint8_t>(fake::getU8(lines[i].offset) ^ 0x5A));
    }
    if (!readItemValues()) return {0, 0};
    int32_t fresh = 0, read = 0;
    for (int32_t i = 0; i < itemCount(); ++i) {
        if (!readDirectly(lines[i])) continue;
        uint8_t now[8];
        const uint32_t size = valueTypeBytes[lines[i].valueType];
        fake::getBytes(lines[i].offset, now, size);
        ++read;
        if (std::memcmp(itemStates()[i].raw, now, size) == 0) ++fresh;
    }
    return {fresh, read};
}

// N scans from the load on, each followed by the calls the panel library received.
void printCalls(long scans) {
    fake::dlLogEnabled = true;
    fake::clearDlLog();
    for (long i = 0; i < scans; ++i) {
        oneScan(static_cast<uint32_t>(i));
        std::printf("tick\n");
        for (const std::string& line : fake::dlLog) std::printf("%s\n", line.c_str());
        fake::clearDlLog();
    }
}

// Takes this program's options out of argv and leaves the rest for Google Benchmark.
bool parseOptions(int* argc, char** argv, Options* o) {
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < *argc ? argv[i + 1] : nullptr;
        const char** field = std::strcmp(arg, "--ini") == 0     ? &o->ini
                             : std::strcmp(arg, "--units") == 0 ? &o->units
                             : std::strcmp(arg, "--sim") == 0   ? &o->sim
                                                                 : nullptr;
        if (std::strcmp(arg, "--still") == 0) {
            o->still = true;
            continue;
        }
        long* count = std::strcmp(arg, "--scans") == 0   ? &o->scans
                      : std::strcmp(arg, "--calls") == 0 ? &o->calls
                                                          : nullptr;
        if (field || count || std::strcmp(arg, "--move") == 0) {
            if (!value) return false;
            char* end = nullptr;
            if (field) {
                *field = value;
            } else if (count) {
                *count = std::strtol(value, &end, 10);
                if (*end || *count < 0) return false;
            } else {
                o->moveFrom = static_cast<uint32_t>(std::strtoul(value, &end, 16));
                if (*end != '-') return false;
                o->moveTo = static_cast<uint32_t>(std::strtoul(end + 1, &end, 16));
                if (*end || o->moveTo > 0x10000 || o->moveTo < o->moveFrom) return false;
            }
            ++i;
            continue;
        }
        argv[kept++] = argv[i];
    }
    *argc = kept;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parseOptions(&argc, argv, &o)) {
        std::fprintf(stderr,
                     "usage: scan_bench [--ini FILE --units LIST --sim SCRIPT] [--still]\n"
                     "                  [--move FROM-TO] [--scans N | --calls N]\n");
        return 2;
    }
    moving = o.ini == nullptr && !o.still;
    moveFrom = o.moveFrom;
    moveTo = o.moveTo;
    if (!setUp(o)) return 2;
    if (o.calls >= 0) {
        printCalls(o.calls);
        return 0;
    }
    if (o.scans >= 0) {
        for (long i = 0; i < o.scans; ++i) oneScan(static_cast<uint32_t>(i));
        const int32_t exchanges = lastScanExchanges();
        const std::pair<int32_t, int32_t> fresh = freshnessOfOneRead();
        std::printf("items %d scans %ld exchanges %d fresh %d of %d\n",
                    static_cast<int>(itemCount()), o.scans, static_cast<int>(exchanges),
                    static_cast<int>(fresh.first), static_cast<int>(fresh.second));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
