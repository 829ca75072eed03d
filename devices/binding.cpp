// Binding the vendor's panel library: finding and loading it, looking up its entry
// points by name, the connect callback, counting the units of each model, and the
// release at exit.
#include <atomic>
#include <cstring>

#include "devices/devices.h"
#include "platform/platform.h"

DeviceLibrary deviceLibrary = {};
uint16_t deviceCounts[DEVICE_COUNT_SLOTS] = {};
bool connectCallbackRefused = false;
LibraryFailure libraryFailure = LIBRARY_BOUND;

namespace {

const char LIBRARY_NAME[] = "GFDEV.DLL";
const char LIBRARY_FILE_SUFFIX[] = "\\GFDEV.DLL";
const char APP_PATHS_KEY[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\GFConfig.exe";
constexpr uint32_t REGISTRY_PATH_BYTES = 260;

// Every optional entry point, looked up by name into its typed reference in one loop.
struct EntryPoint {
    const char* name;
    void (*store)(void* address);
};
#define ENTRY(NAME)                                                              \
    {                                                                            \
        #NAME, [](void* address) {                                               \
            deviceLibrary.NAME = reinterpret_cast<decltype(deviceLibrary.NAME)>(address); \
        }                                                                        \
    }
const EntryPoint optionalEntryPoints[] = {
    ENTRY(GFDev_RegisterConnectCallback), ENTRY(GFDev_UnregisterConnectCallback),
    ENTRY(GF45_GetNumDevices), ENTRY(GFP8_GetNumDevices), ENTRY(GFT8_GetNumDevices),
    ENTRY(GFLGT_GetNumDevices), ENTRY(GF166_GetNumDevices), ENTRY(GFMCP_GetNumDevices),
    ENTRY(GFRP48_GetNumDevices), ENTRY(GF46_GetNumDevices), ENTRY(GFATC_GetNumDevices),
    ENTRY(GFMCPPro_GetNumDevices),
    ENTRY(GF45_SetBrightness), ENTRY(GFP8_SetBrightness), ENTRY(GFT8_SetBrightness),
    ENTRY(GFLGT_SetBrightness), ENTRY(GF166_SetBrightness), ENTRY(GFMCP_SetBrightness),
    ENTRY(GFRP48_SetBrightness), ENTRY(GF46_SetBrightness), ENTRY(GFATC_SetBrightness),
    ENTRY(GFMCPPro_SetBrightness),
    ENTRY(GFP8_GetIndicators), ENTRY(GFT8_GetIndicators), ENTRY(GFLGT_GetIndicators),
    ENTRY(GF166_GetIndicators), ENTRY(GFMCP_GetIndicators), ENTRY(GFRP48_GetIndicators),
    ENTRY(GFMCPPro_GetIndicators),
    ENTRY(GFP8_SetIndicators), ENTRY(GFT8_SetIndicators), ENTRY(GFLGT_SetIndicators),
    ENTRY(GF166_SetIndicators), ENTRY(GFMCP_SetIndicators), ENTRY(GFRP48_SetIndicators),
    ENTRY(GFMCPPro_SetIndicators),
    ENTRY(GF45_SetAlpha), ENTRY(GF46_SetAlpha), ENTRY(GF45_SetNumeric), ENTRY(GF46_SetNumeric),
    ENTRY(GFMCPPro_SetADisplayText), ENTRY(GFMCPPro_SetBDisplayText),
    ENTRY(GFMCPPro_SetCDisplayText), ENTRY(GFMCPPro_SetDDisplayText),
    ENTRY(GFMCPPro_SetEDisplayText), ENTRY(GFMCPPro_SetFDisplayText),
    ENTRY(GF45_SetNumericSegments), ENTRY(GF46_SetNumericSegments),
    ENTRY(GF166_SetLDisplaySegments), ENTRY(GF166_SetRDisplaySegments),
    ENTRY(GFMCP_SetADisplaySegments), ENTRY(GFMCP_SetBDisplaySegments),
    ENTRY(GFMCP_SetCDisplaySegments), ENTRY(GFMCP_SetDDisplaySegments),
    ENTRY(GFMCP_SetEDisplaySegments), ENTRY(GFATC_SetDigitSegments),
};
#undef ENTRY

// Set while a recount is queued on the loop thread, so that a burst of plug events from
// the library's thread queues one recount, not one per event.
std::atomic<bool> recountQueued{false};
// What the program does once the units are recounted after a plug event (a reload).
void (*pluggedHandler)() = nullptr;

void recountOnLoop() {
    recountQueued.store(false);
    countDevices();
    if (pluggedHandler) pluggedHandler();
}

// The library tried by name first, then from the directory the vendor's configuration
// program was installed to. A copy for the other bitness does not load either way, and
// *otherBitness then says so, to tell it apart from no copy at all.
void* loadFromRegistryPath(bool* otherBitness) {
    // Room for the value as offered, the file name after it and a terminating zero.
    char path[REGISTRY_PATH_BYTES + sizeof LIBRARY_FILE_SUFFIX];
    int32_t n = platform::registryGetString(APP_PATHS_KEY, "Path", path, REGISTRY_PATH_BYTES);
    if (n < 0) return nullptr;
    if (static_cast<uint32_t>(n) > REGISTRY_PATH_BYTES) n = REGISTRY_PATH_BYTES;
    // The value may or may not carry its own terminator; the text ends at the first zero.
    size_t length = 0;
    while (length < static_cast<size_t>(n) && path[length] != '\0') ++length;
    std::memcpy(path + length, LIBRARY_FILE_SUFFIX, sizeof LIBRARY_FILE_SUFFIX);
    return platform::loadLibrary(path, otherBitness);
}

// Looks the two required entry points up and initialises the library; on failure says why.
LibraryFailure initialiseLibrary(void* module) {
    deviceLibrary.GFDev_Init =
        reinterpret_cast<GfInitFn>(platform::librarySymbol(module, "GFDev_Init"));
    deviceLibrary.GFDev_Terminate =
        reinterpret_cast<GfVoidFn>(platform::librarySymbol(module, "GFDev_Terminate"));
    if (!deviceLibrary.GFDev_Init || !deviceLibrary.GFDev_Terminate)
        return LIBRARY_LACKS_ENTRY_POINT;
    if (deviceLibrary.GFDev_Init(platform::programInstance()) != 0) return LIBRARY_INIT_FAILED;
    return LIBRARY_BOUND;
}

}  // namespace

