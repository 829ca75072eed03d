// Light masks, the per-model read-modify-write, the GFMCPPRO shadow, brightness and the
// blanking of everything written.
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
};

TEST_F(Lights, OnWinsOverOffWithinOneScanAndOnlyFiveBitsCount) {
    markLight(3, true);
    markLight(3, false);
    markLight(35, true);  // bit 3 again
    markLight(36, false);
    EXPECT_EQ(onMask, 0x08u);
    EXPECT_EQ(offMask, 0x18u);
    fake::setFakeIndicators(DEV_GFP8, 1, 0x10);
    flushLights(1, DEV_GFP8);
    EXPECT_EQ(fake::dlLogText(), "GFP8_GetIndicators 1\nGFP8_SetIndicators 1 0x8");
    EXPECT_EQ(onMask | offMask, 0u);
}

TEST_F(Lights, EachModelMasksWhatItMaySendAsOn) {
    struct Case {
        int32_t type;
        uint32_t state, off, on;
        const char* expected;
    } cases[] = {
        {DEV_GFLGT, 0x00, 0, 0x03, "GFLGT_GetIndicators 0\nGFLGT_SetIndicators 0 0x0"},
        {DEV_GF166, 0xFF, 0x01, 0, "GF166_GetIndicators 0\nGF166_SetIndicators 0 0x6"},
        {DEV_GFMCP, 0x00, 0, 0x08, "GFMCP_GetIndicators 0\nGFMCP_SetIndicators 0 0x0"},
        {DEV_GFMCP, 0x81, 0, 0x02, "GFMCP_GetIndicators 0\nGFMCP_SetIndicators 0 0x83"},
        {DEV_GFMCPPRO, 0x00, 0, 0x20, "GFMCPPro_GetIndicators 0\nGFMCPPro_SetIndicators 0 0x0"},
        {DEV_GFMCPPRO, 0xFFFFFFFF, 0, 0,
         "GFMCPPro_GetIndicators 0\nGFMCPPro_SetIndicators 0 0xBFC69F"},
        // An 8-bit model ignores lights 8 up: what was read goes back unchanged.
        {DEV_GFP8, 0x5A, 0, 0x100, "GFP8_GetIndicators 0\nGFP8_SetIndicators 0 0x5A"},
        {DEV_GF45, 0, 0, 0x01, ""},
        {DEV_GFTQ6, 0, 0, 0x01, ""},
        {99, 0, 0, 0x01, ""},
    };
    for (const Case& c : cases) {
        fake::clearDlLog();
        std::memset(mcpProIndicatorShadow, 0, sizeof mcpProIndicatorShadow);
        fake::setFakeIndicators(c.type, 0, c.state);
        writeIndicators(c.type, 0, c.off, c.on);
        EXPECT_EQ(fake::dlLogText(), c.expected) << "type " << c.type;
    }
}

TEST_F(Lights, McpProUnitReportingNothingKeepsTheLightsLastSet) {
    mcpProIndicatorShadow[2] = 0x10;
    writeIndicators(DEV_GFMCPPRO, 2, 0, 0x01);
    EXPECT_EQ(fake::dlLog.back(), "GFMCPPro_SetIndicators 2 0x11");
    EXPECT_EQ(mcpProIndicatorShadow[2], 0x11u);

    writeIndicators(DEV_GFMCPPRO, 2, 0, 0x20);  // bit 5 may not be sent as on
    EXPECT_EQ(mcpProIndicatorShadow[2], 0x11u);
}

TEST_F(Lights, McpProUnitsFrom16UpHaveNoShadow) {
    uint32_t before[MCP_PRO_SHADOW_UNITS + 4];
    std::memcpy(before, mcpProIndicatorShadow, sizeof mcpProIndicatorShadow);
    writeIndicators(DEV_GFMCPPRO, 16, 0, 0x01);
    writeIndicators(DEV_GFMCPPRO, 255, 0, 0x01);
    EXPECT_EQ(fake::dlLog[1], "GFMCPPro_SetIndicators 16 0x1");
    EXPECT_EQ(std::memcmp(before, mcpProIndicatorShadow, sizeof mcpProIndicatorShadow), 0);
}

TEST_F(Lights, FlushWritesOnlyWhenMarkedAndNeverForConditions) {
    markLight(1, true);
    flushLights(0, -1);
    EXPECT_EQ(onMask | offMask, 0u);
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

TEST_F(Lights, BrightnessGoesThroughUnchangedWhereTheModelHasIt) {
    setBrightness(-3, DEV_GFMCPPRO, 4);
    setBrightness(5, DEV_GFATC, 0);
    setBrightness(5, DEV_GFTQ6, 0);  // the fake exports one; the model has none
    setBrightness(5, 14, 0);
    EXPECT_EQ(fake::dlLogText(), "GFMCPPro_SetBrightness 4 -3\nGFATC_SetBrightness 0 5");
}

TEST_F(Lights, BlankAllOutputsBlanksEverythingEverWrittenOnce) {
    fake::setFakeIndicators(DEV_GFP8, 1, 0xFF);
    setBrightness(3, DEV_GFP8, 1);
    writeIndicators(DEV_GFP8, 1, 0, 0x4);
    writeIndicators(DEV_GFP8, 1, 0, 0x8);
    writeDisplay("12", DEV_GFMCP, 0, 1, DISPLAY_FIT);
    freeItemTable();  // what drove them is gone, as after a reload
    onMask = 0x4;
    fake::clearDlLog();

    blankAllOutputs();
    EXPECT_EQ(fake::dlLogText(),
              "GFP8_SetBrightness 1 8\n"
              "GFP8_GetIndicators 1\nGFP8_SetIndicators 1 0x0\n" +
                  segmentLine("GFMCP_SetBDisplaySegments", 0, {}));
    EXPECT_EQ(onMask, 0x4u);  // the scan's masks are not touched
    EXPECT_FALSE(anyOutputWritten());

    fake::clearDlLog();
    blankAllOutputs();
    EXPECT_EQ(fake::dlLogText(), "");
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
