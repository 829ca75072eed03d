// Display output: routing a text to the right display entry point of a panel model,
// right-aligning it within the display's width (or showing the test pattern when it does
// not fit), and encoding it into seven-segment bytes for the displays driven by segment.
// What a display is known to show is not sent to it again.
#include <cstring>

#include "devices/state.h"

// Segment bits: a=0 top, b=1 top right, c=2 bottom right, d=3 bottom, e=4 bottom left,
// f=5 top left, g=6 middle, 7 the decimal point. K, M, V, W and X have no glyph.
const uint8_t segmentFont[36] = {
    0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F,  // 0-9
    0x77, 0x7C, 0x39, 0x5E, 0x79, 0x71, 0x3D, 0x76, 0x04, 0x1E,  // A-J
    0x00, 0x38, 0x00, 0x54, 0x5C, 0x73, 0x67, 0x50, 0x6D, 0x70,  // K-T
    0x3E, 0x00, 0x00, 0x00, 0x66, 0x5B,                          // U-Z
};
const char testPattern[] = "8.8.8.8.8.8.";
const char blankText[] = "      ";

namespace {

constexpr int SEGMENT_BUFFER = SEGMENT_POSITIONS + 1;
// Longest text passed on; display texts are far shorter, this only bounds odd input.
constexpr size_t MAX_TEXT = 255;

size_t boundedLength(const char* text) {
    size_t n = 0;
    while (n < MAX_TEXT && text[n] != '\0') ++n;
    return n;
}

uint8_t glyph(unsigned char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    if (c >= '0' && c <= '9') return segmentFont[c - '0'];
    if (c >= 'A' && c <= 'Z') return segmentFont[10 + (c - 'A')];
    if (c == '-') return 0x40;
    return 0x00;
}

struct Route {
    DisplayForm form;
    int width;
    GfSegmentsFn segments;  // segments and numeric forms
    GfTextFn text;          // text and alpha forms; the numeric form's test pattern
};

bool findRoute(int32_t type, uint16_t& display, Route* r) {
    const DeviceType* t = findDeviceType(type);
    if (!t || t->displays == 0) return false;
    // Models of one or two displays have always taken any further index as their last.
    if (display >= t->displays) {
        if (t->displays > 2) return false;
        display = static_cast<uint16_t>(t->displays - 1);
    }
    const DisplaySpec& d = t->display[display];
    const DeviceLibrary& library = devicesState().library;
    *r = {d.form, d.width, d.segments ? library.*(d.segments) : nullptr,
          d.text ? library.*(d.text) : nullptr};
    return true;
}

// The display a text is for, as the output observer names it.
struct Target {
    int32_t type;
    uint8_t unit;
    uint16_t display;
};

// Whether the display is known to show these bytes already; if not, they are what it
// shows from now on (as far as the record holds them: a longer text leaves it unknown).
bool alreadyShown(const Target& to, bool text, const void* bytes, size_t length) {
    DevicesState& s = devicesState();
    uint8_t& known = s.known[to.type][to.unit];
    const uint8_t bit = static_cast<uint8_t>(WRITTEN_DISPLAY0 << to.display);
    SentDisplay& sent = s.displays[firstDisplaySlot[to.type] + to.display][to.unit];
    if ((known & bit) && sent.text == text && sent.length == length &&
        std::memcmp(sent.bytes, bytes, length) == 0)
        return true;
    if (length > sizeof sent.bytes) {
        known = static_cast<uint8_t>(known & ~bit);
        return false;
    }
    sent.text = text;
    sent.length = static_cast<uint8_t>(length);
    std::memcpy(sent.bytes, bytes, length);
    known |= bit;
    return false;
}

void sendSegments(GfSegmentsFn fn, const Target& to, const char* text) {
    const OutputObserver* observer = devicesState().observer;
    if (!fn && !observer) return;
    uint8_t buffer[SEGMENT_BUFFER];
    textToSegments(text, buffer);
    buffer[SEGMENT_POSITIONS] = 0;
    if (alreadyShown(to, false, buffer, sizeof buffer)) return;
    if (observer) observer->display(to.type, to.unit, to.display, text, buffer);
    if (fn) fn(to.unit, buffer);
}

void sendText(GfTextFn fn, const Target& to, const char* text) {
    const OutputObserver* observer = devicesState().observer;
    if (!fn && !observer) return;
    // The library takes a writable text; it gets a copy, never the caller's or a constant.
    char copy[MAX_TEXT + 1];
    size_t n = boundedLength(text);
    std::memcpy(copy, text, n);
    copy[n] = '\0';
    if (alreadyShown(to, true, copy, n)) return;
    if (observer) observer->display(to.type, to.unit, to.display, copy, nullptr);
    if (fn) fn(to.unit, copy);
}

}  // namespace

void textToSegments(const char* text, uint8_t out[SEGMENT_POSITIONS]) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text ? text : "");
    int pos = 0;
    while (pos < SEGMENT_POSITIONS) {
        unsigned char c = *p;
        if (c != '\0') ++p;  // at the end the NUL is taken again, blanking the rest
        if (c == '.') {
            if (pos > 0) out[pos - 1] |= 0x80;
            continue;
        }
        out[pos++] = glyph(c);
    }
}

void writeDisplay(const char* text, int32_t type, uint8_t unit, uint16_t display, int mode) {
    Route route;
    if (!findRoute(type, display, &route)) return;
    noteOutputWritten(type, unit, static_cast<uint8_t>(WRITTEN_DISPLAY0 << display));
    const Target to{type, unit, display};

    if (mode >= DISPLAY_TEST_PATTERN) {
        if (route.form == FORM_SEGMENTS)
            sendSegments(route.segments, to, testPattern);
        else
            sendText(route.text, to, testPattern);
        return;
    }

    // Positions: a dot shares its digit's position (one dot discounted), leading blanks
    // make way for the alignment. They are dropped before measuring, so that however
    // many there are, the length stays within the bound and the padding within `fitted`.
    const char* shown = text ? text : "";
    while (*shown == ' ') ++shown;
    int len = static_cast<int>(boundedLength(shown));
    if (len > 0 && std::memchr(shown, '.', static_cast<size_t>(len))) --len;

    bool tooWide = len > route.width;
    if (route.form == FORM_ALPHA && tooWide) {
        sendText(route.text, to, testPattern);  // whatever the mode
        return;
    }
    if (tooWide && mode == DISPLAY_FIT) {
        if (route.form == FORM_SEGMENTS)
            sendSegments(route.segments, to, testPattern);
        else
            sendText(route.text, to, testPattern);  // numeric: through the text entry
        return;
    }

    char fitted[8 + MAX_TEXT + 1];
    size_t pad = tooWide ? 0 : static_cast<size_t>(route.width - len);
    std::memset(fitted, ' ', pad);
    size_t n = boundedLength(shown);
    std::memcpy(fitted + pad, shown, n);
    fitted[pad + n] = '\0';

    if (route.form == FORM_SEGMENTS || route.form == FORM_NUMERIC)
        sendSegments(route.segments, to, fitted);
    else
        sendText(route.text, to, fitted);
}
