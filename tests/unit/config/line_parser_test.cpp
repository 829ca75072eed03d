// The settings-line grammar: what each option stores, every rejection with its exact
// text at the end of the line, the checks per kind, and the handling of old verdicts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "config/line_parser.h"
#include "fake_platform/fake_memory.h"

namespace {

struct Parsed {
    int result;
    ItemRecord record;  // the stored record (zero when nothing was stored)
    std::string line;   // the line as the parser left it
};

float literalFloat(const ItemRecord& r) {
    float f;
    std::memcpy(&f, r.literal, sizeof f);
    return f;
}

std::string literalText(const ItemRecord& r) {
    return std::string(reinterpret_cast<const char*>(r.literal),
                       strnlen(reinterpret_cast<const char*>(r.literal), sizeof r.literal));
}

class LineParser : public ::testing::Test {
protected:
    void SetUp() override { resetItemTable(); }
    void TearDown() override { freeItemTable(); }

    // Stores conditions with the given key numbers, as the loader would have.
    void storeConditions(std::initializer_list<int> keys) {
        for (int key : keys) {
            ItemRecord r{};
            r.deviceType = DEV_CONDITION;
            r.kind = KIND_CONDITION;
            r.index = static_cast<uint16_t>(key + 1);
            ASSERT_TRUE(storeItem(itemCount(), r));
            acceptItem();
        }
    }

