// Evaluation: the simulator status read on every scan, the scan cycle itself, the
// evaluation of one item and the text it shows on a display. The evaluation owns every
// item's run-time state, kept beside the item table and indexed alike.
#pragma once

#include <cstdint>

#include "config/aircraft_profiles.h"
#include "config/items.h"

// Simulator state read on every scan to gate items, and the aircraft loaded.
struct SimStatus {
    uint8_t controlByte;
    double busVoltage;
    uint8_t powerBytes[2];
    uint8_t failureByte;
    char messageText[128];
    // Read while [Profiles] has a rule to use (the path while a rule matches on it); the
    // last byte of each is never read into, so the text always ends.
    char aircraftTitle[AIRCRAFT_TEXT_SIZE + 1];
    char aircraftPath[AIRCRAFT_TEXT_SIZE + 1];
};
// As the last scan read it, or its per-scan defaults.
const SimStatus& simStatus();

// What the scan and the evaluation use of one item on every tick: the settings of its line
// they read, copied when the table is adopted so that a tick walks one compact record per
// item, and the item's run-time state, which only the evaluation writes. The line itself
// stays the configuration's, for the loader, the trace and the tools.
struct ItemState {
    uint32_t key;             // the output it drives: see keyType .. keyIndex
    uint32_t flags;           // the line's ItemFlags
    uint8_t valueType;        // the line's, or the type byte the simulator gave (I<hex>)
    uint8_t typeSeen;         // valueType at the last completed evaluation
    uint8_t compareOp;
    uint8_t referenceSlots;   // slots worth looking at in its references
    uint8_t outputCount;      // completed evaluations since a reset: 0, 1, 2 (stays); 3 a
                              // closed gate
    uint8_t flashPhase;       // 1 in the dark phase of a flash
    uint8_t decimals;         // of its display format: the change tolerance
    uint8_t plannedType;      // the type its read was planned for (I<hex> items)
    uint16_t minVoltage;
    uint16_t reserved;
    uint32_t mask;
    float multiplier;
    float divisor;
    uint8_t literal[8];
    uint8_t raw[8];           // the bytes last read; the mask applied in place
    uint8_t last[8];          // the value last sent; a condition's truth in this scan
    uint32_t lastToggleMs;    // a flash's last toggle or output; a brightness's last send
    uint32_t timerDeadlineMs; // the end of a timed phase; 0 while none runs
};

// The key packs what makes lines alternatives of one output: the model code (0xFF for a
// condition), the unit, the kind and the index, one byte each.
constexpr uint32_t KEY_CONDITION_TYPE = 0xFF;
constexpr uint32_t KEY_UNIT_MASK = 0xFFFF;  // model and unit: the panel's lights flush
inline int32_t keyType(uint32_t key) {
    return (key & 0xFF) == KEY_CONDITION_TYPE ? -1 : static_cast<int32_t>(key & 0xFF);
}
inline uint8_t keyUnit(uint32_t key) { return static_cast<uint8_t>(key >> 8); }
inline uint8_t keyKind(uint32_t key) { return static_cast<uint8_t>(key >> 16); }
inline uint8_t keyIndex(uint32_t key) { return static_cast<uint8_t>(key >> 24); }

// The state of an item as a new table gives it: the settings of `line`, and nothing sent.
ItemState freshItemState(const ItemRecord& line);

// After every load: the new table's run-time state and the plan of its reads, built once
// here so that a scan only copies prepared requests; then every output written before that
// no item of the new table drives goes dark once. False when there was no memory for the
// state: the table is then not scanned (its outputs go dark by the watchdog) until a
// later load. The scan adopts a table itself if nobody did.
bool adoptItemTable();
// The state of item i (0 to itemCount() - 1) of the adopted table; nullptr when no table
// is adopted.
const ItemState* itemStates();
int32_t itemStateCount();
// Releases the state and plan (harmless twice); for shutdown.
void releaseItemStates();

