// Display routing, alignment, modes and the seven-segment encoding.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "config/items.h"
#include "test_support.h"

namespace {

std::string encode(const char* text) {
    uint8_t out[15];
    std::memset(out, 0xAA, sizeof out);
    textToSegments(text, out);
    std::string hex;
    char buf[4];
    for (uint8_t b : out) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        hex += buf;
    }
    return hex;
}

std::string hexOf(std::initializer_list<int> bytes) {
    std::string hex;
    char buf[4];
    int n = 0;
    for (int b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        hex += buf;
        ++n;
    }
    for (; n < 15; ++n) hex += "00";
    return hex;
}

TEST(TextToSegments, EncodesDotsCaseAndGaps) {
    struct Case {
        const char* text;
        std::string expected;
    } cases[] = {
        {"12.5", hexOf({0x06, 0xDB, 0x6D})},
        {".5", hexOf({0x6D})},                 // a leading dot has no position to mark
        {"1..2", hexOf({0x86, 0x5B})},         // dots in a row share one position
        {"abc", hexOf({0x77, 0x7C, 0x39})},    // lower case looks like upper case
        {"KMVWX", hexOf({0, 0, 0, 0, 0})},     // letters without a glyph stay blank
        {"SYZ-", hexOf({0x6D, 0x66, 0x5B, 0x40})},
        {"1#\xE9" "2", hexOf({0x06, 0x00, 0x00, 0x5B})},  // any other character is blank
        {"1234567890123456", hexOf({0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F,
                                    0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D})},
        {"123456789012345.", hexOf({0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F,
                                    0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D})},
        {"", hexOf({})},
        {testPattern, hexOf({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
    };
    for (const Case& c : cases) EXPECT_EQ(encode(c.text), c.expected) << c.text;
}

// Each glyph as the segments it lights (a top, b top right, c bottom right, d bottom,
// e bottom left, f top left, g middle), so the font is checked against a second,
// independent description of every character.
TEST(TextToSegments, EveryGlyphLightsItsSegments) {
    const char* lit[] = {
        "abcdef", "bc", "abdeg", "abcdg", "bcfg", "acdfg", "acdefg", "abc", "abcdefg", "abcdfg",
        "abcefg", "cdefg", "adef", "bcdeg", "adefg", "aefg", "acdef", "bcefg", "c", "bcde",
        "", "def", "", "ceg", "cdeg", "abefg", "abcfg", "eg", "acdfg", "efg",
        "bcdef", "", "", "", "bcfg", "abdeg",
    };
    const char chars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (int i = 0; i < 36; ++i) {
        int byte = 0;
        for (const char* s = lit[i]; *s; ++s) byte |= 1 << (*s - 'a');
        const char upper[] = {chars[i], '\0'};
        const char lower[] = {static_cast<char>(std::tolower(chars[i])), '\0'};
        EXPECT_EQ(encode(upper), hexOf({byte})) << chars[i];
        EXPECT_EQ(encode(lower), hexOf({byte})) << lower;
    }
    EXPECT_EQ(encode("-"), hexOf({0x40}));
}

TEST(TextToSegments, NullTextIsBlank) { EXPECT_EQ(encode(nullptr), hexOf({})); }

using WriteDisplay = BoundLibrary;

TEST_F(WriteDisplay, RoutesWidthsAlignmentAndModes) {
    struct Case {
        int32_t type;
        uint16_t display;
        int mode;
        const char* text;
        std::string expected;  // "" = nothing is called
    } cases[] = {
        {DEV_GFMCP, 0, 0, "12.5", segmentLine("GFMCP_SetADisplaySegments", 0, {0x06, 0xDB, 0x6D})},
        {DEV_GFMCP, 3, 0, "7", segmentLine("GFMCP_SetDDisplaySegments", 0, {0, 0, 0, 0, 0, 0x07})},
        {DEV_GFMCP, 0, 0, "1234", patternLine("GFMCP_SetADisplaySegments", 0)},
        {DEV_GFMCP, 0, -1, "1234",
         segmentLine("GFMCP_SetADisplaySegments", 0, {0x06, 0x5B, 0x4F, 0x66})},
        {DEV_GFMCP, 4, 0, " 42", segmentLine("GFMCP_SetEDisplaySegments", 0, {0, 0, 0, 0, 0x66, 0x5B})},
        {DEV_GFMCPPRO, 1, 0, "  42", "GFMCPPro_SetBDisplayText 0 \"   42\""},
        {DEV_GFMCPPRO, 0, 0, "12.5", "GFMCPPro_SetADisplayText 0 \"12.5\""},
        {DEV_GFMCPPRO, 5, 0, "1", "GFMCPPro_SetFDisplayText 0 \"  1\""},
        {DEV_GFMCPPRO, 4, -1, "1234567", "GFMCPPro_SetEDisplayText 0 \"1234567\""},
        {DEV_GFATC, 0, 0, "12", patternLine("GFATC_SetDigitSegments", 0)},
        {DEV_GFATC, 7, -1, "12", segmentLine("GFATC_SetDigitSegments", 0, {0x06, 0x5B})},
        {DEV_GF45, 0, -1, "ABCDE", "GF45_SetAlpha 0 \"8.8.8.8.8.8.\""},
        {DEV_GF45, 0, 0, "AB", "GF45_SetAlpha 0 \"  AB\""},
        {DEV_GF45, 1, 0, "123456", "GF45_SetNumeric 0 \"8.8.8.8.8.8.\""},
        {DEV_GF46, 1, 0, "123456",
         segmentLine("GF46_SetNumericSegments", 0, {0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D})},
        {DEV_GF45, 2, -1, "123456",
         segmentLine("GF45_SetNumericSegments", 0, {0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D})},
        {DEV_GF166, 0, 0, "-1.5", segmentLine("GF166_SetLDisplaySegments", 0, {0, 0, 0, 0x40, 0x86, 0x6D})},
        // Mode 1 shows the whole test pattern with nothing in front, on every route.
        {DEV_GF166, 1, 1, "1", patternLine("GF166_SetRDisplaySegments", 0)},
        {DEV_GFMCPPRO, 0, 1, "1", "GFMCPPro_SetADisplayText 0 \"8.8.8.8.8.8.\""},
        {DEV_GF46, 0, 1, "1", "GF46_SetAlpha 0 \"8.8.8.8.8.8.\""},
        {DEV_GF46, 3, 1, "1", "GF46_SetNumeric 0 \"8.8.8.8.8.8.\""},
        // Displays and models without a route.
        {DEV_GFMCP, 5, 0, "1", ""},
        {DEV_GFMCPPRO, 6, 0, "1", ""},
        {DEV_GFP8, 0, 0, "1", ""},
        {DEV_GFTQ6, 0, 0, "1", ""},
        {0, 0, 0, "1", ""},
    };
    for (const Case& c : cases) {
        fake::clearDlLog();
        writeDisplay(c.text, c.type, 0, c.display, c.mode);
        EXPECT_EQ(fake::dlLogText(), c.expected)
            << "type " << c.type << " display " << c.display << " mode " << c.mode << " \""
            << c.text << "\"";
    }
}

// A display is sent a text only when what leaves for it (text or segments, the test
// pattern too) differs from what it was last sent; a recount forgets what it shows.
TEST_F(WriteDisplay, WhatADisplayShowsAlreadyIsNotSentAgain) {
    struct Step {
        int32_t type;
        uint16_t display;
        int mode;
        const char* text;
        bool sent;
    } steps[] = {
        {DEV_GFMCP, 0, 0, "12", true},
        {DEV_GFMCP, 0, 0, "12", false},
        {DEV_GFMCP, 0, 0, " 12", false},  // aligned alike: the same segments
        {DEV_GFMCP, 1, 0, "12", true},    // another display
        {DEV_GFMCP, 0, 0, "1234", true},  // too wide: the test pattern
        {DEV_GFMCP, 0, 0, "5678", false},
        {DEV_GFMCP, 0, 1, "9", false},
        {DEV_GFMCPPRO, 1, 0, "42", true},
        {DEV_GFMCPPRO, 1, 0, "42", false},
        {DEV_GFMCPPRO, 1, 0, "43", true},
        // A numeric display sends the test pattern as text, its numbers as segments.
        {DEV_GF45, 1, 0, "123456", true},
        {DEV_GF45, 1, 0, "12", true},
        {DEV_GF45, 1, 0, "123456", true},
        {DEV_GF45, 5, 0, "999999", false},  // any further index is its display 1
        // Longer than what is remembered of a display: sent every time.
        {DEV_GFMCPPRO, 4, -1, "12345678901234567", true},
        {DEV_GFMCPPRO, 4, -1, "12345678901234567", true},
        {DEV_GFMCPPRO, 4, 0, blankText, true},
        {DEV_GFMCPPRO, 4, 0, "", false},
    };
    for (const Step& s : steps) {
        fake::clearDlLog();
        writeDisplay(s.text, s.type, 0, s.display, s.mode);
        EXPECT_EQ(fake::dlLog.size(), s.sent ? 1u : 0u)
            << "type " << s.type << " display " << s.display << " \"" << s.text << "\"";
    }
    countDevices();
    fake::clearDlLog();
    writeDisplay("43", DEV_GFMCPPRO, 0, 1, 0);
    EXPECT_EQ(fake::dlLogText(), "GFMCPPro_SetBDisplayText 0 \"   43\"");
}

TEST_F(WriteDisplay, BlankTextClearsEachForm) {
    writeDisplay(blankText, DEV_GF166, 3, 1, 0);
    writeDisplay(blankText, DEV_GFMCPPRO, 0, 0, 0);
    writeDisplay(blankText, DEV_GF45, 1, 0, 0);
    EXPECT_EQ(fake::dlLogText(), segmentLine("GF166_SetRDisplaySegments", 3, {}) +
                                     "\nGFMCPPro_SetADisplayText 0 \"   \"" +
                                     "\nGF45_SetAlpha 1 \"    \"");
}

TEST_F(WriteDisplay, NumericTextEntryDoesNotStandInForMissingSegments) {
    fake::installFakeLibrary();
    fake::withholdEntryPoint("GF45_SetNumericSegments");
    ASSERT_TRUE(bindDeviceLibrary(nullptr));
    fake::clearDlLog();
    writeDisplay("12", DEV_GF45, 0, 1, 0);
    writeDisplay("123456", DEV_GF45, 0, 1, 0);
    EXPECT_EQ(fake::dlLogText(), "GF45_SetNumeric 0 \"8.8.8.8.8.8.\"");
}

TEST_F(WriteDisplay, VeryLongTextIsBoundedNotOverrun) {
    std::string longText(4000, '9');
    writeDisplay(longText.c_str(), DEV_GFMCPPRO, 0, 1, -1);
    ASSERT_EQ(fake::dlLog.size(), 1u);
    EXPECT_EQ(fake::dlLog[0].size(), std::string("GFMCPPro_SetBDisplayText 0 \"\"").size() + 255);
}

TEST_F(WriteDisplay, MoreLeadingBlanksThanTheLengthBoundStillAlign) {
    std::string text = std::string(600, ' ') + "1";
    writeDisplay(text.c_str(), DEV_GFMCPPRO, 0, 1, 0);
    writeDisplay(text.c_str(), DEV_GFMCP, 0, 3, 0);
    EXPECT_EQ(fake::dlLogText(), "GFMCPPro_SetBDisplayText 0 \"    1\"\n" +
                                     segmentLine("GFMCP_SetDDisplaySegments", 0,
                                                 {0, 0, 0, 0, 0, 0x06}));
}

}  // namespace

namespace {

std::vector<std::string> told;
void tellLights(int32_t type, uint8_t unit, uint32_t lit) {
    told.push_back(std::string(deviceTypeName(type)) + " " + std::to_string(unit) + " lights " +
                   std::to_string(lit));
}
void tellBrightness(int32_t type, uint8_t unit, int32_t level) {
    told.push_back(std::string(deviceTypeName(type)) + " " + std::to_string(unit) +
                   " brightness " + std::to_string(level));
}
void tellDisplay(int32_t type, uint8_t unit, uint16_t display, const char* text,
                 const uint8_t* segments) {
    std::string line = std::string(deviceTypeName(type)) + " " + std::to_string(unit) + " D" +
                       std::to_string(display) + " \"" + text + "\"";
    for (int i = 0; segments && i < 16; ++i) line += segments[i] ? "*" : ".";
    told.push_back(line);
}
const OutputObserver observer{tellLights, tellBrightness, tellDisplay};

}  // namespace

TEST_F(WriteDisplay, ObserverIsToldWhatLeavesWithOrWithoutALibrary) {
    setOutputObserver(&observer);
    for (bool bound : {true, false}) {
        SCOPED_TRACE(bound ? "bound" : "no library");
        if (!bound) unbindDeviceLibrary();
        told.clear();
        fake::clearDlLog();
        writeDisplay("12.5", DEV_GFMCP, 0, 0, DISPLAY_FIT);
        writeDisplay("123456", DEV_GFMCPPRO, 0, 0, DISPLAY_FIT);
        writeIndicators(DEV_GFP8, 0, 0, 0x5);
        setBrightness(9, DEV_GFP8, 0);
        blankAllOutputs();  // what was told counts as written, library or not
        EXPECT_EQ(told, (std::vector<std::string>{
                            "GFMCP 0 D0 \"12.5\"***.............",
                            "GFMCPPRO 0 D0 \"8.8.8.8.8.8.\"",
                            "GFP8 0 lights 5",
                            "GFP8 0 brightness 9",
                            "GFP8 0 brightness 8",
                            "GFP8 0 lights 0",
                            "GFMCP 0 D0 \"   \"................",
                            "GFMCPPRO 0 D0 \"   \"",
                        }));
        EXPECT_EQ(fake::dlLog.size(), bound ? 10u : 0u) << fake::dlLogText();
    }
    setOutputObserver(nullptr);
}