    Parsed parse(const std::string& text, uint8_t kind, int32_t position = -1) {
        if (position < 0) position = itemCount();
        std::vector<char> buffer(LINE_BUFFER_SIZE, '\0');
        std::memcpy(buffer.data(), text.data(), text.size());
        int32_t deviceType = kind == KIND_CONDITION ? DEV_CONDITION : DEV_GFMCP;
        Parsed p{};
        p.result = parseItemLine(position, deviceType, kind, 3, 1, buffer.data(), 0, 0);
        p.line = buffer.data();
        if (p.result != 0 && position < itemCapacity()) p.record = itemTable()[position];
        return p;
    }
};

std::string kindName(uint8_t kind) {
    const char* names[] = {"condition", "brightness", "light", "display"};
    return names[kind & 3];
}

TEST_F(LineParser, OffsetTypeAndComparisonOptionsStoreTheirFields) {
    struct Case {
        uint8_t kind;
        const char* line;
        uint16_t offset;
        uint32_t flags;
        uint16_t valueType;
        uint8_t compareOp;
        float literal;
    };
    const uint32_t OFS = FLAG_HAS_OFFSET, NUM = FLAG_HAS_NUMBER;
    const Case cases[] = {
        {KIND_LIGHT, "X0BC4 U8 =1", 0x0BC4, OFS | NUM, VT_U8, CMP_EQ, 1.0f},
        {KIND_LIGHT, "x0bc4 s8 !=-2", 0x0BC4, OFS | NUM, VT_S8, CMP_NE, -2.0f},
        {KIND_LIGHT, "IX1F0 S16 >=-2.5", 0x1F0, OFS | NUM | FLAG_INDIRECT_OFFSET, VT_S16, CMP_GE, -2.5f},
        {KIND_LIGHT, "X10 S32 <5", 0x10, OFS | NUM, VT_S32, CMP_LT, 5.0f},
        {KIND_LIGHT, "X10 U16 <=.5", 0x10, OFS | NUM, VT_U16, CMP_LE, 0.5f},
        {KIND_LIGHT, "X10 u32 >+7", 0x10, OFS | NUM, VT_U32, CMP_GT, 7.0f},
        {KIND_LIGHT, "X10 =X1F", 0x10, OFS | NUM, VT_DEFAULT, CMP_EQ, 31.0f},
        {KIND_LIGHT, "X10 !=xffffffff", 0x10, OFS | NUM, VT_DEFAULT, CMP_NE, 4294967296.0f},
        {KIND_CONDITION, "X10 F64 =1e3", 0x10, OFS | NUM, VT_F64, CMP_EQ, 1000.0f},
        {KIND_CONDITION, "X10 F32 2.5E-1", 0x10, OFS | NUM, VT_F32, CMP_NONE, 0.25f},
        {KIND_CONDITION, "X10 .5", 0x10, OFS | NUM, VT_DEFAULT, CMP_NONE, 0.5f},
        {KIND_DISPLAY, "XFFFF STR", 0xFFFF, OFS, VT_STR, CMP_NONE, 0.0f},
        {KIND_DISPLAY, "X10 R0", 0x10, OFS, VT_R0, CMP_NONE, 0.0f},
        {KIND_DISPLAY, "X10 r2", 0x10, OFS, VT_R2, CMP_NONE, 0.0f},
        {KIND_DISPLAY, "=5", 0, NUM, VT_DEFAULT, CMP_EQ, 5.0f},
        {KIND_BRIGHTNESS, "12", 0, NUM, VT_DEFAULT, CMP_NONE, 12.0f},
        // Later occurrences win for single-valued fields.
        {KIND_LIGHT, "X10 X20 U8 S16 =1 =2", 0x20, OFS | NUM, VT_S16, CMP_EQ, 2.0f},
        // A number beyond the float range saturates instead of becoming an infinity.
        {KIND_LIGHT, "X10 =1e60", 0x10, OFS | NUM, VT_DEFAULT, CMP_EQ, 3.4028235e38f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(kindName(c.kind) + ": " + c.line);
        Parsed p = parse(c.line, c.kind);
        ASSERT_EQ(p.result, 1) << p.line;
        EXPECT_EQ(p.line, c.line);
        EXPECT_EQ(p.record.offset, c.offset);
        EXPECT_EQ(p.record.flags, c.flags);
        EXPECT_EQ(p.record.valueType, c.valueType);
        EXPECT_EQ(p.record.compareOp, c.compareOp);
        EXPECT_EQ(literalFloat(p.record), c.literal);
    }
}

TEST_F(LineParser, TypeOffsetMaskAndScalingAreStored) {
    Parsed p = parse("I3000 X1234 M00FF *0.5 /2 F32", KIND_DISPLAY);
    ASSERT_EQ(p.result, 1) << p.line;
    EXPECT_EQ(p.record.flags, FLAG_TYPE_FROM_SIM | FLAG_HAS_OFFSET);
    EXPECT_EQ(p.record.typeOffset, 0x3000);
    EXPECT_EQ(p.record.offset, 0x1234);
    EXPECT_EQ(p.record.mask, 0xFFu);
    EXPECT_EQ(p.record.multiplier, 0.5f);
    EXPECT_EQ(p.record.divisor, 2.0f);

    // An exponent belongs to its number: "/1e3" is a divisor of 1000, not a divisor of 1
    // followed by a stray literal 3 (which the display would then reject).
    p = parse("X10 /1e3 *-2.5e+1", KIND_DISPLAY);
    ASSERT_EQ(p.result, 1) << p.line;
    EXPECT_EQ(p.record.divisor, 1000.0f);
    EXPECT_EQ(p.record.multiplier, -25.0f);
    EXPECT_EQ(p.record.flags, FLAG_HAS_OFFSET);

    // A mask longer than 32 bits saturates rather than wrapping to its low digits.
    p = parse("X10 M1000000FF", KIND_DISPLAY);
    ASSERT_EQ(p.result, 1);
    EXPECT_EQ(p.record.mask, 0xFFFFFFFFu);
}

TEST_F(LineParser, RejectedLinesGetTheirErrorTextAtTheEnd) {
    struct Case {
        uint8_t kind;
        const char* line;
        const char* error;
    };
    const Case cases[] = {
        {KIND_LIGHT, "X0BC4 U8 = 1", " <<< Bad literal value"},
        {KIND_LIGHT, "X0BC4 < 5", " <<< Bad literal value"},
        {KIND_LIGHT, "X0BC4 >'a'", " <<< Bad literal value"},
        {KIND_LIGHT, "X0BC4 =", " <<< Bad literal value"},
        {KIND_LIGHT, "X0BC4 =XG", " <<< Bad literal: X not followed by hexadecimal"},
        {KIND_LIGHT, "X =1", " <<< Bad X: offset not hexadecimal"},
        {KIND_LIGHT, "IX =1", " <<< Bad X: offset not hexadecimal"},
        {KIND_LIGHT, "X10000", " <<< Bad X: offset too high"},
        {KIND_LIGHT, "X0BC4C1", " <<< Bad X: offset too high"},
        {KIND_LIGHT, "X100000000", " <<< Bad X: offset too high"},  // would wrap to 0
        {KIND_LIGHT, "X1234567890ABCDEF1234567890ABCDEF12345678", " <<< Bad X: offset too high"},
        {KIND_LIGHT, "IX10000", " <<< Bad X: offset too high"},
        {KIND_LIGHT, "X10 I", " <<< Bad I: offset not hexadecimal"},
        {KIND_LIGHT, "X10 I10000", " <<< Bad I: offset too high"},
        {KIND_LIGHT, "X10 M", " <<< Bad M: mask not hexadecimal"},
        {KIND_DISPLAY, "X10 *x", " <<< Bad multiplier (*)"},
        {KIND_DISPLAY, "X10 /x", " <<< Bad multiplier (*)"},
        {KIND_DISPLAY, "X10 R3", " <<< Bad Radio type: R0-R2 accepted"},
        {KIND_DISPLAY, "X10 R", " <<< Bad Radio type: R0-R2 accepted"},
        {KIND_LIGHT, "X10 S7", " <<< Bad value type: S8, S16, S32 or STR accepted"},
        {KIND_LIGHT, "X10 S1", " <<< Bad value type: S8, S16, S32 or STR accepted"},
        {KIND_LIGHT, "X10 U7", " <<< Bad value type: U8, U16 or U32 accepted"},
        {KIND_LIGHT, "X10 U", " <<< Bad value type: U8, U16 or U32 accepted"},
        {KIND_DISPLAY, "X10 D7", " <<< Bad Display format"},
        {KIND_DISPLAY, "X10 D1000", " <<< Bad Display format"},
        {KIND_DISPLAY, "X10 D", " <<< Bad Display format"},
        {KIND_DISPLAY, "X10 D070", " <<< Bad Display format"},
        {KIND_DISPLAY, "X10 DX7", " <<< Bad Display format"},
        {KIND_DISPLAY, "X10 D100000000000000000000000000000", " <<< Bad Display format"},
        {KIND_LIGHT, "X10 C", " <<< Bad Condition number"},
        {KIND_LIGHT, "X10 !Cx", " <<< Bad Condition number"},
        {KIND_LIGHT, "X10 C256", " <<< Bad Condition number"},
        {KIND_LIGHT, "X10 C99999999999999", " <<< Bad Condition number"},
        {KIND_LIGHT, "X10 A", " <<< Bad A: needs literal string \"\""},
        {KIND_LIGHT, "X10 A'GEAR'", " <<< Bad A: needs literal string \"\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(kindName(c.kind) + ": " + c.line);
        Parsed p = parse(c.line, c.kind);
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.line, std::string(c.line) + c.error);
    }
    EXPECT_EQ(itemTable()[0].kind, 0);  // nothing was stored
    EXPECT_EQ(itemTable()[0].flags, 0u);
}

TEST_F(LineParser, FlashAndTimedSuffixes) {
    struct Case {
        const char* line;
        uint32_t flags;  // besides HasOffset
        uint32_t periodMs;
    };
    const Case accepted[] = {
        {"X0BC4 Fslow", FLAG_FLASH_SLOW, 0},
        {"X0BC4 FFAST", FLAG_FLASH_FAST, 0},
        {"X0BC4 Fs5off", FLAG_FLASH_SLOW | FLAG_TIMED_OFF, 5000},
        {"X0BC4 Ff59on", FLAG_FLASH_FAST | FLAG_TIMED_ON, 59000},
        {"X0BC4 FS1ON", FLAG_FLASH_SLOW | FLAG_TIMED_ON, 1000},
        {"X0BC4 St5off", FLAG_TIMED_OFF, 5000},
        {"X0BC4 sT05OFF", FLAG_TIMED_OFF, 5000},
        {"X0BC4 Fslow Ffast", FLAG_FLASH_SLOW | FLAG_FLASH_FAST, 0},
    };
    for (const Case& c : accepted) {
        SCOPED_TRACE(c.line);
        Parsed p = parse(c.line, KIND_LIGHT);
        ASSERT_EQ(p.result, 1) << p.line;
        EXPECT_EQ(p.record.flags, c.flags | FLAG_HAS_OFFSET);
        EXPECT_EQ(p.record.timerPeriodMs, c.periodMs);
    }

    const std::string F_ERROR =
        " <<< Unknown 'F' parameter: not one of Ffast, Fslow, F32, F64, Ff<n>on, Ff<n>off, "
        "Fs<n>on, Fs<n>off";
    const std::string ST_ERROR =
        " <<< Bad steady parameter: St<n>off with <n> value 1-59 secs accepted";
    const std::pair<const char*, std::string> rejected[] = {
        {"X0BC4 Ff60on", F_ERROR},   {"X0BC4 Ff0on", F_ERROR},
        {"X0BC4 Ff5of", F_ERROR},    {"X0BC4 Fs", F_ERROR},
        {"X0BC4 Fsl", F_ERROR},      {"X0BC4 F3", F_ERROR},
        {"X0BC4 F", F_ERROR},        {"X0BC4 Ff99999999999on", F_ERROR},
        {"X0BC4 St5on", ST_ERROR},   {"X0BC4 St60off", ST_ERROR},
        {"X0BC4 St0off", ST_ERROR},  {"X0BC4 St", ST_ERROR},
    };
    for (const auto& c : rejected) {
        SCOPED_TRACE(c.first);
        Parsed p = parse(c.first, KIND_LIGHT);
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.line, c.first + c.second);
    }
}

TEST_F(LineParser, DisplayFormatsAndTheLeadingZeroForm) {
    struct Case {
        const char* line;
        int16_t format;
        uint32_t flags;  // besides HasOffset
    };
    const Case cases[] = {
        {"X1 D5", 5, 0},
        {"X1 D05", 5, 0},
        {"X1 D012", 1012, 0},
        {"X1 D00", 1000, 0},
        {"X1 D0", 0, 0},
        {"X1 D666", 666, 0},
        {"X1 D0000000000000000000000000042", 1042, 0},
        {"X1 DX", 0, FLAG_HEX_DISPLAY},
        {"X1 dx012", 1012, FLAG_HEX_DISPLAY},
        {"X1 D-12", 12, FLAG_SHOW_SIGN},
        {"X1 D-", 0, FLAG_SHOW_SIGN},
        {"X1 D12 DX", 0, FLAG_HEX_DISPLAY},
        {"X1 D3.2", 3, 0},  // digits and points after the format are skipped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Parsed p = parse(c.line, KIND_DISPLAY);
        ASSERT_EQ(p.result, 1) << p.line;
        EXPECT_EQ(p.record.displayFormat, c.format);
        EXPECT_EQ(p.record.flags, c.flags | FLAG_HAS_OFFSET);
    }
}

TEST_F(LineParser, TextLiteralsKeepEightCharactersAndUndoubleQuotes) {
    struct Case {
        const char* line;
        const char* text;
    };
    const Case cases[] = {
        {"\"HELLO WORLD\"", "HELLO WO"},
        {"'IT''S'", "IT'S"},
        {"\"say \"\"hi\"\"\"", "say \"hi\""},
        {"'AB\"C'", "AB\"C"},
        {"'ABC", "ABC"},                 // an unclosed text runs to the end of the line
        {"'A;B'", "A;B"},                // a ";" inside quotes is text, not a comment
        {"=5 'AB'", "AB"},               // the earlier number's bytes are gone
        {"=\"EQ\"", "EQ"},
        {"''", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Parsed p = parse(c.line, KIND_DISPLAY);
        ASSERT_EQ(p.result, 1) << p.line;
        EXPECT_EQ(p.record.flags, FLAG_HAS_STRING);
        EXPECT_EQ(literalText(p.record), c.text);
        size_t n = std::strlen(c.text);
        for (size_t i = n; i < sizeof p.record.literal; ++i) EXPECT_EQ(p.record.literal[i], 0);
    }
}

TEST_F(LineParser, TextMatchOnTruthItemsAndEachLiteralClearsTheOthers) {
    Parsed p = parse("A\"GEAR\"", KIND_LIGHT);
    ASSERT_EQ(p.result, 1) << p.line;
    EXPECT_EQ(p.record.flags, FLAG_TEXT_MATCH);
    EXPECT_EQ(literalText(p.record), "GEAR");
    EXPECT_TRUE(textMatchUsed());

    p = parse("aa\"STALL WARNING\"", KIND_CONDITION);
    ASSERT_EQ(p.result, 1) << p.line;
    EXPECT_EQ(p.record.flags, FLAG_TEXT_MATCH | FLAG_TEXT_MATCH_ANYWHERE);
    EXPECT_EQ(literalText(p.record), "STALL WA");

    // A number after the text match replaces it as the literal.
    p = parse("A\"GEAR\" =1", KIND_LIGHT);
    ASSERT_EQ(p.result, 1) << p.line;
    EXPECT_EQ(p.record.flags, FLAG_HAS_NUMBER);
    EXPECT_EQ(literalFloat(p.record), 1.0f);
}

TEST_F(LineParser, FinalChecksPerKindInTheirOrder) {
    struct Case {
        uint8_t kind;
        const char* line;
        const char* error;
    };
    const Case cases[] = {
        {KIND_DISPLAY, "D3 M1", " <<< needs offset or literal to get value"},
        {KIND_BRIGHTNESS, "", " <<< needs offset or literal to get value"},
        {KIND_DISPLAY, "A\"x\"", " <<< incorrect use of A\"<str>\" option"},
        {KIND_BRIGHTNESS, "X10 A\"x\"", " <<< incorrect use of A\"<str>\" option"},
        {KIND_DISPLAY, "X0BC4 5", " <<< either offset or literal, not both"},
        {KIND_DISPLAY, "X0BC4 =5", " <<< either offset or literal, not both"},
        {KIND_BRIGHTNESS, "X10 'x'", " <<< either offset or literal, not both"},
        {KIND_BRIGHTNESS, "'x'", " <<< cannot set brightness with string"},
        {KIND_BRIGHTNESS, ">'x'", " <<< Bad literal value"},
        {KIND_DISPLAY, ">5", " <<< no internal conditions allowed, use references to [Conditions]"},
        {KIND_DISPLAY, "X1 !=5 X2", " <<< either offset or literal, not both"},
        {KIND_DISPLAY, "!=5", " <<< no internal conditions allowed, use references to [Conditions]"},
        {KIND_BRIGHTNESS, "X1 <=", " <<< Bad literal value"},
        {KIND_BRIGHTNESS, "X1 <=1 X2", " <<< either offset or literal, not both"},
        {KIND_LIGHT, "'x'", " <<< cannot use strings with lights or conditions"},
        {KIND_CONDITION, "X10 ='x'", " <<< cannot use strings with lights or conditions"},
        {KIND_LIGHT, "", " <<< needs offset and/or literal to get result"},
        {KIND_LIGHT, "M1 U8 Fslow", " <<< needs offset and/or literal to get result"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(kindName(c.kind) + ": " + c.line);
        Parsed p = parse(c.line, c.kind);
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.line, std::string(c.line) + c.error);
    }
    // What the checks do allow: a comparison on a light, a constant alone, "=" on a value.
    for (const char* line : {"X10 >=3", "1", "X10"}) {
        EXPECT_EQ(parse(line, KIND_LIGHT).result, 1) << line;
    }
    EXPECT_EQ(parse("=\"TEXT\"", KIND_DISPLAY).result, 1);
    EXPECT_EQ(parse("X10 =", KIND_BRIGHTNESS).result, 0);
}

TEST_F(LineParser, ConditionReferencesCountAgainstStoredConditions) {
    storeConditions({0, 1, 3});  // keys 2 and 4 are missing or were rejected
    const std::string FORWARD = " <<< Cannot use forward condition reference";
    const std::string MISSING = " <<< Condition referenced doesn't exist";

    Parsed p = parse("X1 C0 !C1", KIND_CONDITION);  // as key 5 of [Conditions]
    ASSERT_EQ(p.result, 1) << p.line;
    EXPECT_EQ(p.record.requiredConditions[0], 1);
    EXPECT_EQ(p.record.excludedConditions[0], 2);
    EXPECT_EQ(p.record.requiredConditions[1], 0);

    struct Case {
        uint8_t kind;
        const char* line;
        std::string error;  // empty: accepted
    };
    const Case cases[] = {
        {KIND_CONDITION, "X1 C3", FORWARD},   // three stored, and 3 is not below 3
        {KIND_CONDITION, "X1 !C7", FORWARD},
        {KIND_CONDITION, "X1 C2", MISSING},   // below the count, but never stored
        {KIND_LIGHT, "X1 C3", ""},
        {KIND_LIGHT, "X1 C2", MISSING},
        {KIND_LIGHT, "X1 !C4", MISSING},
        {KIND_LIGHT, "X1 C255", MISSING},     // condition keys stop at 254
        {KIND_LIGHT, "X1 C03", ""},
        {KIND_LIGHT, "X1 C3.5", ""},          // points after the number are skipped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(kindName(c.kind) + ": " + c.line);
        Parsed q = parse(c.line, c.kind);
        EXPECT_EQ(q.result, c.error.empty() ? 1 : 0);
        EXPECT_EQ(q.line, c.line + c.error);
    }

    // With nothing stored yet no condition exists, and a condition cannot look back.
    EXPECT_EQ(parse("X1 C0", KIND_LIGHT, 0).line, "X1 C0" + MISSING);
    EXPECT_EQ(parse("X1 C0", KIND_CONDITION, 0).line, "X1 C0" + FORWARD);
}

TEST_F(LineParser, EightReferencesOfEachSignAcceptedTheNinthRejected) {
    storeConditions({0, 1, 2, 3, 4, 5, 6, 7, 8});
    const std::string eightPositive = "X1 C0 C1 C2 C3 C4 C5 C6 C7";
    const std::string eightNegative = " !C0 !C1 !C2 !C3 !C4 !C5 !C6 !C7";

    Parsed p = parse(eightPositive + eightNegative, KIND_LIGHT);
    ASSERT_EQ(p.result, 1) << p.line;
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(p.record.requiredConditions[i], i + 1);
        EXPECT_EQ(p.record.excludedConditions[i], i + 1);
    }

    p = parse(eightPositive + eightNegative + " !C8", KIND_LIGHT);
    EXPECT_EQ(p.line, eightPositive + eightNegative + " !C8 <<< Too many negative conditions");
    p = parse(eightNegative + " !C8", KIND_LIGHT);
    EXPECT_EQ(p.line, eightNegative + " !C8 <<< Too many negative conditions");
    p = parse(eightPositive + " C8" + eightNegative, KIND_LIGHT);
    EXPECT_EQ(p.line, eightPositive + " C8" + eightNegative + " <<< Too many positive conditions");
}

TEST_F(LineParser, CommentIsNotReadAndAnErrorGoesAfterIt) {
    storeConditions({0, 1, 2});
    Parsed p = parse("X0BC4 C1 !C2 ; comment with C9 and ' and D7", KIND_LIGHT);
    ASSERT_EQ(p.result, 1) << p.line;
    EXPECT_EQ(p.record.requiredConditions[0], 2);
    EXPECT_EQ(p.record.excludedConditions[0], 3);

    p = parse("X0BC4 C1 !C9 ; note", KIND_LIGHT);
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.line, "X0BC4 C1 !C9 ; note <<< Condition referenced doesn't exist");
}

