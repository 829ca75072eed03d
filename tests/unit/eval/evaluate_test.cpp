// Evaluation of single items against a fake clock and the fake panel library: gates,
// condition references, comparisons, brightness, flashing, timed lights, text match,
// the byte-valued types, masks and decoding.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "eval_fixture.h"
#include "fake_platform/fake_dl.h"
#include "fake_platform/fake_time.h"

using namespace evaltest;

namespace {

class Evaluate : public BoundEvaluation {
protected:
    // Evaluates item i once, at the clock's time or at `now`, and says what it marked:
    // "on", "off", "both" or "-".
    std::string markOf(int32_t i) { return markAt(i, fake::nowMs); }
    std::string markAt(int32_t i, uint32_t now) {
        clearLightMasks();
        evaluateItem(i, now);
        uint32_t bit = 1u << (itemTable()[i].index % 32);
        bool on = lightMasks().on & bit, off = lightMasks().off & bit;
        return on && off ? "both" : on ? "on" : off ? "off" : "-";
    }

    std::vector<std::string> marksEvery(int32_t i, int times, uint32_t stepMs) {
        std::vector<std::string> marks;
        for (int n = 0; n < times; ++n) {
            marks.push_back(markOf(i));
            fake::advance(stepMs);
        }
        return marks;
    }
};

ItemRecord constantLight(uint16_t index, float value, uint32_t extraFlags = 0) {
    ItemRecord r = record(DEV_GFP8, 0, KIND_LIGHT, index, FLAG_HAS_NUMBER | extraFlags);
    setLiteral(r, value);
    return r;
}

// A light reading an F32 at an offset of its own, where the simulator holds `raw`.
ItemRecord f32Light(uint16_t index, float raw, uint32_t extraFlags = 0) {
    const uint16_t offset = static_cast<uint16_t>(0x4000 + 8 * index);
    fake::setF32(offset, raw);
    return reading(record(DEV_GFP8, 0, KIND_LIGHT, index, extraFlags), offset, VT_F32);
}

// A record reading `valueType` at 0x4000, where the simulator holds these bytes.
ItemRecord holding(ItemRecord r, uint16_t valueType, const void* bytes, uint32_t size) {
    fake::setBytes(0x4000, bytes, size);
    return reading(r, 0x4000, valueType);
}

ItemRecord condition(int number, uint32_t flags) {
    return record(DEV_CONDITION, 0, KIND_CONDITION, static_cast<uint16_t>(number + 1), flags);
}

TEST_F(Evaluate, GatesPassOrFailByPowerVoltageAndFailureState) {
    struct Case {
        const char* name;
        uint32_t needs;
        uint16_t minVoltage;
        double bus;
        uint8_t power0, power1, failure;
        int applies;
    } cases[] = {
        {"NeedsV above the bus fails", FLAG_NEEDS_V, 13, 12.0, 1, 1, 0, 0},
        {"NeedsV equal passes", FLAG_NEEDS_V, 12, 12.0, 1, 1, 0, 1},
        {"NeedsV passes on the default 24", FLAG_NEEDS_V, 24, 24.0, 1, 1, 0, 1},
        {"NeedsB with battery off", FLAG_NEEDS_B, 0, 24.0, 0, 1, 0, 0},
        {"NeedsB with avionics off", FLAG_NEEDS_B, 0, 24.0, 1, 0, 0, 1},
        {"NeedsA with avionics off", FLAG_NEEDS_A, 0, 24.0, 1, 0, 0, 0},
        {"NeedsE with a failure", FLAG_NEEDS_E, 0, 24.0, 1, 1, 2, 0},
        {"no Needs ignores everything", 0, 30, 0.0, 0, 0, 1, 1},
    };
    for (const Case& c : cases) {
        ItemRecord light = constantLight(3, 1.0f, c.needs);
        light.minVoltage = c.minVoltage;
        fake::setF64(STATUS_VOLTAGE_OFFSET, c.bus);
        fake::setU8(STATUS_POWER_OFFSET, c.power0);
        fake::setU8(STATUS_POWER_OFFSET + 1, c.power1);
        fake::setU8(STATUS_FAILURE_OFFSET, c.failure);
        loadAndRead({light});
        EXPECT_EQ(evaluateItem(0, fake::nowMs), c.applies) << c.name;
    }
}

TEST_F(Evaluate, FailedGateBlanksOnEveryScanButAFailedConditionOnlyAfterOutput) {
    ItemRecord gated = constantLight(2, 1.0f, FLAG_NEEDS_B);
    ItemRecord unmetCondition = constantLight(4, 1.0f);
    unmetCondition.requiredConditions[0] = 9;  // no such condition
    fake::setU8(STATUS_POWER_OFFSET, 0);
    loadAndRead({gated, unmetCondition});
    EXPECT_EQ(markOf(0), "off");
    EXPECT_EQ(markOf(0), "off");
    EXPECT_EQ(outputCount(0), 0);
    EXPECT_EQ(markOf(1), "-");  // never sent, so nothing to blank

    ItemRecord brightness = record(DEV_GFP8, 0, KIND_BRIGHTNESS, 0, FLAG_HAS_NUMBER | FLAG_NEEDS_B);
    setLiteral(brightness, 5.0f);
    loadAndRead({brightness});
    EXPECT_EQ(evaluateItem(0, fake::nowMs), 0);
    EXPECT_EQ(outputCount(0), 3);  // brightness keeps the failed-gate count
    EXPECT_TRUE(fake::dlLog.empty());
}

TEST_F(Evaluate, ComparisonsUseHalfUnitBandsOnlyForEqualityAndNaNIsFalse) {
    struct Case {
        uint8_t op;
        float literal;
        double value;
        float truth;
    } cases[] = {
        {CMP_EQ, 5, 5.4, 1},     {CMP_EQ, 5, 4.6, 1},     {CMP_EQ, 5, 5.5, 0},
        {CMP_EQ, 5, 4.5, 0},     {CMP_LE, 5, 5.0, 1},     {CMP_LE, 5, 5.0001, 0},
        {CMP_LT, 5, 4.9999, 1},  {CMP_LT, 5, 5.0, 0},     {CMP_GT, 5, 5.0001, 1},
        {CMP_GE, 5, 5.0, 1},     {CMP_GE, 5, 4.9999, 0},  {CMP_NE, 5, 5.4, 0},
        {CMP_NE, 5, 5.5, 1},     {CMP_NONE, 5, 5.4, 0},   {CMP_NONE, 5, 4.5, 1},
        {CMP_NONE, 5, 5.5, 1},   {CMP_EQ, 5, NAN, 0},     {CMP_NE, 5, NAN, 0},
        {CMP_NONE, 5, NAN, 0},   {CMP_GE, 5, NAN, 0},
    };
    for (const Case& c : cases) {
        ItemRecord cond = holding(condition(0, FLAG_HAS_NUMBER), VT_F64, &c.value, 8);
        cond.compareOp = c.op;
        setLiteral(cond, c.literal);
        loadAndRead({cond});
        EXPECT_EQ(evaluateItem(0, fake::nowMs), 1);
        EXPECT_EQ(lastOf(0), c.truth) << "op " << int(c.op) << " value " << c.value;
    }
}

TEST_F(Evaluate, ConditionThatStopsApplyingIsFalseForLaterItems) {
    const uint8_t one = 1;
    ItemRecord base = holding(condition(0, 0), VT_U8, &one, 1);
    ItemRecord dependent = condition(1, FLAG_HAS_NUMBER);
    setLiteral(dependent, 1.0f);
    dependent.requiredConditions[0] = 1;  // C0
    ItemRecord light = constantLight(0, 1.0f);
    light.requiredConditions[0] = 2;  // C1
    loadAndRead({base, dependent, light});

    evaluateItem(0, fake::nowMs);
    evaluateItem(1, fake::nowMs);
    EXPECT_EQ(conditionTrue(2, 2), 1);
    EXPECT_EQ(evaluateItem(2, fake::nowMs), 1);

    fake::setU8(0x4000, 0);
    readValues();
    evaluateItem(0, fake::nowMs);
    EXPECT_EQ(evaluateItem(1, fake::nowMs), 0);
    EXPECT_EQ(conditionTrue(2, 2), 0);
    EXPECT_EQ(evaluateItem(2, fake::nowMs), 0);
}

TEST_F(Evaluate, ReferencesDownwardOrToMissingConditionsAreFalse) {
    ItemRecord first = condition(0, FLAG_HAS_NUMBER);
    setLiteral(first, 1.0f);
    ItemRecord second = condition(1, FLAG_HAS_NUMBER);
    setLiteral(second, 1.0f);
    ItemRecord excludedMissing = constantLight(1, 1.0f);
    excludedMissing.excludedConditions[0] = 9;
    loadAndRead({first, second, excludedMissing});
    evaluateItem(0, fake::nowMs);
    evaluateItem(1, fake::nowMs);
    EXPECT_EQ(conditionTrue(2, 1), 0);  // C1 stands below the asker at position 1
    EXPECT_EQ(conditionTrue(2, 2), 1);
    EXPECT_EQ(conditionTrue(9, 3), 0);
    EXPECT_EQ(conditionTrue(1, 0), 0);
    EXPECT_EQ(evaluateItem(2, fake::nowMs), 1);  // a missing excluded condition is no obstacle
}

// A reference counts in whichever slot of either list it stands, the others empty.
TEST_F(Evaluate, AReferenceInAnySlotOfEitherListIsChecked) {
    for (int slot : {0, 3, 7}) {
        for (bool excluded : {false, true}) {
            ItemRecord held = condition(0, FLAG_HAS_NUMBER);
            setLiteral(held, 1.0f);
            ItemRecord light = constantLight(1, 1.0f);
            (excluded ? light.excludedConditions : light.requiredConditions)[slot] = 1;  // C0
            loadAndRead({held, light});
            evaluateItem(0, fake::nowMs);
            EXPECT_EQ(evaluateItem(1, fake::nowMs), excluded ? 0 : 1)
                << "slot " << slot << (excluded ? " excluded" : " required");
        }
    }
}

TEST_F(Evaluate, BrightnessIsClampedAndRounded) {
    struct Case {
        float value;
        const char* sent;
    } cases[] = {{17.3f, "GFP8_SetBrightness 0 15"},
                 {-2.0f, "GFP8_SetBrightness 0 0"},
                 {7.5f, "GFP8_SetBrightness 0 8"},
                 {7.49f, "GFP8_SetBrightness 0 7"},
                 {NAN, "GFP8_SetBrightness 0 0"}};
    for (const Case& c : cases) {
        ItemRecord b = record(DEV_GFP8, 0, KIND_BRIGHTNESS, 0, FLAG_HAS_NUMBER);
        setLiteral(b, c.value);
        loadAndRead({b});
        fake::clearDlLog();
        evaluateItem(0, fake::nowMs);
        // The level itself, never first the 0 a fresh record starts at: the panel would blink.
        ASSERT_EQ(fake::dlLog.size(), 1u);
        EXPECT_EQ(fake::dlLog[0], c.sent) << c.value;
    }
}

TEST_F(Evaluate, BrightnessFromAStringOrRadioTypeIsClampedToo) {
    // The type byte from the simulator makes the value raw bytes; whatever they read as,
    // the level stays within 0..15: sent by the two evaluations after a load, and by the
    // refresh a second after the last. Read at the NAV radio offset, whose further bytes
    // complete the float whatever size the type reads.
    const struct {
        uint16_t valueType;
        float raw;
        int level;
    } cases[] = {
        {VT_STR, 1000.0f, 15}, {VT_R0, -3.0f, 0}, {VT_R1, INFINITY, 15},
        {VT_R2, 7.6f, 8},      {VT_STR, NAN, 0},  {200, 16.0f, 15},
    };
    for (const auto& c : cases) {
        uint8_t bytes[4];
        std::memcpy(bytes, &c.raw, 4);
        fake::setBytes(RADIO_NAV_OFFSET, bytes, 2);
        fake::setBytes(RADIO_NAV_EXTRA_OFFSET, bytes + 2, 2);
        loadAndRead({reading(record(DEV_GFP8, 0, KIND_BRIGHTNESS, 0, 0), RADIO_NAV_OFFSET,
                             c.valueType)});
        fake::clearDlLog();
        for (int n = 0; n < 3; ++n) {
            evaluateSending(0, fake::nowMs);
            fake::advance(1100);
        }
        const std::string sent = "GFP8_SetBrightness 0 " + std::to_string(c.level);
        EXPECT_EQ(fake::dlLog, (std::vector<std::string>{sent, sent, sent}))
            << "type " << c.valueType << " raw " << c.raw;
    }
}

TEST_F(Evaluate, UnchangedBrightnessIsSentAgainAfterASecond) {
    ItemRecord b = record(DEV_GFP8, 0, KIND_BRIGHTNESS, 0, FLAG_HAS_NUMBER);
    setLiteral(b, 6.0f);
    loadAndRead({b});
    evaluateItem(0, fake::nowMs);
    fake::advance(220);
    evaluateItem(0, fake::nowMs);  // second completed evaluation still sends
    fake::clearDlLog();
    for (int n = 0; n < 4; ++n) {
        fake::advance(220);
        evaluateItem(0, fake::nowMs);
    }
    EXPECT_TRUE(fake::dlLog.empty()) << fake::dlLogText();
    fake::advance(220);  // 1100 ms since the last send
    evaluateItem(0, fake::nowMs);
    EXPECT_EQ(fake::dlLogText(), "GFP8_SetBrightness 0 6");
}

TEST_F(Evaluate, FastFlashTogglesEveryScanAndSlowEverySecond) {
    loadAndRead({constantLight(5, 1.0f, FLAG_FLASH_FAST)});
    EXPECT_EQ(marksEvery(0, 6, 220),
              (std::vector<std::string>{"on", "off", "on", "off", "on", "off"}));
    loadAndRead({constantLight(5, 1.0f, FLAG_FLASH_SLOW)});
    EXPECT_EQ(marksEvery(0, 10, 220), (std::vector<std::string>{"on", "on", "-", "off", "-",
                                                               "on", "-", "off", "-", "on"}));
}

// A flashing light that stops applying in its dark phase starts afresh when it applies
// again: lit for a whole period first, not for two.
TEST_F(Evaluate, FlashThatAppliesAgainStartsWithOneLitPhase) {
    const uint8_t holds = 1;
    ItemRecord gate = holding(condition(0, 0), VT_U8, &holds, 1);
    ItemRecord light = constantLight(5, 1.0f, FLAG_FLASH_FAST);
    light.requiredConditions[0] = 1;  // C0
    loadAndRead({gate, light});
    auto scan = [this](uint8_t condition) {
        fake::setU8(0x4000, condition);
        readValues();
        evaluateItem(0, fake::nowMs);
        const std::string mark = markOf(1);
        fake::advance(220);
        return mark;
    };
    std::vector<std::string> marks;
    for (uint8_t condition : {1, 1, 0, 1, 1, 1}) marks.push_back(scan(condition));
    EXPECT_EQ(marks, (std::vector<std::string>{"on", "off", "off", "on", "off", "on"}));
}

TEST_F(Evaluate, FlashingAndBrightnessRefreshGoByTheScanTimeNotTheClock) {
    fake::nowMs = 50000;  // the clock says something else throughout
    loadAndRead({constantLight(5, 1.0f, FLAG_FLASH_FAST)});
    EXPECT_EQ(markAt(0, 10000), "on");
    EXPECT_EQ(markAt(0, 10220), "off");
    EXPECT_EQ(markAt(0, 10440), "on");

    ItemRecord b = record(DEV_GFP8, 0, KIND_BRIGHTNESS, 0, FLAG_HAS_NUMBER);
    setLiteral(b, 6.0f);
    loadAndRead({b});
    fake::clearDlLog();
    evaluateSending(0, 10000);
    evaluateSending(0, 10220);  // the second evaluation sends, but no refresh yet
    evaluateSending(0, 10440);
    evaluateSending(0, 11220);  // a second after the last send, by the scan's time
    EXPECT_EQ(fake::dlLog, (std::vector<std::string>{"GFP8_SetBrightness 0 6",
                                                     "GFP8_SetBrightness 0 6",
                                                     "GFP8_SetBrightness 0 6"}));
}

TEST_F(Evaluate, SteadyTimedOffLightGoesOffAfterItsPeriodAndRestartsWhenSwitchedAgain) {
    ItemRecord light = f32Light(1, 1.0f, FLAG_TIMED_OFF);
    light.timerPeriodMs = 5000;
    loadAndRead({light});
    EXPECT_EQ(markOf(0), "on");
    fake::advance(220);
    EXPECT_EQ(markOf(0), "on");
    fake::advance(4560);  // 4780 ms after it came on
    EXPECT_EQ(markOf(0), "-");
    fake::advance(220);
    EXPECT_EQ(markOf(0), "off");
    fake::advance(220);
    EXPECT_EQ(markOf(0), "off");

    simF32(0, 0.0f);
    fake::advance(220);
    EXPECT_EQ(markOf(0), "off");
    EXPECT_EQ(stateOf(0).timerDeadlineMs, 0u);
    simF32(0, 1.0f);
    fake::advance(220);
    EXPECT_EQ(markOf(0), "on");
    fake::advance(4900);
    EXPECT_EQ(markOf(0), "-");
    fake::advance(220);
    EXPECT_EQ(markOf(0), "off");
}

TEST_F(Evaluate, TimedLightBackOnAfterItsDeadlineExpiresAtTheNextQuietScan) {
    ItemRecord light = f32Light(1, 1.0f, FLAG_TIMED_OFF);
    light.timerPeriodMs = 2000;
    loadAndRead({light});
    markOf(0);
    fake::advance(220);
    markOf(0);
    simF32(0, 0.0f);
    fake::advance(220);
    EXPECT_EQ(markOf(0), "off");
    fake::advance(3000);  // past the deadline while off
    simF32(0, 1.0f);
    EXPECT_EQ(markOf(0), "on");
    fake::advance(220);
    EXPECT_EQ(markOf(0), "off");  // not a new period: the old deadline has passed
}

TEST_F(Evaluate, TimedOffLightKeepsItsPeriodAcrossTheTickCounterWrap) {
    // On at `start` for 5 s, looked at by the scans of its first two evaluations, one
    // more, one just before its time is up and one just after; then switched off, which
    // frees its timer.
    const struct {
        const char* name;
        uint32_t start;
    } cases[] = {
        {"within one wrap", 10000},
        {"wrap early in the period", 0u - 1000},
        {"deadline just after the wrap", 0u - 4990},
        {"deadline on the wrap itself", 0u - 5000},
        {"deadline just before the wrap, next scan after it", 0u - 5010},
    };
    for (const auto& c : cases) {
        ItemRecord light = f32Light(1, 1.0f, FLAG_TIMED_OFF);
        light.timerPeriodMs = 5000;
        loadAndRead({light});
        std::vector<std::string> marks;
        for (uint32_t at : {0u, 220u, 440u, 4780u, 5220u})
            marks.push_back(markAt(0, c.start + at));
        EXPECT_EQ(marks, (std::vector<std::string>{"on", "on", "-", "-", "off"})) << c.name;
        simF32(0, 0.0f);
        EXPECT_EQ(markAt(0, c.start + 5440), "off") << c.name;
        EXPECT_EQ(stateOf(0).timerDeadlineMs, 0u) << c.name;
    }
}

TEST_F(Evaluate, FlashThenSteadyOnStopsFlashingAtTheDeadline) {
    ItemRecord light = constantLight(1, 1.0f, FLAG_TIMED_ON | FLAG_FLASH_FAST);
    light.timerPeriodMs = 1000;
    loadAndRead({light});
    EXPECT_EQ(marksEvery(0, 9, 220), (std::vector<std::string>{"on", "off", "on", "off", "on",
                                                              "off", "on", "on", "on"}));
    EXPECT_EQ(stateOf(0).lastToggleMs, 0u);
}

TEST_F(Evaluate, TextMatchAtLineStartAfterControlCharOrAnywhere) {
    struct Case {
        const char* message;
        const char* word;
        bool anywhere;
        float truth;
    } cases[] = {
        {"GEAR DOWN", "GEAR", false, 1},
        {"CHECK\nGEAR", "GEAR", false, 1},
        {"LOWER GEAR", "GEAR", false, 0},
        {"LOWER GEAR", "GEAR", true, 1},
        {"SET GEAR\nGEAR", "GEAR", false, 0},  // only the first occurrence counts
        {"X\xC8GEAR", "GEAR", false, 1},       // a byte of 128 or more counts as control
        {"GEA", "GEAR", true, 0},
        {"ANYTHING", "", true, 0},
    };
    for (const Case& c : cases) {
        ItemRecord r = condition(0, FLAG_TEXT_MATCH | (c.anywhere ? uint32_t(FLAG_TEXT_MATCH_ANYWHERE) : 0u));
        setLiteralText(r, c.word);
        char message[STATUS_MESSAGE_SIZE] = {};
        std::strcpy(message, c.message);
        fake::setBytes(STATUS_MESSAGE_OFFSET, message, sizeof message);
        loadAndRead({r});
        evaluateItem(0, fake::nowMs);
        EXPECT_EQ(lastOf(0), c.truth) << c.message;
    }
}

TEST_F(Evaluate, TextMatchStaysInsideUnterminatedLiteralAndMessage) {
    ItemRecord r = condition(0, FLAG_TEXT_MATCH | FLAG_TEXT_MATCH_ANYWHERE);
    std::memcpy(r.literal, "ABCDEFGH", 8);  // eight characters, no terminator
    char message[STATUS_MESSAGE_SIZE];
    std::memset(message, 'x', sizeof message);
    std::memcpy(message + 120, "ABCDEFGH", 8);  // ends at the last byte
    fake::setBytes(STATUS_MESSAGE_OFFSET, message, sizeof message);
    loadAndRead({r});
    evaluateItem(0, fake::nowMs);
    EXPECT_EQ(lastOf(0), 1.0f);
    fake::setBytes(STATUS_MESSAGE_OFFSET + 120, "xABCDEFG", 8);  // would need a 129th byte
    readValues();
    evaluateItem(0, fake::nowMs);
    EXPECT_EQ(lastOf(0), 0.0f);
}

TEST_F(Evaluate, ByteTypesSendDisplaysOnAnyByteChangeAndLightsOnlyAtFirst) {
    ItemRecord display =
        holding(record(DEV_GFMCPPRO, 0, KIND_DISPLAY, 0, 0), VT_STR, "ABCDEFGH", 8);
    // A type byte from the simulator beyond the table.
    ItemRecord light = f32Light(2, 2.0f);
    light.valueType = 200;
    loadAndRead({display, light});

    for (int n = 0; n < 3; ++n) evaluateSending(0, fake::nowMs);
    EXPECT_EQ(fake::dlLog.size(), 2u) << fake::dlLogText();
    fake::setU8(0x4000 + 7, 'Z');
    readValues();
    fake::clearDlLog();
    evaluateItem(0, fake::nowMs);
    EXPECT_NE(fake::dlLogText().find("ABCDEFGZ"), std::string::npos) << fake::dlLogText();

    EXPECT_EQ(markOf(1), "on");
    EXPECT_EQ(markOf(1), "on");
    simF32(1, 0.0f);
    EXPECT_EQ(markOf(1), "-");  // never found changed after the first two
}

TEST_F(Evaluate, DecodingMasksAndScaling) {
    struct Case {
        const char* name;
        uint16_t valueType;
        uint32_t raw;
        uint32_t mask;
        float multiplier, divisor;
        float shown;
    } cases[] = {
        {"U32 all ones", VT_U32, 0xFFFFFFFFu, 0, 0, 0, 4294967295.0f},
        {"S32 all ones", VT_S32, 0xFFFFFFFFu, 0, 0, 0, -1.0f},
        {"S8", VT_S8, 0xFF, 0, 0, 0, -1.0f},
        {"S16", VT_S16, 0x8000, 0, 0, 0, -32768.0f},
        {"default is U16", VT_DEFAULT, 0x12348000u, 0, 0, 0, 32768.0f},
        {"mask on an integer", VT_U16, 0x1234, 0x00F0, 0, 0, 0x30},
        {"mask ignored on F32", VT_F32, 0x3FC00000u, 0xFF, 0, 0, 1.5f},
        {"multiplier then divisor", VT_U8, 10, 0, 3, 4, 7.5f},
        {"zero multiplier is none", VT_U8, 10, 0, 0, 2, 5.0f},
    };
    for (const Case& c : cases) {
        ItemRecord d = holding(record(DEV_GFMCPPRO, 0, KIND_DISPLAY, 0, 0), c.valueType, &c.raw, 4);
        d.mask = c.mask;
        d.multiplier = c.multiplier;
        d.divisor = c.divisor;
        loadAndRead({d});
        evaluateItem(0, fake::nowMs);
        EXPECT_EQ(lastOf(0), c.shown) << c.name;
    }
}

TEST_F(Evaluate, DisplayLeavesNaNWhenTheValueReturns) {
    const float nan = NAN;
    ItemRecord d = holding(record(DEV_GFMCPPRO, 0, KIND_DISPLAY, 0, 0), VT_F32, &nan, 4);
    loadAndRead({d});
    evaluateItem(0, fake::nowMs);
    evaluateItem(0, fake::nowMs);
    simF32(0, 42.0f);
    fake::clearDlLog();
    evaluateItem(0, fake::nowMs);
    EXPECT_EQ(lastOf(0), 42.0f);
    EXPECT_NE(fake::dlLogText().find("42"), std::string::npos) << fake::dlLogText();
}

TEST_F(Evaluate, HugeF64OnADisplayOverflowsWithoutUndefinedConversion) {
    const double huge = 1e300;
    ItemRecord d = holding(record(DEV_GFMCPPRO, 0, KIND_DISPLAY, 0, 0), VT_F64, &huge, 8);
    loadAndRead({d});
    evaluateItem(0, fake::nowMs);
    EXPECT_TRUE(std::isinf(lastOf(0)));
    EXPECT_NE(fake::dlLogText().find(testPattern), std::string::npos) << fake::dlLogText();
}

TEST_F(Evaluate, SteadyF64DisplayIsSentOnceThoughAFloatCannotHoldIt) {
    // Held for many scans after the two sends of a load, then changed to `next` and held
    // again: one call. `last` keeps a float, which none of these values fits exactly.
    const struct {
        double value;
        int16_t displayFormat;
        double next;
    } cases[] = {
        {123456.789, 64, 123457.789},  // four decimals, finer than a float is there
        {1234567.89, 12, 1234568.89},
        {16777217.0, 0, 16777219.0},
        {1e300, 0, 42.0},  // beyond the float range: shown as overflow
        {-1e300, 0, 42.0},
    };
    for (const auto& c : cases) {
        ItemRecord d = holding(record(DEV_GFMCPPRO, 0, KIND_DISPLAY, 0, 0), VT_F64, &c.value, 8);
        d.displayFormat = c.displayFormat;
        loadAndRead({d});
        evaluateItem(0, fake::nowMs);
        evaluateItem(0, fake::nowMs);
        fake::clearDlLog();
        for (int n = 0; n < 50; ++n) evaluateSending(0, fake::nowMs);
        simF64(0, c.next);
        for (int n = 0; n < 50; ++n) evaluateSending(0, fake::nowMs);
        EXPECT_EQ(fake::dlLog.size(), 1u) << c.value << ":\n" << fake::dlLogText();
    }
}

}  // namespace

TEST_F(Evaluate, ConstantTextOnANumericDisplayIsSentOnlyAfterALoad) {
    // The literal's bytes stand in `last` once shown; read as a float they are far from
    // the value 0 that the text gives, which must not count as a change on every scan.
    ItemRecord text = record(DEV_GF45, 0, KIND_DISPLAY, 0, FLAG_HAS_STRING);
    setLiteralText(text, "PLUG");
    loadAndRead({text});
    for (int n = 0; n < 5; ++n) {
        fake::advance(220);
        evaluateSending(0, fake::nowMs);
    }
    EXPECT_EQ(fake::dlLog.size(), 2u) << fake::dlLogText();
    EXPECT_NE(fake::dlLogText().find("\"PLUG\""), std::string::npos) << fake::dlLogText();
}
