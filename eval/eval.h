// Evaluation: the simulator status read on every scan, the scan cycle itself, the
// evaluation of one item and the text it shows on a display.
#pragma once

#include <cstdint>

// Simulator state read on every scan to gate items.
struct SimStatus {
    uint8_t controlByte;
    double busVoltage;
    uint8_t powerBytes[2];
    uint8_t failureByte;
    char messageText[128];
};
extern SimStatus simStatus;

extern bool scanBusy;

// One scan: reads, evaluates and writes, or blanks when the link has been down or the
// table empty for longer than the watchdog allows. Arms no timer: the caller does.
void scanTick();
// For the link between the tries of an exchange that gets no answer: runs the watchdog,
// and tells whether to go on waiting (false once the program is asked to stop).
bool keepWaitingForLink();
// After a reload: every output written before that no item of the new table drives goes
// dark once.
void darkenWhatNoItemDrives();
// Evaluates item i at `now`, the scan's one clock reading. 1 when the item applies.
int evaluateItem(int32_t i, uint32_t now);
int conditionTrue(uint8_t ref, int32_t before);

// Text and mode for display item i; the text stays valid until the next call.
const char* buildDisplayText(int32_t i, int* mode);

// --- Simulator status
constexpr uint32_t STATUS_CONTROL_OFFSET = 0x330C;
constexpr uint32_t STATUS_VOLTAGE_OFFSET = 0x2834;
constexpr uint32_t STATUS_POWER_OFFSET = 0x3102;
constexpr uint32_t STATUS_FAILURE_OFFSET = 0x0B6A;
constexpr uint32_t STATUS_MESSAGE_OFFSET = 0x3380;
constexpr uint32_t STATUS_MESSAGE_SIZE = 128;
constexpr uint8_t CONTROL_BLANK_BIT = 0x08;

// Puts the per-scan defaults back; the message text keeps its last contents.
void resetSimStatus();
// Queues the status reads of one scan. False at the first refused request, with *queued
// telling whether any of them got into the block.
bool queueStatusReads(bool withMessage, bool* queued);

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


// Back to the state at program start: title unknown, no scan yet. For tests.
void resetScanState();
