// The scan cycle against the in-process interface module and the fake panel library:
// exchanges per tick, the extra and indirect reads, alternatives of one key, flushes,
// the control byte, link failure with the watchdog, and a full request block.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "eval_fixture.h"
#include "fake_platform/fake_dl.h"
#include "fake_platform/fake_ipc.h"
#include "fake_platform/fake_loop.h"
#include "fake_platform/fake_memory.h"
#include "fake_platform/fake_time.h"
#include "link/link.h"
#include "shell/shell.h"

using namespace evaltest;

namespace {

// (offset, size) of every read record of every exchange, as the module received them.
std::vector<std::vector<std::pair<uint32_t, uint32_t>>> exchangedReads;

uint32_t u32At(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void observeBlock(const uint8_t* block, uint32_t size) {
    std::vector<std::pair<uint32_t, uint32_t>> reads;
    uint32_t at = 0;
    while (at + 16 <= size) {
        uint32_t type = u32At(block + at);
        if (type == 0) break;
        uint32_t length = u32At(block + at + 8);
        if (type == 1) reads.emplace_back(u32At(block + at + 4), length);
        at += (type == 1 ? 16 : 12) + length;
    }
    exchangedReads.push_back(reads);
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class Scan : public ::testing::Test {
protected:
    void SetUp() override {
        fake::resetTime();
        fake::nowMs = 20000;
        fake::resetLoop();
        fake::resetIpc();
        fake::installModule("FS98MAIN");
        fake::installFakeLibrary();
        fake::setFakeUnits(DEV_GFP8, 2);
        fake::setFakeUnits(DEV_GF166, 1);
        ASSERT_TRUE(bindDeviceLibrary(nullptr));
        countDevices();
        resetScanState();
        resetShell();
        resetLinkStatus();
        connect();
        exchangedReads.clear();
        fake::module().exchanges = 0;  // the handshake is not ours to count
        fake::ipcBlockObserver = observeBlock;
        fake::clearDlLog();
    }
    void TearDown() override {
        fake::ipcBlockObserver = nullptr;
        resetLinkStatus();
        resetScanState();
        freeItemTable();
        unbindDeviceLibrary();
    }
    void connect() {
        linkSupervisionTick();
        ASSERT_TRUE(linkStatus().connected);
    }
    void tick(uint32_t advanceMs = 220) {
        scanTick();
        fake::advance(advanceMs);
    }
};

ItemRecord offsetItem(int32_t type, uint8_t unit, uint8_t kind, uint16_t index, uint16_t offset,
                      uint16_t valueType, uint32_t extraFlags = 0) {
    return reading(record(type, unit, kind, index, extraFlags), offset, valueType);
}

// Fills the table with `count` condition records reading an F64 at 0x1000 each.
void loadConditions(int32_t count) {
    resetItemTable();
    for (int32_t i = 0; i < count; ++i) {
        storeItem(i, offsetItem(DEV_CONDITION, 0, KIND_CONDITION, static_cast<uint16_t>(i % 255 + 1),
                                0x1000, VT_F64));
        acceptItem();
    }
}

ItemRecord constantLight(uint8_t unit, uint16_t index, float value) {
    ItemRecord r = record(DEV_GFP8, unit, KIND_LIGHT, index, FLAG_HAS_NUMBER);
    setLiteral(r, value);
    return r;
}

TEST_F(Scan, LinkDownOnlySetsTitleAndWatchdogBlanksAfterFiveSeconds) {
    loadTable({constantLight(0, 1, 1.0f)});
    const uint32_t lastGood = fake::nowMs;
    tick(0);  // sent while the link was up
    ASSERT_EQ(outputCount(0), 1);
    linkDrop();
    fake::clearDlLog();
    fake::titles.clear();
    exchangedReads.clear();
    tick();
    tick();
    EXPECT_EQ(fake::titles, (std::vector<std::string>{"Norvalume: waiting"}));
    EXPECT_TRUE(fake::dlLog.empty());  // still within 5 s of the last exchange
    fake::nowMs = lastGood + 5001;
    onMainWindowTimer(SCAN_TIMER_ID);  // the shell's tick: the scan, then the timer again
    EXPECT_EQ(fake::dlLogText(), "GFP8_GetIndicators 0\nGFP8_SetIndicators 0 0x0");
    EXPECT_EQ(outputCount(0), 0);  // sent again once the link is back
    EXPECT_TRUE(exchangedReads.empty());
    ASSERT_FALSE(fake::timerOps.empty());
    EXPECT_TRUE(fake::timerOps.back().set);
    EXPECT_EQ(fake::timerOps.back().id, SCAN_TIMER_ID);
    EXPECT_EQ(fake::timerOps.back().ms, 220u);
}

TEST_F(Scan, EmptyTableMakesNoLinkTraffic) {
    loadTable({});
    tick();
    EXPECT_EQ(fake::titles, (std::vector<std::string>{"Norvalume: connected"}));
    EXPECT_EQ(fake::module().exchanges, 0u);
}

TEST_F(Scan, OneExchangePerTickWithoutIndirectItemsAndTheLinkStaysUp) {
    loadTable({offsetItem(DEV_GFP8, 0, KIND_LIGHT, 0, 0x0BC4, VT_U8)});
    tick();
    tick();
    EXPECT_EQ(fake::module().exchanges, 2u);
    EXPECT_TRUE(linkStatus().connected);
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {0x330C, 1}, {0x2834, 8}, {0x3102, 2}, {0x0B6A, 1}, {0x0BC4, 1}};
    EXPECT_EQ(exchangedReads[0], expected);
}

TEST_F(Scan, MessageTextIsReadOnlyWhileATextMatchIsLoaded) {
    ItemRecord match = record(DEV_GFP8, 0, KIND_LIGHT, 0, FLAG_TEXT_MATCH);
    setLiteralText(match, "GEAR");
    loadTable({match});
    ASSERT_TRUE(textMatchUsed());
    fake::setText(0x3380, "GEAR UNSAFE");
    tick();
    EXPECT_EQ(exchangedReads[0][4], std::make_pair(0x3380u, 128u));
    EXPECT_STREQ(simStatus().messageText, "GEAR UNSAFE");

    loadTable({constantLight(0, 0, 1.0f)});
    fake::setText(0x3380, "OTHER");
    tick();
    EXPECT_EQ(exchangedReads[1].size(), 4u);
    EXPECT_STREQ(simStatus().messageText, "GEAR UNSAFE");  // kept, not reset
}

TEST_F(Scan, RadioOffsetsGetTheirExtraBytesAndTypeBytesComeFromTheSimulator) {
    ItemRecord nav = offsetItem(DEV_GFP8, 0, KIND_DISPLAY, 0, 0x034C, VT_U16);
    ItemRecord com = offsetItem(DEV_GFP8, 0, KIND_DISPLAY, 1, 0x02D4, VT_R1);
    ItemRecord typed = offsetItem(DEV_GFP8, 0, KIND_DISPLAY, 2, 0x0500, VT_U8, FLAG_TYPE_FROM_SIM);
    typed.typeOffset = 0x0600;
    loadTable({nav, com, typed});
    fake::setU16(0x034C, 0x2345);
    fake::setU16(0x0356, 0x0105);
    fake::setU16(0x02D4, 0x1190);
    fake::setU16(0x02D6, 0x0302);
    fake::setU8(0x0600, VT_F32);
    tick();
    const uint8_t navRaw[4] = {0x45, 0x23, 0x05, 0x01};
    const uint8_t comRaw[4] = {0x90, 0x11, 0x02, 0x03};
    EXPECT_EQ(std::memcmp(stateOf(0).raw, navRaw, 4), 0);
    EXPECT_EQ(std::memcmp(stateOf(1).raw, comRaw, 4), 0);
    EXPECT_EQ(stateOf(2).valueType, VT_F32);
    EXPECT_EQ(itemTable()[2].valueType, VT_U8);  // the line stays as loaded
    EXPECT_EQ(exchangedReads[0].back(), std::make_pair(0x0600u, 1u));
}

TEST_F(Scan, IndirectItemsReadThroughTheOffsetInASecondExchange) {
    ItemRecord indirect = offsetItem(DEV_GFP8, 0, KIND_DISPLAY, 0, 0x0100, VT_U32, FLAG_INDIRECT_OFFSET);
    ItemRecord toRadio = offsetItem(DEV_GFP8, 0, KIND_DISPLAY, 1, 0x0102, VT_U16, FLAG_INDIRECT_OFFSET);
    ItemRecord wild = offsetItem(DEV_GFP8, 0, KIND_DISPLAY, 2, 0x0104, 0x00C8, FLAG_INDIRECT_OFFSET);
    loadTable({indirect, toRadio, wild});
    fake::setU16(0x0100, 0x0ABC);
    fake::setU32(0x0ABC, 0xDEADBEEF);
    fake::setU16(0x0102, 0x034C);
    fake::setU16(0x034C, 0x2345);
    fake::setU16(0x0356, 0x0105);
    fake::setU16(0x0104, 0x0C00);
    tick();
    EXPECT_EQ(fake::module().exchanges, 1u + 1u);
    EXPECT_TRUE(linkStatus().connected);
    EXPECT_EQ(u32At(stateOf(0).raw), 0xDEADBEEFu);
    EXPECT_EQ(u32At(stateOf(1).raw), 0x01052345u);
    const std::vector<std::pair<uint32_t, uint32_t>> second = {
        {0x0ABC, 4}, {0x034C, 2}, {0x0356, 2}, {0x0C00, 8}};  // a type past the table reads 8
    EXPECT_EQ(exchangedReads[1], second);
}

TEST_F(Scan, IndirectItemsAmongDirectOnesAreFollowedFromTheFirstOfThem) {
    ItemRecord direct = offsetItem(DEV_GFP8, 0, KIND_LIGHT, 0, 0x0200, VT_U8);
    ItemRecord early = offsetItem(DEV_GFP8, 0, KIND_DISPLAY, 1, 0x0100, VT_U16, FLAG_INDIRECT_OFFSET);
    ItemRecord late = offsetItem(DEV_GFP8, 0, KIND_DISPLAY, 2, 0x0102, VT_U8, FLAG_INDIRECT_OFFSET);
    loadTable({direct, early, direct, late, direct});
    fake::setU16(0x0100, 0x0A00);
    fake::setU16(0x0102, 0x0B00);
    tick();
    ASSERT_EQ(exchangedReads.size(), 2u);
    const std::vector<std::pair<uint32_t, uint32_t>> second = {{0x0A00, 2}, {0x0B00, 1}};
    EXPECT_EQ(exchangedReads[1], second);
}

TEST_F(Scan, SameKeyLinesAreAlternativesAndTheFirstThatAppliesWins) {
    ItemRecord c0 = offsetItem(DEV_CONDITION, 0, KIND_CONDITION, 1, 0x0700, VT_U8);
    ItemRecord c1 = offsetItem(DEV_CONDITION, 0, KIND_CONDITION, 2, 0x0701, VT_U8);
    ItemRecord first = constantLight(0, 3, 1.0f);
    first.requiredConditions[0] = 1;
    ItemRecord second = constantLight(0, 3, 0.0f);
    second.requiredConditions[0] = 2;
    ItemRecord third = constantLight(0, 3, 1.0f);
    loadTable({c0, c1, first, second, third});

    fake::setU8(0x0700, 1);
    fake::setU8(0x0701, 1);
    tick();
    EXPECT_EQ(outputCount(2), 1);
    EXPECT_EQ(outputCount(3), 0);
    EXPECT_EQ(outputCount(4), 0);
    EXPECT_EQ(fake::fakeIndicators(DEV_GFP8, 0), 0x08u);

    fake::setU8(0x0700, 0);  // the first stops applying: the second takes over
    tick();
    EXPECT_EQ(outputCount(2), 0);
    EXPECT_EQ(outputCount(3), 1);
    EXPECT_EQ(outputCount(4), 0);
    EXPECT_EQ(fake::fakeIndicators(DEV_GFP8, 0), 0x00u);

    fake::setU8(0x0701, 0);
    tick();
    EXPECT_EQ(outputCount(4), 1);
    EXPECT_EQ(fake::fakeIndicators(DEV_GFP8, 0), 0x08u);
}

TEST_F(Scan, LightsFlushOncePerAdjacentRunAndConditionsFlushNothing) {
    ItemRecord cond = record(DEV_CONDITION, 0, KIND_CONDITION, 1, FLAG_HAS_NUMBER);
    setLiteral(cond, 1.0f);
    loadTable({cond, constantLight(0, 0, 1.0f), constantLight(0, 1, 1.0f), constantLight(1, 2, 1.0f),
               constantLight(0, 4, 1.0f)});
    tick();
    EXPECT_EQ(fake::dlLogText(),
              "GFP8_GetIndicators 0\nGFP8_SetIndicators 0 0x3\n"
              "GFP8_GetIndicators 1\nGFP8_SetIndicators 1 0x4\n"
              "GFP8_GetIndicators 0\nGFP8_SetIndicators 0 0x13");
}

TEST_F(Scan, FirstLightOfATableWithoutConditionsReachesItsPanelEveryTick) {
    ItemRecord watched = offsetItem(DEV_GFP8, 0, KIND_LIGHT, 0, 0x0800, VT_U8);
    loadTable({watched, constantLight(0, 1, 1.0f)});
    fake::setU8(0x0800, 1);
    tick();
    tick();
    tick();
    // The second tick finds the unit showing what it marks; nothing marked on the third.
    EXPECT_EQ(count(fake::dlLogText(), "GFP8_SetIndicators"), 1);
    EXPECT_EQ(fake::fakeIndicators(DEV_GFP8, 0), 0x03u);
    fake::setU8(0x0800, 0);
    fake::clearDlLog();
    tick();
    EXPECT_EQ(fake::dlLogText(), "GFP8_GetIndicators 0\nGFP8_SetIndicators 0 0x2");
}

// What one tick sent to the panels, from the library's call log: indicator reads, writes,
// and the writes that send an output exactly what it was last sent. A repeated brightness
// level is the once-a-second refresh, counted apart.
struct TickWrites {
    int reads, writes, repeats, refreshes;
    bool operator==(const TickWrites& o) const {
        return reads == o.reads && writes == o.writes && repeats == o.repeats &&
               refreshes == o.refreshes;
    }
};
std::ostream& operator<<(std::ostream& out, const TickWrites& t) {
    return out << "{" << t.reads << " reads, " << t.writes << " writes, " << t.repeats
               << " repeats, " << t.refreshes << " refreshes}";
}

class WriteCount {
public:
    TickWrites since() {
        TickWrites t = {0, 0, 0, 0};
        for (; seen < fake::dlLog.size(); ++seen) {
            const std::string& line = fake::dlLog[seen];
            const size_t name = line.find(' ');
            const size_t unit = line.find(' ', name + 1);
            if (line.find("_Get") != std::string::npos) ++t.reads;
            if (line.find("_Set") == std::string::npos) continue;
            ++t.writes;
            const std::string output = line.substr(0, unit), sent = line.substr(unit);
            auto was = last.find(output);
            if (was != last.end() && was->second == sent)
                ++(line.find("_SetBrightness") != std::string::npos ? t.refreshes : t.repeats);
            last[output] = sent;
        }
        return t;
    }

private:
    std::map<std::string, std::string> last;  // "NAME unit" -> what it was last sent
    size_t seen = 0;
};

// A unit's outputs in the states that used to repeat writes: a flashing light that is
// off, a timed light past its end, a display past its width, the first two evaluations
// after a load. Nothing a unit shows is sent again, whatever the evaluation decides;
// only the brightness refresh repeats, once a second.
TEST_F(Scan, NoWriteRepeatsWhatTheUnitShowsSteadyOrChanging) {
    ItemRecord flashingOff = constantLight(0, 1, 0.0f);
    flashingOff.flags |= FLAG_FLASH_FAST;
    ItemRecord flashingOn = constantLight(0, 2, 1.0f);
    flashingOn.flags |= FLAG_FLASH_SLOW;
    ItemRecord timed = constantLight(0, 3, 1.0f);
    timed.flags |= FLAG_TIMED_OFF;
    timed.timerPeriodMs = 1600;
    loadTable({offsetItem(DEV_GFP8, 0, KIND_BRIGHTNESS, 0, 0x0900, VT_U8),
               offsetItem(DEV_GFP8, 0, KIND_LIGHT, 0, 0x0901, VT_U8), flashingOff, flashingOn,
               timed, offsetItem(DEV_GFMCP, 0, KIND_LIGHT, 0, 0x0902, VT_U8),
               offsetItem(DEV_GFMCP, 0, KIND_DISPLAY, 0, 0x0904, VT_U16),
               offsetItem(DEV_GFMCP, 0, KIND_DISPLAY, 1, 0x0906, VT_U16)});
    fake::setU8(0x0900, 5);
    fake::setU8(0x0901, 1);
    fake::setU16(0x0904, 7);
    fake::setU16(0x0906, 1234);  // too wide: the test pattern
    WriteCount count;
    std::vector<TickWrites> steady;
    for (int n = 0; n < 10; ++n) {
        tick();
        steady.push_back(count.since());
    }
    // First tick: brightness, the GFP8's lights (L0, L2, L3), both displays; the GFMCP's
    // light is off, as the unit reports. Then the slow flash changes phase every second
    // tick from the fourth (its period starts again at the second evaluation's send), the
    // refresh comes a second after that send, and the timed light goes off once.
    const TickWrites first = {2, 4, 0, 0}, quiet = {0, 0, 0, 0}, flash = {1, 1, 0, 0};
    const TickWrites refresh = {0, 1, 0, 1}, timedOff = {1, 1, 0, 0};
    EXPECT_EQ(steady, (std::vector<TickWrites>{first, quiet, quiet, flash, quiet, flash,
                                               refresh, flash, timedOff, flash}));

    std::vector<TickWrites> changing;
    for (int n = 0; n < 10; ++n) {
        fake::setU8(0x0901, static_cast<uint8_t>(n % 2));
        fake::setU8(0x0902, static_cast<uint8_t>((n + 1) % 2));
        fake::setU16(0x0904, static_cast<uint16_t>(100 + n));
        fake::setU16(0x0906, static_cast<uint16_t>(2000 + n));  // still too wide
        tick();
        changing.push_back(count.since());
    }
    for (const TickWrites& t : changing) {
        EXPECT_EQ(t.repeats, 0) << t;
        EXPECT_LE(t.refreshes, 1) << t;
    }
    int writes = 0, refreshes = 0;
    for (const TickWrites& t : changing) writes += t.writes, refreshes += t.refreshes;
    // Each tick: both units' lights and the display that shows the value; two refreshes.
    EXPECT_EQ(writes, 10 * 3 + 2);
    EXPECT_EQ(refreshes, 2);
}

TEST_F(Scan, ControlByteBitThreeBlanksEverythingAndEvaluatesNothing) {
    struct Case {
        uint8_t control;
        bool blanks;
    } cases[] = {{0x08, true}, {0x0C, true}, {0x04, false}, {0x00, false}};
    for (const Case& c : cases) {
        ItemRecord light = constantLight(0, 0, 1.0f);
        ItemRecord indirect = offsetItem(DEV_GFP8, 1, KIND_LIGHT, 1, 0x0100, VT_U8, FLAG_INDIRECT_OFFSET);
        loadTable({light, indirect});
        writeIndicators(DEV_GFP8, 0, 0, 0x1);
        fake::setU8(0x330C, c.control);
        fake::module().exchanges = 0;
        fake::clearDlLog();
        tick();
        const std::string log = fake::dlLogText();
        if (c.blanks) {
            EXPECT_EQ(log, "GFP8_GetIndicators 0\nGFP8_SetIndicators 0 0x0") << int(c.control);
            EXPECT_EQ(fake::module().exchanges, 1u);  // no indirect pass either
            EXPECT_EQ(outputCount(1), 0);
        } else {
            EXPECT_EQ(fake::module().exchanges, 2u) << int(c.control);
            EXPECT_EQ(outputCount(1), 1) << int(c.control);
        }
    }
}

TEST_F(Scan, FailedExchangeClosesTheLinkAndTheWatchdogBlanksFiveSecondsAfterTheLastGoodOne) {
    ItemRecord watched = offsetItem(DEV_GFP8, 0, KIND_LIGHT, 0, 0x0800, VT_U8);
    loadTable({watched});
    fake::setU8(0x0800, 1);
    tick(0);
    EXPECT_EQ(fake::fakeIndicators(DEV_GFP8, 0), 0x01u);
    const uint32_t lastGood = fake::nowMs;
    fake::advance(220);
    fake::setFault(sim::FAULT_RESULT, 0);
    fake::clearDlLog();
    tick(0);
    EXPECT_FALSE(linkStatus().connected);
    EXPECT_EQ(fake::ipcViewsLive, 0u);
    EXPECT_TRUE(fake::dlLog.empty());  // no evaluation in the failed tick

    fake::nowMs = lastGood + 440;
    tick(0);
    EXPECT_EQ(fake::titles.back(), "Norvalume: waiting");
    fake::nowMs = lastGood + 5000;
    tick(0);
    EXPECT_TRUE(fake::dlLog.empty());
    fake::nowMs = lastGood + 5001;
    tick(0);
    EXPECT_EQ(fake::dlLogText(), "GFP8_GetIndicators 0\nGFP8_SetIndicators 0 0x0");
}

uint32_t silentFrom = 0;
uint32_t darkAfter = 0;
bool noteWhenDark() {
    const bool keepWaiting = keepWaitingForLink();
    if (!darkAfter && fake::fakeIndicators(DEV_GFP8, 0) == 0) darkAfter = fake::nowMs - silentFrom;
    return keepWaiting;
}

// Replies that come back damaged keep the link but are no good exchange: nothing is
// evaluated on them, and the watchdog blanks in the very tick it runs out, however long
// the exchanges block; a request to stop ends a blocked exchange between its tries.
TEST_F(Scan, DamagedOrSilentRepliesCountForNothingAndTheWatchdogRunsWhileBlocked) {
    ItemRecord watched = offsetItem(DEV_GFP8, 0, KIND_LIGHT, 0, 0x0800, VT_U8);
    loadTable({watched});
    fake::setU8(0x0800, 1);
    tick(0);
    const uint32_t lastGood = fake::nowMs;
    fake::setFault(sim::FAULT_TYPE, 0);
    fake::setU8(0x0800, 0);
    fake::clearDlLog();
    for (uint32_t t = 220; t <= 5000; t += 220) {
        fake::nowMs = lastGood + t;
        tick(0);
    }
    EXPECT_TRUE(linkStatus().connected);
    EXPECT_TRUE(fake::dlLog.empty()) << "evaluated on a damaged reply";
    fake::nowMs = lastGood + 5060;
    tick(0);
    EXPECT_EQ(fake::dlLogText(), "GFP8_GetIndicators 0\nGFP8_SetIndicators 0 0x0");

    // A hung module: each try waits its full time-out; the watchdog runs between tries.
    fake::setFault(sim::FAULT_NONE, 0);
    tick(0);
    fake::setU8(0x0800, 1);
    tick(0);
    ASSERT_EQ(fake::fakeIndicators(DEV_GFP8, 0), 0x01u);
    setLinkWaitHook(noteWhenDark);
    fake::ipcFail.sendTimesOut = true;
    silentFrom = fake::nowMs;
    darkAfter = 0;
    tick(0);
    EXPECT_FALSE(linkStatus().connected);
    EXPECT_GT(darkAfter, 5000u);
    EXPECT_LT(darkAfter, 7000u);

    fake::stopPending = true;
    const uint32_t stopAt = fake::nowMs;
    linkSupervisionTick();  // the reconnect's handshake blocks too, but not past a stop
    EXPECT_LE(fake::nowMs - stopAt, 2000u);
    setLinkWaitHook(nullptr);
}

// Every item is read on every tick, whatever the table's size: the first pass goes out in
// as many exchanges as its reads need, the status reads in the first, each exchange as
// full as the block's limit allows (76 bytes of status, then 24 per F64 read: 1351 fit).
TEST_F(Scan, EveryItemIsReadInAsManyExchangesAsItTakes) {
    const struct {
        int32_t items;
        std::vector<size_t> reads;  // per exchange
    } cases[] = {
        {1351, {4 + 1351}},
        {1352, {4 + 1351, 1}},
        {4000, {4 + 1351, 1354, 1295}},
    };
    const double value = 1234.5;
    fake::setF64(0x1000, value);
    for (const auto& c : cases) {
        loadConditions(c.items);
        exchangedReads.clear();
        tick();
        EXPECT_TRUE(linkStatus().connected);
        std::vector<size_t> reads;
        for (const auto& exchange : exchangedReads) reads.push_back(exchange.size());
        EXPECT_EQ(reads, c.reads) << c.items;
        EXPECT_EQ(lastScanExchanges(), static_cast<int32_t>(c.reads.size()));
        EXPECT_EQ(scanPlan().exchanges, static_cast<int32_t>(c.reads.size()));
        int32_t fresh = 0;
        for (int32_t i = 0; i < c.items; ++i)
            fresh += std::memcmp(stateOf(i).raw, &value, 8) == 0 && outputCount(i) == 1;
        EXPECT_EQ(fresh, c.items) << "items read and evaluated";
        // A large table's memory starts a header past a page: each state is still one line.
        EXPECT_EQ(reinterpret_cast<uintptr_t>(itemStates()) % 64, 0u) << c.items;
    }
}

// A table of 5,000 lights over 209 units, each reading a value of its own: a change at the
// far end shows on its panel in the very next tick.
TEST_F(Scan, FiveThousandItemsAcrossUnitsAreAllFreshEveryTick) {
    const int32_t total = 5000;
    resetItemTable();
    for (int32_t i = 0; i < total; ++i) {
        const auto unit = static_cast<uint8_t>(i / 24);
        const auto light = static_cast<uint16_t>(i % 24);
        storeItem(i, offsetItem(DEV_GFP8, unit, KIND_LIGHT, light,
                                static_cast<uint16_t>(0x4000 + 2 * i), VT_U16));
        acceptItem();
    }
    const uint16_t farEnd = 0x4000 + 2 * (total - 1);
    tick();
    EXPECT_EQ(lastScanExchanges(), 3);  // 18 bytes a read
    EXPECT_EQ(fake::fakeIndicators(DEV_GFP8, 208), 0u);
    fake::setU16(farEnd, 1);
    tick();
    EXPECT_EQ(fake::fakeIndicators(DEV_GFP8, 208), 1u << 7);
    fake::setU16(farEnd, 0);
    tick();
    EXPECT_EQ(fake::fakeIndicators(DEV_GFP8, 208), 0u);
}

// The items read through an offset are followed wherever their first read went, and their
// own pass takes as many exchanges as it needs too.
TEST_F(Scan, IndirectItemsBeyondOneBlockAreFollowedAll) {
    resetItemTable();
    const int32_t fillers = 1351;
    for (int32_t i = 0; i < fillers; ++i) {
        storeItem(i, offsetItem(DEV_CONDITION, 0, KIND_CONDITION, 1, 0x1000, VT_F64));
        acceptItem();
    }
    // 2,000 items reading U32 through 0x0100: 18 bytes each in the first pass (two more
    // exchanges after the fillers'), 20 in the second (1,625 fit in a block).
    const int32_t indirect = 2000;
    for (int32_t i = 0; i < indirect; ++i) {
        storeItem(fillers + i, offsetItem(DEV_GFP8, static_cast<uint8_t>(i / 8), KIND_DISPLAY,
                                          static_cast<uint16_t>(i % 8), 0x0100, VT_U32,
                                          FLAG_INDIRECT_OFFSET));
        acceptItem();
    }
    fake::setU16(0x0100, 0x0A00);
    fake::setU32(0x0A00, 0x12345678u);
    tick();
    EXPECT_TRUE(linkStatus().connected);
    ASSERT_EQ(exchangedReads.size(), 3u + 2u);
    EXPECT_EQ(exchangedReads[3].size(), 1625u);
    EXPECT_EQ(exchangedReads[4].size(), size_t(indirect - 1625));
    EXPECT_EQ(exchangedReads[4].back(), std::make_pair(0x0A00u, 4u));
    EXPECT_EQ(u32At(stateOf(fillers).raw), 0x12345678u);
    EXPECT_EQ(u32At(stateOf(fillers + indirect - 1).raw), 0x12345678u);
    EXPECT_EQ(scanPlan().indirectItems, indirect);
    EXPECT_EQ(scanPlan().indirectExchanges, 2);
}

uint32_t exchangesSeen = 0;
void failFromTheSecondExchange(const uint8_t*, uint32_t) {
    if (++exchangesSeen == 2) fake::setFault(sim::FAULT_TYPE, 0);
}
void stopAfterTheFirstExchange(const uint8_t*, uint32_t) {
    if (++exchangesSeen == 1) fake::stopPending = true;
}

// The rules of one exchange hold for each: a damaged reply in a later exchange keeps the
// link but nothing of the tick is evaluated; a request to stop ends the reading between
// two exchanges.
TEST_F(Scan, ALaterExchangeThatFailsOrAStopEndsTheTickUnevaluated) {
    loadConditions(2000);
    exchangesSeen = 0;
    fake::ipcBlockObserver = failFromTheSecondExchange;
    tick();
    EXPECT_TRUE(linkStatus().connected);
    EXPECT_EQ(exchangesSeen, 2u);
    EXPECT_EQ(outputCount(0), 0) << "evaluated after a damaged reply";

    fake::setFault(sim::FAULT_NONE, 0);
    exchangesSeen = 0;
    fake::ipcBlockObserver = stopAfterTheFirstExchange;
    tick();
    EXPECT_EQ(exchangesSeen, 1u);
    EXPECT_EQ(outputCount(0), 0) << "evaluated while stopping";
    fake::stopPending = false;
    fake::ipcBlockObserver = nullptr;
    tick();
    EXPECT_EQ(outputCount(0), 1);
}

// A type byte from the simulator: the item is sent again when it changes, although the
// bytes read are the same, and its next read takes the new type's size.
TEST_F(Scan, ANewTypeByteSendsTheItemAgainAndResizesItsRead) {
    ItemRecord typed = offsetItem(DEV_GF166, 0, KIND_DISPLAY, 0, 0x0500, VT_R0, FLAG_TYPE_FROM_SIM);
    typed.typeOffset = 0x0600;
    loadTable({typed, offsetItem(DEV_GFP8, 0, KIND_LIGHT, 0, 0x0700, VT_U8)});
    fake::setU16(0x0500, 0x2345);
    fake::setU8(0x0600, VT_R0);
    for (int n = 0; n < 3; ++n) tick();  // the two sends after a load, then a quiet one
    const char* written = "GF166_SetLDisplaySegments";
    for (const uint8_t type : {VT_R2, VT_STR}) {
        fake::clearDlLog();
        fake::setU8(0x0600, type);
        tick();  // the value still read in the old type's size, then the new type byte
        tick();
        tick();
        EXPECT_EQ(count(fake::dlLogText(), written), 1) << int(type) << ": " << fake::dlLogText();
    }
    EXPECT_EQ(exchangedReads.back()[4], std::make_pair(0x0500u, 8u));
    EXPECT_EQ(exchangedReads.back()[6], std::make_pair(0x0700u, 1u));
}

// Without memory for a table's run-time state and plan, the table is not scanned (its
// outputs go dark by the watchdog, as on a dead link) and not tried again on every tick;
// the next load that gets its memory is scanned.
TEST_F(Scan, NoMemoryForTheRunTimeStateLeavesTheTableUnscanned) {
    loadTable({offsetItem(DEV_GFP8, 0, KIND_LIGHT, 0, 0x0800, VT_U8)});
    fake::failItemMemoryAt(1, true);
    tick();
    tick();
    EXPECT_EQ(fake::memoryCountdown.calls, 1);
    EXPECT_EQ(fake::module().exchanges, 0u);
    EXPECT_EQ(itemStateCount(), 0);
    fake::restoreItemMemory();
    loadTable({offsetItem(DEV_GFP8, 0, KIND_LIGHT, 0, 0x0800, VT_U8)});
    tick();
    EXPECT_EQ(fake::module().exchanges, 1u);
    EXPECT_EQ(itemStateCount(), 1);
}

void scanAgain(const uint8_t*, uint32_t) {
    fake::ipcBlockObserver = nullptr;
    scanTick();
}

// A scan asked for while one runs (here from inside its exchange) runs only the watchdog.
TEST_F(Scan, BusyScanRunsOnlyTheWatchdog) {
    loadTable({constantLight(0, 0, 1.0f)});
    fake::ipcBlockObserver = scanAgain;
    tick();
    EXPECT_EQ(fake::ipcBlockObserver, nullptr);
    EXPECT_EQ(fake::module().exchanges, 1u);
    EXPECT_FALSE(scanBusy());
    tick();
    EXPECT_EQ(fake::module().exchanges, 2u);
}

}  // namespace
