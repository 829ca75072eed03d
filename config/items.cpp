// Storage of the item table: a plain array that starts at 1024 records and grows by
// 128 at a time, rebuilt from nothing on every load of the settings file.
#include "config/items.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

const uint8_t valueTypeBytes[VALUE_TYPE_COUNT] = {2, 1, 1, 2, 2, 4, 4, 4, 8, 8, 2, 2, 2};

namespace {

// The table and its companions; nobody else writes any of it.
struct ItemTableState {
    ItemRecord* records;
    int32_t count;
    int32_t capacity;
    bool textMatch;
    uint32_t generation;
};
ItemTableState table = {nullptr, 0, 0, false, 0};

const ItemMemory C_LIBRARY_MEMORY = {std::calloc, std::realloc, std::free};
const ItemMemory* memory = &C_LIBRARY_MEMORY;

// The condition index: every reference of every item is looked up on every scan, so the
// answer of a walk over the leading conditions is kept ready. It describes the whole
// storage, zeroed slots included (a zeroed record reads as condition 0 with index 0), so
// it agrees with the walk whatever table.count says.
constexpr int32_t NO_CONDITION = INT32_MAX;
int32_t conditionRun = 0;             // slots [0, conditionRun) all hold conditions
int32_t firstCondition[256];          // per index low byte, its first slot in the run
// Stale until the storage is first reset: a store the cheap updates cannot follow.
bool conditionIndexStale = true;

uint8_t lowByte(const ItemRecord& r) { return static_cast<uint8_t>(r.index & 0xFF); }

// The storage was just obtained zeroed (or lost): a run of zeroed conditions, or nothing.
void indexFreshStorage() {
    for (int32_t& slot : firstCondition) slot = NO_CONDITION;
    conditionRun = table.records ? table.capacity : 0;
    if (conditionRun > 0) firstCondition[0] = 0;
    conditionIndexStale = false;
}

void rebuildConditionIndex() {
    for (int32_t& slot : firstCondition) slot = NO_CONDITION;
    conditionRun = 0;
    while (table.records && conditionRun < table.capacity &&
           table.records[conditionRun].kind == KIND_CONDITION) {
        int32_t& first = firstCondition[lowByte(table.records[conditionRun])];
        if (first == NO_CONDITION) first = conditionRun;
        ++conditionRun;
    }
    conditionIndexStale = false;
}

// `next` is about to replace the record in `position`. The loader's order (conditions
// filling zeroed slots, then the first device item closing the run, then the rest after
// it) takes constant time here; anything else marks the index for a rebuild.
void indexStore(int32_t position, const ItemRecord& next) {
    if (conditionIndexStale || position > conditionRun) return;
    const bool condition = next.kind == KIND_CONDITION;
    if (position == conditionRun) {
        // The first non-condition: a condition here joins the run with whatever follows.
        if (condition) conditionIndexStale = true;
        return;
    }
    if (!condition) {
        conditionRun = position;
        for (int32_t& slot : firstCondition)
            if (slot >= position) slot = NO_CONDITION;
        return;
    }
    const uint8_t before = lowByte(table.records[position]);
    const uint8_t after = lowByte(next);
    if (before == after) return;
    if (firstCondition[before] == position) {
        const int32_t following = position + 1;
        if (following < conditionRun && lowByte(table.records[following]) == before)
            firstCondition[before] = following;
        else
            conditionIndexStale = true;
    }
    if (position < firstCondition[after]) firstCondition[after] = position;
}

// Zeroed slots added behind the storage extend the run when it filled the storage.
void indexGrowth(int32_t oldCapacity) {
    if (conditionIndexStale || conditionRun != oldCapacity) return;
    conditionRun = table.capacity;
    if (firstCondition[0] == NO_CONDITION) firstCondition[0] = oldCapacity;
}

uint8_t referenceSlotsOf(const ItemRecord& r) {
    uint8_t slots = 0;
    for (uint8_t s = 0; s < 8; ++s)
        if (r.requiredConditions[s] != 0 || r.excludedConditions[s] != 0) slots = s + 1;
    return slots;
}

}  // namespace

void freeItemTable() {
    releaseItemMemory(table.records);
    table.records = nullptr;
    table.count = 0;
    table.capacity = 0;
    ++table.generation;
    indexFreshStorage();
}

