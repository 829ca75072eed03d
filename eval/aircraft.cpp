// The aircraft the simulator has loaded, as the scans read its title: a title counts once
// it read the same at AIRCRAFT_SETTLE_SCANS scans in a row, since while a flight loads it
// can be empty or change several times a second; an empty one never counts. What a newly
// settled aircraft calls for is the configuration's rule, asked once per aircraft.
#include <cstring>

#include "eval/internal.h"

namespace {

struct AircraftWatch {
    char seenTitle[AIRCRAFT_TEXT_SIZE + 1];  // as the last scans read it
    char seenPath[AIRCRAFT_TEXT_SIZE + 1];
    int sameReads;                           // scans in a row that read it so
    char title[AIRCRAFT_TEXT_SIZE + 1];      // settled
    char path[AIRCRAFT_TEXT_SIZE + 1];
    bool fresh;                              // settled since profileSwitchDue last asked
};
AircraftWatch watch = {};

}  // namespace

void noteAircraftRead(bool withPath) {
    const SimStatus& read = simStatus();
    const char* path = withPath ? read.aircraftPath : "";
    if (!read.aircraftTitle[0]) {
        watch.sameReads = 0;
        watch.seenTitle[0] = '\0';
        return;
    }
    if (std::strcmp(read.aircraftTitle, watch.seenTitle) != 0 ||
        std::strcmp(path, watch.seenPath) != 0) {
        std::memcpy(watch.seenTitle, read.aircraftTitle, sizeof watch.seenTitle);
        std::strcpy(watch.seenPath, path);
        watch.sameReads = 0;
    }
    if (watch.sameReads < AIRCRAFT_SETTLE_SCANS) ++watch.sameReads;
    if (watch.sameReads < AIRCRAFT_SETTLE_SCANS) return;
    if (std::strcmp(watch.title, watch.seenTitle) == 0 && std::strcmp(watch.path, watch.seenPath) == 0)
        return;
    std::memcpy(watch.title, watch.seenTitle, sizeof watch.title);
    std::memcpy(watch.path, watch.seenPath, sizeof watch.path);
    watch.fresh = true;
}

void resetAircraft() { watch = AircraftWatch{}; }

Aircraft settledAircraft() { return Aircraft{watch.title, watch.path}; }

ProfileChange profileSwitchDue() {
    if (!watch.fresh) return PROFILE_UNCHANGED;
    watch.fresh = false;
    return profileChangeFor(watch.title, watch.path);
}
