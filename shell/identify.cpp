// Identify mode: started with --identify (/identify on Windows) the program drives no
// panel from the simulator; it shows on every unit which section and key is which, and
// its serial number, for a while, and then makes everything dark.
#include "config/unit_binding.h"
#include "devices/devices.h"
#include "platform/platform.h"
#include "shell/shell.h"

namespace {

constexpr char IDENTIFY_CLASS[] = "NORVALUME_IDENTIFY";
constexpr uint32_t WAIT_STEP_MS = 100;
const platform::WindowHandlers noHandlers{nullptr, nullptr, nullptr};

// Which section drives each unit, as the settings file's Serial= keys bind them: a unit
// shows the section that will drive it, not its place in the library's order.
UnitBinding bindings[DEVICE_COUNT_SLOTS];

void bindSections(const char* ini) {
    const UnitIdentityFn identity = serialsAvailable() ? unitIdentity : nullptr;
    platform::profileBegin(ini);  // the file read once, not once per key
    for (int32_t type = 1; type < DEVICE_COUNT_SLOTS; ++type)
        bindSectionsOfFile(ini, type, deviceCount(type), identity, &bindings[type]);
    platform::profileEnd(ini);
}

int sectionOf(int32_t type, uint8_t unit) {
    if (type < 1 || type >= DEVICE_COUNT_SLOTS) return -1;
    return bindings[type].sectionOf[unit];
}

}  // namespace

int runIdentify(uint32_t seconds) {
    // A copy running for this settings file would keep its panels dark after identify
    // ends: it sends a light or a display again only when its value changes.
    char ini[INI_PATH_SIZE];
    programIniPath(ini, sizeof ini);
    if (!claimOrSayWhoHasIt(ini, START_IDENTIFY)) return EXIT_ALREADY_RUNNING;

    // No window, but the loop's stop requests (Ctrl-C, SIGTERM on Linux) come with the
    // class: a stopped identify still ends dark.
    platform::registerMainClass(IDENTIFY_CLASS, &noHandlers);
    if (!bindDeviceLibrary(nullptr)) {
        platform::beep(platform::BEEP_ASTERISK);
        return EXIT_NO_DEVICE_LIBRARY;
    }
    bindSections(ini);
    identifyUnits(0, sectionOf);
    const uint32_t start = platform::tickCount();
    while (platform::tickCount() - start < seconds * 1000u && !platform::stopRequested()) {
        platform::sleepMs(WAIT_STEP_MS);
        identifyUnits(platform::tickCount() - start, sectionOf);
    }
    unbindDeviceLibrary();  // every output goes dark before the library is let go
    platform::releaseSettingsFile();
    return 0;
}
