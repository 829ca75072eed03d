// The program's frame: finds the settings file, reads the timing settings, binds the
// device library, creates the window whose creation handlers start the three timers,
// runs the loop, and tears everything down in order when the window closes.
#include "shell/shell.h"

#include <cstdio>
#include <cstring>

#include "config/aircraft_profiles.h"
#include "config/items.h"
#include "config/loader.h"
#include "config/numbers.h"
#include "devices/devices.h"
#include "eval/eval.h"
#include "link/link.h"
#include "platform/platform.h"

namespace {

ShellSettings settings = {"", DEFAULT_SCAN_PERIOD_MS, DEFAULT_REVISION_PERIOD_MS};

constexpr char WINDOW_CLASS[] = "NORVALUME";
constexpr char WINDOW_TITLE[] = "Norvalume";
constexpr uint32_t SETTING_READ_LIMIT = 255;
// Longer periods are beyond what a window timer can hold.
constexpr uint32_t MAX_TIMER_PERIOD_MS = 0x7FFFFFFF;

void onMainWindowCreate();
const platform::WindowHandlers windowHandlers{onMainWindowCreate, onMainWindowTimer,
                                              onSessionEnd};

// The reload policy's state: a load is running, and a forced load is owed.
bool loadBusy = false;
// A timer's or the creation's handler is under way: a message that arrives while it
// waits (on the simulator, say) runs inside it.
bool handlerRunning = false;
bool reloadPending = false;
// The settings file and the aircraft profile in force as the last reload tick found them.
struct Stamps {
    bool settings;        // the settings file is there
    bool profile;         // the profile in force is there
    platform::FileStamp settingsStamp;
    platform::FileStamp profileStamp;
};
bool stampSeen = false;
Stamps lastStamps = {};

// A settings file deleted while the program runs leaves it with the configuration it
// has, showing what the last version said. One beep says so once the file has been
// missing at two ticks in a row: an editor that replaces a file may leave it missing for
// a moment while it saves.
int ticksMissing = 0;
void beepWhenTheFileIsGone(const char* path) {
    if (platform::fileAttributes(path) != platform::FILE_ATTR_INVALID) {
        ticksMissing = 0;
        return;
    }
    if (++ticksMissing == 2) platform::beep(platform::BEEP_EXCLAMATION);
}

bool sameStamp(const platform::FileStamp& a, const platform::FileStamp& b) {
    return a.size == b.size && a.writeTime == b.writeTime && a.fileId == b.fileId;
}

// A save in progress must never be read half-written: a changed file is loaded only
// once it, and the aircraft profile in force, have looked the same (size, write time) at
// two reload ticks in a row.
bool fileSettled(const char* path) {
    Stamps now = {};
    now.settings = platform::fileStamp(path, &now.settingsStamp);
    const char* profile = activeProfilePath();
    now.profile = profile && platform::fileStamp(profile, &now.profileStamp);
    const bool settled = now.settings && stampSeen &&
                         sameStamp(now.settingsStamp, lastStamps.settingsStamp) &&
                         now.profile == lastStamps.profile &&
                         (!now.profile || sameStamp(now.profileStamp, lastStamps.profileStamp));
    stampSeen = now.settings;
    lastStamps = now;
    return settled;
}

void linkTimer() {
    platform::killTimer(LINK_TIMER_ID);
    linkSupervisionTick();
    platform::setTimer(LINK_TIMER_ID, LINK_TIMER_PERIOD_MS);
}

// After a scan that settled another aircraft: for another profile (or none) every output
// goes dark at once and the file is loaded with the new profile, whose outputs the next
// scan, coming right away, sends; for the first aircraft a rule does not match, a load
// that only brings the report up to date. Returns the delay of the next scan.
uint32_t followAircraft() {
    const ProfileChange change = profileSwitchDue();
    if (change == PROFILE_UNCHANGED) return settings.scanPeriod;
    if (change == PROFILE_SWITCH) blankAllOutputs();
    loadConfiguration(LOAD_FORCED);
    return change == PROFILE_SWITCH ? SWITCH_SCAN_DELAY_MS : settings.scanPeriod;
}

void scanTimer() {
    platform::killTimer(SCAN_TIMER_ID);
    scanTick();
    platform::setTimer(SCAN_TIMER_ID, followAircraft());
}

// After a plug event the units have been recounted: the table must follow them.
void onPanelsPlugged() { loadConfiguration(LOAD_FORCED); }

}  // namespace

void deriveIniPath(const char* programFile, char* out, size_t size) {
    if (!out || size == 0) return;
    const char* dot = programFile ? std::strrchr(programFile, '.') : nullptr;
    size_t keep = dot ? static_cast<size_t>(dot - programFile) + 1 : 0;
    if (keep > size - 1) keep = size - 1;
    if (keep) std::memcpy(out, programFile, keep);
    size_t room = size - 1 - keep;
    size_t ext = room < 3 ? room : 3;
    std::memcpy(out + keep, "ini", ext);
    out[keep + ext] = '\0';
}

namespace {

// [Config] values as read from the file (never empty: a missing key keeps the default).
uint32_t parseScanInterval(const char* value) {
    int32_t ms = readLeadingInt(value);
    // A negative period would become a timer that never fires; treat it like text.
    return ms < 0 ? 0 : static_cast<uint32_t>(ms);
}

uint32_t parseRevisionTime(const char* value) {
    int64_t ms = static_cast<int64_t>(readLeadingInt(value)) * 1000;
    if (ms < MIN_REVISION_PERIOD_MS) return MIN_REVISION_PERIOD_MS;
    if (ms > MAX_TIMER_PERIOD_MS) return MAX_TIMER_PERIOD_MS;
    return static_cast<uint32_t>(ms);
}

}  // namespace