TEST_F(LineParser, OldVerdictIsCutBeforeParsing) {
    // Corrected in front of the old text: stored, and the shortened line is handed back.
    Parsed p = parse("X0BC4 U8 =1 <<< Bad literal value", KIND_LIGHT);
    EXPECT_EQ(p.result, -1);
    EXPECT_EQ(p.line, "X0BC4 U8 =1 ");
    EXPECT_EQ(p.record.offset, 0x0BC4);

    // Still wrong: the fresh verdict follows the blanks that stood before the old one,
    // and there is only ever one verdict on the line.
    p = parse("X0BC4 U8 = 1 <<< Bad literal value", KIND_LIGHT);
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.line, "X0BC4 U8 = 1  <<< Bad literal value");

    // Whatever follows the first "<<<" is gone, even option text.
    p = parse("X10 <<< X20 <<< older", KIND_LIGHT);
    EXPECT_EQ(p.result, -1);
    EXPECT_EQ(p.record.offset, 0x10);
}

TEST_F(LineParser, RecordCarriesTheLoaderValuesAndLandsAtItsPosition) {
    storeConditions({0});
    char line[LINE_BUFFER_SIZE] = "X10";
    ASSERT_EQ(parseItemLine(1, DEV_GFEFIS, KIND_LIGHT, 23, 4, line, 24,
                            FLAG_NEEDS_A | FLAG_NEEDS_V),
              1);
    const ItemRecord& r = itemTable()[1];
    EXPECT_EQ(r.deviceType, DEV_GFEFIS);
    EXPECT_EQ(r.kind, KIND_LIGHT);
    EXPECT_EQ(r.index, 23);
    EXPECT_EQ(r.unit, 4);
    EXPECT_EQ(r.minVoltage, 24);
    EXPECT_EQ(r.flags, FLAG_NEEDS_A | FLAG_NEEDS_V | FLAG_HAS_OFFSET);
    EXPECT_EQ(itemTable()[0].kind, KIND_CONDITION);  // the condition before it is untouched
    EXPECT_EQ(itemCount(), 1);                        // counting is the loader's job
}

