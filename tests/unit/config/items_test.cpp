// Storage rules of the item table.
#include <gtest/gtest.h>

#include <algorithm>

#include "config/items.h"

namespace {

ItemRecord conditionRecord(uint16_t index) {
    ItemRecord r{};
    r.deviceType = DEV_CONDITION;
    r.kind = KIND_CONDITION;
    r.index = index;
    return r;
}

TEST(ItemTable, ResetGivesInitialCapacityAndClearsTextMatch) {
    textMatchUsed = true;
    resetItemTable();
    EXPECT_EQ(itemCapacity, 1024);
    EXPECT_EQ(itemCount, 0);
    EXPECT_FALSE(textMatchUsed);
    freeItemTable();
    EXPECT_EQ(itemCapacity, 0);
    EXPECT_EQ(itemTable, nullptr);
}

TEST(ItemTable, The1025thRecordGrowsTo1152AndKeepsEarlierRecords) {
    resetItemTable();
    for (int32_t i = 0; i < 1024; ++i) {
        ASSERT_TRUE(storeItem(i, conditionRecord(static_cast<uint16_t>(i))));
        itemCount = i + 1;
    }
    EXPECT_EQ(itemCapacity, 1024);
    ASSERT_TRUE(storeItem(1024, conditionRecord(7)));
    itemCount = 1025;
    EXPECT_EQ(itemCapacity, 1152);
    EXPECT_EQ(itemTable[1000].index, 1000);
    EXPECT_EQ(itemTable[1100].kind, 0);  // new slots are zeroed
    freeItemTable();
}

TEST(ItemTable, TableWithoutStorageObtains128OnFirstStore) {
    freeItemTable();
    ASSERT_TRUE(storeItem(0, conditionRecord(1)));
    EXPECT_EQ(itemCapacity, 128);
    EXPECT_FALSE(storeItem(300, conditionRecord(1)));  // never beyond one growth step
    freeItemTable();
}

TEST(ItemTable, TextMatchRecordMarksTheTable) {
    resetItemTable();
    ItemRecord r = conditionRecord(1);
    r.flags = FLAG_TEXT_MATCH;
    ASSERT_TRUE(storeItem(0, r));
    EXPECT_TRUE(textMatchUsed);
    freeItemTable();
}

TEST(ItemTable, ConditionLookupStopsAtFirstNonCondition) {
    resetItemTable();
    storeItem(0, conditionRecord(1));
    storeItem(1, conditionRecord(2));
    ItemRecord light{};
    light.kind = KIND_LIGHT;
    light.deviceType = DEV_GFP8;
    light.index = 3;
    storeItem(2, light);
    storeItem(3, conditionRecord(3));  // out of order: must not be found
    itemCount = 4;
    EXPECT_EQ(findCondition(2, 4), 1);
    EXPECT_EQ(findCondition(2, 1), -1);  // limit excludes it
    EXPECT_EQ(findCondition(3, 4), -1);
    EXPECT_EQ(findCondition(2 + 256, 4), -1);  // only a true low-byte match counts
    freeItemTable();
}

TEST(ItemTable, ConditionLookupInATableThatLostItsStorage) {
    // After a failed growth itemCount keeps its records' count until the load ends.
    freeItemTable();
    itemCount = 1100;
    EXPECT_EQ(findCondition(1, itemCount), -1);
    itemCount = 0;
}

TEST(ItemTable, ConditionLookupNeverReadsPastTheStorage) {
    resetItemTable();
    for (int32_t i = 0; i < itemCapacity; ++i) storeItem(i, conditionRecord(1000));
    itemCount = itemCapacity + 50;  // a count ahead of the storage
    EXPECT_EQ(findCondition(7, itemCount), -1);
    freeItemTable();
}

// The walk the condition index stands for, over whatever the storage holds.
int32_t walkConditions(int32_t ref, int32_t limit) {
    limit = std::min({limit, itemCount, itemCapacity});
    for (int32_t i = 0; itemTable && i < limit && itemTable[i].kind == KIND_CONDITION; ++i)
        if ((itemTable[i].index & 0xFF) == ref) return i;
    return -1;
}

// Stores of every shape (the loader's order, overwrites inside and at the end of the
// leading conditions, growth, resets) and counts ahead of or behind them: the index
// answers as the walk does after each.
TEST(ItemTable, ConditionLookupAgreesWithTheWalkAfterAnyStores) {
    uint32_t seed = 7;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % n;
    };
    const uint16_t indexes[] = {0, 1, 2, 3, 256 + 1, 0x1FF};
    resetItemTable();
    for (int step = 0; step < 4000; ++step) {
        if (next(400) == 0) (next(4) == 0 ? freeItemTable() : resetItemTable());
        int32_t run = 0;
        while (run < itemCapacity && itemTable[run].kind == KIND_CONDITION) ++run;
        const int32_t near[] = {run - 1, run, run + 1, itemCapacity, int32_t(next(8))};
        const int32_t position = near[next(5)];
        ItemRecord r = conditionRecord(indexes[next(6)]);
        if (next(3) == 0) r.kind = KIND_LIGHT;
        storeItem(position, r);
        itemCount = int32_t(next(uint32_t(itemCapacity) + 20));
        for (int32_t ref : {-1, 0, 1, 2, 3, 255, 256}) {
            const int32_t limit = int32_t(next(uint32_t(itemCapacity) + 20));
            ASSERT_EQ(findCondition(ref, limit), walkConditions(ref, limit))
                << "step " << step << " ref " << ref << " limit " << limit;
        }
    }
    freeItemTable();
}

}  // namespace
