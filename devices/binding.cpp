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

// Copies a text field the library filled into `out` (room for `size` bytes): up to the
// field's first zero or its end, trimmed of blanks, control characters replaced, since
// it goes into the settings file's report, where a line break would make a line.
void keepText(char* out, size_t size, const char* field, size_t fieldSize) {
    size_t end = 0;
    while (end < fieldSize && field[end] != '\0') ++end;
    size_t begin = 0;
    while (begin < end && field[begin] == ' ') ++begin;
    while (end > begin && field[end - 1] == ' ') --end;
    if (end - begin > size - 1) end = begin + size - 1;
    for (size_t i = begin; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        out[i - begin] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
    }
    out[end - begin] = '\0';
}

// Asks the library who each counted unit is; a unit it says nothing of has empty texts.
void identifyCountedUnits(DevicesState& s) {
    GfDeviceInfoFn info = s.library.GFDev_GetDeviceInfo2;
    if (!info) return;
    for (int32_t code : deviceCountOrder) {
        for (uint32_t u = 0; u < s.counts[code]; ++u) {
            UnitIdentity& id = s.identities[code][u];
            GfDeviceInfo2 record;
            std::memset(&record, 0, sizeof record);
            record.bLength = sizeof record;
            if (info(code, static_cast<int>(u), &record) != 0) {
                id.serial[0] = id.location[0] = '\0';
                continue;
            }
            keepText(id.serial, sizeof id.serial, record.szSerialNum, sizeof record.szSerialNum);
            keepText(id.location, sizeof id.location, record.szLocationID,
                     sizeof record.szLocationID);
        }
    }
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
    identifyCountedUnits(s);
}

bool serialsAvailable() { return devicesState().library.GFDev_GetDeviceInfo2 != nullptr; }

const UnitIdentity* unitIdentity(int32_t type, uint8_t unit) {
    if (!serialsAvailable() || unit >= deviceCount(type)) return nullptr;
    return &devicesState().identities[type][unit];
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
