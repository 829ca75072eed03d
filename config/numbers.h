// Decimal numbers in settings text. The conversions are our own so that one settings
// file means the same on every platform: the C library's also take hexadecimal floats,
// "inf" and "nan", and the Windows runtimes and glibc differ in the details.
#pragma once

#include <cstdint>

// Reads [blanks] [sign] digits [. digits] [e|E [sign] digits], where either the digits
// before or those after the point may be missing. Returns 0 when no digit is found.
// Magnitudes beyond the double range saturate to the largest double; an exponent is
// taken only when a digit follows the "e". `end`, when given, is set after the number,
// or to `text` when there was none.
double readDecimal(const char* text, const char** end = nullptr);

// Reads the leading decimal integer: [blanks] [sign] digits. Saturates at the limits
// of int32_t; 0 when the text does not start with a number (`end` is then `text`).
int32_t readLeadingInt(const char* text, const char** end = nullptr);

// Narrows to float, saturating at the largest float instead of producing an infinity
// (and instead of the undefined conversion of an out-of-range double). NaN gives 0.
float toFloatSaturating(double value);
