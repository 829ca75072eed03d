// Storage rules of the item table.
#include <gtest/gtest.h>

#include <algorithm>

#include "config/items.h"
#include "fake_platform/fake_memory.h"

namespace {

ItemRecord conditionRecord(uint16_t index) {
    ItemRecord r{};
    r.deviceType = DEV_CONDITION;
    r.kind = KIND_CONDITION;
    r.index = index;
    return r;
}

TEST(ItemTable, ResetGivesInitialCapacityAndClearsTextMatch) {
    ItemRecord match = conditionRecord(1);
    match.flags = FLAG_TEXT_MATCH;
    freeItemTable();
    ASSERT_TRUE(storeItem(0, match));
    ASSERT_TRUE(textMatchUsed());
    resetItemTable();
    EXPECT_EQ(itemCapacity(), 1024);
    EXPECT_EQ(itemCount(), 0);
    EXPECT_FALSE(textMatchUsed());
    freeItemTable();
    EXPECT_EQ(itemCapacity(), 0);
    EXPECT_EQ(itemTable(), nullptr);
}

TEST(ItemTable, The1025thRecordGrowsTo1152AndKeepsEarlierRecords) {
    resetItemTable();
    for (int32_t i = 0; i < 1024; ++i) {
        ASSERT_TRUE(storeItem(i, conditionRecord(static_cast<uint16_t>(i))));
        acceptItem();
    }
    EXPECT_EQ(itemCapacity(), 1024);
    ASSERT_TRUE(storeItem(1024, conditionRecord(7)));
    acceptItem();
    EXPECT_EQ(itemCount(), 1025);
    EXPECT_EQ(itemCapacity(), 1152);
    EXPECT_EQ(itemTable()[1000].index, 1000);
    EXPECT_EQ(itemTable()[1100].kind, 0);  // new slots are zeroed
    freeItemTable();
}

TEST(ItemTable, TableWithoutStorageObtains128OnFirstStore) {
    freeItemTable();
    ASSERT_TRUE(storeItem(0, conditionRecord(1)));
    EXPECT_EQ(itemCapacity(), 128);
    EXPECT_FALSE(storeItem(300, conditionRecord(1)));  // never beyond one growth step
    freeItemTable();
}

TEST(ItemTable, TextMatchRecordMarksTheTable) {
    resetItemTable();
    ItemRecord r = conditionRecord(1);
    r.flags = FLAG_TEXT_MATCH;
    ASSERT_TRUE(storeItem(0, r));
    EXPECT_TRUE(textMatchUsed());
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
    for (int n = 0; n < 4; ++n) acceptItem();
    EXPECT_EQ(findCondition(2, 4), 1);
    EXPECT_EQ(findCondition(2, 1), -1);  // limit excludes it
    EXPECT_EQ(findCondition(3, 4), -1);
    EXPECT_EQ(findCondition(2 + 256, 4), -1);  // only a true low-byte match counts
    freeItemTable();
}

// Out of memory at each step of a table's life: the initial storage (the first store
// then obtains 128 records), and a growth, after which the records stored so far are
// gone, the count stays ahead of the storage until the load ends, and nothing is ever
// found or stored beyond the storage.
TEST(ItemTable, OutOfMemoryLeavesATableWithoutStorageThatHoldsNothing) {
    fake::failItemMemoryAt(1);
    resetItemTable();
    EXPECT_EQ(itemCapacity(), 0);
    EXPECT_EQ(itemTable(), nullptr);
    ASSERT_TRUE(storeItem(0, conditionRecord(1)));
    EXPECT_EQ(itemCapacity(), 128);

    resetItemTable();
    for (int32_t i = 0; i < 1024; ++i) {
        ASSERT_TRUE(storeItem(i, conditionRecord(1)));
        acceptItem();
    }
    fake::failItemMemoryAt(1);
    EXPECT_FALSE(storeItem(1024, conditionRecord(2)));
    EXPECT_EQ(itemCapacity(), 0);
    EXPECT_EQ(itemTable(), nullptr);
    EXPECT_EQ(itemCount(), 1024);
    EXPECT_EQ(findCondition(1, itemCount()), -1);
    EXPECT_FALSE(storeItem(1024, conditionRecord(2)));  // the next line finds no room either
    finishItemTable();
    EXPECT_EQ(itemCount(), 0);
    fake::restoreItemMemory();
    freeItemTable();
}

// The walk the condition index stands for, over whatever the storage holds.
int32_t walkConditions(int32_t ref, int32_t limit) {
    limit = std::min({limit, itemCount(), itemCapacity()});
    const ItemRecord* table = itemTable();
    for (int32_t i = 0; table && i < limit && table[i].kind == KIND_CONDITION; ++i)
        if ((table[i].index & 0xFF) == ref) return i;
    return -1;
}

// Stores of every shape (the loader's order, overwrites inside and at the end of the
// leading conditions, growth, resets) and counts behind them: the index answers as the
// walk does after each.
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
        while (run < itemCapacity() && itemTable()[run].kind == KIND_CONDITION) ++run;
        const int32_t near[] = {run - 1, run, run + 1, itemCapacity(), int32_t(next(8))};
        const int32_t position = near[next(5)];
        ItemRecord r = conditionRecord(indexes[next(6)]);
        if (next(3) == 0) r.kind = KIND_LIGHT;
        storeItem(position, r);
        for (uint32_t n = next(3); n > 0; --n) acceptItem();
        for (int32_t ref : {-1, 0, 1, 2, 3, 255, 256}) {
            const int32_t limit = int32_t(next(uint32_t(itemCapacity()) + 20));
            ASSERT_EQ(findCondition(ref, limit), walkConditions(ref, limit))
                << "step " << step << " ref " << ref << " limit " << limit;
        }
    }
    freeItemTable();
}

}  // namespace