TEST_F(LineParser, LineThatCannotBeStoredIsRejectedForLackOfMemory) {
    // A table that cannot grow, and a position it cannot reach in one growth step: the
    // line is rejected like any other and nothing is written anywhere.
    fake::failItemMemoryAt(1);
    Parsed grown = parse("X10", KIND_LIGHT, itemCapacity());
    fake::restoreItemMemory();
    EXPECT_EQ(grown.result, 0);
    EXPECT_EQ(grown.line, "X10 <<< cannot obtain enough memory!");
    resetItemTable();
    Parsed far = parse("X10", KIND_LIGHT, itemCapacity() + 5);
    EXPECT_EQ(far.result, 0);
    EXPECT_EQ(far.line, "X10 <<< cannot obtain enough memory!");
}

TEST_F(LineParser, NothingIsWrittenPastTheLineBuffer) {
    // The longest value the loader reads plus the longest verdict fits exactly as is.
    std::string value(253, ' ');
    value += 'F';
    Parsed p = parse(value, KIND_LIGHT);
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.line.size(), 254u + 99u);

    // A buffer already full keeps every character of the line and gets what still fits
    // of the verdict. The buffer is heap-allocated at its exact size so the sanitizer
    // sees any write beyond it.
    for (size_t length : {size_t{511}, size_t{505}, size_t{420}}) {
        SCOPED_TRACE(length);
        char* buffer = new char[LINE_BUFFER_SIZE];
        std::memset(buffer, 'Q', length);
        buffer[length] = '\0';
        EXPECT_EQ(parseItemLine(0, DEV_GF45, KIND_LIGHT, 0, 0, buffer, 0, 0), 0);
        size_t verdict = std::strlen(lineErrorText(ERR_NEEDS_RESULT));
        EXPECT_EQ(strnlen(buffer, LINE_BUFFER_SIZE),
                  std::min<size_t>(LINE_BUFFER_SIZE - 1u, length + verdict));
        EXPECT_EQ(std::string(buffer, length), std::string(length, 'Q'));
        delete[] buffer;
    }

    // No terminator at all inside the buffer: taken as a full line, never read beyond.
    char* buffer = new char[LINE_BUFFER_SIZE];
    std::memset(buffer, 'Q', LINE_BUFFER_SIZE);
    EXPECT_EQ(parseItemLine(0, DEV_GF45, KIND_LIGHT, 0, 0, buffer, 0, 0), 0);
    EXPECT_EQ(buffer[LINE_BUFFER_SIZE - 1], '\0');
    delete[] buffer;
}

