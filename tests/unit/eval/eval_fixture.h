// Shared set-up for the evaluation tests: a fresh item table built from records the
// tests write directly, the in-process interface module connected (the items' values are
// set there and read as a scan reads them), a fake clock at a known time and a fake
// panel library.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>

#include "config/items.h"
#include "devices/devices.h"
#include "eval/eval.h"
#include "fake_platform/fake_dl.h"
#include "fake_platform/fake_ipc.h"
#include "fake_platform/fake_time.h"
#include "link/link.h"

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

// A record that reads `valueType` at `offset`.
inline ItemRecord reading(ItemRecord r, uint16_t offset, uint16_t valueType) {
    r.flags |= FLAG_HAS_OFFSET;
    r.offset = offset;
    r.valueType = valueType;
    return r;
}

inline void setLiteral(ItemRecord& r, float v) { std::memcpy(r.literal, &v, sizeof v); }
inline void setLiteralText(ItemRecord& r, const char* text) {
    std::memset(r.literal, 0, sizeof r.literal);
    std::memcpy(r.literal, text, strnlen(text, sizeof r.literal));
}

// The evaluation's state of item i.
inline const ItemState& stateOf(int32_t i) { return itemStates()[i]; }
inline float lastOf(int32_t i) {
    float v;
    std::memcpy(&v, stateOf(i).last, sizeof v);
    return v;
}
inline int outputCount(int32_t i) { return stateOf(i).outputCount; }

// Evaluates item i after the devices layer forgot what the units show (as a recount
// does, without its calls in the log): every output the evaluation sends reaches the
// log, so a test sees the evaluation's own decisions.
inline int evaluateSending(int32_t i, uint32_t now) {
    fake::dlLogEnabled = false;
    countDevices();
    fake::dlLogEnabled = true;
    return evaluateItem(i, now);
}

// The simulator's status as a running simulator gives it: power on, a healthy bus, no
// failure, panels lit, an empty message.
inline void setHealthyStatus() {
    fake::setU8(STATUS_CONTROL_OFFSET, 0);
    fake::setF64(STATUS_VOLTAGE_OFFSET, 24.0);
    fake::setU8(STATUS_POWER_OFFSET, 1);
    fake::setU8(STATUS_POWER_OFFSET + 1, 1);
    fake::setU8(STATUS_FAILURE_OFFSET, 0);
    char none[STATUS_MESSAGE_SIZE] = {};
    fake::setBytes(STATUS_MESSAGE_OFFSET, none, sizeof none);
}

// Reads the status and every item's value, as a scan does before it evaluates.
inline void readValues() { ASSERT_TRUE(readItemValues()); }

// The simulator's value at item i's offset, then read into the item.
inline void simValue(int32_t i, const void* bytes, uint32_t size) {
    fake::setBytes(itemTable()[i].offset, bytes, size);
    readValues();
}
inline void simF32(int32_t i, float v) { simValue(i, &v, sizeof v); }
inline void simF64(int32_t i, double v) { simValue(i, &v, sizeof v); }
inline void simU32(int32_t i, uint32_t v) { simValue(i, &v, sizeof v); }

// Replaces the item table with these records, in this order.
inline void loadTable(std::initializer_list<ItemRecord> records) {
    resetItemTable();
    int32_t n = 0;
    for (const ItemRecord& r : records) {
        storeItem(n++, r);
        acceptItem();
    }
}

// The same, and their values read, ready to be evaluated one by one.
inline void loadAndRead(std::initializer_list<ItemRecord> records) {
    loadTable(records);
    readValues();
}

// Items evaluated one by one: the clock at 10 s, the fake panel library bound, the
// interface module connected with the healthy status above.
class BoundEvaluation : public ::testing::Test {
protected:
    void SetUp() override {
        fake::resetTime();
        fake::nowMs = 10000;
        fake::installFakeLibrary();
        ASSERT_TRUE(bindDeviceLibrary(nullptr));
        fake::resetIpc();
        fake::installModule("FS98MAIN");
        resetLinkStatus();
        linkSupervisionTick();
        ASSERT_TRUE(linkStatus().connected);
        fake::nowMs = 10000;  // the handshake's pauses moved the clock
        setHealthyStatus();
        resetScanState();
        fake::clearDlLog();
        clearLightMasks();
    }
    void TearDown() override {
        resetLinkStatus();
        resetScanState();
        freeItemTable();
        unbindDeviceLibrary();
    }
};

}  // namespace evaltest
