// Light masks, the per-model read-modify-write, what a unit is known to show, the
// GFMCPPRO shadow, brightness and the blanking of everything written.
#include <cstring>

#include "config/items.h"
#include "test_support.h"

namespace {

class Lights : public BoundLibrary {
protected:
    void TearDown() override {
        freeItemTable();
        BoundLibrary::TearDown();
    }
    // A plug event's recount: what the units show is no longer known.
    static void recount() {
        countDevices();
        fake::clearDlLog();
    }
};

TEST_F(Lights, OnWinsOverOffWithinOneScanAndOnlyFiveBitsCount) {
    markLight(3, true);
    markLight(3, false);
    markLight(35, true);  // bit 3 again
    markLight(36, false);
    EXPECT_EQ(lightMasks().on, 0x08u);
    EXPECT_EQ(lightMasks().off, 0x18u);
    fake::setFakeIndicators(DEV_GFP8, 1, 0x10);
    flushLights(1, DEV_GFP8);
    EXPECT_EQ(fake::dlLogText(), "GFP8_GetIndicators 1\nGFP8_SetIndicators 1 0x8");
    EXPECT_EQ(lightMasks().on | lightMasks().off, 0u);
}

TEST_F(Lights, EachModelMasksWhatItMaySendAsOn) {
    struct Case {
        int32_t type;
        uint32_t state, off, on;
        const char* expected;
    } cases[] = {
        {DEV_GFLGT, 0x03, 0, 0x03, "GFLGT_GetIndicators 0\nGFLGT_SetIndicators 0 0x0"},
        {DEV_GF166, 0xFF, 0x01, 0, "GF166_GetIndicators 0\nGF166_SetIndicators 0 0x6"},
        {DEV_GFMCP, 0x08, 0, 0x08, "GFMCP_GetIndicators 0\nGFMCP_SetIndicators 0 0x0"},
        {DEV_GFMCP, 0x81, 0, 0x02, "GFMCP_GetIndicators 0\nGFMCP_SetIndicators 0 0x83"},
        {DEV_GFMCPPRO, 0x20, 0, 0x20, "GFMCPPro_GetIndicators 0\nGFMCPPro_SetIndicators 0 0x0"},
        {DEV_GFMCPPRO, 0xFFFFFFFF, 0, 0,
         "GFMCPPro_GetIndicators 0\nGFMCPPro_SetIndicators 0 0xBFC69F"},
        // An 8-bit model ignores lights 8 up: the unit already shows the result.
        {DEV_GFP8, 0x5A, 0, 0x100, "GFP8_GetIndicators 0"},
        {DEV_GF45, 0, 0, 0x01, ""},
        {DEV_GFTQ6, 0, 0, 0x01, ""},
        {99, 0, 0, 0x01, ""},
    };
    for (const Case& c : cases) {
        recount();
        fake::setFakeIndicators(c.type, 0, c.state);
        writeIndicators(c.type, 0, c.off, c.on);
        EXPECT_EQ(fake::dlLogText(), c.expected) << "type " << c.type;
    }
}

// Once a unit's lights are known, a flush that changes none of them reads and writes
// nothing; one that does reads the unit and writes only when the unit does not already
// show the result. A recount forgets what was known.
TEST_F(Lights, NothingIsReadOrWrittenThatTheUnitIsKnownToShow) {
    struct Step {
        const char* what;
        uint32_t off, on;
        int reported;  // the unit's own state changed meanwhile, -1 = not
        bool recounted;
        const char* expected;
    } steps[] = {
        {"first write", 0, 0x4, -1, false, "GFP8_GetIndicators 0\nGFP8_SetIndicators 0 0x4"},
        {"same again", 0, 0x4, -1, false, ""},
        {"off where it is off", 0x2, 0, -1, false, ""},
        {"a change", 0x4, 0x1, -1, false, "GFP8_GetIndicators 0\nGFP8_SetIndicators 0 0x1"},
        {"the unit shows it already", 0x1, 0x8, 0x8, false, "GFP8_GetIndicators 0"},
        {"after a recount the unit is read", 0, 0x8, 0x0, true,
         "GFP8_GetIndicators 0\nGFP8_SetIndicators 0 0x8"},
        {"and then known again", 0, 0x8, -1, false, ""},
    };
    fake::setFakeIndicators(DEV_GFP8, 0, 0);
    for (const Step& s : steps) {
        if (s.recounted) recount();
        if (s.reported >= 0) fake::setFakeIndicators(DEV_GFP8, 0, static_cast<uint32_t>(s.reported));
        fake::clearDlLog();
        writeIndicators(DEV_GFP8, 0, s.off, s.on);
        EXPECT_EQ(fake::dlLogText(), s.expected) << s.what;
    }
}

// A GFMCPPRO that reports no lights keeps those last set, on units 0 to 15 only; the
// remembered state outlives a recount.
TEST_F(Lights, McpProUnitReportingNothingKeepsTheLightsLastSetOnItsFirstSixteenUnits) {
    struct Case {
        uint8_t unit;
        const char* expected;
    } cases[] = {{2, "GFMCPPro_SetIndicators 2 0x11"},
                 {15, "GFMCPPro_SetIndicators 15 0x11"},
                 {16, "GFMCPPro_SetIndicators 16 0x1"},
                 {255, "GFMCPPro_SetIndicators 255 0x1"}};
    for (const Case& c : cases) {
        writeIndicators(DEV_GFMCPPRO, c.unit, 0, 0x10);
        fake::setFakeIndicators(DEV_GFMCPPRO, c.unit, 0);  // it reports nothing
        recount();
        writeIndicators(DEV_GFMCPPRO, c.unit, 0, 0x21);  // bit 5 may not be sent as on
        EXPECT_EQ(fake::dlLog.back(), c.expected);
    }
}

TEST_F(Lights, FlushWritesOnlyWhenMarkedAndNeverForConditions) {
    markLight(1, true);
    flushLights(0, -1);
    EXPECT_EQ(lightMasks().on | lightMasks().off, 0u);
    flushLights(0, DEV_GFP8);  // nothing marked since
    EXPECT_EQ(fake::dlLogText(), "");
}

TEST_F(Lights, MissingReadEntryMeansNoWrite) {
    fake::installFakeLibrary();
    fake::withholdEntryPoint("GFT8_GetIndicators");
    ASSERT_TRUE(bindDeviceLibrary(nullptr));
    fake::clearDlLog();
    writeIndicators(DEV_GFT8, 0, 0, 1);
    EXPECT_EQ(fake::dlLogText(), "");
}

// A level goes through unchanged where the model has brightness, once while the unit is
// known to show it; the scan's refresh sends it whatever.
TEST_F(Lights, BrightnessGoesThroughUnchangedOnceAndTheRefreshAlways) {
    setBrightness(-3, DEV_GFMCPPRO, 4);
    setBrightness(-3, DEV_GFMCPPRO, 4);
    setBrightness(5, DEV_GFATC, 0);
    setBrightness(5, DEV_GFTQ6, 0);  // the fake exports one; the model has none
    setBrightness(5, 14, 0);
    resendBrightness(5, DEV_GFATC, 0);
    setBrightness(6, DEV_GFATC, 0);
    EXPECT_EQ(fake::dlLogText(),
              "GFMCPPro_SetBrightness 4 -3\nGFATC_SetBrightness 0 5\nGFATC_SetBrightness 0 5\n"
              "GFATC_SetBrightness 0 6");
    recount();
    setBrightness(6, DEV_GFATC, 0);
    EXPECT_EQ(fake::dlLogText(), "GFATC_SetBrightness 0 6");
}

TEST_F(Lights, BlankAllOutputsBlanksEverythingEverWrittenOnce) {
    fake::setFakeIndicators(DEV_GFP8, 1, 0xFF);
    setBrightness(3, DEV_GFP8, 1);
    writeIndicators(DEV_GFP8, 1, 0, 0x4);
    writeIndicators(DEV_GFP8, 1, 0, 0x8);
    writeDisplay("12", DEV_GFMCP, 0, 1, DISPLAY_FIT);
    freeItemTable();  // what drove them is gone, as after a reload
    markLight(2, true);
    fake::clearDlLog();

    blankAllOutputs();
    EXPECT_EQ(fake::dlLogText(),
              "GFP8_SetBrightness 1 8\n"
              "GFP8_GetIndicators 1\nGFP8_SetIndicators 1 0x0\n" +
                  segmentLine("GFMCP_SetBDisplaySegments", 0, {}));
    EXPECT_EQ(lightMasks().on, 0x4u);  // the scan's masks are not touched
    EXPECT_FALSE(anyOutputWritten());

    fake::clearDlLog();
    blankAllOutputs();
    EXPECT_EQ(fake::dlLogText(), "");

    // What the blanking sent is what the units show now.
    setBrightness(BLANK_BRIGHTNESS, DEV_GFP8, 1);
    writeIndicators(DEV_GFP8, 1, 0x4, 0);
    writeDisplay("", DEV_GFMCP, 0, 1, DISPLAY_FIT);
    EXPECT_EQ(fake::dlLogText(), "");
    setBrightness(3, DEV_GFP8, 1);
    EXPECT_EQ(fake::dlLogText(), "GFP8_SetBrightness 1 3");
}

TEST_F(Lights, AfterAReloadOnlyWhatNoItemDrivesGoesDarkOnce) {
    fake::setFakeIndicators(DEV_GFP8, 1, 0);
    setBrightness(3, DEV_GFP8, 1);
    writeIndicators(DEV_GFP8, 1, 0, 0x1D);
    writeIndicators(DEV_GFP8, 1, 0x10, 0);  // switched off by its own line: not stray
    writeDisplay("12", DEV_GFMCP, 0, 0, DISPLAY_FIT);
    writeDisplay("34", DEV_GFMCP, 0, 1, DISPLAY_FIT);
    static DrivenTable driven;
    std::memset(driven, 0, sizeof driven);
    driven[DEV_GFP8][1].lights = 0x4;
    driven[DEV_GFMCP][0].others = WRITTEN_DISPLAY0;
    fake::clearDlLog();

    darkenUndrivenOutputs(driven);
    EXPECT_EQ(fake::dlLogText(),
              "GFP8_SetBrightness 1 8\n"
              "GFP8_GetIndicators 1\nGFP8_SetIndicators 1 0x4\n" +
                  segmentLine("GFMCP_SetBDisplaySegments", 0, {}));
    fake::clearDlLog();
    darkenUndrivenOutputs(driven);
    EXPECT_EQ(fake::dlLogText(), "");

    // What the new table still drives stays remembered for the watchdog.
    blankAllOutputs();
    EXPECT_EQ(fake::dlLogText(),
              "GFP8_GetIndicators 1\nGFP8_SetIndicators 1 0x0\n" +
                  segmentLine("GFMCP_SetADisplaySegments", 0, {}));
}

}  // namespace
