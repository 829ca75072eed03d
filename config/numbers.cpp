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

}  // namespace

double readDecimal(const char* text, const char** end) {
    bool negative = false;
    const char* p = skipBlanksAndSign(text, &negative);

    uint64_t mantissa = 0;
    int significant = 0;
    int64_t scale = 0;
    bool anyDigit = false;
    while (isDigit(*p)) {
        anyDigit = true;
        if (significant < MAX_SIGNIFICANT) {
            mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
            if (mantissa != 0) ++significant;
        } else {
            ++scale;
        }
        ++p;
    }
    if (*p == '.') {
        const char* q = p + 1;
        while (isDigit(*q)) {
            anyDigit = true;
            if (significant < MAX_SIGNIFICANT) {
                mantissa = mantissa * 10 + static_cast<uint64_t>(*q - '0');
                if (mantissa != 0) ++significant;
                --scale;
            }
            ++q;
        }
        if (anyDigit) p = q;
    }
    if (!anyDigit) {
        if (end) *end = text;
        return 0.0;
    }
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        bool expNegative = false;
        if (*q == '+' || *q == '-') {
            expNegative = *q == '-';
            ++q;
        }
        if (isDigit(*q)) {
            int64_t exponent = 0;
            while (isDigit(*q)) {
                if (exponent < EXPONENT_CAP) exponent = exponent * 10 + (*q - '0');
                ++q;
            }
            scale += expNegative ? -exponent : exponent;
            p = q;
        }
    }
    if (end) *end = p;

    double value = static_cast<double>(mantissa);
    if (mantissa != 0) {
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
        if (value > DBL_MAX) value = DBL_MAX;
    }
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
