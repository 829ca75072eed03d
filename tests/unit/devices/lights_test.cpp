// Light masks, the per-model read-modify-write, the GFMCPPRO shadow, brightness and the
// blanking of everything written.
#include <cstring>

#include "config/items.h"
#include "test_support.h"

namespace {

class Lights : public BoundLibrary {
protected:
    void SetUp() override {
        BoundLibrary::SetUp();
        onMask = 0;
        offMask = 0;
        std::memset(mcpProIndicatorShadow, 0, sizeof mcpProIndicatorShadow);
    }
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
        writeIndicators(c.type, c.off, 0, c.on);
        EXPECT_EQ(fake::dlLogText(), c.expected) << "type " << c.type;
    }
}

TEST_F(Lights, McpProUnitReportingNothingKeepsTheLightsLastSet) {
    mcpProIndicatorShadow[2] = 0x10;
    writeIndicators(DEV_GFMCPPRO, 0, 2, 0x01);
    EXPECT_EQ(fake::dlLog.back(), "GFMCPPro_SetIndicators 2 0x11");
    EXPECT_EQ(mcpProIndicatorShadow[2], 0x11u);

    writeIndicators(DEV_GFMCPPRO, 0, 2, 0x20);  // bit 5 may not be sent as on
    EXPECT_EQ(mcpProIndicatorShadow[2], 0x11u);
}

TEST_F(Lights, McpProUnitsFrom16UpHaveNoShadow) {
    uint32_t before[MCP_PRO_SHADOW_UNITS + 4];
    std::memcpy(before, mcpProIndicatorShadow, sizeof mcpProIndicatorShadow);
    writeIndicators(DEV_GFMCPPRO, 0, 16, 0x01);
    writeIndicators(DEV_GFMCPPRO, 0, 255, 0x01);
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
    ASSERT_TRUE(bindDeviceLibrary());
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

ItemRecord written(int32_t type, uint8_t unit, uint8_t kind, uint16_t index) {
    ItemRecord r{};
    r.deviceType = type;
    r.unit = unit;
    r.kind = kind;
    r.index = index;
    r.flags = FLAG_OUTPUT_COUNT_2 | FLAG_HAS_OFFSET;
    return r;
}

TEST_F(Lights, BlankAllOutputsBlanksWhatWasWrittenOnce) {
    resetItemTable();
    ItemRecord items[] = {
        written(DEV_CONDITION, 0, KIND_CONDITION, 1),
        written(DEV_GFP8, 1, KIND_BRIGHTNESS, 0),
        written(DEV_GFP8, 1, KIND_LIGHT, 2),
        written(DEV_GFP8, 1, KIND_LIGHT, 3),
        written(DEV_GFMCP, 0, KIND_DISPLAY, 1),
        written(DEV_GFMCP, 0, KIND_LIGHT, 0),
    };
    items[5].flags = 0;  // never written
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(storeItem(i, items[i]));
    itemCount = 6;
    fake::setFakeIndicators(DEV_GFP8, 1, 0xFF);
    onMask = 0x4;

    blankAllOutputs();
    EXPECT_EQ(fake::dlLogText(),
              "GFP8_SetBrightness 1 8\n"
              "GFP8_GetIndicators 1\nGFP8_SetIndicators 1 0x0\n"
              "GFP8_GetIndicators 1\nGFP8_SetIndicators 1 0x0\n" +
                  segmentLine("GFMCP_SetBDisplaySegments", 0, {}));
    EXPECT_EQ(onMask, 0x4u);  // the scan's masks are not touched
    for (int i = 0; i < itemCount; ++i) EXPECT_EQ(itemTable[i].flags & FLAG_OUTPUT_COUNT, 0u);
    EXPECT_EQ(itemTable[1].flags, static_cast<uint32_t>(FLAG_HAS_OFFSET));

    fake::clearDlLog();
    blankAllOutputs();
    EXPECT_EQ(fake::dlLogText(), "");
}

}  // namespace
