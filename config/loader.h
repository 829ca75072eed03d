// The configuration loader: reads the whole settings file into the item table,
// writes verdicts and the connection report back, and reloads when the file changes.
#pragma once

#include <cstdint>

constexpr uint32_t RELOAD_TIMER_ID = 3;
extern bool loadBusy;
extern bool reloadPending;

void loadConfiguration(int force);

// Delay before a load that found the scan or another load busy tries again.
constexpr uint32_t RELOAD_RETRY_MS = 100;

// What a caller outside the program (norvalume-check) wants to see of one load: every
// line the parser rejected, and every change the load makes to the file. With dryRun
// set the changes are only reported, the file is left exactly as it was.
struct LoadObserver {
    // `errorText` is the appended text, starting " <<< ".
    void (*lineRejected)(const char* section, const char* key, const char* errorText);
    // `value` nullptr: the key is deleted.
    void (*fileChange)(const char* section, const char* key, const char* value);
    bool dryRun;
};

// One forced load, straight away and without the reload timer or the busy flags.
// `observer` may be nullptr. True when the file was saved by someone else while the
// load ran; the next loadConfiguration(0) then loads again.
bool loadConfigurationOnce(const LoadObserver* observer);

// Needs value of a device section: the gate bits of ItemFlags and the least bus voltage.
void parseNeeds(const char* value, uint16_t* needsFlags, uint16_t* minVoltage);
