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

void freeItemTable() {
    std::free(itemTable);
    itemTable = nullptr;
    itemCount = 0;
    itemCapacity = 0;
}

void resetItemTable() {
    freeItemTable();
    textMatchUsed = false;
    itemTable = static_cast<ItemRecord*>(std::calloc(ITEM_TABLE_INITIAL, sizeof(ItemRecord)));
    if (itemTable) itemCapacity = ITEM_TABLE_INITIAL;
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
            return false;
        }
        itemTable = static_cast<ItemRecord*>(grown);
        std::memset(itemTable + itemCapacity, 0, ITEM_TABLE_GROWTH * sizeof(ItemRecord));
        itemCapacity += ITEM_TABLE_GROWTH;
    }
    itemTable[position] = record;
    if (record.flags & FLAG_TEXT_MATCH) textMatchUsed = true;
    return true;
}

int32_t findCondition(int32_t ref, int32_t limit) {
    // After a failed growth itemCount still counts the records stored before it while
    // the table has no storage, so itemCount alone is not a safe bound.
    if (limit > itemCount) limit = itemCount;
    if (limit > itemCapacity) limit = itemCapacity;
    if (!itemTable) return -1;
    for (int32_t i = 0; i < limit; ++i) {
        if (itemTable[i].kind != KIND_CONDITION) break;
        if ((itemTable[i].index & 0xFF) == ref) return i;
    }
    return -1;
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
