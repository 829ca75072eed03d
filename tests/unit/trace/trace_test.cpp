// The evaluation's optional trace: where each evaluation ended and with what values, and
// that keeping one changes nothing the panels are sent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "eval/trace.h"
#include "eval/eval_fixture.h"

using namespace evaltest;

namespace {

class Trace : public BoundEvaluation {
protected:
    std::vector<ItemTrace> items;
    EvalTrace trace{};

    void TearDown() override {
        setEvalTrace(nullptr);
        BoundEvaluation::TearDown();
    }
    // Traces the table as it stands, all but the last `untraced` records.
    void traceTable(int32_t untraced = 0) {
        items.assign(static_cast<size_t>(itemCount()), ItemTrace{});
        trace = EvalTrace{items.data(), itemCount() - untraced, 1};
        setEvalTrace(&trace);
    }
    void evaluateAll() {
        ++trace.scan;
        for (int32_t i = 0; i < itemCount(); ++i) evaluateItem(i, fake::nowMs);
    }
};

ItemRecord condition(int number, float literal) {
    ItemRecord r = record(DEV_CONDITION, 0, KIND_CONDITION, static_cast<uint16_t>(number + 1),
                          FLAG_HAS_NUMBER);
    setLiteral(r, literal);
    return r;
}

ItemRecord light(uint16_t index, uint32_t flags) {
    ItemRecord r = record(DEV_GFP8, 0, KIND_LIGHT, index, flags);
    setLiteral(r, 1.0f);
    return r;
}

TEST_F(Trace, NamesWhereEachEvaluationEndedAndWithWhatValues) {
    ItemRecord gated = light(0, FLAG_HAS_NUMBER | FLAG_NEEDS_V | FLAG_NEEDS_A | FLAG_NEEDS_B);
    gated.minVoltage = 24;
    ItemRecord required = light(1, FLAG_HAS_NUMBER);
    required.requiredConditions[3] = 1;  // C0, false
    ItemRecord excluded = light(2, FLAG_HAS_NUMBER);
    excluded.requiredConditions[0] = 2;  // C1, true
    excluded.excludedConditions[1] = 2;  // !C1
    ItemRecord compared = reading(light(3, FLAG_HAS_NUMBER), 0x4000, VT_U16);
    compared.mask = 0x0F00;
    compared.multiplier = 2;
    compared.divisor = 4;
    compared.compareOp = CMP_EQ;
    setLiteral(compared, 1536.0f);
    fake::setU16(0x4000, 0x0C34);
    ItemRecord matched = light(4, FLAG_TEXT_MATCH | FLAG_TEXT_MATCH_ANYWHERE);
    setLiteralText(matched, "STALL");
    ItemRecord display = reading(record(DEV_GFMCP, 0, KIND_DISPLAY, 1, 0), 0x4002, VT_U16);
    display.displayFormat = 4;
    fake::setU16(0x4002, 250);
    fake::setText(STATUS_MESSAGE_OFFSET, "** STALL **");
    fake::setF64(STATUS_VOLTAGE_OFFSET, 22.0);
    fake::setU8(STATUS_POWER_OFFSET + 1, 0);
    loadAndRead({condition(0, 0.0f), condition(1, 1.0f), gated, required, excluded, compared,
                 matched, display});
    traceTable();
    evaluateAll();

    const ItemTrace& g = items[2];
    EXPECT_EQ(g.end.stop, TRACE_GATE_CLOSED);
    EXPECT_EQ(g.end.closedGates, uint32_t(FLAG_NEEDS_V | FLAG_NEEDS_A));  // every closed gate
    EXPECT_EQ(items[3].end.stop, TRACE_REFERENCE_FAILED);
    EXPECT_EQ(items[3].end.failedReference, 1);
    EXPECT_FALSE(items[3].end.failedExcluded);
    EXPECT_EQ(items[4].end.failedReference, 2);
    EXPECT_TRUE(items[4].end.failedExcluded);

    const ItemTrace& c = items[5];
    EXPECT_EQ(c.end.stop, TRACE_DONE);
    EXPECT_EQ(c.raw[0], 0x34);  // as read, before the mask
    EXPECT_TRUE(c.decoded.known);
    EXPECT_EQ(c.decoded.value, 3072.0);
    EXPECT_EQ(c.scaled.value, 1536.0);
    EXPECT_EQ(c.value.value, 1.0f);
    EXPECT_TRUE(c.sent);
    EXPECT_FALSE(items[6].decoded.known);  // a text match reads no number
    EXPECT_EQ(items[6].value.value, 1.0f);
    EXPECT_EQ(std::string(items[7].displayText), "0250");
    EXPECT_EQ(items[7].scan, 2u);

    // Sent texts outlast the scans that do not send (a display sends twice after a load).
    evaluateAll();
    evaluateAll();
    EXPECT_FALSE(items[7].sent);
    EXPECT_EQ(std::string(items[7].displayText), "0250");
    EXPECT_EQ(items[7].scan, 4u);
}

TEST_F(Trace, FlashPhasesAndTimedEndsAreNamed) {
    ItemRecord flashing = light(0, FLAG_HAS_NUMBER | FLAG_FLASH_FAST);
    ItemRecord timed = light(1, FLAG_HAS_NUMBER | FLAG_TIMED_OFF);
    timed.timerPeriodMs = 500;
    loadAndRead({flashing, timed});
    traceTable();
    std::vector<std::string> seen;
    for (int n = 0; n < 4; ++n) {
        evaluateAll();
        seen.push_back(std::to_string(items[0].end.stop) + (items[0].flashing ? "f" : "") + " " +
                       std::to_string(items[1].end.stop));
        fake::advance(200);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"5 5", "3f 5", "5f 5", "3f 4"}));
}

TEST_F(Trace, KeepingATraceChangesNothingThatIsSent) {
    std::vector<std::string> logs;
    for (bool traced : {false, true}) {
        ItemRecord flashing = light(0, FLAG_HAS_NUMBER | FLAG_FLASH_SLOW);
        ItemRecord gated = light(1, FLAG_HAS_NUMBER | FLAG_NEEDS_B);
        ItemRecord display = record(DEV_GFMCP, 0, KIND_DISPLAY, 0, FLAG_HAS_NUMBER);
        setLiteral(display, 12.5f);
        display.displayFormat = 21;
        loadTable({condition(0, 1.0f), flashing, gated, display});
        setEvalTrace(nullptr);
        if (traced) traceTable(1);  // the last record lies beyond the trace
        fake::setFakeIndicators(DEV_GFP8, 0, 0);
        countDevices();  // both runs start on dark units the devices layer knows nothing of
        fake::clearDlLog();
        for (int n = 0; n < 6; ++n) {
            fake::setU8(STATUS_POWER_OFFSET, n % 3 ? 1 : 0);
            readValues();
            clearLightMasks();
            evaluateAll();
            flushLights(0, DEV_GFP8);
            fake::advance(220);
        }
        logs.push_back(fake::dlLogText());
    }
    EXPECT_EQ(logs[0], logs[1]);
    EXPECT_EQ(items[3].scan, 0u);
}

}  // namespace
