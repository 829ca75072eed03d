// Indicator lights and brightness: light bits gathered per scan into two masks and
// written to a unit in one read-modify-write, brightness sent straight through, and the
// record of every output written, from which blanking makes them all dark. A unit that is
// known to show an output already is not sent it again.
#include <cstring>

#include "devices/state.h"

void noteOutputWritten(int32_t type, uint8_t unit, uint8_t bit) {
    if (type < 1 || type >= DEVICE_COUNT_SLOTS) return;
    DevicesState& s = devicesState();
    s.written[type][unit] |= bit;
    s.anyWritten = true;
}

void forgetShownOutputs() {
    DevicesState& s = devicesState();
    std::memset(s.known, 0, sizeof s.known);
}

bool anyOutputWritten() { return devicesState().anyWritten; }

void setOutputObserver(const OutputObserver* observer) { devicesState().observer = observer; }

namespace {

void sendBrightness(int32_t value, int32_t type, uint8_t unit, bool always) {
    const DeviceType* t = findDeviceType(type);
    if (!t || !t->brightness) return;
    DevicesState& s = devicesState();
    GfBrightnessFn fn = s.library.*(t->brightness);
    if (!fn && !s.observer) return;
    noteOutputWritten(type, unit, WRITTEN_BRIGHTNESS);
    uint8_t& known = s.known[type][unit];
    int32_t& shown = s.brightness[type][unit];
    if (!always && (known & WRITTEN_BRIGHTNESS) && shown == value) return;
    known |= WRITTEN_BRIGHTNESS;
    shown = value;
    if (s.observer) s.observer->brightness(type, unit, value);
    if (fn) fn(unit, value);
}

uint32_t mergeIndicators(uint32_t current, uint32_t off, uint32_t on, uint32_t mask) {
    // A bit named in both masks ends up on; bits named in neither keep the unit's state.
    return ((current & ~(off | on)) | on) & mask;
}

// A model's indicator entry points as bound: 8 or 32 bits of state.
struct Indicators {
    GfGetIndicatorsFn get8;
    GfSetIndicatorsFn set8;
    GfGetIndicators32Fn get32;
    GfSetIndicators32Fn set32;

    bool bound() const { return (get8 && set8) || (get32 && set32); }
    // The unit's state as it reports it; 0 when it writes nothing.
    uint32_t read(uint8_t unit) const {
        if (get32) {
            unsigned long state = 0;
            get32(unit, &state);
            return static_cast<uint32_t>(state);
        }
        unsigned char state = 0;
        get8(unit, &state);
        return state;
    }
    void write(uint8_t unit, uint32_t state) const {
        if (set32)
            set32(unit, state);
        else
            set8(unit, static_cast<unsigned char>(state));
    }
};

Indicators indicatorsOf(const DeviceType& t, const DeviceLibrary& library) {
    Indicators io = {};
    if (t.lightBits == 32) {
        io.get32 = library.*(t.getIndicators32);
        io.set32 = library.*(t.setIndicators32);
    } else {
        io.get8 = library.*(t.getIndicators);
        io.set8 = library.*(t.setIndicators);
    }
    return io;
}

// One read of the unit and, when that changes anything, one write through `io`, the
// model's entry points as bound; remembers what it shows then.
void readModifyWrite(const DeviceType& t, const Indicators& io, uint8_t unit, uint32_t off,
                     uint32_t on) {
    DevicesState& s = devicesState();
    uint32_t& shown = s.lights[t.code][unit];
    uint8_t& known = s.known[t.code][unit];
    if (!io.bound()) {
        // Only a tool watches: what it was told is what the unit shows.
        shown = mergeIndicators(known & WRITTEN_LIGHTS ? shown : 0, off, on, t.indicatorWriteMask);
        known |= WRITTEN_LIGHTS;
        return;
    }
    const uint32_t reported = io.read(unit);
    uint32_t current = reported;
    // A model that may report no lights at all keeps those the program last set; only
    // the first units have a remembered state.
    const bool shadowed = t.shadowsLights && unit < SHADOWED_UNITS;
    if (current == 0 && shadowed) current = s.shadow[t.code][unit];
    const uint32_t next = mergeIndicators(current, off, on, t.indicatorWriteMask);
    if (next != reported) io.write(unit, next);
    if (shadowed) s.shadow[t.code][unit] = next;
    shown = next;
    known |= WRITTEN_LIGHTS;
}

}  // namespace

