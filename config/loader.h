// The configuration loader: reads the whole settings file into the item table, writes
// verdicts and the connection report back, and tells whether the file was saved since.
// When to load is the caller's policy; what a load needs comes in as arguments.
#pragma once

#include <cstdint>

// What a load needs from outside the configuration: the file, the units connected per
// model, and the facts the [GF Connections] report states.
struct LoadInputs {
    const char* path;
    const uint16_t* unitCounts;  // by DeviceType code, 14 slots; nullptr = no units
    bool callbackRefused;        // the device library refused the connect callback
    bool versionTooOld;          // the interface module is older than 3.465
};

// What a caller outside the program (norvalume-check, norvalume-watch) wants to see of
// one load: every line the parser rejected or accepted, and every change the load makes
// to the file. With dryRun set the changes are only reported, the file is left exactly
// as it was.
struct LoadObserver {
    // `errorText` is the appended text, starting " <<< ".
    void (*lineRejected)(const char* section, const char* key, const char* errorText);
    // `value` nullptr: the key is deleted.
    void (*fileChange)(const char* section, const char* key, const char* value);
    bool dryRun;
    // Every line accepted, with the position of its record in the item table and its
    // text as the parser read it (an old annotation cut off).
    void (*lineAccepted)(const char* section, const char* key, const char* line, int32_t item);
};

// One load, straight away: rebuilds the item table from the file. `observer` may be
// nullptr. True when the file was saved by someone else while the load ran; until the
// next load, configurationChanged then says so.
bool loadConfigurationOnce(const LoadInputs& inputs, const LoadObserver* observer);

// Whether the file needs loading again: saved since the last load cleared its mark, or
// saved while that load ran. A missing file has not changed.
bool configurationChanged(const char* path);

// Forgets what the last load saw; for tests and tools.
void resetLoader();

// Needs value of a device section: the gate bits of ItemFlags and the least bus voltage.
void parseNeeds(const char* value, uint16_t* needsFlags, uint16_t* minVoltage);
