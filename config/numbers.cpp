// Our own decimal conversions for settings text: plain decimal only, saturating,
// deterministic across compilers and C runtimes.
#include "config/numbers.h"

#include <cfloat>

namespace {

// 1e0..1e22 are exact in a double, so one multiplication or division by them rounds
// once; larger scales are reached in steps of 1e22, which is plenty for a float.
const double POW10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Beyond this every mantissa we can hold overflows or underflows anyway. The scale itself
// is counted in 64 bits (a text cannot be long enough to overflow it) and the written
// exponent is capped far above this, so only the final scale needs clamping.
constexpr int64_t SCALE_LIMIT = 400;
constexpr int64_t EXPONENT_CAP = 1000000000;
constexpr int MAX_SIGNIFICANT = 19;  // 10^19 - 1 still fits in 64 bits

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Both conversions start alike: blanks, then an optional sign.
const char* skipBlanksAndSign(const char* p, bool* negative) {
    while (isBlank(*p)) ++p;
    if (*p == '+' || *p == '-') {
        *negative = *p == '-';
        ++p;
    }
    return p;
}

int32_t clampScale(int64_t s) {
    if (s > SCALE_LIMIT) return static_cast<int32_t>(SCALE_LIMIT + 1);
    if (s < -SCALE_LIMIT) return static_cast<int32_t>(-SCALE_LIMIT - 1);
    return static_cast<int32_t>(s);
}

// The digits of a decimal number: the first MAX_SIGNIFICANT significant ones in the
// mantissa, and the power of ten that scales it.
struct Digits {
    uint64_t mantissa;
    int significant;
    int64_t scale;
    bool any;
};

// Takes one more digit into the mantissa; false when it holds as many as it can.
bool takeDigit(Digits& d, char c) {
    if (d.significant >= MAX_SIGNIFICANT) return false;
    d.mantissa = d.mantissa * 10 + static_cast<uint64_t>(c - '0');
    if (d.mantissa != 0) ++d.significant;
    return true;
}

// The digits before and after the point; either run may be missing, not both. Returns
// where they end (the point stays unread when no digit came at all).
const char* readMantissa(const char* p, Digits& d) {
    while (isDigit(*p)) {
        d.any = true;
        if (!takeDigit(d, *p)) ++d.scale;
        ++p;
    }
    if (*p == '.') {
        const char* q = p + 1;
        while (isDigit(*q)) {
            d.any = true;
            if (takeDigit(d, *q)) --d.scale;
            ++q;
        }
        if (d.any) p = q;
    }
    return p;
}

// An exponent at `p` ("e" or "E", a sign, digits) added to `scale`. Without a digit after
// the "e" (and sign) there is none, and `p` is returned as it came.
const char* readExponent(const char* p, int64_t& scale) {
    if (*p != 'e' && *p != 'E') return p;
    const char* q = p + 1;
    bool negative = false;
    if (*q == '+' || *q == '-') {
        negative = *q == '-';
        ++q;
    }
    if (!isDigit(*q)) return p;
    int64_t exponent = 0;
    while (isDigit(*q)) {
        if (exponent < EXPONENT_CAP) exponent = exponent * 10 + (*q - '0');
        ++q;
    }
    scale += negative ? -exponent : exponent;
    return q;
}

double scaled(uint64_t mantissa, int64_t scale) {
    double value = static_cast<double>(mantissa);
    if (mantissa == 0) return value;
    int32_t s = clampScale(scale);
    while (s > 22) {
        value *= POW10[22];
        s -= 22;
    }
    while (s < -22) {
        value /= POW10[22];
        s += 22;
    }
    value = s >= 0 ? value * POW10[s] : value / POW10[-s];
    return value > DBL_MAX ? DBL_MAX : value;
}

}  // namespace

double readDecimal(const char* text, const char** end) {
    bool negative = false;
    Digits d{0, 0, 0, false};
    const char* p = readMantissa(skipBlanksAndSign(text, &negative), d);
    if (!d.any) {
        if (end) *end = text;
        return 0.0;
    }
    p = readExponent(p, d.scale);
    if (end) *end = p;
    const double value = scaled(d.mantissa, d.scale);
    return negative ? -value : value;
}

int32_t readLeadingInt(const char* text, const char** end) {
    bool negative = false;
    const char* p = skipBlanksAndSign(text, &negative);
    if (!isDigit(*p)) {
        if (end) *end = text;
        return 0;
    }
    // Accumulate the magnitude with one step of headroom above INT32_MAX + 1, so the
    // most negative value is representable and nothing overflows.
    const int64_t limit = static_cast<int64_t>(INT32_MAX) + 1;
    int64_t magnitude = 0;
    while (isDigit(*p)) {
        if (magnitude <= limit) magnitude = magnitude * 10 + (*p - '0');
        ++p;
    }
    if (end) *end = p;
    if (negative) return magnitude >= limit ? INT32_MIN : static_cast<int32_t>(-magnitude);
    return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

float toFloatSaturating(double value) {
    if (value != value) return 0.0f;
    if (value > FLT_MAX) return FLT_MAX;
    if (value < -FLT_MAX) return -FLT_MAX;
    return static_cast<float>(value);
}
