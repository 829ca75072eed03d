// Fuzz target for what reaches a display: an item record (model, unit, display, flags,
// format code, value type, literal and last value) becomes a text (buildDisplayText),
// the text goes to the display (writeDisplay: alignment, the test pattern, routing) and
// is encoded into seven-segment bytes (textToSegments). The input:
//   26 bytes  the record: model, unit, display, flags (4), format code (2), value type,
//             literal (8), last value (8)
//   1 byte    bit 6: the last value is a decimal number built from its bytes rather than
//             their float; bit 7: writeDisplay gets the rest of the input as its text,
//             with mode (low two bits) - 1, instead of the item's text and mode
//   the rest  a text (up to a NUL), also encoded on its own
// Properties:
// - the item's text fits its work area, is the same when built again from the same
//   record, says what the record holds (the number in its format: sign column, integer
//   digits, decimals, trailing blanks, and within rounding of the value; the string; the
//   radio digits), and building it changes nothing in the record but `last`;
// - a display gets one call through the entry point of its form, nothing for a display
//   the model lacks; a text is terminated and keeps every character after the leading
//   blanks, right-aligned to the display's width when it fits; the test pattern comes
//   exactly when asked for or when a text does not fit where that is the rule;
// - segment bytes are the font's glyphs of the text's characters with the dots on the
//   position before them, nothing lit beyond the width of a text that fits, the
//   sixteenth byte zero; encoding reads no byte past the text's end and writes none past
//   the fifteenth;
// - the same text and mode give the same output every time, and nothing when the
//   display is known to show it already (a text longer than the record holds goes again).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "config/items.h"
#include "devices/devices.h"
#include "eval/eval.h"
#include "fuzz_check.h"
#include "platform/platform.h"

