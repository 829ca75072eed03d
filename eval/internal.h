// What the evaluation's own files share and nobody else sees (scripts/check-layers keeps
// this header inside eval/): the adopted table with its run-time state and read plan,
// and the status fields the plan reads into.
#pragma once

#include <cstdint>

#include "eval/eval.h"
#include "link/link.h"

// The condition each reference slot of an item points at, looked up once per table: its
// position, REFERENCE_NONE for an empty slot, REFERENCE_MISSING for a condition that does
// not exist above the item (false when required, no obstacle when excluded).
constexpr uint16_t REFERENCE_NONE = 0xFFFF;
constexpr uint16_t REFERENCE_MISSING = 0xFFFE;
struct ItemReferences {
    uint16_t required[8];
    uint16_t excluded[8];
};

// One exchange of the first pass, prepared at adoption: the requests as they go into the
// block and where each read lands. Covers items [firstItem, endItem); the first batch
// also carries the status reads.
struct ReadBatch {
    uint8_t* records;
    uint32_t bytes;
    uint32_t room;            // bytes the records may take when a type byte changes a size
    LinkPendingRead* reads;
    uint32_t readCount;
    uint32_t edition;         // new at every build: the link keeps a batch it sent before
    int32_t firstItem;
    int32_t endItem;
    int32_t firstSized;       // its items whose read size follows a type byte, as a range
    int32_t endSized;         // of EvalTable::sized
};

// The power gates as the status of this scan leaves them, worked out once per scan.
struct Gates {
    uint32_t closed;  // the FLAG_NEEDS_* bits of B, A and E whose gate is closed
    double volts;     // the bus voltage NeedsV compares with
};
Gates gatesNow();

struct EvalTable {
    Gates gates;               // of the scan evaluating now
    bool built;                // tried for the item table of `generation`
    bool adopted;              // and succeeded
    uint32_t generation;
    int32_t count;
    ItemState* states;
    ItemReferences* references;
    ReadBatch* batches;
    int32_t batchCount;
    int32_t* indirect;         // positions of the items read through an offset
    int32_t indirectCount;
    int32_t* sized;            // positions of the items whose read size follows a type byte
    int32_t sizedCount;
    uint32_t statusSet;        // the status reads its first exchange makes (STATUS_* bits)
    void* memory;              // everything above lives in this one block
};
EvalTable& evalTable();

// Builds the table afresh when the item table changed since; false when it has no state.
bool currentTable();

// Bytes read for a value type; codes beyond the table (only a type byte read from the
// simulator gives one) read a full raw field.
inline uint32_t valueTypeSize(uint8_t valueType) {
    return valueType < VALUE_TYPE_COUNT ? valueTypeBytes[valueType] : 8;
}
// The radio offsets whose further digits are read from elsewhere into raw bytes 2 and 3;
// 0 for any other offset.
inline uint32_t radioExtraOffset(uint32_t offset) {
    return offset == RADIO_NAV_OFFSET   ? RADIO_NAV_EXTRA_OFFSET
           : offset == RADIO_COM_OFFSET ? RADIO_COM_EXTRA_OFFSET
                                        : 0;
}

// Writes the records and reads of `batch` from its items' current value types.
void buildBatch(EvalTable& t, ReadBatch& batch);

// The fields the status reads fill, and which of them a scan reads.
SimStatus& statusForReads();
constexpr int STATUS_READ_COUNT = 7;
struct StatusRead {
    uint32_t offset;
    uint32_t size;
    void* field;
};
// The status reads in order: the four every scan makes, then the message text (while some
// item matches it), the aircraft title (while [Profiles] has a rule to use) and the
// aircraft file's path (while a rule matches on it). Bit r of a set stands for read r.
const StatusRead* statusReads();
constexpr uint32_t STATUS_ALWAYS = 0x0F;
constexpr uint32_t STATUS_MESSAGE = 0x10;
constexpr uint32_t STATUS_AIRCRAFT_TITLE = 0x20;
constexpr uint32_t STATUS_AIRCRAFT_PATH = 0x40;
// The reads a table of the present configuration makes.
uint32_t wantedStatusReads();
// After an exchange brought the aircraft title (and path, when `withPath`): counts how
// many scans in a row read it the same, and settles it.
void noteAircraftRead(bool withPath);
// Forgets every title seen and settled; with the status's own reset.
void resetAircraft();

// The evaluation of item i of `t`; evaluateItem is this on the adopted table.
int evaluateInTable(EvalTable& t, int32_t i, uint32_t now);
// A table's every item sends again when it next applies.
void forgetOutputs(EvalTable& t);
