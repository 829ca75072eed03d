// The scan cycle, run on every tick of the scan timer: one batch reads the simulator's
// status and every item's value (a second batch follows the indirect offsets), then the
// table is evaluated in order and each panel's light bits are flushed in one write.
#include <cstring>

#include "config/items.h"
#include "devices/devices.h"
#include "eval/eval.h"
#include "link/link.h"
#include "platform/platform.h"

bool scanBusy = false;

// When the simulator last answered an exchange in full: the watchdog counts from here.
static uint32_t lastGoodExchange = 0;
static int lastLinkState = -1;
static bool blankedThisScan = false;

// The identity that makes lines alternatives for one output: type, unit, kind, index.
struct ItemKey {
    int32_t deviceType;
    uint8_t unit;
    uint8_t kind;
    uint16_t index;
};

static ItemKey keyOf(const ItemRecord& item) {
    return ItemKey{item.deviceType, item.unit, item.kind, item.index};
}

static bool sameKey(const ItemKey& a, const ItemKey& b) {
    return a.deviceType == b.deviceType && a.unit == b.unit && a.kind == b.kind &&
           a.index == b.index;
}

// Bytes the scan reads for a value type; codes beyond the table (only a type byte read
// from the simulator gives one) read a full raw field.
static uint32_t valueTypeSize(uint16_t valueType) {
    if (valueType < VALUE_TYPE_COUNT) return valueTypeBytes[valueType];
    return 8;
}

void resetScanState() {
    scanBusy = false;
    lastGoodExchange = 0;
    lastLinkState = -1;
    blankedThisScan = false;
}

// One pass of requests: once a request is refused, the pass queues nothing more.
// `fresh` is one past the last item whose own value read got into the block.
struct Pass {
    bool refused;
    bool anyQueued;
    int32_t fresh;
};

static bool queueRead(Pass& pass, uint32_t offset, uint32_t size, void* destination) {
    if (pass.refused) return false;
    LinkError error;
    if (!linkRead(offset, size, destination, &error)) {
        pass.refused = true;
        return false;
    }
    pass.anyQueued = true;
    return true;
}

// The two radio offsets carry more digits elsewhere; those land in bytes 2 and 3 of
// the raw value.
static bool queueRadioExtra(Pass& pass, uint32_t offset, ItemRecord& item) {
    if (offset == RADIO_NAV_OFFSET) return queueRead(pass, RADIO_NAV_EXTRA_OFFSET, 2, item.raw + 2);
    if (offset == RADIO_COM_OFFSET) return queueRead(pass, RADIO_COM_EXTRA_OFFSET, 2, item.raw + 2);
    return true;
}

static void queueFirstPass(Pass& pass) {
    bool statusQueued = false;
    if (!queueStatusReads(textMatchUsed, &statusQueued)) pass.refused = true;
    pass.anyQueued = statusQueued;
    for (int32_t i = 0; i < itemCount && !pass.refused; ++i) {
        ItemRecord& item = itemTable[i];
        if (item.flags & FLAG_HAS_OFFSET) {
            uint32_t size = (item.flags & FLAG_INDIRECT_OFFSET) ? 2 : valueTypeSize(item.valueType);
            if (!queueRead(pass, item.offset, size, item.raw)) break;
            pass.fresh = i + 1;
            if (!queueRadioExtra(pass, item.offset, item)) break;
        }
        // The type byte lands in the low byte of valueType; every host we build for is
        // little-endian, so that is its first byte.
        if (item.flags & FLAG_TYPE_FROM_SIM)
            queueRead(pass, item.typeOffset, 1, reinterpret_cast<uint8_t*>(&item.valueType));
    }
}

// Only items whose first read went out hold an offset in raw; past a full block, raw
// still holds last tick's value, and following that would fetch some unrelated bytes.
static void queueIndirectPass(Pass& pass, int32_t fresh) {
    for (int32_t i = 0; i < fresh && !pass.refused; ++i) {
        ItemRecord& item = itemTable[i];
        if ((item.flags & (FLAG_HAS_OFFSET | FLAG_INDIRECT_OFFSET)) !=
            (FLAG_HAS_OFFSET | FLAG_INDIRECT_OFFSET))
            continue;
        uint32_t target = static_cast<uint32_t>(item.raw[0]) | (static_cast<uint32_t>(item.raw[1]) << 8);
        if (!queueRead(pass, target, valueTypeSize(item.valueType), item.raw)) break;
        queueRadioExtra(pass, target, item);
    }
}

