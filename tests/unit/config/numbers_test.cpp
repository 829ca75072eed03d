// Our decimal conversions: what they accept, where they stop, and how they saturate.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>

#include "config/numbers.h"

namespace {

TEST(ReadDecimal, AcceptsPlainDecimalOnlyAndReportsWhereItStopped) {
    struct Case {
        const char* text;
        double value;
        size_t used;
    };
    const Case cases[] = {
        {"12", 12.0, 2},
        {"-3.5x", -3.5, 4},
        {"+.5", 0.5, 3},
        {"5.", 5.0, 2},
        {"0.1", 0.1, 3},
        {"3.14159", 3.14159, 7},
        {"  7", 7.0, 3},
        {"1e3", 1000.0, 3},
        {"2E-2", 0.02, 4},
        {"1e+", 1.0, 1},          // an exponent needs a digit
        {"1e", 1.0, 1},
        {"1.5.3", 1.5, 3},
        {"1-2", 1.0, 1},
        {"007.50", 7.5, 6},
        // What the C runtimes read differently is plain text here.
        {"0x1A", 0.0, 1},
        {"inf", 0.0, 0},
        {"nan", 0.0, 0},
        {"-", 0.0, 0},
        {".", 0.0, 0},
        {".e5", 0.0, 0},
        {"", 0.0, 0},
        // Out of range: saturates at the largest double, or underflows to zero.
        {"1e999", DBL_MAX, 5},
        {"-1e99999999999999999999", -DBL_MAX, 23},
        {"1e-999", 0.0, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const char* end = nullptr;
        EXPECT_EQ(readDecimal(c.text, &end), c.value);
        EXPECT_EQ(static_cast<size_t>(end - c.text), c.used);
    }
}

TEST(ReadDecimal, LongDigitRunsKeepTheirMagnitude) {
    // More digits than a 64-bit mantissa holds: the extra ones only move the scale.
    EXPECT_DOUBLE_EQ(readDecimal("123456789012345678901234567890"), 1.2345678901234568e29);
    EXPECT_DOUBLE_EQ(readDecimal("0.12345678901234567890123"), 0.12345678901234568);
    // Hundreds of zeros after the point, balanced by a large exponent.
    std::string text = "0." + std::string(500, '0') + "1e500";
    EXPECT_DOUBLE_EQ(readDecimal(text.c_str()), 0.1);
}

TEST(ReadLeadingInt, TakesTheLeadingIntegerAndSaturates) {
    struct Case {
        const char* text;
        int32_t value;
        size_t used;
    };
    const Case cases[] = {
        {"220", 220, 3},
        {"abc", 0, 0},
        {" -12x", -12, 4},
        {"+5", 5, 2},
        {"2.9", 2, 1},
        {"-", 0, 0},
        {"2147483647", INT32_MAX, 10},
        {"2147483648", INT32_MAX, 10},
        {"-2147483648", INT32_MIN, 11},
        {"-2147483649", INT32_MIN, 11},
        {"99999999999999999999999999", INT32_MAX, 26},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const char* end = nullptr;
        EXPECT_EQ(readLeadingInt(c.text, &end), c.value);
        EXPECT_EQ(static_cast<size_t>(end - c.text), c.used);
    }
}

TEST(ToFloatSaturating, OutOfRangeBecomesTheLargestFloat) {
    EXPECT_EQ(toFloatSaturating(1e300), FLT_MAX);
    EXPECT_EQ(toFloatSaturating(-1e300), -FLT_MAX);
    EXPECT_EQ(toFloatSaturating(0.5), 0.5f);
    EXPECT_EQ(toFloatSaturating(std::nan("")), 0.0f);
}

}  // namespace