// Handed to the library; may be called on the library's own thread. Returns 1.
static int deviceConnectCallback(int model, int unit, int event);

bool bindDeviceLibrary(void (*onPlugged)()) {
    pluggedHandler = onPlugged;
    deviceLibrary = DeviceLibrary{};
    connectCallbackRefused = false;
    std::memset(deviceCounts, 0, sizeof deviceCounts);

    bool otherBitness = false;
    bool registryOtherBitness = false;
    void* module = platform::loadLibrary(LIBRARY_NAME, &otherBitness);
    if (!module) module = loadFromRegistryPath(&registryOtherBitness);
    if (!module) {
        libraryFailure = otherBitness || registryOtherBitness ? LIBRARY_OTHER_BITNESS
                                                              : LIBRARY_NOT_FOUND;
        return false;
    }

    deviceLibrary.deviceLibraryHandle = module;
    libraryFailure = initialiseLibrary(module);
    if (libraryFailure != LIBRARY_BOUND) {
        platform::freeLibrary(module);
        deviceLibrary = DeviceLibrary{};
    } else {
        for (const EntryPoint& e : optionalEntryPoints)
            e.store(platform::librarySymbol(module, e.name));
    }

    if (deviceLibrary.GFDev_RegisterConnectCallback) {
        if (deviceLibrary.GFDev_RegisterConnectCallback(deviceConnectCallback) == 0)
            connectCallbackRefused = true;
    } else {
        // Nothing was registered, so exit must not unregister either.
        deviceLibrary.GFDev_UnregisterConnectCallback = nullptr;
    }

    countDevices();
    return deviceLibrary.deviceLibraryHandle != nullptr;
}

void countDevices() {
    std::memset(deviceCounts, 0, sizeof deviceCounts);
    for (int32_t code : deviceCountOrder) {
        GfCountFn count = deviceLibrary.*(findDeviceType(code)->count);
        if (!count) continue;
        // The library answers 16 bits, but unit numbers are 8-bit: more units than
        // that could never be addressed, and a faulty count must not make the loader
        // read tens of thousands of sections.
        uint16_t units = count();
        deviceCounts[code] = units > MAX_UNITS_PER_MODEL ? MAX_UNITS_PER_MODEL : units;
    }
}

static int deviceConnectCallback(int, int, int) {
    // Possibly on the library's own thread: the recount and the reload belong to the loop.
    if (!recountQueued.exchange(true)) {
        if (!platform::postToLoop(recountOnLoop)) recountQueued.store(false);
    }
    return 1;
}

void unbindDeviceLibrary() {
    blankAllOutputs();
    void* module = deviceLibrary.deviceLibraryHandle;
    if (!module) return;
    if (deviceLibrary.GFDev_UnregisterConnectCallback)
        deviceLibrary.GFDev_UnregisterConnectCallback();
    if (deviceLibrary.GFDev_Terminate) deviceLibrary.GFDev_Terminate();
    platform::freeLibrary(module);
    deviceLibrary = DeviceLibrary{};
    std::memset(deviceCounts, 0, sizeof deviceCounts);
}

void resetDevices() {
    deviceLibrary = DeviceLibrary{};
    std::memset(deviceCounts, 0, sizeof deviceCounts);
    connectCallbackRefused = false;
    libraryFailure = LIBRARY_BOUND;
    pluggedHandler = nullptr;
    recountQueued.store(false);
    resetLightsAndRecord();
}
