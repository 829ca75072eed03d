// The panel models: one table of what the program, its loader and every tool know about
// each model (its code, section name, displays with their form, width and entry point,
// indicator bits, and the library's entry points per unit). Pure data, no OS.
#pragma once

#include <cstddef>
#include <cstdint>

#include "devices/library.h"

// The DeviceType code an item record carries; conditions are not a panel.
enum DeviceTypeCode : int32_t {
    DEV_CONDITION = -1,
    DEV_GF45 = 1,
    DEV_GFP8 = 2,
    DEV_GFT8 = 3,
    DEV_GFLGT = 4,
    DEV_GF166 = 5,
    DEV_GFMCP = 6,
    DEV_GFRP48 = 7,
    DEV_GF46 = 8,
    DEV_GFTQ6 = 9,
    DEV_GFATC = 10,
    DEV_GFLGT2 = 11,
    DEV_GFMCPPRO = 12,
    DEV_GFEFIS = 13,
};
constexpr int DEVICE_TYPE_COUNT = 13;
constexpr int MAX_DISPLAYS = 6;  // display keys D0..D5 of the widest model

// How a display is driven: seven-segment bytes, a text (right-aligned by the panel's
// width), an alphanumeric text that shows the test pattern when too wide, or segment
// bytes with a text entry for the test pattern.
enum DisplayForm : uint8_t { FORM_SEGMENTS, FORM_TEXT, FORM_ALPHA, FORM_NUMERIC };

struct DisplaySpec {
    const char* name;  // as the virtual library's state names it: "A", "alpha", ...
    DisplayForm form;
    uint8_t width;     // positions shown
    GfSegmentsFn DeviceLibrary::*segments;  // segments and numeric forms
    GfTextFn DeviceLibrary::*text;          // text and alpha forms; the numeric test pattern
};

// One panel model; a nullptr member means the model has no such entry point.
struct DeviceType {
    int32_t code;
    const char* sectionName;
    int32_t displays;  // display keys read per unit
    DisplaySpec display[MAX_DISPLAYS];
    GfCountFn DeviceLibrary::*count;
    GfBrightnessFn DeviceLibrary::*brightness;
    GfGetIndicatorsFn DeviceLibrary::*getIndicators;  // 8-bit models only
    GfSetIndicatorsFn DeviceLibrary::*setIndicators;
    uint8_t lightBits;            // 0, 8, or 32 (GFMCPPRO, through its own entry points)
    uint32_t indicatorWriteMask;  // bits that may be sent as on; 0 = no indicators
};

// Thirteen models in code order.
extern const DeviceType deviceTypes[DEVICE_TYPE_COUNT];
// The order in which the library's units are counted.
extern const int32_t deviceCountOrder[10];

// The entry of a code, nullptr for codes outside 1..13.
const DeviceType* findDeviceType(int32_t code);
// The model whose section name is `name` (`length` bytes, any case), nullptr if none.
const DeviceType* findDeviceTypeByName(const char* name, size_t length);
// Section name of a code ("GF45" ... "GFEFIS"), nullptr for other codes.
const char* deviceTypeName(int32_t code);
// Number of display keys read per unit of a code (0 for unknown codes).
int deviceDisplayCount(int32_t code);
