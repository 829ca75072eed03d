// The scan cycle, run on every tick of the scan timer: one batch reads the simulator's
// status and every item's value (a second batch follows the indirect offsets), then the
// table is evaluated in order and each panel's light bits are flushed in one write.
#include <cstddef>
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

// The identity that makes lines alternatives for one output: type, unit, kind, index,
// the record's first eight bytes, compared as one word.
static_assert(offsetof(ItemRecord, deviceType) == 0 && offsetof(ItemRecord, unit) == 4 &&
                  offsetof(ItemRecord, kind) == 5 && offsetof(ItemRecord, index) == 6,
              "the key fields lead the record");
static uint64_t keyOf(const ItemRecord& item) {
    uint64_t key;
    std::memcpy(&key, &item, sizeof key);
    return key;
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
// `fresh` is one past the last item whose own value read got into the block;
// `firstIndirect` the first of those that reads through an offset, -1 if none.
struct Pass {
    bool refused;
    bool anyQueued;
    int32_t fresh;
    int32_t firstIndirect;
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

static bool isRadioOffset(uint32_t offset) {
    return offset == RADIO_NAV_OFFSET || offset == RADIO_COM_OFFSET;
}

// Runs for every item on every scan: the table, its count and each item's flags are
// read once, as queueing a read changes none of them.
static void queueFirstPass(Pass& pass) {
    bool statusQueued = false;
    if (!queueStatusReads(textMatchUsed, &statusQueued)) pass.refused = true;
    pass.anyQueued = statusQueued;
    ItemRecord* const table = itemTable;
    const int32_t count = itemCount;
    if (pass.refused) return;
    for (int32_t i = 0; i < count; ++i) {
        ItemRecord& item = table[i];
        const uint32_t flags = item.flags;
        if (flags & FLAG_HAS_OFFSET) {
            const bool indirect = (flags & FLAG_INDIRECT_OFFSET) != 0;
            const uint32_t size = indirect ? 2 : valueTypeSize(item.valueType);
            if (!queueRead(pass, item.offset, size, item.raw)) return;
            if (indirect && pass.firstIndirect < 0) pass.firstIndirect = i;
            pass.fresh = i + 1;
            if (isRadioOffset(item.offset) && !queueRadioExtra(pass, item.offset, item)) return;
        }
        // The type byte lands in the low byte of valueType; every host we build for is
        // little-endian, so that is its first byte.
        if ((flags & FLAG_TYPE_FROM_SIM) &&
            !queueRead(pass, item.typeOffset, 1, reinterpret_cast<uint8_t*>(&item.valueType)))
            return;
    }
}

// Only items whose first read went out hold an offset in raw; past a full block, raw
// still holds last tick's value, and following that would fetch some unrelated bytes.
static void queueIndirectPass(Pass& pass, int32_t first, int32_t fresh) {
    for (int32_t i = first; i < fresh && !pass.refused; ++i) {
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

// A panel's lights flush once its run of adjacent items (same type and unit: the key's
// low five bytes on the little-endian hosts we build for) ends.
constexpr uint64_t UNIT_KEY_MASK = 0xFFFFFFFFFFull;

static void evaluationWalk(uint32_t now) {
    clearLightMasks();
    const ItemRecord* const table = itemTable;
    const int32_t count = itemCount;
    uint64_t lastApplied = 0;
    uint64_t key = keyOf(table[0]);
    for (int32_t i = 0; i < count; ++i) {
        const bool last = i == count - 1;
        const uint64_t nextKey = last ? 0 : keyOf(table[i + 1]);
        if (key != lastApplied && evaluateItem(i, now)) lastApplied = key;
        if (last || ((key ^ nextKey) & UNIT_KEY_MASK) != 0)
            flushLights(table[i].unit, table[i].deviceType);
        key = nextKey;
    }
}

// Reads and evaluates; returns early wherever the link fails or the simulator asks for
// dark panels.
static void scanOnce(uint32_t now) {
    Pass first = {false, false, 0, -1};
    queueFirstPass(first);
    bool processed = false;
    if (!processPass(first, &processed)) return;
    if (processed && (simStatus.controlByte & CONTROL_BLANK_BIT)) {
        blankEverything();
        blankedThisScan = true;
        return;
    }
    // With no indirect item among the fresh ones the second batch would queue nothing.
    if (processed && first.firstIndirect >= 0) {
        Pass indirect = {false, false, 0, -1};
        queueIndirectPass(indirect, first.firstIndirect, first.fresh);
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
