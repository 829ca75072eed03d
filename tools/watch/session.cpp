// The watch's session: the settings file loaded read-only, the observers the program's
// layers call during a scan, and the scan itself, which is the program's own.
#include <cstring>

#include "config/aircraft_profiles.h"
#include "config/items.h"
#include "config/loader.h"
#include "devices/devices.h"
#include "eval/eval.h"
#include "link/link.h"
#include "tools/watch/watch.h"

namespace watch {

Session session;

namespace {

std::string baseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

void onAccepted(const char* file, const char* section, const char* key, const char* line,
                int32_t item) {
    if (item < 0) return;
    if (session.lines.size() <= static_cast<size_t>(item))
        session.lines.resize(static_cast<size_t>(item) + 1);
    session.lines[static_cast<size_t>(item)] =
        Line{section, key, line, baseName(file ? file : session.path.c_str())};
}

void onRejected(const char*, const char* section, const char* key, const char* error) {
    session.rejected.push_back(Rejected{section, key, error});
}

UnitShown& unitFor(int32_t type, uint8_t unit) {
    return session.shown[std::make_pair(type, unit)];
}

void onLights(int32_t type, uint8_t unit, uint32_t lit) { unitFor(type, unit).lit = lit; }

void onBrightness(int32_t type, uint8_t unit, int32_t level) {
    UnitShown& shown = unitFor(type, unit);
    shown.brightnessSent = true;
    shown.brightness = level;
}

void onDisplay(int32_t type, uint8_t unit, uint16_t display, const char* text,
               const uint8_t* segments) {
    if (display >= MAX_DISPLAYS) return;
    DisplayShown& shown = unitFor(type, unit).displays[display];
    shown.written = true;
    shown.text = text;
    shown.segmentsSent = segments != nullptr;
    if (segments) std::memcpy(shown.segments, segments, sizeof shown.segments);
}

const OutputObserver outputs{onLights, onBrightness, onDisplay};

void onRead(uint32_t offset, const uint8_t* data, uint32_t size) {
    session.reads.push_back(Read{offset, std::vector<uint8_t>(data, data + size)});
    session.lastRead[Place(offset, size)] = session.reads.back().bytes;
}

bool sameStamp(const platform::FileStamp& a, const platform::FileStamp& b) {
    return a.size == b.size && a.writeTime == b.writeTime && a.fileId == b.fileId;
}

// The stamp of the aircraft profile in force; all zero for none, or a missing one.
platform::FileStamp profileStampNow() {
    platform::FileStamp stamp = {};
    if (const char* profile = activeProfilePath()) platform::fileStamp(profile, &stamp);
    return stamp;
}

}  // namespace

bool loadSettings() {
    const char* path = session.path.c_str();
    if (!platform::fileStamp(path, &session.stamp)) return false;
    session.stampSeen = false;
    if (!session.unitsGiven) {
        std::memset(session.units, 0, sizeof session.units);
        tools::unitsFromSections(path, session.units);
    }
    session.lines.clear();
    session.rejected.clear();
    // A dry run: the loader reports what it would write back, and writes nothing.
    const LoadObserver observer{onRejected, nullptr, true, onAccepted};
    // The aircraft as the scans settled it picks the profile, as in the program.
    LoadInputs inputs{path, session.units, false, false};
    const Aircraft aircraft = settledAircraft();
    inputs.aircraftTitle = aircraft.title;
    inputs.aircraftPath = aircraft.path;
    loadConfigurationOnce(inputs, &observer);
    session.profileStamp = profileStampNow();
    session.lines.resize(static_cast<size_t>(itemCount()));
    session.traces.assign(static_cast<size_t>(itemCount()), ItemTrace{});
    session.looked.assign(static_cast<size_t>(itemCount()), ItemTrace{});
    session.trace = EvalTrace{session.traces.data(), itemCount(), session.trace.scan};
    setEvalTrace(&session.trace);
    // As after the program's own loads: the state and plan of the new table, and what no
    // line drives any more goes dark.
    adoptItemTable();
    ++session.loads;
    return true;
}

bool reloadIfSaved() {
    platform::FileStamp now = {};
    const platform::FileStamp profile = profileStampNow();
    if (!platform::fileStamp(session.path.c_str(), &now) ||
        (sameStamp(now, session.stamp) && sameStamp(profile, session.profileStamp))) {
        session.stampSeen = false;
        return false;
    }
    const bool settled = session.stampSeen && sameStamp(now, session.pendingStamp) &&
                         sameStamp(profile, session.pendingProfileStamp);
    session.stampSeen = true;
    session.pendingStamp = now;
    session.pendingProfileStamp = profile;
    return settled && loadSettings();
}

void startWatching() {
    setOutputObserver(&outputs);
    setLinkReadObserver(onRead);
    // Between the tries of an exchange that gets no answer: the watchdog, and Ctrl-C.
    setLinkWaitHook(keepWaitingForLink);
}

void stopWatching() {
    setLinkWaitHook(nullptr);
    setLinkReadObserver(nullptr);
    resetLinkStatus();
    setOutputObserver(nullptr);
    setEvalTrace(nullptr);
    releaseItemStates();
    freeItemTable();
}

bool scanOnce(uint32_t now, uint32_t retryMs) {
    static bool tried = false;
    static uint32_t lastTry = 0;
    if (!linkStatus().connected && (!tried || now - lastTry >= retryMs)) {
        tried = true;
        lastTry = now;
        linkSupervisionTick();
    }
    session.reads.clear();
    ++session.trace.scan;
    scanTick();
    // Another aircraft settled: its profile (or none) is loaded, as the program does.
    if (profileSwitchDue() != PROFILE_UNCHANGED) loadSettings();
    for (size_t i = 0; i < session.traces.size(); ++i) {
        const ItemTrace& t = session.traces[i];
        if (t.scan == session.trace.scan && t.end.stop != TRACE_FLASH_DARK) session.looked[i] = t;
    }
    session.scanRead = !session.reads.empty();
    // A file without a line the units read has nothing to ask for.
    return session.scanRead || (linkStatus().connected && itemCount() <= 0);
}

const UnitShown& unitShown(int32_t type, uint8_t unit) {
    static const UnitShown none = {};
    auto found = session.shown.find({type, unit});
    return found == session.shown.end() ? none : found->second;
}

std::string aircraftLine() {
    if (activeProfile().state == PROFILE_NO_RULES) return "";
    char profile[AIRCRAFT_TEXT_SIZE * 3];
    describeActiveProfile(profile, sizeof profile);
    const char* title = settledAircraft().title;
    return std::string("aircraft: ") + (*title ? quoted(title, std::strlen(title)) : "none yet") +
           "  profile: " + profile;
}

const std::vector<uint8_t>* bytesRead(uint32_t offset, uint32_t size) {
    auto found = session.lastRead.find(Place(offset, size));
    return found == session.lastRead.end() ? nullptr : &found->second;
}

}  // namespace watch
