// Indicator lights and brightness: light bits gathered per scan into two masks and
// written to a unit in one read-modify-write, brightness sent straight through, and the
// record of every output written, from which blanking makes them all dark.
#include <cstring>

#include "devices/devices.h"

uint32_t onMask = 0;
uint32_t offMask = 0;
uint32_t mcpProIndicatorShadow[MCP_PRO_SHADOW_UNITS] = {};
const OutputObserver* outputObserver = nullptr;

// WRITTEN_* bits per model and unit: what has been sent since start or the last blanking.
// It outlives every reload, so nothing a deleted or changed line lit can stay lit.
static uint8_t writtenOutputs[DEVICE_COUNT_SLOTS][MAX_UNITS_PER_MODEL];
// The light bits the program has switched on and not off since, per model and unit.
static uint32_t litLights[DEVICE_COUNT_SLOTS][MAX_UNITS_PER_MODEL];
static bool anyWritten = false;

void noteOutputWritten(int32_t type, uint8_t unit, uint8_t bit) {
    if (type < 1 || type >= DEVICE_COUNT_SLOTS) return;
    writtenOutputs[type][unit] |= bit;
    anyWritten = true;
}

bool anyOutputWritten() { return anyWritten; }

void setOutputObserver(const OutputObserver* observer) { outputObserver = observer; }

void setBrightness(int32_t value, int32_t type, uint8_t unit) {
    const DeviceType* t = findDeviceType(type);
    if (!t || !t->brightness) return;
    GfBrightnessFn fn = deviceLibrary.*(t->brightness);
    if (!fn && !outputObserver) return;
    noteOutputWritten(type, unit, WRITTEN_BRIGHTNESS);
    if (outputObserver) outputObserver->brightness(type, unit, value);
    if (fn) fn(unit, value);
}

void markLight(uint16_t bit, bool on) {
    uint32_t b = 1u << (bit % 32);
    if (on)
        onMask |= b;
    else
        offMask |= b;
}

void flushLights(uint8_t unit, int32_t type) {
    if (type != -1 && (onMask | offMask) != 0) writeIndicators(type, unit, offMask, onMask);
    onMask = 0;
    offMask = 0;
}

static uint32_t mergeIndicators(uint32_t current, uint32_t off, uint32_t on, uint32_t mask) {
    // A bit named in both masks ends up on; bits named in neither keep the panel's state.
    return ((current & ~(off | on)) | on) & mask;
}

void writeIndicators(int32_t type, uint8_t unit, uint32_t offMaskArg, uint32_t onMaskArg) {
    const DeviceType* t = findDeviceType(type);
    if (!t || t->indicatorWriteMask == 0) return;
    noteOutputWritten(type, unit, WRITTEN_LIGHTS);
    uint32_t& lit = litLights[type][unit];
    lit = ((lit & ~offMaskArg) | onMaskArg) & t->indicatorWriteMask;
    if (outputObserver) outputObserver->lights(type, unit, lit);

    if (type == DEV_GFMCPPRO) {
        GfGetIndicators32Fn get = deviceLibrary.GFMCPPro_GetIndicators;
        GfSetIndicators32Fn set = deviceLibrary.GFMCPPro_SetIndicators;
        if (!get || !set) return;
        unsigned long read = 0;
        get(unit, &read);
        uint32_t current = static_cast<uint32_t>(read);
        // This panel may report no lights at all; it then keeps those the program last
        // set. Only the first sixteen units have a remembered state.
        bool shadowed = unit < MCP_PRO_SHADOW_UNITS;
        if (current == 0 && shadowed) current = mcpProIndicatorShadow[unit];
        uint32_t next = mergeIndicators(current, offMaskArg, onMaskArg, t->indicatorWriteMask);
        set(unit, next);
        if (shadowed) mcpProIndicatorShadow[unit] = next;
        return;
    }

    if (!t->getIndicators || !t->setIndicators) return;
    GfGetIndicatorsFn get = deviceLibrary.*(t->getIndicators);
    GfSetIndicatorsFn set = deviceLibrary.*(t->setIndicators);
    if (!get || !set) return;
    unsigned char current = 0;
    get(unit, &current);
    uint32_t next = mergeIndicators(current, offMaskArg, onMaskArg, t->indicatorWriteMask);
    set(unit, static_cast<unsigned char>(next));
}

void blankAllOutputs() {
    if (!anyWritten) return;
    for (int32_t type = 1; type < DEVICE_COUNT_SLOTS; ++type) {
        for (uint32_t u = 0; u < MAX_UNITS_PER_MODEL; ++u) {
            const uint8_t written = writtenOutputs[type][u];
            if (!written) continue;
            const uint8_t unit = static_cast<uint8_t>(u);
            if (written & WRITTEN_BRIGHTNESS) setBrightness(BLANK_BRIGHTNESS, type, unit);
            if (written & WRITTEN_LIGHTS) writeIndicators(type, unit, 0xFFFFFFFFu, 0);
            for (uint16_t d = 0; d < MAX_DISPLAYS; ++d) {
                if (written & (WRITTEN_DISPLAY0 << d)) writeDisplay(blankText, type, unit, d, DISPLAY_FIT);
            }
        }
    }
    // Everything is dark now: the next blanking has nothing to do until something is lit.
    std::memset(writtenOutputs, 0, sizeof writtenOutputs);
    std::memset(litLights, 0, sizeof litLights);
    anyWritten = false;
}

void darkenUndrivenOutputs(const DrivenTable& driven) {
    if (!anyWritten) return;
    for (int32_t type = 1; type < DEVICE_COUNT_SLOTS; ++type) {
        for (uint32_t u = 0; u < MAX_UNITS_PER_MODEL; ++u) {
            const uint8_t stray =
                writtenOutputs[type][u] & ~(driven[type][u].others | WRITTEN_LIGHTS);
            const uint32_t strayLights = litLights[type][u] & ~driven[type][u].lights;
            if (!stray && !strayLights) continue;
            const uint8_t unit = static_cast<uint8_t>(u);
            if (stray & WRITTEN_BRIGHTNESS) setBrightness(BLANK_BRIGHTNESS, type, unit);
            if (strayLights) writeIndicators(type, unit, strayLights, 0);
            for (uint16_t d = 0; d < MAX_DISPLAYS; ++d) {
                if (stray & (WRITTEN_DISPLAY0 << d)) writeDisplay(blankText, type, unit, d, DISPLAY_FIT);
            }
            // Dark now and driven by nothing: the watchdog need not blank them again.
            writtenOutputs[type][u] &= static_cast<uint8_t>(~stray);
        }
    }
}

void resetLightsAndRecord() {
    onMask = 0;
    offMask = 0;
    std::memset(mcpProIndicatorShadow, 0, sizeof mcpProIndicatorShadow);
    std::memset(writtenOutputs, 0, sizeof writtenOutputs);
    std::memset(litLights, 0, sizeof litLights);
    anyWritten = false;
}
