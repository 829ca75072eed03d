// The devices layer's state in one record, for the layer's own .cpp files only
// (scripts/check-layers refuses it anywhere else): the bound library, the unit counts,
// the light marks of a scan, and what has been written to each unit and what each unit
// is known to show. Every other layer reads it through devices.h.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>

#include "devices/devices.h"

// What was last sent to a display, to tell whether the next text changes anything.
struct SentDisplay {
    bool text;       // sent as text, else as segment bytes
    uint8_t length;  // bytes of `bytes` in use
    uint8_t bytes[16];
};

// Display records by model: the displays of the models side by side, so each unit keeps
// records only for the displays its model has.
constexpr std::array<int, DEVICE_COUNT_SLOTS + 1> makeFirstDisplaySlot() {
    std::array<int, DEVICE_COUNT_SLOTS + 1> first{};
    for (int code = 1; code < DEVICE_COUNT_SLOTS; ++code)
        first[code + 1] = first[code] + deviceTypes[code - 1].displays;
    return first;
}
constexpr std::array<int, DEVICE_COUNT_SLOTS + 1> firstDisplaySlot = makeFirstDisplaySlot();
constexpr int DISPLAY_SLOTS = firstDisplaySlot[DEVICE_COUNT_SLOTS];

struct DevicesState {
    DeviceLibrary library;
    uint16_t counts[DEVICE_COUNT_SLOTS];
    // What the library said of each unit at the last count; valid below the unit count.
    UnitIdentity identities[DEVICE_COUNT_SLOTS][MAX_UNITS_PER_MODEL];
    bool callbackRefused;
    LibraryFailure failure;
    void (*pluggedHandler)();  // called on the loop after a plug event's recount
    LightMasks marked;
    const OutputObserver* observer;

    // Written since start or the last blanking, WRITTEN_* bits by model and unit. It
    // outlives every reload, so nothing a deleted or changed line lit can stay lit.
    bool anyWritten;
    uint8_t written[DEVICE_COUNT_SLOTS][MAX_UNITS_PER_MODEL];
    // The light bits the program has switched on and not off since, by model and unit.
    uint32_t lit[DEVICE_COUNT_SLOTS][MAX_UNITS_PER_MODEL];

    // What each unit is known to show, for the outputs whose WRITTEN_* bit is set in
    // `known`: what was last sent there, or read from it. Forgotten when a unit may have
    // lost it (a recount, a new binding).
    uint8_t known[DEVICE_COUNT_SLOTS][MAX_UNITS_PER_MODEL];
    uint32_t lights[DEVICE_COUNT_SLOTS][MAX_UNITS_PER_MODEL];
    int32_t brightness[DEVICE_COUNT_SLOTS][MAX_UNITS_PER_MODEL];
    SentDisplay displays[DISPLAY_SLOTS][MAX_UNITS_PER_MODEL];

    // The lights last set on the first units of a model that may report none. Lives as
    // long as the process: recounts and reloads leave it alone.
    uint32_t shadow[DEVICE_COUNT_SLOTS][SHADOWED_UNITS];
};
static_assert(std::is_trivially_copyable<DevicesState>::value, "reset by clearing its bytes");

// The one instance; static storage, zero at start.
inline DevicesState& devicesState() {
    static DevicesState state;
    return state;
}

// Notes that `bit` (WRITTEN_*) of a unit has been written, for the blanking.
void noteOutputWritten(int32_t type, uint8_t unit, uint8_t bit);
// Forgets what every unit is known to show.
void forgetShownOutputs();
