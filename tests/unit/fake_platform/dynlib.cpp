// Fake platform, dynamic libraries and registry: one in-process panel library whose
// entry points log each call (see fake_dl.h) and answer from values the tests set.
#include <cstring>

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

#define FAKE_COUNT(NAME, CODE)                      \
    unsigned short NAME() {                                 \
        logName(#NAME);                                     \
        return static_cast<unsigned short>(units[CODE]);    \
    }
#define FAKE_BRIGHTNESS(NAME)                       \
    void NAME(int unit, int level) {                        \
        if (dlLogEnabled) {                                 \
            std::string line(#NAME);                        \
            gflog::addInt(line, unit);                      \
            gflog::addInt(line, level);                     \
            dlLog.push_back(line);                          \
        }                                                   \
    }
#define FAKE_INDICATORS(GET, SET, CODE, T)          \
    void GET(int unit, T* state) {                          \
        if (dlLogEnabled) {                                 \
            std::string line(#GET);                         \
            gflog::addInt(line, unit);                      \
            dlLog.push_back(line);                          \
        }                                                   \
        if (state) *state = static_cast<T>(stateOf(CODE, unit)); \
    }                                                       \
    void SET(int unit, T state) {                           \
        if (dlLogEnabled) {                                 \
            std::string line(#SET);                         \
            gflog::addInt(line, unit);                      \
            gflog::addState(line, state);                   \
            dlLog.push_back(line);                          \
        }                                                   \
        stateOf(CODE, unit) = static_cast<uint32_t>(state); \
    }
#define FAKE_TEXT(NAME)                             \
    void NAME(int unit, char* text) {                       \
        if (dlLogEnabled) {                                 \
            std::string line(#NAME);                        \
            gflog::addInt(line, unit);                      \
            gflog::addText(line, text);                     \
            dlLog.push_back(line);                          \
        }                                                   \
    }
#define FAKE_SEGMENTS(NAME)                         \
    void NAME(int unit, unsigned char* segments) {          \
        if (dlLogEnabled) {                                 \
            std::string line(#NAME);                        \
            gflog::addInt(line, unit);                      \
            gflog::addSegments(line, segments);             \
            dlLog.push_back(line);                          \
        }                                                   \
    }

int GFDev_Init(void*) {
    logName("GFDev_Init");
    return initResult;
}
void GFDev_Terminate() { logName("GFDev_Terminate"); }
int GFDev_RegisterConnectCallback(GfConnectCallbackFn fn) {
    logName("GFDev_RegisterConnectCallback");
    if (registerResult != 0) callback = fn;
    return registerResult;
}
void GFDev_UnregisterConnectCallback() {
    logName("GFDev_UnregisterConnectCallback");
    callback = nullptr;
}

FAKE_COUNT(GF45_GetNumDevices, DEV_GF45)
FAKE_COUNT(GFP8_GetNumDevices, DEV_GFP8)
FAKE_COUNT(GFT8_GetNumDevices, DEV_GFT8)
FAKE_COUNT(GFLGT_GetNumDevices, DEV_GFLGT)
FAKE_COUNT(GF166_GetNumDevices, DEV_GF166)
FAKE_COUNT(GFMCP_GetNumDevices, DEV_GFMCP)
FAKE_COUNT(GFRP48_GetNumDevices, DEV_GFRP48)
FAKE_COUNT(GF46_GetNumDevices, DEV_GF46)
FAKE_COUNT(GFATC_GetNumDevices, DEV_GFATC)
FAKE_COUNT(GFMCPPro_GetNumDevices, DEV_GFMCPPRO)
// Models that have no count entry point in the program's table; exported anyway so a
// test can show that the program never asks for them.
FAKE_COUNT(GFTQ6_GetNumDevices, DEV_GFTQ6)
FAKE_COUNT(GFLGT2_GetNumDevices, DEV_GFLGT2)
FAKE_COUNT(GFEFIS_GetNumDevices, DEV_GFEFIS)

FAKE_BRIGHTNESS(GF45_SetBrightness)
FAKE_BRIGHTNESS(GFP8_SetBrightness)
FAKE_BRIGHTNESS(GFT8_SetBrightness)
FAKE_BRIGHTNESS(GFLGT_SetBrightness)
FAKE_BRIGHTNESS(GF166_SetBrightness)
FAKE_BRIGHTNESS(GFMCP_SetBrightness)
FAKE_BRIGHTNESS(GFRP48_SetBrightness)
FAKE_BRIGHTNESS(GF46_SetBrightness)
FAKE_BRIGHTNESS(GFATC_SetBrightness)
FAKE_BRIGHTNESS(GFMCPPro_SetBrightness)
FAKE_BRIGHTNESS(GFTQ6_SetBrightness)

FAKE_INDICATORS(GFP8_GetIndicators, GFP8_SetIndicators, DEV_GFP8, unsigned char)
FAKE_INDICATORS(GFT8_GetIndicators, GFT8_SetIndicators, DEV_GFT8, unsigned char)
FAKE_INDICATORS(GFLGT_GetIndicators, GFLGT_SetIndicators, DEV_GFLGT, unsigned char)
FAKE_INDICATORS(GF166_GetIndicators, GF166_SetIndicators, DEV_GF166, unsigned char)
FAKE_INDICATORS(GFMCP_GetIndicators, GFMCP_SetIndicators, DEV_GFMCP, unsigned char)
FAKE_INDICATORS(GFRP48_GetIndicators, GFRP48_SetIndicators, DEV_GFRP48, unsigned char)
FAKE_INDICATORS(GFMCPPro_GetIndicators, GFMCPPro_SetIndicators, DEV_GFMCPPRO, unsigned long)

FAKE_TEXT(GF45_SetAlpha)
FAKE_TEXT(GF46_SetAlpha)
FAKE_TEXT(GF45_SetNumeric)
FAKE_TEXT(GF46_SetNumeric)
FAKE_TEXT(GFMCPPro_SetADisplayText)
FAKE_TEXT(GFMCPPro_SetBDisplayText)
FAKE_TEXT(GFMCPPro_SetCDisplayText)
FAKE_TEXT(GFMCPPro_SetDDisplayText)
FAKE_TEXT(GFMCPPro_SetEDisplayText)
FAKE_TEXT(GFMCPPro_SetFDisplayText)

FAKE_SEGMENTS(GF45_SetNumericSegments)
FAKE_SEGMENTS(GF46_SetNumericSegments)
FAKE_SEGMENTS(GF166_SetLDisplaySegments)
FAKE_SEGMENTS(GF166_SetRDisplaySegments)
FAKE_SEGMENTS(GFMCP_SetADisplaySegments)
FAKE_SEGMENTS(GFMCP_SetBDisplaySegments)
FAKE_SEGMENTS(GFMCP_SetCDisplaySegments)
FAKE_SEGMENTS(GFMCP_SetDDisplaySegments)
FAKE_SEGMENTS(GFMCP_SetEDisplaySegments)
FAKE_SEGMENTS(GFATC_SetDigitSegments)

struct Export {
    const char* name;
    void* address;
};

#define EXPORT(NAME) {#NAME, reinterpret_cast<void*>(&NAME)}
const Export exportsTable[] = {
    EXPORT(GFDev_Init), EXPORT(GFDev_Terminate), EXPORT(GFDev_RegisterConnectCallback),
    EXPORT(GFDev_UnregisterConnectCallback),
    EXPORT(GF45_GetNumDevices), EXPORT(GFP8_GetNumDevices), EXPORT(GFT8_GetNumDevices),
    EXPORT(GFLGT_GetNumDevices), EXPORT(GF166_GetNumDevices), EXPORT(GFMCP_GetNumDevices),
    EXPORT(GFRP48_GetNumDevices), EXPORT(GF46_GetNumDevices), EXPORT(GFATC_GetNumDevices),
    EXPORT(GFMCPPro_GetNumDevices), EXPORT(GFTQ6_GetNumDevices), EXPORT(GFLGT2_GetNumDevices),
    EXPORT(GFEFIS_GetNumDevices),
    EXPORT(GF45_SetBrightness), EXPORT(GFP8_SetBrightness), EXPORT(GFT8_SetBrightness),
    EXPORT(GFLGT_SetBrightness), EXPORT(GF166_SetBrightness), EXPORT(GFMCP_SetBrightness),
    EXPORT(GFRP48_SetBrightness), EXPORT(GF46_SetBrightness), EXPORT(GFATC_SetBrightness),
    EXPORT(GFMCPPro_SetBrightness), EXPORT(GFTQ6_SetBrightness),
    EXPORT(GFP8_GetIndicators), EXPORT(GFP8_SetIndicators), EXPORT(GFT8_GetIndicators),
    EXPORT(GFT8_SetIndicators), EXPORT(GFLGT_GetIndicators), EXPORT(GFLGT_SetIndicators),
    EXPORT(GF166_GetIndicators), EXPORT(GF166_SetIndicators), EXPORT(GFMCP_GetIndicators),
    EXPORT(GFMCP_SetIndicators), EXPORT(GFRP48_GetIndicators), EXPORT(GFRP48_SetIndicators),
    EXPORT(GFMCPPro_GetIndicators), EXPORT(GFMCPPro_SetIndicators),
    EXPORT(GF45_SetAlpha), EXPORT(GF46_SetAlpha), EXPORT(GF45_SetNumeric),
    EXPORT(GF46_SetNumeric), EXPORT(GFMCPPro_SetADisplayText),
    EXPORT(GFMCPPro_SetBDisplayText), EXPORT(GFMCPPro_SetCDisplayText),
    EXPORT(GFMCPPro_SetDDisplayText), EXPORT(GFMCPPro_SetEDisplayText),
    EXPORT(GFMCPPro_SetFDisplayText),
    EXPORT(GF45_SetNumericSegments), EXPORT(GF46_SetNumericSegments),
    EXPORT(GF166_SetLDisplaySegments), EXPORT(GF166_SetRDisplaySegments),
    EXPORT(GFMCP_SetADisplaySegments), EXPORT(GFMCP_SetBDisplaySegments),
    EXPORT(GFMCP_SetCDisplaySegments), EXPORT(GFMCP_SetDDisplaySegments),
    EXPORT(GFMCP_SetEDisplaySegments), EXPORT(GFATC_SetDigitSegments),
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