// Everything the program ever lit goes dark, and every item of the table sends its
// output again the next time it applies.
static void blankEverything() {
    blankAllOutputs();
    if (!itemTable) return;
    for (int32_t i = 0; i < itemCount; ++i)
        itemTable[i].flags &= ~static_cast<uint32_t>(FLAG_OUTPUT_COUNT);
}

// Outputs must not show a simulator state older than the watchdog's time.
static void watchdog(uint32_t now) {
    if (now - lastGoodExchange > WATCHDOG_MS) blankEverything();
}

bool keepWaitingForLink() {
    watchdog(platform::tickCount());
    return !platform::stopRequested();
}

// Sends what a pass queued. A pass that was refused before anything got into the block
// sends nothing; anything queued always goes out, so no request outlives this tick
// pointing into item records a reload may free. False when the exchange failed: the
// link is dropped unless it answered with a damaged reply, and the watchdog is looked
// at straight away, as the exchange may have blocked for seconds.
static bool processPass(const Pass& pass, bool* processed) {
    *processed = false;
    if (pass.refused && !pass.anyQueued) return true;
    LinkError error = LINK_OK;
    bool ok = linkProcess(&error);
    if (!ok && error != LINK_NOTHING_QUEUED) {
        if (error != LINK_REPLY_DAMAGED) linkDrop();
        watchdog(platform::tickCount());
        return false;
    }
    *processed = ok;
    if (ok) lastGoodExchange = platform::tickCount();
    return true;
}

void darkenWhatNoItemDrives() {
    static DrivenTable driven;
    std::memset(driven, 0, sizeof driven);
    for (int32_t i = 0; itemTable && i < itemCount; ++i) {
        const ItemRecord& item = itemTable[i];
        if (item.deviceType < 1 || item.deviceType >= DEVICE_COUNT_SLOTS) continue;
        DrivenOutputs& unit = driven[item.deviceType][item.unit];
        if (item.kind == KIND_LIGHT) unit.lights |= 1u << (item.index % 32);
        if (item.kind == KIND_BRIGHTNESS) unit.others |= WRITTEN_BRIGHTNESS;
        if (item.kind == KIND_DISPLAY && item.index < MAX_DISPLAYS)
            unit.others |= static_cast<uint8_t>(WRITTEN_DISPLAY0 << item.index);
    }
    darkenUndrivenOutputs(driven);
}

static void evaluationWalk(uint32_t now) {
    onMask = 0;
    offMask = 0;
    ItemKey lastApplied = {0, 0, 0, 0};
    int32_t groupDeviceType = itemTable[0].deviceType;
    uint8_t groupUnit = itemTable[0].unit;
    for (int32_t i = 0; i < itemCount; ++i) {
        const ItemKey key = keyOf(itemTable[i]);
        if (!sameKey(key, lastApplied) && evaluateItem(i, now)) lastApplied = key;
        if (i == itemCount - 1) {
            flushLights(groupUnit, groupDeviceType);
        } else {
            const ItemRecord& next = itemTable[i + 1];
            if (next.deviceType != groupDeviceType || next.unit != groupUnit) {
                flushLights(groupUnit, groupDeviceType);
                groupDeviceType = next.deviceType;
                groupUnit = next.unit;
            }
        }
    }
}

// Reads and evaluates; returns early wherever the link fails or the simulator asks for
// dark panels.
static void scanOnce(uint32_t now) {
    Pass first = {false, false, 0};
    queueFirstPass(first);
    bool processed = false;
    if (!processPass(first, &processed)) return;
    if (processed && (simStatus.controlByte & CONTROL_BLANK_BIT)) {
        blankEverything();
        blankedThisScan = true;
        return;
    }
    if (processed) {
        Pass indirect = {false, false, 0};
        queueIndirectPass(indirect, first.fresh);
        if (!processPass(indirect, &processed)) return;
    }
    if (linkStatus.connected && !blankedThisScan) evaluationWalk(now);
}

void scanTick() {
    resetSimStatus();
    blankedThisScan = false;

    const bool connected = linkStatus.connected;
    const int linkState = connected ? 1 : 0;
    if (linkState != lastLinkState) {
        platform::setTitle(connected ? "Norvalume: connected" : "Norvalume: waiting");
        lastLinkState = linkState;
    }

    const uint32_t now = platform::tickCount();
    if (scanBusy || !connected || itemCount <= 0 || itemTable == nullptr) {
        watchdog(now);
    } else {
        scanBusy = true;
        scanOnce(now);
        scanBusy = false;
    }
}
