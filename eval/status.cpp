// The snapshot of the simulator's general state that gates items: its defaults, put
// back at the start of every scan, and the reads that refresh it in the first batch.
#include "eval/eval.h"
#include "link/link.h"

SimStatus simStatus = {};

void resetSimStatus() {
    simStatus.controlByte = 0;
    simStatus.busVoltage = 24.0;
    simStatus.powerBytes[0] = 1;
    simStatus.powerBytes[1] = 1;
    simStatus.failureByte = 0;
}

bool queueStatusReads(bool withMessage, bool* queued) {
    struct StatusRead {
        uint32_t offset;
        uint32_t size;
        void* field;
    };
    // The fields take the simulator's little-endian bytes as they come; every host we
    // build for is little-endian.
    const StatusRead reads[] = {
        {STATUS_CONTROL_OFFSET, 1, &simStatus.controlByte},
        {STATUS_VOLTAGE_OFFSET, 8, &simStatus.busVoltage},
        {STATUS_POWER_OFFSET, 2, simStatus.powerBytes},
        {STATUS_FAILURE_OFFSET, 1, &simStatus.failureByte},
        {STATUS_MESSAGE_OFFSET, STATUS_MESSAGE_SIZE, simStatus.messageText},
    };
    int count = withMessage ? 5 : 4;
    *queued = false;
    for (int r = 0; r < count; ++r) {
        LinkError error;
        if (!linkRead(reads[r].offset, reads[r].size, reads[r].field, &error)) return false;
        *queued = true;
    }
    return true;
}
