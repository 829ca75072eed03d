// Output to the GoFlight panels through the vendor's device library: binding and
// counting units, indicator lights and brightness, and the displays with their
// seven-segment font.
#pragma once

#include <cstdint>

// --- Binding and counting
constexpr int DEVICE_COUNT_SLOTS = 14;  // indexed by DeviceType code, slot 0 unused
extern uint16_t deviceCounts[DEVICE_COUNT_SLOTS];
extern bool connectCallbackRefused;

// Number of display keys read per unit of a DeviceType code (0 for unknown codes).
int deviceDisplayCount(int32_t deviceType);

bool bindDeviceLibrary();
void unbindDeviceLibrary();
void countDevices();

// --- Lights and brightness
extern uint32_t onMask;
extern uint32_t offMask;
void setBrightness(int32_t value, int32_t type, uint8_t unit);
void markLight(uint16_t bit, bool on);
void flushLights(uint8_t unit, int32_t type);
void writeIndicators(int32_t type, uint32_t offMaskArg, uint8_t unit, uint32_t onMaskArg);
void blankAllOutputs();

// --- Displays
extern const char testPattern[];  // "8.8.8.8.8.8."
extern const char blankText[];    // six blanks
void textToSegments(const char* text, uint8_t out[15]);
void writeDisplay(const char* text, int32_t type, uint8_t unit, uint16_t display, int mode);
