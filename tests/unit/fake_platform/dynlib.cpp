// Fake platform, dynamic libraries and registry: one in-process panel library whose
// entry points log each call (see fake_dl.h) and answer from values the tests set.
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "config/items.h"
#include "devices/devices.h"
#include "fake_dl.h"
#include "platform/platform.h"
#include "tools/virtual-gfdev/log_format.h"

namespace fake {

std::vector<std::string> dlLog;
bool dlLogEnabled = true;
std::vector<std::string> dlLoadAttempts;
std::vector<std::string> registryReads;
int dlFreeCount = 0;
size_t dlLogLinesAtFree = 0;
void (*dlOnFree)() = nullptr;
std::string otherBitnessPath;

namespace {

constexpr int MAX_FAKE_UNITS = 256;

struct RegistryValue {
    std::string subKey;
    std::string valueName;  // empty with hasValue false: the key exists, without values
    bool hasValue;
    std::string bytes;
};

std::string libraryPath;
std::vector<std::string> withheld;
int initResult = 0;
int registerResult = 1;
uint32_t units[DEVICE_COUNT_SLOTS];
uint32_t indicators[DEVICE_COUNT_SLOTS][MAX_FAKE_UNITS];
FakeConnectCallback callback = nullptr;
// What GFDev_GetDeviceInfo2 answers by model and unit, where a test set it.
struct InfoAnswer {
    std::string bytes;  // written from the record's start, at most the record's size
    int result;
};
std::map<std::pair<int32_t, int>, InfoAnswer> infoAnswers;
std::vector<RegistryValue> registry;
char libraryToken;  // its address is the fake module handle

uint32_t& stateOf(int32_t type, int unit) {
    static uint32_t outOfRange;
    if (type < 0 || type >= DEVICE_COUNT_SLOTS || unit < 0 || unit >= MAX_FAKE_UNITS) {
        outOfRange = 0;
        return outOfRange;
    }
    return indicators[type][unit];
}

void logName(const char* name) {
    if (dlLogEnabled) dlLog.emplace_back(name);
}

// What each kind of entry point does; `name` is the export's own, `model` the code of the
// model whose row names it.
int onInit(const char* name, void*) {
    logName(name);
    return initResult;
}
void onTerminate(const char* name) { logName(name); }
int onRegister(const char* name, GfConnectCallbackFn fn) {
    logName(name);
    if (registerResult != 0) callback = fn;
    return registerResult;
}
void onUnregister(const char* name) {
    logName(name);
    callback = nullptr;
}
unsigned short onCount(const char* name, int32_t model) {
    logName(name);
    return static_cast<unsigned short>(units[model]);
}
void onBrightness(const char* name, int unit, int level) {
    if (!dlLogEnabled) return;
    std::string line(name);
    gflog::addInt(line, unit);
    gflog::addInt(line, level);
    dlLog.push_back(line);
}
template <typename T>
void onGetIndicators(const char* name, int32_t model, int unit, T* state) {
    if (dlLogEnabled) {
        std::string line(name);
        gflog::addInt(line, unit);
        dlLog.push_back(line);
    }
    if (state) *state = static_cast<T>(stateOf(model, unit));
}
template <typename T>
void onSetIndicators(const char* name, int32_t model, int unit, T state) {
    if (dlLogEnabled) {
        std::string line(name);
        gflog::addInt(line, unit);
        gflog::addState(line, state);
        dlLog.push_back(line);
    }
    stateOf(model, unit) = static_cast<uint32_t>(state);
}
// A unit nobody set answers a serial made of its model and number and a location of its
// own, as a panel's would be.
int onDeviceInfo(const char* name, int model, int unit, GfDeviceInfo2* info) {
    if (dlLogEnabled) {
        std::string line(name);
        gflog::addInt(line, model);
        gflog::addInt(line, unit);
        dlLog.push_back(line);
    }
    if (!info) return 1;
    auto set = infoAnswers.find({model, unit});
    if (set != infoAnswers.end()) {
        const std::string& bytes = set->second.bytes;
        std::memcpy(info, bytes.data(), bytes.size() < sizeof *info ? bytes.size() : sizeof *info);
        return set->second.result;
    }
    const char* modelName = deviceTypeName(model);
    std::snprintf(info->szSerialNum, sizeof info->szSerialNum, "%s%04d", modelName ? modelName : "?",
                  unit + 1);
    std::snprintf(info->szLocationID, sizeof info->szLocationID, "1-%d.%d", model, unit + 1);
    return 0;
}
void onText(const char* name, int unit, char* text) {
    if (!dlLogEnabled) return;
    std::string line(name);
    gflog::addInt(line, unit);
    gflog::addText(line, text);
    dlLog.push_back(line);
}
void onSegments(const char* name, int unit, unsigned char* segments) {
    if (!dlLogEnabled) return;
    std::string line(name);
    gflog::addInt(line, unit);
    gflog::addSegments(line, segments);
    dlLog.push_back(line);
}

// One export per entry point of the program's list, of the type the program calls it by.
#define MODEL_OF(NAME) entryPointUse(&DeviceLibrary::NAME).model
#define FAKE_Init(NAME) \
    int NAME(void* instance) { return onInit(#NAME, instance); }
#define FAKE_Terminate(NAME) \
    void NAME() { onTerminate(#NAME); }
#define FAKE_Register(NAME) \
    int NAME(GfConnectCallbackFn fn) { return onRegister(#NAME, fn); }
#define FAKE_Unregister(NAME) \
    void NAME() { onUnregister(#NAME); }
#define FAKE_Count(NAME) \
    unsigned short NAME() { return onCount(#NAME, MODEL_OF(NAME)); }
#define FAKE_Brightness(NAME) \
    void NAME(int unit, int level) { onBrightness(#NAME, unit, level); }
#define FAKE_GetIndicators(NAME) \
    void NAME(int unit, unsigned char* state) { onGetIndicators(#NAME, MODEL_OF(NAME), unit, state); }
#define FAKE_SetIndicators(NAME) \
    void NAME(int unit, unsigned char state) { onSetIndicators(#NAME, MODEL_OF(NAME), unit, state); }
#define FAKE_GetIndicators32(NAME) \
    void NAME(int unit, unsigned long* state) { onGetIndicators(#NAME, MODEL_OF(NAME), unit, state); }
#define FAKE_SetIndicators32(NAME) \
    void NAME(int unit, unsigned long state) { onSetIndicators(#NAME, MODEL_OF(NAME), unit, state); }
#define FAKE_DeviceInfo(NAME) \
    int NAME(int model, int unit, GfDeviceInfo2* info) { return onDeviceInfo(#NAME, model, unit, info); }
#define FAKE_Text(NAME) \
    void NAME(int unit, char* text) { onText(#NAME, unit, text); }
#define FAKE_Segments(NAME) \
    void NAME(int unit, unsigned char* segments) { onSegments(#NAME, unit, segments); }
#define FAKE_EXPORT(NAME, KIND) FAKE_##KIND(NAME)
GF_ENTRY_POINTS(FAKE_EXPORT)

// Entry points of models that have none in the program's table; exported anyway so a
// test can show that the program never asks for them.
unsigned short GFTQ6_GetNumDevices() { return onCount("GFTQ6_GetNumDevices", DEV_GFTQ6); }
unsigned short GFEFIS_GetNumDevices() { return onCount("GFEFIS_GetNumDevices", DEV_GFEFIS); }
void GFTQ6_SetBrightness(int unit, int level) { onBrightness("GFTQ6_SetBrightness", unit, level); }

struct Export {
    const char* name;
    void* address;
};

#define EXPORT(NAME) {#NAME, reinterpret_cast<void*>(&NAME)},
#define LISTED_EXPORT(NAME, KIND) EXPORT(NAME)
const Export exportsTable[] = {
    GF_ENTRY_POINTS(LISTED_EXPORT)
    EXPORT(GFTQ6_GetNumDevices) EXPORT(GFEFIS_GetNumDevices)
    EXPORT(GFTQ6_SetBrightness)
};

}  // namespace

std::string dlLogText() {
    std::string text;
    for (size_t i = 0; i < dlLog.size(); ++i) {
        if (i) text += '\n';
        text += dlLog[i];
    }
    return text;
}

void clearDlLog() { dlLog.clear(); }

void installFakeLibrary() {
    libraryPath = "GFDEV.DLL";
    withheld.clear();
    initResult = 0;
    registerResult = 1;
    std::memset(units, 0, sizeof units);
    std::memset(indicators, 0, sizeof indicators);
    callback = nullptr;
    infoAnswers.clear();
    registry.clear();
    dlLog.clear();
    dlLoadAttempts.clear();
    registryReads.clear();
    dlFreeCount = 0;
    dlLogLinesAtFree = 0;
    otherBitnessPath.clear();
}

void removeFakeLibrary() {
    installFakeLibrary();
    libraryPath.clear();
}

void setFakeLibraryPath(const char* nameOrPath) { libraryPath = nameOrPath ? nameOrPath : ""; }
void withholdEntryPoint(const char* name) { withheld.emplace_back(name); }
void setFakeInitResult(int result) { initResult = result; }
void setFakeRegisterResult(int result) { registerResult = result; }

void setFakeUnits(int32_t deviceType, uint32_t count) {
    if (deviceType >= 0 && deviceType < DEVICE_COUNT_SLOTS) units[deviceType] = count;
}

void setFakeIndicators(int32_t deviceType, int unit, uint32_t state) {
    stateOf(deviceType, unit) = state;
}
uint32_t fakeIndicators(int32_t deviceType, int unit) { return stateOf(deviceType, unit); }

FakeConnectCallback registeredCallback() { return callback; }

void setFakeDeviceInfo(int32_t deviceType, int unit, const std::string& bytes, int result) {
    infoAnswers[{deviceType, unit}] = InfoAnswer{bytes, result};
}

void setFakeSerial(int32_t deviceType, int unit, const char* serial, const char* location) {
    GfDeviceInfo2 info{};
    std::snprintf(info.szSerialNum, sizeof info.szSerialNum, "%s", serial);
    std::snprintf(info.szLocationID, sizeof info.szLocationID, "%s", location);
    setFakeDeviceInfo(deviceType, unit, std::string(reinterpret_cast<const char*>(&info),
                                                    sizeof info), 0);
}

void setFakeRegistryValue(const char* subKey, const char* valueName, const char* bytes,
                          uint32_t length) {
    RegistryValue v;
    v.subKey = subKey ? subKey : "";
    v.hasValue = valueName != nullptr;
    v.valueName = valueName ? valueName : "";
    if (bytes) v.bytes.assign(bytes, length);
    registry.push_back(v);
}

void clearFakeRegistry() { registry.clear(); }

}  // namespace fake

namespace platform {

LibraryRef loadLibrary(const char* nameOrPath, bool* otherBitness) {
    fake::dlLoadAttempts.emplace_back(nameOrPath ? nameOrPath : "");
    if (otherBitness) *otherBitness = false;
    if (nameOrPath && !fake::otherBitnessPath.empty() && fake::otherBitnessPath == nameOrPath) {
        if (otherBitness) *otherBitness = true;
        return nullptr;
    }
    if (!nameOrPath || fake::libraryPath.empty() || fake::libraryPath != nameOrPath)
        return nullptr;
    return &fake::libraryToken;
}

void* librarySymbol(LibraryRef library, const char* name) {
    if (library != &fake::libraryToken || !name) return nullptr;
    for (const std::string& w : fake::withheld)
        if (w == name) return nullptr;
    for (const fake::Export& e : fake::exportsTable)
        if (std::strcmp(e.name, name) == 0) return e.address;
    return nullptr;
}

void freeLibrary(LibraryRef library) {
    if (library != &fake::libraryToken) return;
    ++fake::dlFreeCount;
    fake::dlLogLinesAtFree = fake::dlLog.size();
    if (fake::dlOnFree) fake::dlOnFree();
}

int32_t registryGetString(const char* subKey, const char* valueName, char* buf,
                          uint32_t size) {
    fake::registryReads.emplace_back(subKey ? subKey : "");
    if (!subKey || !valueName || !buf) return -1;
    for (const fake::RegistryValue& v : fake::registry) {
        if (!v.hasValue || v.subKey != subKey || v.valueName != valueName) continue;
        // Like the real call: a value longer than the buffer is not read at all.
        uint32_t n = static_cast<uint32_t>(v.bytes.size());
        if (n > size) return -1;
        std::memcpy(buf, v.bytes.data(), n);
        return static_cast<int32_t>(n);
    }
    return -1;
}

}  // namespace platform
