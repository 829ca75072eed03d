// The virtual GoFlight library: every entry point the program calls, with the vendor's
// binary interface, backed by panels that exist only in memory. It reports the units
// named in GFDEV_UNITS, each with a serial number and a USB location, logs each call to
// GFDEV_LOG, mirrors every unit's state into GFDEV_STATE for the panel viewer, and
// simulates plugging (and re-plugging in another order) through GFDEV_PLUG.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "devices/models.h"
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

// The models are the program's own table (names, codes, displays, light bits); this
// library serves those it has a unit count entry point for. Arrays are by code.
constexpr int CODE_SLOTS = DEVICE_TYPE_COUNT + 1;

bool served(const DeviceType* model) { return model && model->count; }

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

// The connected units of each model by serial number, in USB order: the count is the
// list's size.
typedef std::vector<std::string> Serials[CODE_SLOTS];

std::mutex lock;
Serials serials;
Unit units[CODE_SLOTS][MAX_UNITS];
std::atomic<ConnectCallback> callback{nullptr};
std::atomic<bool> watching{false};
std::thread watcher;

// The serial a unit of a plain count gets: its model and its place, GF1660001 for the
// first GF166. The same place gives the same serial at every count.
std::string madeSerial(const DeviceType& model, int unit) {
    char serial[32];
    std::snprintf(serial, sizeof serial, "%s%04d", model.sectionName, unit + 1);
    return serial;
}

// Where a unit is plugged in: a hub per model and a port per place, "1-5.2" for the
// second GF166. A unit moved to another place is at another port.
std::string usbLocation(int model, int unit) {
    return "1-" + std::to_string(model) + "." + std::to_string(unit + 1);
}

// "GF45=1,GFMCP=1,GF166=[AAA,BBB]" -> the units by code; blanks before a name are
// skipped, an unknown name changes nothing, a bad or missing number counts as 0.
void parseUnits(const char* text, Serials& out) {
    for (std::vector<std::string>& model : out) model.clear();
    for (const tools::UnitsEntry& entry : tools::splitUnitsList(text)) {
        std::string_view name = entry.name;
        while (!name.empty() && (name.front() == ' ' || name.front() == '\n' ||
                                 name.front() == '\r' || name.front() == '\t'))
            name.remove_prefix(1);
        const DeviceType* model = findDeviceTypeByName(name.data(), name.size());
        if (!served(model)) continue;
        std::vector<std::string>& units = out[model->code];
        if (entry.hasCount && tools::unitSerialList(entry.count, &units)) continue;
        const int count = entry.hasCount ? tools::leadingUnitCount(entry.count) : 0;
        units.clear();
        for (int u = 0; u < count; ++u) units.push_back(madeSerial(*model, u));
    }
}

int countOfModel(int model) { return static_cast<int>(serials[model].size()); }

// A file the library could not write is said once on standard error (a library has no
// exit status of its own), naming the file and the reason.
void reportWriteFailure(bool* reported, const char* what, const std::string& path, int error) {
    if (*reported) return;
    *reported = true;
    std::fprintf(stderr, "virtual GoFlight library: writing the %s %s failed: %s\n", what,
                 path.c_str(), error ? std::strerror(error) : "unknown error");
}

// One line at the end of the call log. A line that does not get in whole is taken out
// again, so a reader never meets half a call.
void logLine(const std::string& line) {
    static bool reported = false;
    const char* path = std::getenv("GFDEV_LOG");
    if (!path || !*path) return;
    errno = 0;
    FILE* f = std::fopen(path, "ab");
    if (!f) return reportWriteFailure(&reported, "call log", path, errno);
    std::fseek(f, 0, SEEK_END);
    const long before = std::ftell(f);
    const bool written = std::fprintf(f, "%s\n", line.c_str()) >= 0 && std::fflush(f) == 0;
    int error = errno;
    const bool closed = std::fclose(f) == 0;
    if (written && closed) return;
    if (written) error = errno;
    std::error_code ignored;
    if (before >= 0) std::filesystem::resize_file(path, uintmax_t(before), ignored);
    reportWriteFailure(&reported, "call log", path, error);
}

