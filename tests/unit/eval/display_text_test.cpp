// The text and mode a display item gets from its value and format, as one table, plus
// the string cases that also rewrite the item's `last`. Each builds the text of a display
// whose state shows `last`, as the evaluation leaves it after a send.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "eval_fixture.h"

using namespace evaltest;

namespace {

struct NumberCase {
    const char* name;
    int16_t format;
    uint32_t flags;
    float value;
    const char* text;  // exactly what buildDisplayText returns
    int mode;
};

const char* const FIVE = "     ";  // blanks in front of a text, or all of an overflow

// The text of display `r` showing `last`; `state` (when given) keeps what it became.
std::string textFor(const ItemRecord& r, const void* last, int* mode, ItemState* state = nullptr) {
    ItemState shown = freshItemState(r);
    if (last) std::memcpy(shown.last, last, sizeof shown.last);
    const std::string text = buildDisplayText(shown, r.displayFormat, mode);
    if (state) *state = shown;
    return text;
}

TEST(DisplayText, NumbersFollowFormatSignAndRounding) {
    const NumberCase cases[] = {
        {"D3 pads to three digits", 3, 0, 5.0f, "005", 0},
        {"D0 shows the bare digit", 0, 0, 5.0f, "5", 0},
        {"D0 keeps a zero", 0, 0, 0.0f, "0", 0},
        {"D12 two decimals", 12, 0, 0.25f, "0.25", 0},
        {"D052 drops the zero integer part", 1052, 0, 0.5f, ".50000  ", 0},
        {"D11 rounds 0.04 to 0.0", 11, 0, 0.04f, "0.0", 0},
        {"D106 six trailing blanks", 106, 0, 7.0f, "7      ", 0},
        {"D62 full width", 62, 0, 123456.78f, "123456.78", 0},
        {"D231 one trailing blank", 231, 0, 12.345f, "12.345 ", 0},
        {"D12 1.234 rounds down", 12, 0, 1.234f, "1.23", 0},
        {"D12 1.235 lies above and rounds up", 12, 0, 1.235f, "1.24", 0},
        {"D-3 negative", 3, FLAG_SHOW_SIGN, -5.0f, "-005", 0},
        {"D-3 positive keeps a blank sign", 3, FLAG_SHOW_SIGN, 5.0f, " 005", 0},
        {"D-1 sign noted before rounding", 1, FLAG_SHOW_SIGN, -0.3f, "-0", 0},
        {"D1 without sign shows magnitude", 1, 0, -3.2f, "3", 0},
        {"D0 largest that fits", 0, 0, 999999.4f, "999999", 0},
        {"D0 rounds into overflow", 0, 0, 999999.5f, FIVE, 1},
        {"D-12 overflow has no sign", 12, FLAG_SHOW_SIGN, -2000000.0f, FIVE, 1},
        {"D031 overflow still gets its blank", 1031, 0, 1e7f, "      ", 1},
        {"DX", 0, FLAG_HEX_DISPLAY, 255.0f, "FF", 0},
        {"DX largest", 0, FLAG_HEX_DISPLAY, 16777215.0f, "FFFFFF", 0},
        {"DX too large", 0, FLAG_HEX_DISPLAY, 16777216.0f, FIVE, 1},
        {"DX negative", 0, FLAG_HEX_DISPLAY, -3.0f, FIVE, 1},
        {"DX small negative", 0, FLAG_HEX_DISPLAY, -0.5f, FIVE, 1},
        {"DX is not rounded", 0, FLAG_HEX_DISPLAY, 10.9f, "A", 0},
        {"DX12 hex millionths", 12, FLAG_HEX_DISPLAY, 10.5f, "A.07", 0},
        {"NaN shows zero", 12, 0, NAN, "0.00", 0},
        {"infinity overflows", 0, 0, INFINITY, FIVE, 1},
        {"minus infinity overflows", 0, FLAG_SHOW_SIGN, -INFINITY, FIVE, 1},
        {"hex infinity overflows", 0, FLAG_HEX_DISPLAY, INFINITY, FIVE, 1},
        {"hex NaN shows zero", 0, FLAG_HEX_DISPLAY, NAN, "0", 0},
    };
    for (const NumberCase& c : cases) {
        ItemRecord r = record(DEV_GFMCPPRO, 0, KIND_DISPLAY, 0, FLAG_HAS_OFFSET | c.flags);
        r.valueType = VT_F32;
        r.displayFormat = c.format;
        const float last[2] = {c.value, 0};
        int mode = 99;
        EXPECT_EQ(textFor(r, last, &mode), c.text) << c.name;
        EXPECT_EQ(mode, c.mode) << c.name;
    }
}

struct BytesCase {
    const char* name;
    uint16_t valueType;
    uint8_t last[8];
    const char* text;
    int mode;
};

TEST(DisplayText, RadioAndStringLayoutsFromRawBytes) {
    const BytesCase cases[] = {
        {"R0 packed digits", VT_R0, {0x45, 0x23}, "     2345", 0},
        {"R2 leading one", VT_R2, {0x45, 0x23}, "     123.45", 0},
        {"R1 with companion bytes", VT_R1, {0x45, 0x03, 0x05, 0x01}, "     1345.5", 0},
        {"R0 non-decimal nibbles", VT_R0, {0xCD, 0xAB}, "     ABCD", 0},
        {"R1 nibbles above nine", VT_R1, {0xFF, 0xFF, 0x0A, 0x0B}, "     ;FFF.:", 0},
        {"STR eight characters", VT_STR, {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}, "     ABCDEFGH", -1},
        {"STR ends at its zero", VT_STR, {'H', 'I', 0, 'X'}, "     HI", -1},
    };
    for (const BytesCase& c : cases) {
        ItemRecord r = record(DEV_GFMCPPRO, 0, KIND_DISPLAY, 0, FLAG_HAS_OFFSET);
        r.valueType = c.valueType;
        int mode = 99;
        EXPECT_EQ(textFor(r, c.last, &mode), c.text) << c.name;
        EXPECT_EQ(mode, c.mode) << c.name;
    }
}

TEST(DisplayText, StrWithStringLiteralShowsItAndKeepsItInLast) {
    ItemRecord r = record(DEV_GFMCPPRO, 0, KIND_DISPLAY, 0, FLAG_HAS_STRING);
    r.valueType = VT_STR;
    setLiteralText(r, "HELLO WO");
    int mode = 0;
    ItemState state;
    EXPECT_EQ(textFor(r, nullptr, &mode, &state), "     HELLO WO");
    EXPECT_EQ(mode, -1);
    EXPECT_EQ(std::memcmp(state.last, "HELLO WO", 8), 0);
}

TEST(DisplayText, StrWithNumericLiteralShowsNothing) {
    ItemRecord r = record(DEV_GFMCPPRO, 0, KIND_DISPLAY, 0, FLAG_HAS_NUMBER);
    r.valueType = VT_STR;
    setLiteral(r, 5.0f);
    int mode = 0;
    ItemState state;
    EXPECT_EQ(textFor(r, nullptr, &mode, &state), FIVE);
    EXPECT_EQ(mode, -1);
    EXPECT_EQ(std::memcmp(state.last, r.literal, 8), 0);
}

TEST(DisplayText, NumericTypeWithStringLiteralShowsLiteralInModeZero) {
    ItemRecord r = record(DEV_GFMCPPRO, 0, KIND_DISPLAY, 0, FLAG_HAS_STRING);
    r.valueType = VT_DEFAULT;
    r.displayFormat = 3;
    setLiteralText(r, "ON");
    int mode = 99;
    EXPECT_EQ(textFor(r, nullptr, &mode), "     ON");
    EXPECT_EQ(mode, 0);
}

TEST(DisplayText, WorkAreaIsClearedBetweenCalls) {
    ItemRecord longer = record(DEV_GFMCPPRO, 0, KIND_DISPLAY, 0, FLAG_HAS_OFFSET);
    longer.valueType = VT_STR;
    int mode;
    textFor(longer, "ABCDEFGH", &mode);
    EXPECT_EQ(textFor(longer, "XY\0\0\0\0\0\0", &mode), "     XY");
}

TEST(DisplayText, StrayFormatDigitsAboveSixStayInBounds) {
    ItemRecord r = record(DEV_GFMCPPRO, 0, KIND_DISPLAY, 0, FLAG_HAS_OFFSET);
    r.valueType = VT_F32;
    r.displayFormat = 999;  // nine digits, nine decimals, nine blanks: clamped to six each
    const float last[2] = {1.5f, 0};
    int mode;
    EXPECT_EQ(textFor(r, last, &mode), "000001.500000      ");
}

}  // namespace
