// Indicator lights and brightness: light bits gathered per scan into two masks and
// written to a unit in one read-modify-write, brightness sent straight through, and the
// blanking of everything the program has written.
#include "config/items.h"
#include "devices/devices.h"

uint32_t onMask = 0;
uint32_t offMask = 0;
uint32_t mcpProIndicatorShadow[MCP_PRO_SHADOW_UNITS] = {};

void setBrightness(int32_t value, int32_t type, uint8_t unit) {
    const DeviceType* t = findDeviceType(type);
    if (!t || !t->brightness) return;
    GfBrightnessFn fn = deviceLibrary.*(t->brightness);
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
    if (type != -1 && (onMask | offMask) != 0) writeIndicators(type, offMask, unit, onMask);
    onMask = 0;
    offMask = 0;
}

static uint32_t mergeIndicators(uint32_t current, uint32_t off, uint32_t on, uint32_t mask) {
    // A bit named in both masks ends up on; bits named in neither keep the panel's state.
    return ((current & ~(off | on)) | on) & mask;
}

void writeIndicators(int32_t type, uint32_t offMaskArg, uint8_t unit, uint32_t onMaskArg) {
    const DeviceType* t = findDeviceType(type);
    if (!t || t->indicatorWriteMask == 0) return;

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
    if (!itemTable) return;
    int32_t count = itemCount < itemCapacity ? itemCount : itemCapacity;
    for (int32_t i = 0; i < count; ++i) {
        ItemRecord& item = itemTable[i];
        if ((item.flags & FLAG_OUTPUT_COUNT) == 0) continue;
        switch (item.kind) {
            case KIND_BRIGHTNESS:
                setBrightness(BLANK_BRIGHTNESS, item.deviceType, item.unit);
                break;
            case KIND_LIGHT:
                writeIndicators(item.deviceType, 0xFFFFFFFFu, item.unit, 0);
                break;
            case KIND_DISPLAY:
                writeDisplay(blankText, item.deviceType, item.unit, item.index, 0);
                break;
            default:
                break;
        }
        item.flags &= ~static_cast<uint32_t>(FLAG_OUTPUT_COUNT);
    }
}
