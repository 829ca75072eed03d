// Shared set-up for the evaluation tests: a fresh item table built from records the
// tests write directly, a fake clock at a known time and a fake panel library.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>

#include "config/items.h"
#include "devices/devices.h"
#include "eval/eval.h"
#include "fake_platform/fake_dl.h"
#include "fake_platform/fake_time.h"

namespace evaltest {

inline ItemRecord record(int32_t deviceType, uint8_t unit, uint8_t kind, uint16_t index,
                         uint32_t flags) {
    ItemRecord r;
    std::memset(&r, 0, sizeof r);
    r.deviceType = deviceType;
    r.unit = unit;
    r.kind = kind;
    r.index = index;
    r.flags = flags;
    return r;
}

inline void setLiteral(ItemRecord& r, float v) { std::memcpy(r.literal, &v, sizeof v); }
inline void setLiteralText(ItemRecord& r, const char* text) {
    std::memset(r.literal, 0, sizeof r.literal);
    std::memcpy(r.literal, text, strnlen(text, sizeof r.literal));
}
inline void setLast(ItemRecord& r, float v) { std::memcpy(r.last, &v, sizeof v); }
inline float lastOf(const ItemRecord& r) {
    float v;
    std::memcpy(&v, r.last, sizeof v);
    return v;
}
inline void setRawF32(ItemRecord& r, float v) { std::memcpy(r.raw, &v, sizeof v); }
inline void setRawF64(ItemRecord& r, double v) { std::memcpy(r.raw, &v, sizeof v); }
inline void setRawU32(ItemRecord& r, uint32_t v) {
    for (int b = 0; b < 4; ++b) r.raw[b] = static_cast<uint8_t>(v >> (8 * b));
}

// Replaces the item table with these records, in this order.
inline void loadTable(std::initializer_list<ItemRecord> records) {
    resetItemTable();
    int32_t n = 0;
    for (const ItemRecord& r : records) storeItem(n++, r);
    itemCount = n;
}

inline int outputCount(const ItemRecord& r) { return (r.flags & FLAG_OUTPUT_COUNT) >> 14; }

// Evaluates item i after the devices layer forgot what the units show (as a recount
// does, without its calls in the log): every output the evaluation sends reaches the
// log, so a test sees the evaluation's own decisions.
inline int evaluateSending(int32_t i, uint32_t now) {
    fake::dlLogEnabled = false;
    countDevices();
    fake::dlLogEnabled = true;
    return evaluateItem(i, now);
}

// Items evaluated one by one: the clock at 10 s, the fake panel library bound, the
// simulator's status at its defaults with an empty message.
class BoundEvaluation : public ::testing::Test {
protected:
    void SetUp() override {
        fake::resetTime();
        fake::nowMs = 10000;
        fake::installFakeLibrary();
        ASSERT_TRUE(bindDeviceLibrary(nullptr));
        fake::clearDlLog();
        resetSimStatus();
        std::memset(simStatus.messageText, 0, sizeof simStatus.messageText);
        clearLightMasks();
    }
    void TearDown() override {
        freeItemTable();
        unbindDeviceLibrary();
    }
};

}  // namespace evaltest
