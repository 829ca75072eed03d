// The virtual GoFlight library: every entry point the program calls, with the vendor's
// binary interface, backed by panels that exist only in memory. It reports the units
// named in GFDEV_UNITS, logs each call to GFDEV_LOG, mirrors every unit's state into
// GFDEV_STATE for the panel viewer, and simulates plugging through GFDEV_PLUG.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "tools/common/common.h"
#include "tools/virtual-gfdev/log_format.h"

#ifdef _WIN32
#define GFDEV_EXPORT extern "C" __declspec(dllexport)
#else
#define GFDEV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

typedef int (*ConnectCallback)(int model, int unit, int event);

namespace {

constexpr int MAX_UNITS = 16;  // units kept in the state; further ones are only logged
constexpr int MAX_DISPLAYS = 6;

struct Model {
    const char* name;
    int code;
    int lightBits;                    // 0, 8 or 32
    const char* displays[MAX_DISPLAYS];  // display names, nullptr-terminated
};

// Codes as the program's settings use them; nothing in the program reads them back.
const Model models[] = {
    {"GF45", 1, 0, {"alpha", "numeric"}},
    {"GFP8", 2, 8, {}},
    {"GFT8", 3, 8, {}},
    {"GFLGT", 4, 8, {}},
    {"GF166", 5, 8, {"L", "R"}},
    {"GFMCP", 6, 8, {"A", "B", "C", "D", "E"}},
    {"GFRP48", 7, 8, {}},
    {"GF46", 8, 0, {"alpha", "numeric"}},
    {"GFATC", 10, 0, {"digit"}},
    {"GFMCPPRO", 12, 32, {"A", "B", "C", "D", "E", "F"}},
};
constexpr int MODEL_COUNT = sizeof models / sizeof models[0];

enum ModelIndex { M_GF45, M_GFP8, M_GFT8, M_GFLGT, M_GF166, M_GFMCP, M_GFRP48, M_GF46,
                  M_GFATC, M_GFMCPPRO };

struct Display {
    bool written;
    bool isText;
    unsigned char segments[16];
    std::string text;
};

struct Unit {
    bool brightnessSet;
    int brightness;
    unsigned long indicators;
    Display displays[MAX_DISPLAYS];
};

std::mutex lock;
int counts[MODEL_COUNT];
Unit units[MODEL_COUNT][MAX_UNITS];
std::atomic<ConnectCallback> callback{nullptr};
std::atomic<bool> watching{false};
std::thread watcher;

bool sameName(const char* a, const char* b, size_t bLength) {
    if (std::strlen(a) != bLength) return false;
    for (size_t i = 0; i < bLength; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

// "GF45=1,GFMCP=1,GFP8=2" -> counts; blanks before a name are skipped, an unknown name
// changes nothing, a bad or missing number counts as 0.
void parseUnits(const char* text, int* out) {
    for (int i = 0; i < MODEL_COUNT; ++i) out[i] = 0;
    for (const tools::UnitsEntry& entry : tools::splitUnitsList(text)) {
        std::string_view name = entry.name;
        while (!name.empty() && (name.front() == ' ' || name.front() == '\n' ||
                                 name.front() == '\r' || name.front() == '\t'))
            name.remove_prefix(1);
        int value = entry.hasCount ? tools::leadingUnitCount(entry.count) : 0;
        for (int i = 0; i < MODEL_COUNT; ++i)
            if (sameName(models[i].name, name.data(), name.size())) out[i] = value;
    }
}

void logLine(const std::string& line) {
    const char* path = std::getenv("GFDEV_LOG");
    if (!path || !*path) return;
    if (FILE* f = std::fopen(path, "ab")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

// Rewrites the snapshot; a temporary file and a rename keep the viewer from reading
// half a file. Called with the lock held.
void writeState() {
    const char* path = std::getenv("GFDEV_STATE");
    if (!path || !*path) return;
    std::string tmp = std::string(path) + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return;
    for (int m = 0; m < MODEL_COUNT; ++m) {
        int n = counts[m] < MAX_UNITS ? counts[m] : MAX_UNITS;
        for (int u = 0; u < n; ++u) {
            const Unit& unit = units[m][u];
            std::fprintf(f, "unit %s %d\n", models[m].name, u);
            if (unit.brightnessSet)
                std::fprintf(f, "brightness %d\n", unit.brightness);
            else
                std::fprintf(f, "brightness -\n");
            if (models[m].lightBits)
                std::fprintf(f, "lights %d 0x%lX\n", models[m].lightBits, unit.indicators);
            for (int d = 0; d < MAX_DISPLAYS && models[m].displays[d]; ++d) {
                const Display& disp = unit.displays[d];
                if (!disp.written) {
                    std::fprintf(f, "display %s none\n", models[m].displays[d]);
                } else if (disp.isText) {
                    std::fprintf(f, "display %s text %s\n", models[m].displays[d],
                                 disp.text.c_str());
                } else {
                    std::string bytes;
                    tools::appendHexBytes(bytes, disp.segments, sizeof disp.segments);
                    std::fprintf(f, "display %s segments%s\n", models[m].displays[d],
                                 bytes.c_str());
                }
            }
            std::fprintf(f, "end\n");
        }
    }
    std::fclose(f);
#ifdef _WIN32
    std::remove(path);  // rename does not replace on Windows
#endif
    std::rename(tmp.c_str(), path);
}

Unit* unitOf(int model, int unit) {
    if (unit < 0 || unit >= MAX_UNITS) return nullptr;
    return &units[model][unit];
}

void record(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock);
    logLine(line);
}

// Watches the plug file; a changed units list changes the counts and calls the
// registered callback from this thread, once per model whose count changed.
void watchPlugFile(std::string path) {
    std::string seen = tools::readFile(path.c_str());
    while (watching.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::string now = tools::readFile(path.c_str());
        if (now == seen) continue;
        seen = now;
        int next[MODEL_COUNT];
        parseUnits(now.c_str(), next);
        int before[MODEL_COUNT];
        {
            std::lock_guard<std::mutex> guard(lock);
            std::memcpy(before, counts, sizeof counts);
            std::memcpy(counts, next, sizeof counts);
            writeState();
        }
        for (int m = 0; m < MODEL_COUNT; ++m) {
            if (next[m] == before[m]) continue;
            ConnectCallback cb = callback.load();
            if (!cb) continue;
            if (next[m] > before[m])
                cb(models[m].code, next[m] - 1, 1);
            else
                cb(models[m].code, before[m] - 1, 2);
        }
    }
}

void stopWatcher() {
    watching.store(false);
    if (watcher.joinable()) watcher.join();
}

void setDisplaySegments(int model, const char* name, int displayIndex, int unit,
                        unsigned char* segments) {
    std::string line(name);
    gflog::addInt(line, unit);
    gflog::addSegments(line, segments);
    std::lock_guard<std::mutex> guard(lock);
    logLine(line);
    if (Unit* u = unitOf(model, unit)) {
        Display& d = u->displays[displayIndex];
        d.written = true;
        d.isText = false;
        if (segments)
            std::memcpy(d.segments, segments, sizeof d.segments);
        else
            std::memset(d.segments, 0, sizeof d.segments);
        writeState();
    }
}

void setDisplayText(int model, const char* name, int displayIndex, int unit, char* text) {
    std::string line(name);
    gflog::addInt(line, unit);
    gflog::addText(line, text);
    std::lock_guard<std::mutex> guard(lock);
    logLine(line);
    if (Unit* u = unitOf(model, unit)) {
        Display& d = u->displays[displayIndex];
        d.written = true;
        d.isText = true;
        d.text = text ? text : "";
        for (char& c : d.text)
            if (c == '\n' || c == '\r') c = ' ';
        writeState();
    }
}

void setBrightness(int model, const char* name, int unit, int level) {
    std::string line(name);
    gflog::addInt(line, unit);
    gflog::addInt(line, level);
    std::lock_guard<std::mutex> guard(lock);
    logLine(line);
    if (Unit* u = unitOf(model, unit)) {
        u->brightnessSet = true;
        u->brightness = level;
        writeState();
    }
}

unsigned long getIndicators(int model, const char* name, int unit) {
    std::string line(name);
    gflog::addInt(line, unit);
    std::lock_guard<std::mutex> guard(lock);
    logLine(line);
    Unit* u = unitOf(model, unit);
    return u ? u->indicators : 0;
}

void setIndicators(int model, const char* name, int unit, unsigned long state) {
    std::string line(name);
    gflog::addInt(line, unit);
    gflog::addState(line, state);
    std::lock_guard<std::mutex> guard(lock);
    logLine(line);
    if (Unit* u = unitOf(model, unit)) {
        u->indicators = state;
        writeState();
    }
}

unsigned short countOf(int model, const char* name) {
    std::lock_guard<std::mutex> guard(lock);
    logLine(name);
    return static_cast<unsigned short>(counts[model]);
}

}  // namespace

// ---------------------------------------------------------------------------
// Library life cycle

GFDEV_EXPORT int GFDev_Init(void* instance) {
    (void)instance;
    stopWatcher();
    int result = 0;
    if (const char* r = std::getenv("GFDEV_INIT_RESULT")) result = std::atoi(r);
    {
        std::lock_guard<std::mutex> guard(lock);
        logLine("GFDev_Init");
        if (result != 0) return result;
        parseUnits(std::getenv("GFDEV_UNITS"), counts);
        for (auto& model : units)
            for (Unit& u : model) u = Unit{};
        writeState();
    }
    const char* plug = std::getenv("GFDEV_PLUG");
    if (plug && *plug) {
        watching.store(true);
        watcher = std::thread(watchPlugFile, std::string(plug));
    }
    return 0;
}

GFDEV_EXPORT int GFDev_Terminate() {
    stopWatcher();
    callback.store(nullptr);
    record("GFDev_Terminate");
    return 0;
}

GFDEV_EXPORT int GFDev_RegisterConnectCallback(ConnectCallback cb) {
    record("GFDev_RegisterConnectCallback");
    callback.store(cb);
    return 1;
}

GFDEV_EXPORT int GFDev_UnregisterConnectCallback() {
    record("GFDev_UnregisterConnectCallback");
    callback.store(nullptr);
    return 1;
}

// ---------------------------------------------------------------------------
// Per-model entry points

#define COUNT(PREFIX, M) \
    GFDEV_EXPORT unsigned short PREFIX##_GetNumDevices() { return countOf(M, #PREFIX "_GetNumDevices"); }
#define BRIGHTNESS(PREFIX, M)                                     \
    GFDEV_EXPORT int PREFIX##_SetBrightness(int unit, int level) { \
        setBrightness(M, #PREFIX "_SetBrightness", unit, level);   \
        return 0;                                                  \
    }
#define INDICATORS(PREFIX, M, T)                                              \
    GFDEV_EXPORT int PREFIX##_GetIndicators(int unit, T* state) {             \
        T value = static_cast<T>(getIndicators(M, #PREFIX "_GetIndicators", unit)); \
        if (state) *state = value;                                            \
        return 0;                                                             \
    }                                                                         \
    GFDEV_EXPORT int PREFIX##_SetIndicators(int unit, T state) {              \
        setIndicators(M, #PREFIX "_SetIndicators", unit, state);              \
        return 0;                                                             \
    }
#define SEGMENTS(NAME, M, D)                                      \
    GFDEV_EXPORT int NAME(int unit, unsigned char* segments) {    \
        setDisplaySegments(M, #NAME, D, unit, segments);          \
        return 0;                                                 \
    }
#define TEXT(NAME, M, D)                                          \
    GFDEV_EXPORT int NAME(int unit, char* text) {                 \
        setDisplayText(M, #NAME, D, unit, text);                  \
        return 0;                                                 \
    }

COUNT(GF45, M_GF45)
COUNT(GFP8, M_GFP8)
COUNT(GFT8, M_GFT8)
COUNT(GFLGT, M_GFLGT)
COUNT(GF166, M_GF166)
COUNT(GFMCP, M_GFMCP)
COUNT(GFRP48, M_GFRP48)
COUNT(GF46, M_GF46)
COUNT(GFATC, M_GFATC)
COUNT(GFMCPPro, M_GFMCPPRO)

BRIGHTNESS(GF45, M_GF45)
BRIGHTNESS(GFP8, M_GFP8)
BRIGHTNESS(GFT8, M_GFT8)
BRIGHTNESS(GFLGT, M_GFLGT)
BRIGHTNESS(GF166, M_GF166)
BRIGHTNESS(GFMCP, M_GFMCP)
BRIGHTNESS(GFRP48, M_GFRP48)
BRIGHTNESS(GF46, M_GF46)
BRIGHTNESS(GFATC, M_GFATC)
BRIGHTNESS(GFMCPPro, M_GFMCPPRO)

INDICATORS(GFP8, M_GFP8, unsigned char)
INDICATORS(GFT8, M_GFT8, unsigned char)
INDICATORS(GFLGT, M_GFLGT, unsigned char)
INDICATORS(GF166, M_GF166, unsigned char)
INDICATORS(GFMCP, M_GFMCP, unsigned char)
INDICATORS(GFRP48, M_GFRP48, unsigned char)
INDICATORS(GFMCPPro, M_GFMCPPRO, unsigned long)

TEXT(GF45_SetAlpha, M_GF45, 0)
TEXT(GF45_SetNumeric, M_GF45, 1)
SEGMENTS(GF45_SetNumericSegments, M_GF45, 1)
TEXT(GF46_SetAlpha, M_GF46, 0)
TEXT(GF46_SetNumeric, M_GF46, 1)
SEGMENTS(GF46_SetNumericSegments, M_GF46, 1)
SEGMENTS(GF166_SetLDisplaySegments, M_GF166, 0)
SEGMENTS(GF166_SetRDisplaySegments, M_GF166, 1)
SEGMENTS(GFMCP_SetADisplaySegments, M_GFMCP, 0)
SEGMENTS(GFMCP_SetBDisplaySegments, M_GFMCP, 1)
SEGMENTS(GFMCP_SetCDisplaySegments, M_GFMCP, 2)
SEGMENTS(GFMCP_SetDDisplaySegments, M_GFMCP, 3)
SEGMENTS(GFMCP_SetEDisplaySegments, M_GFMCP, 4)
SEGMENTS(GFATC_SetDigitSegments, M_GFATC, 0)
TEXT(GFMCPPro_SetADisplayText, M_GFMCPPRO, 0)
TEXT(GFMCPPro_SetBDisplayText, M_GFMCPPRO, 1)
TEXT(GFMCPPro_SetCDisplayText, M_GFMCPPRO, 2)
TEXT(GFMCPPro_SetDDisplayText, M_GFMCPPRO, 3)
TEXT(GFMCPPro_SetEDisplayText, M_GFMCPPRO, 4)
TEXT(GFMCPPro_SetFDisplayText, M_GFMCPPRO, 5)
