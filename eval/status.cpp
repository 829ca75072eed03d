// The snapshot of the simulator's general state that gates items: its defaults, put
// back at the start of every scan, and the reads that refresh it in the first exchange.
#include "eval/internal.h"

namespace {

SimStatus status = {};

}  // namespace

const SimStatus& simStatus() { return status; }

SimStatus& statusForReads() { return status; }

void resetSimStatus() {
    status.controlByte = 0;
    status.busVoltage = 24.0;
    status.powerBytes[0] = 1;
    status.powerBytes[1] = 1;
    status.failureByte = 0;
}

const StatusRead* statusReads() {
    // The fields take the simulator's little-endian bytes as they come; every host we
    // build for is little-endian.
    static const StatusRead reads[STATUS_READ_COUNT] = {
        {STATUS_CONTROL_OFFSET, 1, &status.controlByte},
        {STATUS_VOLTAGE_OFFSET, 8, &status.busVoltage},
        {STATUS_POWER_OFFSET, 2, status.powerBytes},
        {STATUS_FAILURE_OFFSET, 1, &status.failureByte},
        {STATUS_MESSAGE_OFFSET, STATUS_MESSAGE_SIZE, status.messageText},
        {STATUS_AIRCRAFT_TITLE_OFFSET, AIRCRAFT_TEXT_SIZE, status.aircraftTitle},
        {STATUS_AIRCRAFT_PATH_OFFSET, AIRCRAFT_TEXT_SIZE, status.aircraftPath},
    };
    return reads;
}

uint32_t wantedStatusReads() {
    const bool rules = activeProfile().state != PROFILE_NO_RULES;
    return STATUS_ALWAYS | (textMatchUsed() ? STATUS_MESSAGE : 0) |
           (rules ? STATUS_AIRCRAFT_TITLE : 0) |
           (rules && profileRulesUsePath() ? STATUS_AIRCRAFT_PATH : 0);
}
