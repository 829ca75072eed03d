// The item record and the item table: every accepted settings line becomes one
// ItemRecord, what the grammar made of the line and nothing else, and all records of the
// current configuration live in one growable array in the fixed order the scan relies on
// (conditions, then device items by type and unit). The table is written only by a load;
// what an item does at run time is the evaluation's own state, indexed alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "devices/models.h"

enum ItemKind : uint8_t {
    KIND_CONDITION = 0,
    KIND_BRIGHTNESS = 1,
    KIND_LIGHT = 2,
    KIND_DISPLAY = 3,
};

// Bits of ItemRecord::flags.
enum ItemFlags : uint32_t {
    FLAG_INDIRECT_OFFSET = 0x1,
    FLAG_TYPE_FROM_SIM = 0x2,
    FLAG_HEX_DISPLAY = 0x4,
    FLAG_FLASH_SLOW = 0x8,
    FLAG_FLASH_FAST = 0x10,
    FLAG_HAS_OFFSET = 0x20,
    FLAG_HAS_NUMBER = 0x40,
    FLAG_HAS_STRING = 0x80,
    FLAG_SHOW_SIGN = 0x100,
    FLAG_NEEDS_B = 0x200,
    FLAG_NEEDS_A = 0x400,
    FLAG_NEEDS_E = 0x800,
    FLAG_NEEDS_V = 0x1000,
    FLAG_TIMED_OFF = 0x10000,
    FLAG_TIMED_ON = 0x20000,
    FLAG_TEXT_MATCH = 0x40000,
    FLAG_TEXT_MATCH_ANYWHERE = 0x80000,
};

enum CompareOp : uint8_t {
    CMP_NONE = 0,
    CMP_EQ = 1,
    CMP_LT = 2,
    CMP_LE = 3,
    CMP_GT = 4,
    CMP_GE = 5,
    CMP_NE = 6,
};

enum ValueType : uint16_t {
    VT_DEFAULT = 0,
    VT_S8 = 1,
    VT_U8 = 2,
    VT_S16 = 3,
    VT_U16 = 4,
    VT_S32 = 5,
    VT_U32 = 6,
    VT_F32 = 7,
    VT_F64 = 8,
    VT_STR = 9,
    VT_R0 = 10,
    VT_R1 = 11,
    VT_R2 = 12,
};
constexpr int VALUE_TYPE_COUNT = 13;

struct ItemRecord {
    int32_t deviceType;
    uint8_t unit;
    uint8_t kind;
    uint16_t index;
    uint32_t flags;
    uint16_t offset;
    int16_t displayFormat;
    uint8_t compareOp;
    uint16_t valueType;
    uint8_t requiredConditions[8];
    uint8_t excludedConditions[8];
    // Reference slots worth looking at: one past the last slot that holds a reference in
    // either list, 0 for none. Set by storeItem from the two lists.
    uint8_t referenceSlots;
    uint32_t mask;
    float multiplier;
    float divisor;
    uint8_t literal[8];
    uint16_t typeOffset;
    uint16_t minVoltage;
    uint32_t timerPeriodMs;
};

// The table, owned here and changed only by the functions below. Records 0 to
// itemCount() - 1 are the configuration; nullptr while the table has no storage.
const ItemRecord* itemTable();
int32_t itemCount();
int32_t itemCapacity();
// Some stored record matches the simulator's message text: the scan reads that text.
bool textMatchUsed();
// Changes whenever the table does (a reset, a release, a store), so that whoever keeps
// something built from the table can tell that it has to build it again.
uint32_t itemTableGeneration();

constexpr int32_t ITEM_TABLE_INITIAL = 1024;
constexpr int32_t ITEM_TABLE_GROWTH = 128;

// Releases the storage and obtains zeroed room for ITEM_TABLE_INITIAL records
// (itemCapacity stays 0 when that fails). Clears itemCount and textMatchUsed.
void resetItemTable();

// Releases the storage and sets itemCount and itemCapacity to 0.
void freeItemTable();

// Copies `record` into slot `position`, growing the table by ITEM_TABLE_GROWTH first
// when the slot is not below itemCapacity. False when the table cannot grow (it is
// then left without storage), and for a negative position or one beyond a single
// growth step, which would leave unstored records in between. Does not change itemCount.
bool storeItem(int32_t position, const ItemRecord& record);

// Counts the record stored at position itemCount as part of the table.
void acceptItem();
// Ends a load: a table that lost its storage to a failed growth counts no records.
void finishItemTable();

// The first condition record among the first `limit` records whose index has low byte
// `ref` (condition number + 1); the search stops at the first non-condition. -1 if none.
// `ref` is wide so that a reference to condition 255 (ref 256) can never match, and the
// search never looks beyond the stored records or the table's storage. Answered from an
// index that storeItem keeps, in constant time.
int32_t findCondition(int32_t ref, int32_t limit);

// The earlier line of the same light or display that applies whenever the record at
// `position` applies. The scan lets the first line of an output that applies own it, lit
// or dark, so such a record is never reached. A line applies when its power gate (the
// same for every line of a section) and its condition references pass: the earlier
// line's references must all be among this one's. -1 when there is none.
int32_t shadowingItem(int32_t position);

// Bytes read from the simulator for each value type.
extern const uint8_t valueTypeBytes[VALUE_TYPE_COUNT];

// Where the item table (and what the evaluation builds beside it) gets its memory: the C
// library's allocator unless a test installs another, such as one that fails its Nth
// call. obtain gives zeroed memory; resize keeps the block when it fails, as realloc does.
struct ItemMemory {
    void* (*obtain)(size_t count, size_t size);
    void* (*resize)(void* block, size_t bytes);
    void (*release)(void* block);
};
// nullptr: the C library's calloc, realloc and free again. The memory in use must be
// released before the allocator changes.
void setItemMemory(const ItemMemory* memory);
void* obtainItemMemory(size_t count, size_t size);
void* resizeItemMemory(void* block, size_t bytes);
void releaseItemMemory(void* block);


