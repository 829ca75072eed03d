// Output to the GoFlight panels through the vendor's device library: binding and
// counting units, indicator lights and brightness, and the displays with their
// seven-segment font.
#pragma once

#include <cstdint>

// --- The vendor library's binary interface, declared here from its entry-point list.
// Every entry point is cdecl (the compilers' default for free functions on every target
// we build), exported under its plain name; units are int. Results that the program
// ignores are declared void, which is safe under cdecl whatever the library returns.
typedef int (*GfConnectCallbackFn)(int model, int unit, int event);
typedef int (*GfInitFn)(void* instance);
typedef void (*GfVoidFn)();
typedef int (*GfRegisterFn)(GfConnectCallbackFn callback);
typedef unsigned short (*GfCountFn)();
typedef void (*GfBrightnessFn)(int unit, int level);
typedef void (*GfGetIndicatorsFn)(int unit, unsigned char* state);
typedef void (*GfSetIndicatorsFn)(int unit, unsigned char state);
typedef void (*GfGetIndicators32Fn)(int unit, unsigned long* state);
typedef void (*GfSetIndicators32Fn)(int unit, unsigned long state);
typedef void (*GfTextFn)(int unit, char* text);
typedef void (*GfSegmentsFn)(int unit, unsigned char* segments);

// The loaded library and one optional reference per entry point (nullptr = not bound).
struct DeviceLibrary {
    void* deviceLibraryHandle;
    GfInitFn GFDev_Init;
    GfVoidFn GFDev_Terminate;
    GfRegisterFn GFDev_RegisterConnectCallback;
    GfVoidFn GFDev_UnregisterConnectCallback;

    GfCountFn GF45_GetNumDevices, GFP8_GetNumDevices, GFT8_GetNumDevices,
        GFLGT_GetNumDevices, GF166_GetNumDevices, GFMCP_GetNumDevices, GFRP48_GetNumDevices,
        GF46_GetNumDevices, GFATC_GetNumDevices, GFMCPPro_GetNumDevices;
    GfBrightnessFn GF45_SetBrightness, GFP8_SetBrightness, GFT8_SetBrightness,
        GFLGT_SetBrightness, GF166_SetBrightness, GFMCP_SetBrightness, GFRP48_SetBrightness,
        GF46_SetBrightness, GFATC_SetBrightness, GFMCPPro_SetBrightness;
    GfGetIndicatorsFn GFP8_GetIndicators, GFT8_GetIndicators, GFLGT_GetIndicators,
        GF166_GetIndicators, GFMCP_GetIndicators, GFRP48_GetIndicators;
    GfSetIndicatorsFn GFP8_SetIndicators, GFT8_SetIndicators, GFLGT_SetIndicators,
        GF166_SetIndicators, GFMCP_SetIndicators, GFRP48_SetIndicators;
    GfGetIndicators32Fn GFMCPPro_GetIndicators;
    GfSetIndicators32Fn GFMCPPro_SetIndicators;

    GfTextFn GF45_SetAlpha, GF46_SetAlpha, GF45_SetNumeric, GF46_SetNumeric;
    GfTextFn GFMCPPro_SetADisplayText, GFMCPPro_SetBDisplayText, GFMCPPro_SetCDisplayText,
        GFMCPPro_SetDDisplayText, GFMCPPro_SetEDisplayText, GFMCPPro_SetFDisplayText;
    GfSegmentsFn GF45_SetNumericSegments, GF46_SetNumericSegments, GF166_SetLDisplaySegments,
        GF166_SetRDisplaySegments, GFMCP_SetADisplaySegments, GFMCP_SetBDisplaySegments,
        GFMCP_SetCDisplaySegments, GFMCP_SetDDisplaySegments, GFMCP_SetEDisplaySegments,
        GFATC_SetDigitSegments;
};
extern DeviceLibrary deviceLibrary;

// One panel model: its code (DeviceType code of the item record), section name, the
// number of display keys per unit, and its per-unit entry points (nullptr member = none).
struct DeviceType {
    int32_t code;
    const char* sectionName;
    int32_t displays;
    GfCountFn DeviceLibrary::*count;
    GfBrightnessFn DeviceLibrary::*brightness;
    GfGetIndicatorsFn DeviceLibrary::*getIndicators;  // 8-bit models only
    GfSetIndicatorsFn DeviceLibrary::*setIndicators;
    uint32_t indicatorWriteMask;  // bits that may be sent as on; 0 = no indicators
};
// Thirteen models in code order, then an entry with code 0.
extern const DeviceType deviceTypes[];
// The entry of a code, nullptr for codes outside 1..13.
const DeviceType* findDeviceType(int32_t code);

// --- Binding and counting
constexpr int DEVICE_COUNT_SLOTS = 14;  // indexed by DeviceType code, slot 0 unused
constexpr uint16_t MAX_UNITS_PER_MODEL = 256;  // unit numbers are 8-bit
extern uint16_t deviceCounts[DEVICE_COUNT_SLOTS];
extern bool connectCallbackRefused;

// Number of display keys read per unit of a DeviceType code (0 for unknown codes).
int deviceDisplayCount(int32_t deviceType);

bool bindDeviceLibrary();
void unbindDeviceLibrary();
void countDevices();
// Handed to the library; may be called on the library's own thread. Returns 1.
int deviceConnectCallback(int model, int unit, int event);

// --- Lights and brightness
extern uint32_t onMask;
extern uint32_t offMask;
constexpr int MCP_PRO_SHADOW_UNITS = 16;
extern uint32_t mcpProIndicatorShadow[MCP_PRO_SHADOW_UNITS];
constexpr int32_t BLANK_BRIGHTNESS = 8;
void setBrightness(int32_t value, int32_t type, uint8_t unit);
void markLight(uint16_t bit, bool on);
void flushLights(uint8_t unit, int32_t type);
void writeIndicators(int32_t type, uint32_t offMaskArg, uint8_t unit, uint32_t onMaskArg);
void blankAllOutputs();

// --- Displays
extern const uint8_t segmentFont[36];  // '0'..'9' then 'A'..'Z'
extern const char testPattern[];  // "8.8.8.8.8.8."
extern const char blankText[];    // six blanks
void textToSegments(const char* text, uint8_t out[15]);
void writeDisplay(const char* text, int32_t type, uint8_t unit, uint16_t display, int mode);
