// Binding the vendor's panel library: finding and loading it, looking up its entry
// points by name, the connect callback, counting the units of each model, and the
// release at exit.
#include <atomic>
#include <cstring>

#include "devices/state.h"
#include "platform/platform.h"

namespace {

const char LIBRARY_NAME[] = "GFDEV.DLL";
const char LIBRARY_FILE_SUFFIX[] = "\\GFDEV.DLL";
const char APP_PATHS_KEY[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\GFConfig.exe";
constexpr uint32_t REGISTRY_PATH_BYTES = 260;

// Every entry point of the list, looked up by name into its typed reference.
struct EntryPoint {
    const char* name;
    void (*store)(DeviceLibrary& library, void* address);
};
#define GF_LOOKUP(NAME, KIND)                                              \
    {#NAME, [](DeviceLibrary& library, void* address) {                     \
         library.NAME = reinterpret_cast<Gf##KIND##Fn>(address);            \
     }},
const EntryPoint entryPoints[] = {GF_ENTRY_POINTS(GF_LOOKUP)};
#undef GF_LOOKUP

// Set while a recount is queued on the loop thread, so that a burst of plug events from
// the library's thread queues one recount, not one per event.
std::atomic<bool> recountQueued{false};
void recountOnLoop() {
    recountQueued.store(false);
    countDevices();
    if (void (*handler)() = devicesState().pluggedHandler) handler();
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

// Looks every entry point up; the two that are required must be there, and the library
// must initialise. On failure says why.
LibraryFailure initialiseLibrary(void* module, DeviceLibrary& library) {
    for (const EntryPoint& e : entryPoints) e.store(library, platform::librarySymbol(module, e.name));
    if (!library.GFDev_Init || !library.GFDev_Terminate) return LIBRARY_LACKS_ENTRY_POINT;
    if (library.GFDev_Init(platform::programInstance()) != 0) return LIBRARY_INIT_FAILED;
    return LIBRARY_BOUND;
}

}  // namespace

// Handed to the library; may be called on the library's own thread. Returns 1.
static int deviceConnectCallback(int model, int unit, int event);

bool bindDeviceLibrary(void (*onPlugged)()) {
    DevicesState& s = devicesState();
    s.pluggedHandler = onPlugged;
    s.library = DeviceLibrary{};
    s.callbackRefused = false;
    std::memset(s.counts, 0, sizeof s.counts);
    forgetShownOutputs();

    bool otherBitness = false;
    bool registryOtherBitness = false;
    void* module = platform::loadLibrary(LIBRARY_NAME, &otherBitness);
    if (!module) module = loadFromRegistryPath(&registryOtherBitness);
    if (!module) {
        s.failure = otherBitness || registryOtherBitness ? LIBRARY_OTHER_BITNESS
                                                         : LIBRARY_NOT_FOUND;
        return false;
    }

    s.library.deviceLibraryHandle = module;
    s.failure = initialiseLibrary(module, s.library);
    if (s.failure != LIBRARY_BOUND) {
        // Nothing else is bound: no callback, no counts.
        platform::freeLibrary(module);
        s.library = DeviceLibrary{};
    }

    if (s.library.GFDev_RegisterConnectCallback) {
        if (s.library.GFDev_RegisterConnectCallback(deviceConnectCallback) == 0)
            s.callbackRefused = true;
    } else {
        // Nothing was registered, so exit must not unregister either.
        s.library.GFDev_UnregisterConnectCallback = nullptr;
    }

    countDevices();
    return s.library.deviceLibraryHandle != nullptr;
}

void countDevices() {
    DevicesState& s = devicesState();
    std::memset(s.counts, 0, sizeof s.counts);
    forgetShownOutputs();
    for (int32_t code : deviceCountOrder) {
        GfCountFn count = s.library.*(findDeviceType(code)->count);
        if (!count) continue;
        // The library answers 16 bits, but unit numbers are 8-bit: more units than
        // that could never be addressed, and a faulty count must not make the loader
        // read tens of thousands of sections.
        uint16_t units = count();
        s.counts[code] = units > MAX_UNITS_PER_MODEL ? MAX_UNITS_PER_MODEL : units;
    }
}

uint16_t deviceCount(int32_t type) {
    if (type < 1 || type >= DEVICE_COUNT_SLOTS) return 0;
    return devicesState().counts[type];
}

const uint16_t* deviceCounts() { return devicesState().counts; }

bool connectCallbackRefused() { return devicesState().callbackRefused; }

LibraryFailure libraryFailure() { return devicesState().failure; }

bool deviceLibraryBound() { return devicesState().library.deviceLibraryHandle != nullptr; }

static int deviceConnectCallback(int, int, int) {
    // Possibly on the library's own thread: the recount and the reload belong to the loop.
    if (!recountQueued.exchange(true)) {
        if (!platform::postToLoop(recountOnLoop)) recountQueued.store(false);
    }
    return 1;
}

void unbindDeviceLibrary() {
    blankAllOutputs();
    DevicesState& s = devicesState();
    void* module = s.library.deviceLibraryHandle;
    if (!module) return;
    if (s.library.GFDev_UnregisterConnectCallback) s.library.GFDev_UnregisterConnectCallback();
    if (s.library.GFDev_Terminate) s.library.GFDev_Terminate();
    platform::freeLibrary(module);
    s.library = DeviceLibrary{};
    std::memset(s.counts, 0, sizeof s.counts);
    forgetShownOutputs();
}

void resetDevices() {
    std::memset(&devicesState(), 0, sizeof(DevicesState));
    recountQueued.store(false);
}
