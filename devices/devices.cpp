// Placeholder until device output lands.
#include "devices/devices.h"

uint16_t deviceCounts[DEVICE_COUNT_SLOTS] = {};
bool connectCallbackRefused = false;
uint32_t onMask = 0;
uint32_t offMask = 0;
const char testPattern[] = "8.8.8.8.8.8.";
const char blankText[] = "      ";

int deviceDisplayCount(int32_t) { return 0; }
bool bindDeviceLibrary() { return false; }
void unbindDeviceLibrary() {}
void countDevices() {}
void setBrightness(int32_t, int32_t, uint8_t) {}
void markLight(uint16_t, bool) {}
void flushLights(uint8_t, int32_t) {}
void writeIndicators(int32_t, uint32_t, uint8_t, uint32_t) {}
void blankAllOutputs() {}
void textToSegments(const char*, uint8_t out[15]) { for (int i = 0; i < 15; ++i) out[i] = 0; }
void writeDisplay(const char*, int32_t, uint8_t, uint16_t, int) {}
