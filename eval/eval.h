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

constexpr uint32_t SCAN_TIMER_ID = 2;
extern bool scanBusy;

void scanTick();
int evaluateItem(int32_t i);
int conditionTrue(uint8_t ref, int32_t before);
void blankItem(int32_t i);

// Text and mode for display item i; the text stays valid until the next call.
const char* buildDisplayText(int32_t i, int* mode);
