// Identify mode's output: every light of every counted unit on, full brightness, and on
// every display as much of its section and key as fits, then the unit's serial number,
// so that a builder can tell which physical unit is .0, which display is D3, and which
// serial to name in a section.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "devices/devices.h"

namespace {

constexpr int32_t FULL_BRIGHTNESS = 15;
constexpr uint32_t EVERY_LIGHT = 0xFFFFFFFFu;

// Positions a text takes on a display, as writeDisplay counts them: one point shares
// the position of the digit before it.
int positions(const char* text) {
    int n = static_cast<int>(std::strlen(text));
    return std::strchr(text, '.') ? n - 1 : n;
}

// `length` characters of `text` into `out`, as many as fit, terminated.
void copyCut(const char* text, size_t length, char* out, size_t size) {
    if (length > size - 1) length = size - 1;
    std::memcpy(out, text, length);
    out[length] = '\0';
}

}  // namespace

void identifyLabel(int32_t type, int section, uint16_t display, char* out, size_t size) {
    if (!out || size == 0) return;
    out[0] = '\0';
    const DeviceType* t = findDeviceType(type);
    if (!t || display >= t->displays) return;
    char s[12] = "-";
    if (section >= 0) std::snprintf(s, sizeof s, "%d", section);
    const unsigned d = display;
    // From the whole of it down to what tells the unit apart on a one-digit display.
    char labels[5][32];
    std::snprintf(labels[0], sizeof labels[0], "%s.%s D%u", t->sectionName, s, d);
    std::snprintf(labels[1], sizeof labels[1], "%s D%u", s, d);
    std::snprintf(labels[2], sizeof labels[2], "%sD%u", s, d);
    std::snprintf(labels[3], sizeof labels[3], "D%u", d);
    std::snprintf(labels[4], sizeof labels[4], "%s", s);
    int chosen = 4;
    for (int i = 0; i < 4; ++i) {
        if (positions(labels[i]) <= t->display[display].width) {
            chosen = i;
            break;
        }
    }
    copyCut(labels[chosen], std::strlen(labels[chosen]), out, size);
}

void identifySerial(int32_t type, const char* serial, uint16_t display, uint32_t elapsedMs,
                    char* out, size_t size) {
    if (!out || size == 0) return;
    out[0] = '\0';
    const DeviceType* t = findDeviceType(type);
    if (!t || display >= t->displays || !serial) return;
    const size_t width = t->display[display].width;
    const DisplayForm form = t->display[display].form;
    if (form == FORM_SEGMENTS || form == FORM_NUMERIC) {
        // Only letters and digits take a position of their own on seven segments.
        char kept[sizeof(UnitIdentity::serial)];
        size_t n = 0;
        for (const char* c = serial; *c && n < sizeof kept; ++c)
            if (std::isalnum(static_cast<unsigned char>(*c))) kept[n++] = *c;
        const size_t from = n > width ? n - width : 0;
        return copyCut(kept + from, n - from, out, size);
    }
    const size_t length = std::strlen(serial);
    if (length <= width) return copyCut(serial, length, out, size);
    // Along the serial and back to its start, resting a step at either end.
    const size_t last = length - width;
    const size_t step = (elapsedMs / IDENTIFY_SCROLL_MS) % (last + 3);
    const size_t offset = step < 2 ? 0 : (step - 1 < last ? step - 1 : last);
    copyCut(serial + offset, width, out, size);
}

void identifyUnits(uint32_t elapsedMs, int (*sectionOf)(int32_t type, uint8_t unit)) {
    const bool serialPhase = (elapsedMs / IDENTIFY_PHASE_MS) % 2 == 1;
    for (int32_t code : deviceCountOrder) {
        const DeviceType* t = findDeviceType(code);
        for (uint32_t u = 0; u < deviceCount(code); ++u) {
            const uint8_t unit = static_cast<uint8_t>(u);
            setBrightness(FULL_BRIGHTNESS, code, unit);
            writeIndicators(code, unit, 0, EVERY_LIGHT);
            const UnitIdentity* id = unitIdentity(code, unit);
            const bool serial = serialPhase && id && id->serial[0];
            const int section = sectionOf ? sectionOf(code, unit) : static_cast<int>(u);
            for (uint16_t d = 0; d < t->displays; ++d) {
                char text[32];
                if (serial)
                    identifySerial(code, id->serial, d, elapsedMs % IDENTIFY_PHASE_MS, text,
                                   sizeof text);
                else
                    identifyLabel(code, section, d, text, sizeof text);
                writeDisplay(text, code, unit, d, DISPLAY_FIT);
            }
        }
    }
}