// Rewrites the snapshot; a temporary file and a rename keep the viewer from reading
// half a file. Called with the lock held.
void writeState() {
    const char* path = std::getenv("GFDEV_STATE");
    if (!path || !*path) return;
    static bool reported = false;
    std::string tmp = std::string(path) + ".tmp";
    errno = 0;
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return reportWriteFailure(&reported, "state file", tmp, errno);
    for (int32_t code = 1; code <= DEVICE_TYPE_COUNT; ++code) {
        const DeviceType& model = *findDeviceType(code);
        int n = countOfModel(code) < MAX_UNITS ? countOfModel(code) : MAX_UNITS;
        for (int u = 0; u < n; ++u) {
            const Unit& unit = units[code][u];
            std::fprintf(f, "unit %s %d\n", model.sectionName, u);
            std::fprintf(f, "serial %s\n", serials[code][u].c_str());
            std::fprintf(f, "usb %s\n", usbLocation(code, u).c_str());
            if (unit.brightnessSet)
                std::fprintf(f, "brightness %d\n", unit.brightness);
            else
                std::fprintf(f, "brightness -\n");
            if (model.lightBits)
                std::fprintf(f, "lights %d 0x%lX\n", model.lightBits, unit.indicators);
            for (int d = 0; d < model.displays; ++d) {
                const char* name = model.display[d].name;
                const Display& disp = unit.displays[d];
                if (!disp.written) {
                    std::fprintf(f, "display %s none\n", name);
                } else if (disp.isText) {
                    std::fprintf(f, "display %s text %s\n", name, disp.text.c_str());
                } else {
                    std::string bytes;
                    tools::appendHexBytes(bytes, disp.segments, sizeof disp.segments);
                    std::fprintf(f, "display %s segments%s\n", name, bytes.c_str());
                }
            }
            std::fprintf(f, "end\n");
        }
    }
    // A snapshot that did not get out whole never replaces the last one that did.
    errno = 0;
    const bool written = std::fflush(f) == 0 && !std::ferror(f);
    int error = errno;
    const bool closed = std::fclose(f) == 0;
    if (!closed || !written) {
        if (written) error = errno;
        std::remove(tmp.c_str());
        return reportWriteFailure(&reported, "state file", tmp, error);
    }
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

// Takes a new units list. A place that now holds another unit (or none) holds one that
// was just plugged in: it shows nothing yet. Called with the lock held.
void replug(const Serials& next) {
    for (int code = 1; code <= DEVICE_TYPE_COUNT; ++code) {
        const std::vector<std::string>& before = serials[code];
        const std::vector<std::string>& after = next[code];
        for (int u = 0; u < MAX_UNITS; ++u) {
            const bool same = u < int(before.size()) && u < int(after.size()) &&
                              before[size_t(u)] == after[size_t(u)];
            if (!same) units[code][u] = Unit{};
        }
        serials[code] = after;
    }
}

// Tells the program of a model's change, as the vendor's library does on its own thread:
// a unit plugged in, one removed, or (the same count in another order) one removed and
// one plugged in.
void tellChange(int code, int before, int after) {
    ConnectCallback cb = callback.load();
    if (!cb) return;
    if (after > before) {
        cb(code, after - 1, 1);
    } else if (after < before) {
        cb(code, before - 1, 2);
    } else {
        cb(code, 0, 2);
        cb(code, 0, 1);
    }
}

// Watches the plug file; a changed units list changes the units and calls the registered
// callback from this thread for each model whose units changed.
void watchPlugFile(std::string path) {
    std::string seen = tools::readFile(path.c_str());
    while (watching.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::string now = tools::readFile(path.c_str());
        if (now == seen) continue;
        seen = now;
        Serials next;
        parseUnits(now.c_str(), next);
        bool changed[CODE_SLOTS] = {};
        int before[CODE_SLOTS] = {};
        {
            std::lock_guard<std::mutex> guard(lock);
            for (int code = 1; code <= DEVICE_TYPE_COUNT; ++code) {
                before[code] = countOfModel(code);
                changed[code] = serials[code] != next[code];
            }
            replug(next);
            writeState();
        }
        for (int code = 1; code <= DEVICE_TYPE_COUNT; ++code)
            if (changed[code]) tellChange(code, before[code], int(next[code].size()));
    }
}

void stopWatcher() {
    watching.store(false);
    if (watcher.joinable()) watcher.join();
}

// Logs one setter call and, for a unit the state keeps, applies its change and rewrites
// the state.
template <typename Change>
void setUnit(const std::string& line, int model, int unit, Change change) {
    std::lock_guard<std::mutex> guard(lock);
    logLine(line);
    if (Unit* u = unitOf(model, unit)) {
        change(*u);
        writeState();
    }
}

void setDisplaySegments(int model, const char* name, int displayIndex, int unit,
                        unsigned char* segments) {
    std::string line(name);
    gflog::addInt(line, unit);
    gflog::addSegments(line, segments);
    setUnit(line, model, unit, [&](Unit& u) {
        Display& d = u.displays[displayIndex];
        d.written = true;
        d.isText = false;
        if (segments)
            std::memcpy(d.segments, segments, sizeof d.segments);
        else
            std::memset(d.segments, 0, sizeof d.segments);
    });
}

void setDisplayText(int model, const char* name, int displayIndex, int unit, char* text) {
    std::string line(name);
    gflog::addInt(line, unit);
    gflog::addText(line, text);
    setUnit(line, model, unit, [&](Unit& u) {
        Display& d = u.displays[displayIndex];
        d.written = true;
        d.isText = true;
        d.text = text ? text : "";
        for (char& c : d.text)
            if (c == '\n' || c == '\r') c = ' ';
    });
}

void setBrightness(int model, const char* name, int unit, int level) {
    std::string line(name);
    gflog::addInt(line, unit);
    gflog::addInt(line, level);
    setUnit(line, model, unit, [&](Unit& u) {
        u.brightnessSet = true;
        u.brightness = level;
    });
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
    setUnit(line, model, unit, [&](Unit& u) { u.indicators = state; });
}

unsigned short countOf(int model, const char* name) {
    std::lock_guard<std::mutex> guard(lock);
    logLine(name);
    return static_cast<unsigned short>(countOfModel(model));
}

// The serial and location of a connected unit, in the vendor's record; 1 (failure) for a
// unit that is not there.
int deviceInfo(const char* name, int model, int unit, GfDeviceInfo2* info) {
    std::string line(name);
    gflog::addInt(line, model);
    gflog::addInt(line, unit);
    std::lock_guard<std::mutex> guard(lock);
    logLine(line);
    const DeviceType* type = findDeviceType(model);
    if (!info || !served(type) || unit < 0 || unit >= countOfModel(model)) return 1;
    const std::string& serial = serials[model][size_t(unit)];
    std::snprintf(info->szSerialNum, sizeof info->szSerialNum, "%s", serial.c_str());
    std::snprintf(info->szLocationID, sizeof info->szLocationID, "%s",
                  usbLocation(model, unit).c_str());
    info->wDeviceVersion = 0x0100;
    return 0;
}

// ---------------------------------------------------------------------------
// Library life cycle

int onInit(const char* name) {
    stopWatcher();
    int result = 0;
    if (const char* r = std::getenv("GFDEV_INIT_RESULT")) result = std::atoi(r);
    {
        std::lock_guard<std::mutex> guard(lock);
        logLine(name);
        if (result != 0) return result;
        parseUnits(std::getenv("GFDEV_UNITS"), serials);
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

int onTerminate(const char* name) {
    stopWatcher();
    callback.store(nullptr);
    record(name);
    return 0;
}

int onRegister(const char* name, ConnectCallback cb) {
    record(name);
    callback.store(cb);
    return 1;
}

int onUnregister(const char* name) {
    record(name);
    callback.store(nullptr);
    return 1;
}

}  // namespace

// ---------------------------------------------------------------------------
// The exports: every entry point of the program's list, serving the model and display
// that the program's model table says it drives.

#define USE_OF(NAME) constexpr EntryPointUse use = entryPointUse(&DeviceLibrary::NAME)
#define VIRTUAL_Init(NAME) \
    GFDEV_EXPORT int NAME(void*) { return onInit(#NAME); }
#define VIRTUAL_Terminate(NAME) \
    GFDEV_EXPORT int NAME() { return onTerminate(#NAME); }
#define VIRTUAL_Register(NAME) \
    GFDEV_EXPORT int NAME(ConnectCallback cb) { return onRegister(#NAME, cb); }
#define VIRTUAL_Unregister(NAME) \
    GFDEV_EXPORT int NAME() { return onUnregister(#NAME); }
#define VIRTUAL_DeviceInfo(NAME) \
    GFDEV_EXPORT int NAME(int model, int unit, GfDeviceInfo2* info) { return deviceInfo(#NAME, model, unit, info); }
#define VIRTUAL_Count(NAME)                     \
    GFDEV_EXPORT unsigned short NAME() {        \
        USE_OF(NAME);                           \
        return countOf(use.model, #NAME);       \
    }
#define VIRTUAL_Brightness(NAME)                       \
    GFDEV_EXPORT int NAME(int unit, int level) {       \
        USE_OF(NAME);                                  \
        setBrightness(use.model, #NAME, unit, level);  \
        return 0;                                      \
    }
#define VIRTUAL_GetIndicators(NAME)                                      \
    GFDEV_EXPORT int NAME(int unit, unsigned char* state) {              \
        USE_OF(NAME);                                                    \
        unsigned char value =                                            \
            static_cast<unsigned char>(getIndicators(use.model, #NAME, unit)); \
        if (state) *state = value;                                       \
        return 0;                                                        \
    }
#define VIRTUAL_GetIndicators32(NAME)                                    \
    GFDEV_EXPORT int NAME(int unit, unsigned long* state) {              \
        USE_OF(NAME);                                                    \
        unsigned long value = getIndicators(use.model, #NAME, unit);     \
        if (state) *state = value;                                       \
        return 0;                                                        \
    }
#define VIRTUAL_SetIndicators(NAME)                          \
    GFDEV_EXPORT int NAME(int unit, unsigned char state) {   \
        USE_OF(NAME);                                        \
        setIndicators(use.model, #NAME, unit, state);        \
        return 0;                                            \
    }
#define VIRTUAL_SetIndicators32(NAME)                        \
    GFDEV_EXPORT int NAME(int unit, unsigned long state) {   \
        USE_OF(NAME);                                        \
        setIndicators(use.model, #NAME, unit, state);        \
        return 0;                                            \
    }
#define VIRTUAL_Text(NAME)                                             \
    GFDEV_EXPORT int NAME(int unit, char* text) {                      \
        USE_OF(NAME);                                                  \
        setDisplayText(use.model, #NAME, use.display, unit, text);     \
        return 0;                                                      \
    }
#define VIRTUAL_Segments(NAME)                                              \
    GFDEV_EXPORT int NAME(int unit, unsigned char* segments) {              \
        USE_OF(NAME);                                                       \
        setDisplaySegments(use.model, #NAME, use.display, unit, segments);  \
        return 0;                                                           \
    }
#define VIRTUAL_EXPORT(NAME, KIND) VIRTUAL_##KIND(NAME)
GF_ENTRY_POINTS(VIRTUAL_EXPORT)