TEST(LineErrors, TextsAreDistinctVerdictsAndTheLongestFitsAfterAFullValue) {
    size_t longest = 0;
    for (int e = LINE_OK + 1; e < LINE_ERROR_COUNT; ++e) {
        std::string text = lineErrorText(e);
        EXPECT_EQ(text.rfind(" <<< ", 0), 0u) << text;
        for (int other = e + 1; other < LINE_ERROR_COUNT; ++other) {
            EXPECT_NE(text, lineErrorText(other));
        }
        if (text.size() > longest) longest = text.size();
    }
    EXPECT_EQ(LINE_ERROR_COUNT - 1, 28);
    EXPECT_EQ(longest, 99u);
    EXPECT_LE(254 + longest + 1, static_cast<size_t>(LINE_BUFFER_SIZE));
    EXPECT_STREQ(lineErrorText(LINE_ERROR_COUNT), "");
}

TEST(ReadHex, StopsAtTheFirstNonDigitAndLeavesTheCursorOnFailure) {
    const char* text = "0bC4 rest";
    const char* cursor = text;
    uint32_t value = 7;
    ASSERT_TRUE(readHex(cursor, value));
    EXPECT_EQ(value, 0x0BC4u);
    EXPECT_EQ(cursor, text + 4);

    const char* none = "G1";
    cursor = none;
    value = 7;
    EXPECT_FALSE(readHex(cursor, value));
    EXPECT_EQ(cursor, none);
    EXPECT_EQ(value, 7u);
}

}  // namespace