// The reads of one tick as the adopted table plans them.
struct ScanPlan {
    int32_t exchanges;          // of the first pass, the status reads in the first
    int32_t indirectItems;      // items whose value is read through an offset
    int32_t indirectExchanges;  // the second pass at the planned value types, 0 without
    uint32_t bytes;             // of requests in the first pass
};
ScanPlan scanPlan();
// Exchanges the last scan that read made, both passes.
int32_t lastScanExchanges();

// A scan is running: a load must wait.
bool scanBusy();

// One scan: reads, evaluates and writes, or blanks when the link has been down or the
// table empty for longer than the watchdog allows. Arms no timer: the caller does.
void scanTick();
// The reading half of a scan: the status and every item's value, in as many exchanges as
// it takes. False when an exchange failed or the simulator asked for dark panels (which
// then are): nothing is to be evaluated.
bool readItemValues();
// For the link between the tries of an exchange that gets no answer: runs the watchdog,
// and tells whether to go on waiting (false once the program is asked to stop).
bool keepWaitingForLink();
// Evaluates item i at `now`, the scan's one clock reading. 1 when the item applies.
int evaluateItem(int32_t i, uint32_t now);
int conditionTrue(uint8_t ref, int32_t before);

// Text and mode for display `item`, whose `last` was just sent, with the format of its
// line; a text line's literal becomes what `last` holds. The text stays valid until the
// next call.
const char* buildDisplayText(ItemState& item, int16_t displayFormat, int* mode);

// --- Simulator status
constexpr uint32_t STATUS_CONTROL_OFFSET = 0x330C;
constexpr uint32_t STATUS_VOLTAGE_OFFSET = 0x2834;
constexpr uint32_t STATUS_POWER_OFFSET = 0x3102;
constexpr uint32_t STATUS_FAILURE_OFFSET = 0x0B6A;
constexpr uint32_t STATUS_MESSAGE_OFFSET = 0x3380;
constexpr uint32_t STATUS_MESSAGE_SIZE = 128;
constexpr uint32_t STATUS_AIRCRAFT_TITLE_OFFSET = 0x3D00;
constexpr uint32_t STATUS_AIRCRAFT_PATH_OFFSET = 0x3C00;
constexpr uint8_t CONTROL_BLANK_BIT = 0x08;

// Puts the per-scan defaults back; the message text and the aircraft keep their last
// contents.
void resetSimStatus();

// --- The aircraft loaded
// While the simulator loads a flight its title may be empty, or change several times a
// second: a title counts once the scans read it the same this many times in a row.
constexpr int AIRCRAFT_SETTLE_SCANS = 2;
struct Aircraft {
    const char* title;  // "" before any settled
    const char* path;   // "" unless a rule matches on the path
};
// The aircraft as the scans last settled it; an empty title never settles.
Aircraft settledAircraft();
// Once after each scan that settled another aircraft: what it calls for against the
// profile the last load put in force (another profile: dark at once, then a load).
ProfileChange profileSwitchDue();

// --- Display text
// Half a unit of the last decimal shown, for 0 to 6 decimals.
extern const float halfUnitTable[7];

struct DisplayFormat {
    int minDigits;
    int decimals;
    int trailingSpaces;
};
DisplayFormat decodeDisplayFormat(int16_t displayFormat);

// --- Scan cycle
constexpr uint32_t WATCHDOG_MS = 5000;
constexpr uint32_t RADIO_NAV_OFFSET = 0x034C;
constexpr uint32_t RADIO_NAV_EXTRA_OFFSET = 0x0356;
constexpr uint32_t RADIO_COM_OFFSET = 0x02D4;
constexpr uint32_t RADIO_COM_EXTRA_OFFSET = 0x02D6;

// Back to the state at program start: title unknown, no scan yet, no table adopted, the
// status at its defaults with an empty message. For tests and tools.
void resetScanState();
