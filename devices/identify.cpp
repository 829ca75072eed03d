// Identify mode's output: every light of every counted unit on, full brightness, and on
// every display as much of its section and key as fits, so that a builder can tell which
// physical unit is .0 and which display is D3.
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

}  // namespace

void identifyLabel(int32_t type, uint8_t unit, uint16_t display, char* out, size_t size) {
    if (!out || size == 0) return;
    out[0] = '\0';
    const DeviceType* t = findDeviceType(type);
    if (!t || display >= t->displays) return;
    const unsigned u = unit;
    const unsigned d = display;
    // From the whole of it down to what tells the unit apart on a one-digit display.
    char labels[5][32];
    std::snprintf(labels[0], sizeof labels[0], "%s.%u D%u", t->sectionName, u, d);
    std::snprintf(labels[1], sizeof labels[1], "%u D%u", u, d);
    std::snprintf(labels[2], sizeof labels[2], "%uD%u", u, d);
    std::snprintf(labels[3], sizeof labels[3], "D%u", d);
    std::snprintf(labels[4], sizeof labels[4], "%u", u);
    int chosen = 4;
    for (int i = 0; i < 4; ++i) {
        if (positions(labels[i]) <= t->display[display].width) {
            chosen = i;
            break;
        }
    }
    size_t n = std::strlen(labels[chosen]);
    if (n > size - 1) n = size - 1;
    std::memcpy(out, labels[chosen], n);
    out[n] = '\0';
}

void identifyUnits() {
    for (int32_t code : deviceCountOrder) {
        const DeviceType* t = findDeviceType(code);
        for (uint32_t u = 0; u < deviceCount(code); ++u) {
            const uint8_t unit = static_cast<uint8_t>(u);
            setBrightness(FULL_BRIGHTNESS, code, unit);
            writeIndicators(code, unit, 0, EVERY_LIGHT);
            for (uint16_t d = 0; d < t->displays; ++d) {
                char label[32];
                identifyLabel(code, unit, d, label, sizeof label);
                writeDisplay(label, code, unit, d, DISPLAY_FIT);
            }
        }
    }
}
