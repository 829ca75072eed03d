// The configuration loader: reads the whole settings file into the item table, writes
// verdicts and the connection report back, and tells whether the file was saved since.
// When to load is the caller's policy; what a load needs comes in as arguments.
#pragma once

#include <cstdint>

#include "config/line_parser.h"
#include "config/unit_binding.h"
#include "devices/library.h"

constexpr int32_t PROFILE_BY_AIRCRAFT = -1;
constexpr int32_t PROFILE_NONE = -2;

// What a load needs from outside the configuration: the file, the units connected per
// model, and the facts the [GF Connections] report states.
struct LoadInputs {
    const char* path;
    const uint16_t* unitCounts;  // by DeviceType code, 14 slots; nullptr = no units
    bool callbackRefused;        // the device library refused the connect callback
    bool versionTooOld;          // the interface module is older than 3.465
    // The last link attempt was refused for want of rights: the interface module runs as
    // administrator and the program does not.
    bool accessDenied = false;
    // Who each connected unit is (the devices layer's unitIdentity): a section that names
    // a unit's serial (Serial=) drives that unit wherever it is plugged in, and the report
    // lists every unit. nullptr when the library tells no serials: section n drives unit
    // n, and the report says the serials are not available.
    UnitIdentityFn identity = nullptr;
    // The aircraft the simulator has loaded, as the scan settled it (nullptr or "" while
    // none is known): its title, and the path of its aircraft file. The first rule of
    // [Profiles] that matches it names the profile that overlays the settings file.
    const char* aircraftTitle = nullptr;
    const char* aircraftPath = nullptr;
    // A tool's choice instead of the aircraft's: the rule at this position of
    // profileRules() as the last load read them, or PROFILE_NONE for the settings file
    // alone.
    int32_t profileRule = PROFILE_BY_AIRCRAFT;
};

// One key the walk asked the file for.
struct KeyRead {
    const char* section;
    const char* key;
    bool found;       // present, with a value
    bool rejected;    // the line parser rejected it
    int32_t stored;   // the table position of the record made of it; -1 for none
    uint32_t length;  // characters of the value (as far as the widest read goes)
    uint32_t parsed;  // of them, the characters the parser was given
    // The file it was asked of: the settings file, or the aircraft profile in force.
    const char* file = nullptr;
};

// What a caller outside the program (norvalume-check, norvalume-watch) wants to see of
// one load: every line the parser rejected or accepted, every key it read, and every
// change the load makes to the files. With dryRun set the changes are only reported, the
// files are left exactly as they were. Any member may be left empty. `file` is the path
// of the file the line is in: the settings file, or the aircraft profile in force.
struct LoadObserver {
    // `errorText` is the appended text, starting " <<< ". A [Profiles] rule whose file
    // is missing or cannot be read is told here too.
    void (*lineRejected)(const char* file, const char* section, const char* key,
                         const char* errorText);
    // `value` nullptr: the key is deleted.
    void (*fileChange)(const char* file, const char* section, const char* key,
                       const char* value);
    bool dryRun;
    // Every line accepted, with the position of its record in the item table and its
    // text as the parser read it (an old annotation cut off).
    void (*lineAccepted)(const char* file, const char* section, const char* key,
                         const char* line, int32_t item) = nullptr;
    // Every key the walk asks for (Needs and the item keys; not the report), in walk
    // order, once its value has been read: what the program reads, to tell from what the
    // file holds.
    void (*keyRead)(const KeyRead& read) = nullptr;
    // Handed to the line parser and to the Needs reader for every value they read,
    // before that key's keyRead.
    const LineObserver* lineNotes = nullptr;
    // Only the verdicts of the lines are written (or, with dryRun, reported): the
    // [GF Connections] report and the archive mark are left as they are. For a caller that
    // never saw the panels, and must not hide a save from the program that reloads on it.
    bool verdictsOnly = false;
    // Writes go into this file only (nullptr: into every file the load reads); what the
    // load would write into another is told to fileChange alone, as in a dry run. For a
    // checker that takes a settings file with each aircraft profile in turn, whose lines'
    // verdicts are those of the settings file alone.
    const char* onlyFile = nullptr;
};

// One load, straight away: rebuilds the item table from the file. `observer` may be
// nullptr. True when the file was saved by someone else while the load ran; until the
// next load, configurationChanged then says so.
bool loadConfigurationOnce(const LoadInputs& inputs, const LoadObserver* observer);

// Whether the last load had something to write into the file (verdicts, the report) and
// could not: the file is then as it was read.
bool lastLoadWriteFailed();

// Whether the file needs loading again: it or the aircraft profile in force was saved
// since the last load cleared their marks, or saved while that load ran. A missing file
// has not changed.
bool configurationChanged(const char* path);

// The report of a start that could not bind the device library: GFDev= names the reason,
// and the model counts and the interface line of an earlier start are removed. Loads no
// items. False when the file could not be written.
bool reportLibraryFailure(const char* path, LibraryFailure failure);

// Forgets what the last load saw; for tests and tools.
void resetLoader();

// Needs value of a device section: the gate bits of ItemFlags and the least bus voltage.
// `observer` (may be nullptr) hears about the words that set nothing or less than they
// seem to.
void parseNeeds(const char* value, uint16_t* needsFlags, uint16_t* minVoltage,
                const LineObserver* observer = nullptr);