void resetItemTable() {
    freeItemTable();
    table.textMatch = false;
    table.records = static_cast<ItemRecord*>(obtainItemMemory(ITEM_TABLE_INITIAL, sizeof(ItemRecord)));
    if (table.records) table.capacity = ITEM_TABLE_INITIAL;
    indexFreshStorage();
}

bool storeItem(int32_t position, const ItemRecord& record) {
    if (position < 0) return false;
    if (position >= table.capacity) {
        // Growth is by a fixed step; a position further out than one step would leave a
        // gap of records nobody stored, so it is refused like a failed allocation.
        if (position > table.capacity) return false;
        // Neither the count nor the byte size may wrap (size_t is 32 bits on Win32).
        if (table.capacity > INT32_MAX - ITEM_TABLE_GROWTH) return false;
        size_t bigger = static_cast<size_t>(table.capacity) + ITEM_TABLE_GROWTH;
        if (bigger > SIZE_MAX / sizeof(ItemRecord)) return false;
        void* grown = resizeItemMemory(table.records, bigger * sizeof(ItemRecord));
        if (!grown) {
            releaseItemMemory(table.records);
            table.records = nullptr;
            table.capacity = 0;
            ++table.generation;
            indexFreshStorage();
            return false;
        }
        table.records = static_cast<ItemRecord*>(grown);
        std::memset(table.records + table.capacity, 0, ITEM_TABLE_GROWTH * sizeof(ItemRecord));
        table.capacity += ITEM_TABLE_GROWTH;
        indexGrowth(table.capacity - ITEM_TABLE_GROWTH);
    }
    ++table.generation;
    indexStore(position, record);
    table.records[position] = record;
    table.records[position].referenceSlots = referenceSlotsOf(record);
    if (record.flags & FLAG_TEXT_MATCH) table.textMatch = true;
    return true;
}

int32_t findCondition(int32_t ref, int32_t limit) {
    if (ref < 0 || ref > 0xFF) return -1;
    if (conditionIndexStale) rebuildConditionIndex();
    // The index holds slots inside the storage only. After a failed growth table.count
    // still counts the records stored before it, so it is a bound of its own.
    const int32_t found = firstCondition[ref];
    return found < limit && found < table.count ? found : -1;
}

namespace {

// Every reference of `some` (zero slots are empty) is also one of `all`.
bool referencesWithin(const uint8_t* some, const uint8_t* all) {
    for (int i = 0; i < 8; ++i) {
        if (some[i] == 0) continue;
        bool found = false;
        for (int j = 0; j < 8 && !found; ++j) found = all[j] == some[i];
        if (!found) return false;
    }
    return true;
}

}  // namespace

int32_t shadowingItem(int32_t position) {
    if (!table.records || position <= 0 || position >= table.count || position >= table.capacity)
        return -1;
    const ItemRecord& r = table.records[position];
    if (r.kind != KIND_LIGHT && r.kind != KIND_DISPLAY) return -1;
    for (int32_t i = position - 1; i >= 0; --i) {
        const ItemRecord& e = table.records[i];
        if (e.deviceType != r.deviceType || e.unit != r.unit || e.kind != r.kind ||
            e.index != r.index)
            break;
        if (referencesWithin(e.requiredConditions, r.requiredConditions) &&
            referencesWithin(e.excludedConditions, r.excludedConditions))
            return i;
    }
    return -1;
}

// Only a stored record is counted; the count runs ahead of the storage only after a
// failed growth, until the load ends.
void acceptItem() {
    if (table.count < table.capacity) ++table.count;
}

void finishItemTable() {
    if (table.capacity == 0) table.count = 0;
}

const ItemRecord* itemTable() { return table.records; }
int32_t itemCount() { return table.count; }
int32_t itemCapacity() { return table.capacity; }
bool textMatchUsed() { return table.textMatch; }
uint32_t itemTableGeneration() { return table.generation; }

void setItemMemory(const ItemMemory* replacement) {
    memory = replacement ? replacement : &C_LIBRARY_MEMORY;
}

void* obtainItemMemory(size_t count, size_t size) { return memory->obtain(count, size); }
void* resizeItemMemory(void* block, size_t bytes) { return memory->resize(block, bytes); }
void releaseItemMemory(void* block) {
    if (block) memory->release(block);
}
