// The scan cycle, run on every tick of the scan timer: the simulator's status and every
// item's value are read first, in as many exchanges as the table needs (the prepared
// batches of the first pass, then the items read through an offset); only then is the
// table evaluated in order, each panel's light bits flushed in one write.
#include <cstring>

#include "devices/devices.h"
#include "eval/internal.h"
#include "link/link.h"
#include "platform/platform.h"

namespace {

struct ScanState {
    bool busy;
    // When the simulator last answered an exchange in full: the watchdog counts from here.
    uint32_t lastGoodExchange;
    int lastLinkState;  // as the title shows it; -1 before the first tick
    int32_t exchanges;  // of the scan reading now
    int32_t lastExchanges;
};
ScanState scan = {false, 0, -1, 0, 0};

// Everything the program ever lit goes dark, and every item of the table sends its
// output again the next time it applies.
void blankEverything() {
    blankAllOutputs();
    EvalTable& t = evalTable();
    if (t.adopted) forgetOutputs(t);
}

// Outputs must not show a simulator state older than the watchdog's time.
void watchdog(uint32_t now) {
    if (now - scan.lastGoodExchange > WATCHDOG_MS) blankEverything();
}

// After each exchange. A failed one drops the link unless it answered with a damaged
// reply, and the watchdog is looked at straight away, as the exchange may have blocked
// for seconds. A request to stop ends the reading between exchanges. False: nothing of
// this scan is evaluated.
bool exchanged(bool ok, LinkError error) {
    ++scan.exchanges;
    if (!ok) {
        if (error != LINK_REPLY_DAMAGED) linkDrop();
        watchdog(platform::tickCount());
        return false;
    }
    scan.lastGoodExchange = platform::tickCount();
    return !platform::stopRequested();
}

// A batch whose item changed the size of its read with a new type byte is built again
// before it goes out; that happens only when a type byte changes.
bool sendBatch(EvalTable& t, ReadBatch& batch) {
    for (int32_t n = batch.firstSized; n < batch.endSized; ++n) {
        const ItemState& s = t.states[t.sized[n]];
        if (valueTypeSize(s.valueType) != valueTypeSize(s.plannedType)) {
            buildBatch(t, batch);
            break;
        }
    }
    LinkError error = LINK_OK;
    const LinkBatch prepared{batch.records, batch.bytes, batch.reads, batch.readCount,
                             batch.edition};
    const bool ok = linkSendBatch(prepared, &error);
    return exchanged(ok, error);
}

// Queues one read of the second pass; a full block goes out first, so that every item is
// read however many there are.
bool queueIndirect(uint32_t offset, uint32_t size, void* destination) {
    LinkError error = LINK_OK;
    if (linkRead(offset, size, destination, &error)) return true;
    if (error != LINK_BLOCK_FULL) return false;
    const bool ok = linkProcess(&error);
    return exchanged(ok, error) && linkRead(offset, size, destination, &error);
}

// The second pass: each value at the offset its first read brought, with the radio
// offsets' further digits as in the first.
bool readIndirect(EvalTable& t) {
    for (int32_t n = 0; n < t.indirectCount; ++n) {
        ItemState& s = t.states[t.indirect[n]];
        const uint32_t target = static_cast<uint32_t>(s.raw[0]) | static_cast<uint32_t>(s.raw[1]) << 8;
        if (!queueIndirect(target, valueTypeSize(s.valueType), s.raw)) return false;
        const uint32_t extra = radioExtraOffset(target);
        if (extra && !queueIndirect(extra, 2, s.raw + 2)) return false;
    }
    LinkError error = LINK_OK;
    const bool ok = linkProcess(&error);
    return exchanged(ok, error);
}

void evaluationWalk(EvalTable& t, uint32_t now) {
    // A table that reads only the aircraft, while a profile may bring items.
    if (t.count <= 0) return;
    clearLightMasks();
    t.gates = gatesNow();
    const ItemState* const states = t.states;
    const int32_t count = t.count;
    uint32_t lastApplied = 0;  // no key is 0: a model code is never 0
    uint32_t key = states[0].key;
    for (int32_t i = 0; i < count; ++i) {
        const bool last = i == count - 1;
        const uint32_t nextKey = last ? 0 : states[i + 1].key;
        if (key != lastApplied && evaluateInTable(t, i, now)) lastApplied = key;
        // A panel's lights flush once its run of adjacent items ends.
        if (last || ((key ^ nextKey) & KEY_UNIT_MASK) != 0) flushLights(keyUnit(key), keyType(key));
        key = nextKey;
    }
}

}  // namespace

bool scanBusy() { return scan.busy; }

int32_t lastScanExchanges() { return scan.lastExchanges; }

void resetScanState() {
    scan = ScanState{false, 0, -1, 0, 0};
    resetSimStatus();
    SimStatus& status = statusForReads();
    std::memset(status.messageText, 0, sizeof status.messageText);
    std::memset(status.aircraftTitle, 0, sizeof status.aircraftTitle);
    std::memset(status.aircraftPath, 0, sizeof status.aircraftPath);
    resetAircraft();
    releaseItemStates();
}

bool keepWaitingForLink() {
    watchdog(platform::tickCount());
    return !platform::stopRequested();
}

bool readItemValues() {
    if (!currentTable()) return false;
    EvalTable& t = evalTable();
    for (int32_t b = 0; b < t.batchCount; ++b) {
        if (!sendBatch(t, t.batches[b])) return false;
        if (b == 0 && (t.statusSet & STATUS_AIRCRAFT_TITLE))
            noteAircraftRead((t.statusSet & STATUS_AIRCRAFT_PATH) != 0);
        // The status came with the first exchange: the simulator may want dark panels.
        if (b == 0 && (simStatus().controlByte & CONTROL_BLANK_BIT)) {
            blankEverything();
            return false;
        }
    }
    return t.indirectCount == 0 || readIndirect(t);
}

void scanTick() {
    resetSimStatus();
    const bool connected = linkStatus().connected;
    const int linkState = connected ? 1 : 0;
    if (linkState != scan.lastLinkState) {
        platform::setTitle(connected ? "Norvalume: connected" : "Norvalume: waiting");
        scan.lastLinkState = linkState;
    }

    const uint32_t now = platform::tickCount();
    // Without items the aircraft is still read while [Profiles] may bring some.
    const bool nothingToRead = itemCount() <= 0 && activeProfile().state == PROFILE_NO_RULES;
    if (scan.busy || !connected || nothingToRead || !currentTable()) {
        watchdog(now);
        return;
    }
    scan.busy = true;
    scan.exchanges = 0;
    if (readItemValues() && linkStatus().connected) evaluationWalk(evalTable(), now);
    scan.lastExchanges = scan.exchanges;
    scan.busy = false;
}