void setBrightness(int32_t value, int32_t type, uint8_t unit) {
    sendBrightness(value, type, unit, false);
}

void resendBrightness(int32_t value, int32_t type, uint8_t unit) {
    sendBrightness(value, type, unit, true);
}

LightMasks lightMasks() { return devicesState().marked; }

void clearLightMasks() { devicesState().marked = LightMasks{0, 0}; }

void markLight(uint16_t bit, bool on) {
    LightMasks& marked = devicesState().marked;
    uint32_t b = 1u << (bit % 32);
    if (on)
        marked.on |= b;
    else
        marked.off |= b;
}

void flushLights(uint8_t unit, int32_t type) {
    LightMasks& marked = devicesState().marked;
    if (type != -1 && (marked.on | marked.off) != 0)
        writeIndicators(type, unit, marked.off, marked.on);
    marked = LightMasks{0, 0};
}

void writeIndicators(int32_t type, uint8_t unit, uint32_t offMaskArg, uint32_t onMaskArg) {
    const DeviceType* t = findDeviceType(type);
    if (!t || t->indicatorWriteMask == 0) return;
    DevicesState& s = devicesState();
    const uint32_t mask = t->indicatorWriteMask;
    noteOutputWritten(type, unit, WRITTEN_LIGHTS);
    uint32_t& lit = s.lit[type][unit];
    lit = mergeIndicators(lit, offMaskArg, onMaskArg, mask);
    // Nothing changes on a unit whose lights are known: no read, no write.
    const uint32_t shown = s.lights[type][unit];
    if ((s.known[type][unit] & WRITTEN_LIGHTS) &&
        mergeIndicators(shown, offMaskArg, onMaskArg, mask) == shown)
        return;
    if (s.observer) s.observer->lights(type, unit, lit);
    const Indicators io = indicatorsOf(*t, s.library);
    if (io.bound() || s.observer) readModifyWrite(*t, io, unit, offMaskArg, onMaskArg);
}

void blankAllOutputs() {
    DevicesState& s = devicesState();
    if (!s.anyWritten) return;
    for (int32_t type = 1; type < DEVICE_COUNT_SLOTS; ++type) {
        for (uint32_t u = 0; u < MAX_UNITS_PER_MODEL; ++u) {
            const uint8_t written = s.written[type][u];
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
    std::memset(s.written, 0, sizeof s.written);
    std::memset(s.lit, 0, sizeof s.lit);
    s.anyWritten = false;
}

void darkenUndrivenOutputs(const DrivenTable& driven) {
    DevicesState& s = devicesState();
    if (!s.anyWritten) return;
    for (int32_t type = 1; type < DEVICE_COUNT_SLOTS; ++type) {
        for (uint32_t u = 0; u < MAX_UNITS_PER_MODEL; ++u) {
            const uint8_t stray = s.written[type][u] & ~(driven[type][u].others | WRITTEN_LIGHTS);
            const uint32_t strayLights = s.lit[type][u] & ~driven[type][u].lights;
            if (!stray && !strayLights) continue;
            const uint8_t unit = static_cast<uint8_t>(u);
            if (stray & WRITTEN_BRIGHTNESS) setBrightness(BLANK_BRIGHTNESS, type, unit);
            if (strayLights) writeIndicators(type, unit, strayLights, 0);
            for (uint16_t d = 0; d < MAX_DISPLAYS; ++d) {
                if (stray & (WRITTEN_DISPLAY0 << d)) writeDisplay(blankText, type, unit, d, DISPLAY_FIT);
            }
            // Dark now and driven by nothing: the watchdog need not blank them again.
            s.written[type][u] &= static_cast<uint8_t>(~stray);
        }
    }
}