const ShellSettings& shellSettings() { return settings; }

void readShellSettings() {
    ShellSettings& s = settings;
    programIniPath(s.iniPath, sizeof s.iniPath);

    char value[SETTING_READ_LIMIT + 1];
    s.scanPeriod = DEFAULT_SCAN_PERIOD_MS;
    if (platform::profileGet(s.iniPath, "Config", "ScanInterval", value, SETTING_READ_LIMIT) > 0)
        s.scanPeriod = parseScanInterval(value);
    s.revisionPeriod = DEFAULT_REVISION_PERIOD_MS;
    if (platform::profileGet(s.iniPath, "Config", "RevisionTime", value, SETTING_READ_LIMIT) > 0)
        s.revisionPeriod = parseRevisionTime(value);
}

void loadConfiguration(LoadRequest request) {
    platform::killTimer(RELOAD_TIMER_ID);
    if (loadBusy || scanBusy()) {
        if (request == LOAD_FORCED) reloadPending = true;
        platform::setTimer(RELOAD_TIMER_ID, RELOAD_RETRY_MS);
        return;
    }
    loadBusy = true;
    const char* path = settings.iniPath;
    beepWhenTheFileIsGone(path);
    if (request == LOAD_FORCED || reloadPending ||
        (configurationChanged(path) && fileSettled(path))) {
        LoadInputs inputs{path, deviceCounts(), connectCallbackRefused(),
                          linkStatus().versionTooOld, linkStatus().accessDenied,
                          serialsAvailable() ? unitIdentity : nullptr};
        const Aircraft aircraft = settledAircraft();
        inputs.aircraftTitle = aircraft.title;
        inputs.aircraftPath = aircraft.path;
        loadConfigurationOnce(inputs, nullptr);
        adoptItemTable();
        reloadPending = false;
    }
    loadBusy = false;
    platform::setTimer(RELOAD_TIMER_ID, settings.revisionPeriod);
}

namespace {

void onMainWindowCreate() {
    // The order matters: the scan sets the first title, the forced load builds the table
    // with the counts taken at binding, and the link attempt comes last because it may
    // block for seconds while a silent interface module times out.
    handlerRunning = true;
    scanTimer();
    loadConfiguration(LOAD_FORCED);
    linkTimer();
    handlerRunning = false;
}

}  // namespace

void onMainWindowTimer(uint32_t id) {
    handlerRunning = true;
    switch (id) {
        case LINK_TIMER_ID:
            linkTimer();
            break;
        case SCAN_TIMER_ID:
            scanTimer();
            break;
        case RELOAD_TIMER_ID:
            loadConfiguration(LOAD_IF_CHANGED);
            break;
        default:
            break;
    }
    handlerRunning = false;
}

void onSessionEnd() {
    // The panels go dark and the library is let go at once, whatever runs. The link and
    // the table stay while a handler is under way (the message came in while it waited
    // on the simulator): it still uses them, and the stop request ends its wait.
    if (handlerRunning) {
        unbindDeviceLibrary();
        return;
    }
    shutdownNorvalume();
}

void shutdownNorvalume() {
    setLinkWaitHook(nullptr);
    resetLinkStatus();
    unbindDeviceLibrary();
    releaseItemStates();
    freeItemTable();
}

int runNorvalume() {
    char why[512];
    if (!platform::prepareIpc(why, sizeof why)) {
        // Another user could stand in for the simulator there: nothing is started.
        std::fprintf(stderr, "norvalume: %s\n", why);
        platform::beep(platform::BEEP_ASTERISK);
        return EXIT_IPC_REFUSED;
    }
    readShellSettings();
    // Before anything is written or driven: a second copy would drive the same panels
    // and write the same file.
    if (!claimOrSayWhoHasIt(settings.iniPath, START_NORMAL)) return EXIT_ALREADY_RUNNING;
    // Before this run makes blocks of its own: a killed predecessor's are still there.
    platform::removeOrphanedSharedMemory();

    if (!platform::registerMainClass(WINDOW_CLASS, &windowHandlers)) {
        platform::beep(platform::BEEP_EXCLAMATION);
        return EXIT_NO_WINDOW_CLASS;
    }
    // A simulator that stops answering can block an exchange for many seconds: the
    // watchdog and a request to stop are looked at between its tries.
    setLinkWaitHook(keepWaitingForLink);
    if (!bindDeviceLibrary(onPanelsPlugged)) {
        // The beep alone does not say why; the settings file is where the user looks.
        reportLibraryFailure(settings.iniPath, libraryFailure());
        platform::beep(platform::BEEP_ASTERISK);
        return EXIT_NO_DEVICE_LIBRARY;
    }
    if (!platform::createMainWindow(WINDOW_TITLE)) {
        // The library is bound and its callback registered: release it before exit, so
        // that it cannot call into a process that is already tearing down.
        shutdownNorvalume();
        platform::beep(platform::BEEP_ASTERISK);
        return EXIT_NO_WINDOW;
    }
    platform::showMainMinimised();

    int exitCode = platform::runMainLoop();
    shutdownNorvalume();
    platform::releaseSettingsFile();
    return exitCode;
}

void resetShell() {
    settings = ShellSettings{"", DEFAULT_SCAN_PERIOD_MS, DEFAULT_REVISION_PERIOD_MS};
    loadBusy = false;
    reloadPending = false;
    handlerRunning = false;
    stampSeen = false;
    lastStamps = {};
    ticksMissing = 0;
}
