// The text a display item shows: numbers with fixed decimals, a minimum of integer
// digits, an optional sign column and trailing blanks, in decimal or hexadecimal; the
// three radio layouts from packed digits; and strings passed through unchanged.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "config/items.h"
#include "eval/eval.h"

const float halfUnitTable[7] = {0.5f, 0.05f, 0.005f, 0.0005f, 0.00005f, 0.000005f, 0.0000005f};

// One call's work area: a number is written from byte 1, every other text from byte 6,
// so five blanks stand in front of a text and a sign column fits in front of a number.
// 13 characters of number, a sign and the trailing blanks stay well inside it.
static char workArea[32];
constexpr int NUMBER_START = 1;
constexpr int TEXT_START = 6;

static int clampDigit(int v) { return v > 6 ? 6 : v; }

DisplayFormat decodeDisplayFormat(int16_t displayFormat) {
    uint32_t e = static_cast<uint16_t>(displayFormat);
    DisplayFormat f = {0, 0, 0};
    if (e < 10) {
        f.minDigits = static_cast<int>(e);
    } else if (e < 100) {
        f.minDigits = static_cast<int>(e / 10);
        f.decimals = static_cast<int>(e % 10);
    } else {
        f.minDigits = static_cast<int>((e / 100) % 10);
        f.decimals = static_cast<int>((e % 100) / 10);
        f.trailingSpaces = static_cast<int>(e % 10);
    }
    // The grammar keeps every digit at 6 or below; a stray code must still not index
    // past the tolerance table or cut behind the six fraction digits.
    f.minDigits = clampDigit(f.minDigits);
    f.decimals = clampDigit(f.decimals);
    f.trailingSpaces = clampDigit(f.trailingSpaces);
    return f;
}

static float lastAsFloat(const ItemState& item) {
    float v;
    std::memcpy(&v, item.last, sizeof v);
    return v;
}

// The literal becomes what the display shows and what `last` remembers.
static void showLiteral(ItemState& item) {
    std::memcpy(item.last, item.literal, 8);
    std::memcpy(workArea + TEXT_START, item.last, 8);
}

// Writes the number into the work area and returns where its text begins; sets *mode
// to 1 when it does not fit.
static char* formatNumber(const ItemState& item, int16_t displayFormat, int* mode) {
    DisplayFormat f = decodeDisplayFormat(displayFormat);
    bool hex = (item.flags & FLAG_HEX_DISPLAY) != 0;
    double v = lastAsFloat(item);
    bool negative = false;
    if (std::isnan(v)) v = 0.0;

    char* text = workArea + NUMBER_START;
    bool overflow;
    if (hex) {
        // A negative value has no hexadecimal digits worth showing, whatever its size.
        overflow = !(v >= 0.0 && v < 16777216.0);
    } else {
        if (v < 0) {
            negative = true;
            v = -v;
        }
        v += halfUnitTable[f.decimals];
        overflow = !(v < 1000000.0);  // also catches infinity
    }

    if (!overflow) {
        int32_t whole = static_cast<int32_t>(v);
        int32_t fraction = static_cast<int32_t>((v - whole) * 1000000.0);
        // A fraction a hair below 1 can round up to a whole million; it must not
        // widen the text by a digit.
        if (fraction > 999999) fraction = 999999;
        const size_t room = sizeof workArea - NUMBER_START;
        if (hex)
            std::snprintf(text, room, "%06X.%06X", static_cast<unsigned>(whole),
                          static_cast<unsigned>(fraction));
        else
            std::snprintf(text, room, "%06d.%06d", static_cast<int>(whole),
                          static_cast<int>(fraction));
        char* point = text + 6;
        if (f.decimals > 0)
            point[1 + f.decimals] = '\0';
        else
            *point = '\0';

        int keep = (f.minDigits == 0 && f.decimals == 0) ? 1 : f.minDigits;
        while (keep < 6 && *text == '0') {
            ++text;
            ++keep;
        }
        if (item.flags & FLAG_SHOW_SIGN) {
            --text;
            *text = negative ? '-' : ' ';
        }
    } else {
        *mode = 1;
    }

    size_t end = std::strlen(text);
    for (int s = 0; s < f.trailingSpaces; ++s) text[end++] = ' ';
    text[end] = '\0';
    return text;
}

const char* buildDisplayText(ItemState& item, int16_t displayFormat, int* mode) {
    std::memset(workArea, ' ', TEXT_START);
    std::memset(workArea + TEXT_START, 0, sizeof workArea - TEXT_START);
    *mode = 0;
    char* text = workArea + NUMBER_START;
    char* at = workArea + TEXT_START;
    const size_t room = sizeof workArea - TEXT_START;
    const uint8_t* b = item.last;

    switch (item.valueType) {
    case VT_STR:
        *mode = -1;
        if (item.flags & FLAG_HAS_OFFSET) {
            std::memcpy(at, item.last, 8);
        } else if (item.flags & FLAG_HAS_STRING) {
            showLiteral(item);
        } else {
            // A number on a text display shows nothing, but `last` still follows it.
            std::memcpy(item.last, item.literal, 8);
        }
        break;
    case VT_R0:
        std::snprintf(at, room, "%04X", static_cast<unsigned>(b[0] | (b[1] << 8)));
        break;
    case VT_R1:
        std::snprintf(at, room, "%c%03X.%c", '0' + (b[3] & 0x0F),
                      static_cast<unsigned>((b[0] | (b[1] << 8)) & 0x0FFF), '0' + (b[2] & 0x0F));
        break;
    case VT_R2:
        std::snprintf(at, room, "1%02X.%02X", static_cast<unsigned>(b[1]),
                      static_cast<unsigned>(b[0]));
        break;
    default:
        if ((item.flags & (FLAG_HAS_STRING | FLAG_HAS_OFFSET)) == FLAG_HAS_STRING)
            showLiteral(item);
        else
            text = formatNumber(item, displayFormat, mode);
        break;
    }
    return text;
}
