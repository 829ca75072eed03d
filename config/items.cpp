// Storage of the item table: a plain array that starts at 1024 records and grows by
// 128 at a time, rebuilt from nothing on every load of the settings file.
#include "config/items.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

ItemRecord* itemTable = nullptr;
int32_t itemCount = 0;
int32_t itemCapacity = 0;
bool textMatchUsed = false;

const uint8_t valueTypeBytes[VALUE_TYPE_COUNT] = {2, 1, 1, 2, 2, 4, 4, 4, 8, 8, 2, 2, 2};

namespace {

// The condition index: every reference of every item is looked up on every scan, so the
// answer of a walk over the leading conditions is kept ready. It describes the whole
// storage, zeroed slots included (a zeroed record reads as condition 0 with index 0), so
// it agrees with the walk whatever itemCount says.
constexpr int32_t NO_CONDITION = INT32_MAX;
int32_t conditionRun = 0;             // slots [0, conditionRun) all hold conditions
int32_t firstCondition[256];          // per index low byte, its first slot in the run
// Stale until the storage is first reset: a store the cheap updates cannot follow.
bool conditionIndexStale = true;

uint8_t lowByte(const ItemRecord& r) { return static_cast<uint8_t>(r.index & 0xFF); }

// The storage was just obtained zeroed (or lost): a run of zeroed conditions, or nothing.
void indexFreshStorage() {
    for (int32_t& slot : firstCondition) slot = NO_CONDITION;
    conditionRun = itemTable ? itemCapacity : 0;
    if (conditionRun > 0) firstCondition[0] = 0;
    conditionIndexStale = false;
}

void rebuildConditionIndex() {
    for (int32_t& slot : firstCondition) slot = NO_CONDITION;
    conditionRun = 0;
    while (itemTable && conditionRun < itemCapacity &&
           itemTable[conditionRun].kind == KIND_CONDITION) {
        int32_t& first = firstCondition[lowByte(itemTable[conditionRun])];
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
    const uint8_t before = lowByte(itemTable[position]);
    const uint8_t after = lowByte(next);
    if (before == after) return;
    if (firstCondition[before] == position) {
        const int32_t following = position + 1;
        if (following < conditionRun && lowByte(itemTable[following]) == before)
            firstCondition[before] = following;
        else
            conditionIndexStale = true;
    }
    if (position < firstCondition[after]) firstCondition[after] = position;
}

// Zeroed slots added behind the storage extend the run when it filled the storage.
void indexGrowth(int32_t oldCapacity) {
    if (conditionIndexStale || conditionRun != oldCapacity) return;
    conditionRun = itemCapacity;
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
    std::free(itemTable);
    itemTable = nullptr;
    itemCount = 0;
    itemCapacity = 0;
    indexFreshStorage();
}

void resetItemTable() {
    freeItemTable();
    textMatchUsed = false;
    itemTable = static_cast<ItemRecord*>(std::calloc(ITEM_TABLE_INITIAL, sizeof(ItemRecord)));
    if (itemTable) itemCapacity = ITEM_TABLE_INITIAL;
    indexFreshStorage();
}

bool storeItem(int32_t position, const ItemRecord& record) {
    if (position < 0) return false;
    if (position >= itemCapacity) {
        // Growth is by a fixed step; a position further out than one step would leave a
        // gap of records nobody stored, so it is refused like a failed allocation.
        if (position > itemCapacity) return false;
        // Neither the count nor the byte size may wrap (size_t is 32 bits on Win32).
        if (itemCapacity > INT32_MAX - ITEM_TABLE_GROWTH) return false;
        size_t bigger = static_cast<size_t>(itemCapacity) + ITEM_TABLE_GROWTH;
        if (bigger > SIZE_MAX / sizeof(ItemRecord)) return false;
        void* grown = std::realloc(itemTable, bigger * sizeof(ItemRecord));
        if (!grown) {
            std::free(itemTable);
            itemTable = nullptr;
            itemCapacity = 0;
            indexFreshStorage();
            return false;
        }
        itemTable = static_cast<ItemRecord*>(grown);
        std::memset(itemTable + itemCapacity, 0, ITEM_TABLE_GROWTH * sizeof(ItemRecord));
        itemCapacity += ITEM_TABLE_GROWTH;
        indexGrowth(itemCapacity - ITEM_TABLE_GROWTH);
    }
    indexStore(position, record);
    itemTable[position] = record;
    itemTable[position].referenceSlots = referenceSlotsOf(record);
    if (record.flags & FLAG_TEXT_MATCH) textMatchUsed = true;
    return true;
}

int32_t findCondition(int32_t ref, int32_t limit) {
    if (ref < 0 || ref > 0xFF) return -1;
    if (conditionIndexStale) rebuildConditionIndex();
    // The index holds slots inside the storage only. After a failed growth itemCount
    // still counts the records stored before it, so it is a bound of its own.
    const int32_t found = firstCondition[ref];
    return found < limit && found < itemCount ? found : -1;
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
    if (!itemTable || position <= 0 || position >= itemCount || position >= itemCapacity)
        return -1;
    const ItemRecord& r = itemTable[position];
    if (r.kind != KIND_LIGHT && r.kind != KIND_DISPLAY) return -1;
    for (int32_t i = position - 1; i >= 0; --i) {
        const ItemRecord& e = itemTable[i];
        if (e.deviceType != r.deviceType || e.unit != r.unit || e.kind != r.kind ||
            e.index != r.index)
            break;
        if (referencesWithin(e.requiredConditions, r.requiredConditions) &&
            referencesWithin(e.excludedConditions, r.excludedConditions))
            return i;
    }
    return -1;
}

void acceptItem() { ++itemCount; }

void finishItemTable() {
    if (itemCapacity == 0) itemCount = 0;
}