namespace {

constexpr size_t RECORD_BYTES = 26;
constexpr size_t SEGMENT_POSITIONS = 15;
constexpr size_t SEGMENT_BUFFER = 16;
constexpr size_t MAX_TEXT = 255;        // what writeDisplay passes on at most
constexpr size_t MAX_ITEM_TEXT = 20;    // a sign, 13 characters of number, 6 blanks
const std::string TEXT_BLANKS(5, ' ');  // in front of every text but a number

// What the library received in one writeDisplay.
struct Capture {
    int calls = 0;
    int unit = -1;
    bool segments = false;
    std::string text;
    uint8_t bytes[SEGMENT_BUFFER] = {};
    bool operator==(const Capture& o) const {
        return calls == o.calls && unit == o.unit && segments == o.segments && text == o.text &&
               std::memcmp(bytes, o.bytes, sizeof bytes) == 0;
    }
};
Capture captured;

void captureText(int unit, char* text) {
    ++captured.calls;
    captured.unit = unit;
    captured.segments = false;
    const size_t n = strnlen(text, MAX_TEXT + 1);
    FUZZ_CHECK(n <= MAX_TEXT);  // terminated within what the library is promised
    captured.text.assign(text, n);
}

void captureSegments(int unit, unsigned char* bytes) {
    ++captured.calls;
    captured.unit = unit;
    captured.segments = true;
    std::memcpy(captured.bytes, bytes, SEGMENT_BUFFER);
}

int libraryInit(void*) { return 0; }
void libraryTerminate() {}

// The panel library as the binding finds it: every display entry point of the list
// captures what it is sent; the rest is missing.
struct Symbol {
    const char* name;
    void* address;
};
#define FUZZ_Init(NAME) {#NAME, reinterpret_cast<void*>(&libraryInit)},
#define FUZZ_Terminate(NAME) {#NAME, reinterpret_cast<void*>(&libraryTerminate)},
#define FUZZ_Text(NAME) {#NAME, reinterpret_cast<void*>(&captureText)},
#define FUZZ_Segments(NAME) {#NAME, reinterpret_cast<void*>(&captureSegments)},
#define FUZZ_Register(NAME)
#define FUZZ_Unregister(NAME)
#define FUZZ_DeviceInfo(NAME)
#define FUZZ_Count(NAME)
#define FUZZ_Brightness(NAME)
#define FUZZ_GetIndicators(NAME)
#define FUZZ_SetIndicators(NAME)
#define FUZZ_GetIndicators32(NAME)
#define FUZZ_SetIndicators32(NAME)
#define FUZZ_SYMBOL(NAME, KIND) FUZZ_##KIND(NAME)
const Symbol symbols[] = {GF_ENTRY_POINTS(FUZZ_SYMBOL)};

// --- The item's text

float floatOf(const uint8_t* bytes) {
    float v;
    std::memcpy(&v, bytes, sizeof v);
    return v;
}

bool allOf(const std::string& s, const char* set) {
    return s.find_first_not_of(set) == std::string::npos;
}

const char DECIMAL[] = "0123456789";
const char HEX[] = "0123456789ABCDEF";

std::string bytesUpToNul(const uint8_t* b) {
    return std::string(reinterpret_cast<const char*>(b), strnlen(reinterpret_cast<const char*>(b), 8));
}

bool showsNumber(const ItemRecord& r) {
    return r.valueType != VT_STR && r.valueType != VT_R0 && r.valueType != VT_R1 &&
           r.valueType != VT_R2 && (r.flags & (FLAG_HAS_STRING | FLAG_HAS_OFFSET)) != FLAG_HAS_STRING;
}

// Whether `last` follows the literal: the record shows its literal, or it is a number
// on a text display.
bool lastTakesLiteral(const ItemRecord& r) {
    if (r.valueType == VT_STR) return (r.flags & FLAG_HAS_OFFSET) == 0;
    if (r.valueType == VT_R0 || r.valueType == VT_R1 || r.valueType == VT_R2) return false;
    return (r.flags & (FLAG_HAS_STRING | FLAG_HAS_OFFSET)) == FLAG_HAS_STRING;
}

void checkNumber(const ItemRecord& r, const uint8_t* last, const std::string& text, int mode) {
    const DisplayFormat f = decodeDisplayFormat(r.displayFormat);
    for (int digit : {f.minDigits, f.decimals, f.trailingSpaces}) FUZZ_CHECK(digit >= 0 && digit <= 6);
    const bool hex = (r.flags & FLAG_HEX_DISPLAY) != 0;
    const double v = floatOf(last);
    const std::string tail(static_cast<size_t>(f.trailingSpaces), ' ');
    if (mode == DISPLAY_TEST_PATTERN) {  // too large to show
        FUZZ_CHECK(text == TEXT_BLANKS + tail);
        FUZZ_CHECK(!std::isnan(v));
        FUZZ_CHECK(hex ? (v < 0.0 || v >= 16777216.0) : std::fabs(v) >= 999999.0);
        return;
    }
    FUZZ_CHECK(mode == DISPLAY_FIT);
    FUZZ_CHECK(text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0);
    std::string body = text.substr(0, text.size() - tail.size());
    if (r.flags & FLAG_SHOW_SIGN) {
        FUZZ_CHECK(!body.empty() && body[0] == (!hex && v < 0.0 ? '-' : ' '));
        body.erase(0, 1);
    }
    const size_t point = body.find('.');
    const std::string whole = body.substr(0, point);
    const std::string fraction = point == std::string::npos ? std::string() : body.substr(point + 1);
    FUZZ_CHECK(f.decimals > 0 ? fraction.size() == size_t(f.decimals) : point == std::string::npos);
    FUZZ_CHECK(allOf(whole, hex ? HEX : DECIMAL) && allOf(fraction, hex ? HEX : DECIMAL));
    // At least the minimum of integer digits (one when neither is asked for), and no
    // zero in front beyond that minimum.
    const size_t minimum = (f.minDigits == 0 && f.decimals == 0) ? 1 : size_t(f.minDigits);
    FUZZ_CHECK(whole.size() >= minimum && whole.size() <= 6);
    if (whole.size() > minimum) FUZZ_CHECK(whole[0] != '0');

    const double magnitude = std::isnan(v) ? 0.0 : std::fabs(v);
    if (hex) {
        const unsigned long shown = whole.empty() ? 0 : std::strtoul(whole.c_str(), nullptr, 16);
        FUZZ_CHECK(shown == static_cast<unsigned long>(magnitude));  // cut, not rounded
        return;
    }
    double shown = whole.empty() ? 0.0 : std::strtod(whole.c_str(), nullptr);
    if (!fraction.empty()) shown += std::strtod(fraction.c_str(), nullptr) / std::pow(10.0, f.decimals);
    FUZZ_CHECK(std::fabs(shown - magnitude) <= 0.5 * std::pow(10.0, -f.decimals) + 2e-6);
}

void checkItemText(const ItemRecord& r, const uint8_t* last, const std::string& text, int mode) {
    FUZZ_CHECK(text.size() <= MAX_ITEM_TEXT);
    FUZZ_CHECK(mode == DISPLAY_OVERFLOW || mode == DISPLAY_FIT || mode == DISPLAY_TEST_PATTERN);
    FUZZ_CHECK((mode == DISPLAY_OVERFLOW) == (r.valueType == VT_STR));
    switch (r.valueType) {
    case VT_STR:
        FUZZ_CHECK(text == TEXT_BLANKS + ((r.flags & FLAG_HAS_OFFSET)   ? bytesUpToNul(last)
                                          : (r.flags & FLAG_HAS_STRING) ? bytesUpToNul(r.literal)
                                                                        : std::string()));
        return;
    case VT_R0:  // four hexadecimal digits
        FUZZ_CHECK(text.size() == 9 && text.compare(0, 5, TEXT_BLANKS) == 0 && allOf(text.substr(5), HEX));
        return;
    case VT_R1:  // a digit, three hexadecimal ones, a point and a digit
    case VT_R2:  // "1", two hexadecimal digits, a point and two more
        FUZZ_CHECK(text.size() == 11 && text.compare(0, 5, TEXT_BLANKS) == 0);
        if (r.valueType == VT_R1)
            FUZZ_CHECK(allOf(text.substr(6, 3), HEX) && text[9] == '.');
        else
            FUZZ_CHECK(text[5] == '1' && allOf(text.substr(6, 2) + text.substr(9), HEX) && text[8] == '.');
        return;
    default:
        if (showsNumber(r))
            checkNumber(r, last, text, mode);
        else
            FUZZ_CHECK(text == TEXT_BLANKS + bytesUpToNul(r.literal));
    }
}

// Builds the text of `r` showing `last` from a fresh state and checks what building may
// change.
std::string buildText(const ItemRecord& r, const uint8_t* last, int* mode) {
    ItemState after = freshItemState(r);
    std::memcpy(after.last, last, 8);
    const char* text = buildDisplayText(after, r.displayFormat, mode);
    FUZZ_CHECK(text != nullptr);
    const std::string copy(text, strnlen(text, 64));
    const ItemState before = freshItemState(r);
    FUZZ_CHECK(after.key == before.key && after.flags == r.flags &&
               after.valueType == before.valueType && std::memcmp(after.literal, r.literal, 8) == 0);
    FUZZ_CHECK(std::memcmp(after.last, lastTakesLiteral(r) ? r.literal : last, 8) == 0);
    return copy;
}

// --- Segments

uint8_t glyphOf(unsigned char c) {
    if (c >= '0' && c <= '9') return segmentFont[c - '0'];
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return segmentFont[10 + c - 'A'];
    return c == '-' ? 0x40 : 0x00;
}

// Each character but a dot takes the next of the fifteen positions; a dot lights the
// point of the position before it (none in front of the first).
void expectedSegments(const std::string& text, uint8_t out[SEGMENT_BUFFER]) {
    std::memset(out, 0, SEGMENT_BUFFER);
    size_t pos = 0;
    for (size_t i = 0; i < text.size() && pos < SEGMENT_POSITIONS; ++i) {
        if (text[i] == '.') {
            if (pos > 0) out[pos - 1] |= 0x80;
        } else {
            out[pos++] = glyphOf(static_cast<unsigned char>(text[i]));
        }
    }
}

void checkEncoding(const std::string& text) {
    std::unique_ptr<char[]> exact(new char[text.size() + 1]);
    std::memcpy(exact.get(), text.c_str(), text.size() + 1);
    std::unique_ptr<uint8_t[]> out(new uint8_t[SEGMENT_POSITIONS]);
    textToSegments(exact.get(), out.get());
    uint8_t expected[SEGMENT_BUFFER];
    expectedSegments(text, expected);
    FUZZ_CHECK(std::memcmp(out.get(), expected, SEGMENT_POSITIONS) == 0);
}

// --- writeDisplay

// The display the call reaches: a model with one or two displays takes any further
// index as its last; others have none there.
const DisplaySpec* routeOf(int32_t type, uint16_t display) {
    const DeviceType* t = findDeviceType(type);
    if (!t || t->displays == 0) return nullptr;
    if (display >= t->displays) {
        if (t->displays > 2) return nullptr;
        display = static_cast<uint16_t>(t->displays - 1);
    }
    return &t->display[display];
}

void checkWrite(const std::string& text, int32_t type, uint8_t unit, uint16_t display, int mode) {
    countDevices();  // what the displays show is forgotten: the text goes out
    captured = Capture{};
    writeDisplay(text.c_str(), type, unit, display, mode);
    const Capture first = captured;
    captured = Capture{};
    writeDisplay(text.c_str(), type, unit, display, mode);
    const Capture repeated = captured;
    countDevices();
    captured = Capture{};
    writeDisplay(text.c_str(), type, unit, display, mode);
    FUZZ_CHECK(captured == first);  // deterministic

    const DisplaySpec* layout = routeOf(type, display);
    if (!layout) {
        FUZZ_CHECK(first.calls == 0 && repeated.calls == 0);
        return;
    }
    FUZZ_CHECK(first.calls == 1 && first.unit == unit);
    // Known to show it: nothing again, unless the text is longer than the record holds.
    const bool remembered = first.segments || first.text.size() <= 16;
    FUZZ_CHECK(remembered ? repeated.calls == 0 : repeated == first);

    // Positions: leading blanks make way for the alignment, one dot shares its digit's.
    std::string shown = text.substr(std::min(text.find_first_not_of(' '), text.size()));
    shown.resize(std::min(shown.size(), MAX_TEXT));
    const int positions = static_cast<int>(shown.size()) - (shown.find('.') != std::string::npos);
    const bool tooWide = positions > layout->width;
    const bool pattern = mode >= DISPLAY_TEST_PATTERN || (tooWide && mode == DISPLAY_FIT) ||
                         (tooWide && layout->form == FORM_ALPHA);
    const std::string expected =
        pattern ? std::string(testPattern)
                : std::string(tooWide ? 0 : static_cast<size_t>(layout->width - positions), ' ') + shown;

    const bool bySegments = layout->form == FORM_SEGMENTS || (layout->form == FORM_NUMERIC && !pattern);
    FUZZ_CHECK(first.segments == bySegments);
    if (!bySegments) {
        FUZZ_CHECK(first.text == expected);
        return;
    }
    uint8_t bytes[SEGMENT_BUFFER];
    expectedSegments(expected, bytes);
    FUZZ_CHECK(std::memcmp(first.bytes, bytes, SEGMENT_BUFFER) == 0);
    FUZZ_CHECK(first.bytes[SEGMENT_BUFFER - 1] == 0);
    if (!pattern && !tooWide) {
        for (size_t p = layout->width; p < SEGMENT_BUFFER; ++p) FUZZ_CHECK(first.bytes[p] == 0);
    }
}

// A decimal number from the bytes: an integer below two million over a power of ten.
void decimalValue(uint8_t last[8]) {
    int32_t n;
    std::memcpy(&n, last, sizeof n);
    const float v = static_cast<float>(n % 2000000) / static_cast<float>(std::pow(10.0, last[4] % 7));
    std::memcpy(last, &v, sizeof v);
}

ItemRecord recordFrom(const uint8_t* d, uint8_t last[8]) {
    ItemRecord r{};
    r.deviceType = static_cast<int32_t>(d[0] % 16) - 1;  // the models, conditions, strays
    r.unit = d[1];
    r.kind = KIND_DISPLAY;
    r.index = d[2] % 8;
    std::memcpy(&r.flags, d + 3, 4);
    std::memcpy(&r.displayFormat, d + 7, 2);
    r.valueType = d[9] % 16;
    std::memcpy(r.literal, d + 10, 8);
    std::memcpy(last, d + 18, 8);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool prepared = false;
    if (!prepared) {
        FUZZ_CHECK(bindDeviceLibrary(nullptr));
        prepared = true;
    }
    uint8_t bytes[RECORD_BYTES + 1] = {};
    std::memcpy(bytes, data, std::min(size, sizeof bytes));
    const size_t used = std::min(size, sizeof bytes);
    const uint8_t control = bytes[RECORD_BYTES];
    const char* rest = reinterpret_cast<const char*>(data + used);
    const std::string raw(rest, strnlen(rest, size - used));

    uint8_t last[8];
    ItemRecord r = recordFrom(bytes, last);
    if (control & 0x40) decimalValue(last);
    int mode = 0;
    const std::string text = buildText(r, last, &mode);
    checkItemText(r, last, text, mode);
    int again = 0;
    FUZZ_CHECK(buildText(r, last, &again) == text && again == mode);  // deterministic

    checkEncoding(raw);
    checkEncoding(text);
    if (control & 0x80)
        checkWrite(raw, r.deviceType, r.unit, r.index, (control & 3) - 1);
    else
        checkWrite(text, r.deviceType, r.unit, r.index, mode);
    return 0;
}

// What the binding asks of the platform: one library, found by name.
namespace platform {
void* programInstance() { return nullptr; }
bool postToLoop(void (*)()) { return false; }
LibraryRef loadLibrary(const char*, bool* otherBitness) {
    static char module;
    if (otherBitness) *otherBitness = false;
    return &module;
}
void* librarySymbol(LibraryRef, const char* name) {
    for (const Symbol& s : symbols)
        if (std::strcmp(s.name, name) == 0) return s.address;
    return nullptr;
}
void freeLibrary(LibraryRef) {}
int32_t registryGetString(const char*, const char*, char*, uint32_t) { return -1; }
}  // namespace platform
