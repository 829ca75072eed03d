// The panel models: one table of what the program, its loader and every tool know about
// each model (its code, section name, displays with their form, width and entry point,
// indicator bits, and the library's entry points per unit). Pure data, no OS. The table
// is visible to the compiler, so that the numbers derived from it (slots by code, the
// order of counting, the records kept per unit) follow it and are checked against it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

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

// Display keys a model may have, D0..D5. The record of written outputs keeps one bit per
// display in a byte beside two others (devices.h asserts it): a model with more displays
// needs that record widened first.
constexpr int MAX_DISPLAYS = 6;
// Positions of a segment buffer; the sixteenth byte is the terminating 0.
constexpr int SEGMENT_POSITIONS = 15;

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
    uint8_t countRank;  // its place in the order of counting, from 1; 0 without a count
    GfBrightnessFn DeviceLibrary::*brightness;
    GfGetIndicatorsFn DeviceLibrary::*getIndicators;  // models with 8 light bits
    GfSetIndicatorsFn DeviceLibrary::*setIndicators;
    GfGetIndicators32Fn DeviceLibrary::*getIndicators32;  // models with 32 light bits
    GfSetIndicators32Fn DeviceLibrary::*setIndicators32;
    uint8_t lightBits;            // 0, 8 or 32
    uint32_t indicatorWriteMask;  // bits that may be sent as on; 0 = no indicators
    // The unit may report no lights at all: a read of 0 then stands for the lights the
    // program last set there (kept for units 0 to SHADOWED_UNITS - 1).
    bool shadowsLights;
};

#define GF_DL(NAME) &DeviceLibrary::NAME
#define GF_SEG(NAME, WIDTH, FN) {NAME, FORM_SEGMENTS, WIDTH, GF_DL(FN), nullptr}
#define GF_TXT(NAME, WIDTH, FN) {NAME, FORM_TEXT, WIDTH, nullptr, GF_DL(FN)}
#define GF_ALPHA(WIDTH, FN) {"alpha", FORM_ALPHA, WIDTH, nullptr, GF_DL(FN)}
#define GF_NUMERIC(WIDTH, SEGMENTS, TEXT) \
    {"numeric", FORM_NUMERIC, WIDTH, GF_DL(SEGMENTS), GF_DL(TEXT)}
#define GF_COUNTED(RANK, COUNT, BRIGHTNESS) GF_DL(COUNT), RANK, GF_DL(BRIGHTNESS)
#define GF_NOT_COUNTED nullptr, 0, nullptr
#define GF_LIGHTS8(GET, SET, MASK) GF_DL(GET), GF_DL(SET), nullptr, nullptr, 8, MASK, false
#define GF_LIGHTS32(GET, SET, MASK, SHADOWS) \
    nullptr, nullptr, GF_DL(GET), GF_DL(SET), 32, MASK, SHADOWS
#define GF_NO_LIGHTS nullptr, nullptr, nullptr, nullptr, 0, 0, false
// Thirteen models in code order. The units are counted in the order of countRank.
inline constexpr DeviceType deviceTypes[] = {
    {DEV_GF45, "GF45", 2,
     {GF_ALPHA(4, GF45_SetAlpha), GF_NUMERIC(5, GF45_SetNumericSegments, GF45_SetNumeric)},
     GF_COUNTED(1, GF45_GetNumDevices, GF45_SetBrightness), GF_NO_LIGHTS},
    {DEV_GFP8, "GFP8", 0, {}, GF_COUNTED(3, GFP8_GetNumDevices, GFP8_SetBrightness),
     GF_LIGHTS8(GFP8_GetIndicators, GFP8_SetIndicators, 0xFF)},
    {DEV_GFT8, "GFT8", 0, {}, GF_COUNTED(4, GFT8_GetNumDevices, GFT8_SetBrightness),
     GF_LIGHTS8(GFT8_GetIndicators, GFT8_SetIndicators, 0xFF)},
    {DEV_GFLGT, "GFLGT", 0, {}, GF_COUNTED(6, GFLGT_GetNumDevices, GFLGT_SetBrightness),
     GF_LIGHTS8(GFLGT_GetIndicators, GFLGT_SetIndicators, 0xFC)},
    {DEV_GF166, "GF166", 2,
     {GF_SEG("L", 6, GF166_SetLDisplaySegments), GF_SEG("R", 6, GF166_SetRDisplaySegments)},
     GF_COUNTED(7, GF166_GetNumDevices, GF166_SetBrightness),
     GF_LIGHTS8(GF166_GetIndicators, GF166_SetIndicators, 0x07)},
    {DEV_GFMCP, "GFMCP", 5,
     {GF_SEG("A", 3, GFMCP_SetADisplaySegments), GF_SEG("B", 3, GFMCP_SetBDisplaySegments),
      GF_SEG("C", 3, GFMCP_SetCDisplaySegments), GF_SEG("D", 6, GFMCP_SetDDisplaySegments),
      GF_SEG("E", 6, GFMCP_SetEDisplaySegments)},
     GF_COUNTED(8, GFMCP_GetNumDevices, GFMCP_SetBrightness),
     GF_LIGHTS8(GFMCP_GetIndicators, GFMCP_SetIndicators, 0xF7)},
    {DEV_GFRP48, "GFRP48", 0, {}, GF_COUNTED(5, GFRP48_GetNumDevices, GFRP48_SetBrightness),
     GF_LIGHTS8(GFRP48_GetIndicators, GFRP48_SetIndicators, 0xFF)},
    {DEV_GF46, "GF46", 2,
     {GF_ALPHA(4, GF46_SetAlpha), GF_NUMERIC(6, GF46_SetNumericSegments, GF46_SetNumeric)},
     GF_COUNTED(2, GF46_GetNumDevices, GF46_SetBrightness), GF_NO_LIGHTS},
    {DEV_GFTQ6, "GFTQ6", 0, {}, GF_NOT_COUNTED, GF_NO_LIGHTS},
    {DEV_GFATC, "GFATC", 1, {GF_SEG("digit", 1, GFATC_SetDigitSegments)},
     GF_COUNTED(10, GFATC_GetNumDevices, GFATC_SetBrightness), GF_NO_LIGHTS},
    {DEV_GFLGT2, "GFLGT2", 0, {}, GF_COUNTED(11, GFLGT2_GetNumDevices, GFLGT2_SetBrightness),
     GF_LIGHTS8(GFLGT2_GetIndicators, GFLGT2_SetIndicators, 0xFC)},
    {DEV_GFMCPPRO, "GFMCPPRO", 6,
     {GF_TXT("A", 3, GFMCPPro_SetADisplayText), GF_TXT("B", 5, GFMCPPro_SetBDisplayText),
      GF_TXT("C", 3, GFMCPPro_SetCDisplayText), GF_TXT("D", 5, GFMCPPro_SetDDisplayText),
      GF_TXT("E", 5, GFMCPPro_SetEDisplayText), GF_TXT("F", 3, GFMCPPro_SetFDisplayText)},
     GF_COUNTED(9, GFMCPPro_GetNumDevices, GFMCPPro_SetBrightness),
     GF_LIGHTS32(GFMCPPro_GetIndicators, GFMCPPro_SetIndicators, 0xBFC69F, true)},
    {DEV_GFEFIS, "GFEFIS", 0, {}, GF_NOT_COUNTED, GF_NO_LIGHTS},
};
#undef GF_NO_LIGHTS
#undef GF_LIGHTS32
#undef GF_LIGHTS8
#undef GF_NOT_COUNTED
#undef GF_COUNTED
#undef GF_NUMERIC
#undef GF_ALPHA
#undef GF_TXT
#undef GF_SEG
#undef GF_DL

constexpr int DEVICE_TYPE_COUNT = static_cast<int>(sizeof deviceTypes / sizeof deviceTypes[0]);
// Arrays by DeviceType code; slot 0 is never a model.
constexpr int DEVICE_COUNT_SLOTS = DEVICE_TYPE_COUNT + 1;

// --- What the table must hold, checked when it is compiled.
namespace modeltable {

// findDeviceType indexes the table by code.
constexpr bool codesInOrder() {
    for (int i = 0; i < DEVICE_TYPE_COUNT; ++i)
        if (deviceTypes[i].code != i + 1) return false;
    return true;
}

// Each display the model has is routed, by an entry point of its form, and fits a segment
// buffer; the slots beyond them are empty.
constexpr bool displayRouted(const DisplaySpec& d) {
    const bool segments = d.segments != nullptr, text = d.text != nullptr;
    const bool entries = d.form == FORM_SEGMENTS  ? segments && !text
                         : d.form == FORM_NUMERIC ? segments && text
                                                  : text && !segments;
    return entries && d.name != nullptr && d.width >= 1 && d.width <= SEGMENT_POSITIONS;
}
constexpr bool displaysFit() {
    for (const DeviceType& t : deviceTypes) {
        if (t.displays < 0 || t.displays > MAX_DISPLAYS) return false;
        for (int d = 0; d < MAX_DISPLAYS; ++d) {
            const DisplaySpec& s = t.display[d];
            const bool empty = !s.name && !s.segments && !s.text && s.width == 0;
            if (d < t.displays ? !displayRouted(s) : !empty) return false;
        }
    }
    return true;
}

// Eight light bits go through the 8-bit entry points, 32 through the 32-bit ones, and
// a mask never names a bit the model lacks.
constexpr bool lightsConsistent() {
    for (const DeviceType& t : deviceTypes) {
        const bool narrow = t.getIndicators && t.setIndicators;
        const bool wide = t.getIndicators32 && t.setIndicators32;
        const bool none = !t.getIndicators && !t.setIndicators && !t.getIndicators32 &&
                          !t.setIndicators32;
        bool ok = t.lightBits == 8    ? narrow && !wide && t.indicatorWriteMask <= 0xFF
                  : t.lightBits == 32 ? wide && !narrow
                                      : t.lightBits == 0 && none && !t.shadowsLights;
        if (!ok || (t.lightBits != 0) != (t.indicatorWriteMask != 0)) return false;
    }
    return true;
}

constexpr int countedModels() {
    int n = 0;
    for (const DeviceType& t : deviceTypes) n += t.count ? 1 : 0;
    return n;
}

// Every counted model has its own place in the order, 1 up to the number counted.
constexpr bool countRanksDistinct() {
    for (const DeviceType& t : deviceTypes) {
        if (!t.count) {
            if (t.countRank != 0) return false;
            continue;
        }
        if (t.countRank < 1 || t.countRank > countedModels()) return false;
        for (const DeviceType& u : deviceTypes)
            if (&u != &t && u.count && u.countRank == t.countRank) return false;
    }
    return true;
}

}  // namespace modeltable

static_assert(modeltable::codesInOrder(), "models are listed by code, from 1 without gaps");
static_assert(modeltable::displaysFit(), "a display is routed by its form's entry points");
static_assert(modeltable::lightsConsistent(), "light bits, entry points and mask agree");
static_assert(modeltable::countRanksDistinct(), "each counted model has its own countRank");

constexpr int COUNTED_MODELS = modeltable::countedModels();

constexpr std::array<int32_t, COUNTED_MODELS> makeDeviceCountOrder() {
    std::array<int32_t, COUNTED_MODELS> order{};
    for (const DeviceType& t : deviceTypes)
        if (t.count) order[t.countRank - 1] = t.code;
    return order;
}
// The order in which the library's units are counted.
inline constexpr std::array<int32_t, COUNTED_MODELS> deviceCountOrder = makeDeviceCountOrder();

// What an entry point of the list does, by the row that names it: for the stand-in
// libraries, which serve every entry point as the table says it is used.
struct EntryPointUse {
    int32_t model;  // 0 when no row names it (the library's own entry points)
    int display;    // the display it drives, -1 for none
};
// Kinds may share a signature (a segment buffer and an 8-bit indicator read do), so
// every field of the member's type is looked at.
template <typename Fn>
constexpr EntryPointUse entryPointUse(Fn DeviceLibrary::*member) {
    for (const DeviceType& t : deviceTypes) {
        if constexpr (std::is_same_v<Fn, GfCountFn>)
            if (t.count == member) return {t.code, -1};
        if constexpr (std::is_same_v<Fn, GfBrightnessFn>)
            if (t.brightness == member) return {t.code, -1};
        if constexpr (std::is_same_v<Fn, GfGetIndicatorsFn>)
            if (t.getIndicators == member) return {t.code, -1};
        if constexpr (std::is_same_v<Fn, GfSetIndicatorsFn>)
            if (t.setIndicators == member) return {t.code, -1};
        if constexpr (std::is_same_v<Fn, GfGetIndicators32Fn>)
            if (t.getIndicators32 == member) return {t.code, -1};
        if constexpr (std::is_same_v<Fn, GfSetIndicators32Fn>)
            if (t.setIndicators32 == member) return {t.code, -1};
        for (int d = 0; d < t.displays; ++d) {
            if constexpr (std::is_same_v<Fn, GfTextFn>)
                if (t.display[d].text == member) return {t.code, d};
            if constexpr (std::is_same_v<Fn, GfSegmentsFn>)
                if (t.display[d].segments == member) return {t.code, d};
        }
    }
    return {0, -1};
}

// Every entry point of the list is the library's own or is named by a row: a list entry
// that no row uses would be bound and served for nothing. (A new entry point of the
// library's own, not a model's, adds its type here.)
template <typename Fn>
constexpr bool namedByTheTable(Fn DeviceLibrary::*member) {
    if constexpr (std::is_same_v<Fn, GfInitFn> || std::is_same_v<Fn, GfTerminateFn> ||
                  std::is_same_v<Fn, GfRegisterFn> || std::is_same_v<Fn, GfUnregisterFn> ||
                  std::is_same_v<Fn, GfDeviceInfoFn>)
        return true;
    else
        return entryPointUse(member).model != 0;
}
#define GF_NAMED_BY_THE_TABLE(NAME, KIND) \
    static_assert(namedByTheTable(&DeviceLibrary::NAME), #NAME " is used by no model");
GF_ENTRY_POINTS(GF_NAMED_BY_THE_TABLE)
#undef GF_NAMED_BY_THE_TABLE

// The entry of a code, nullptr for codes outside 1..DEVICE_TYPE_COUNT.
const DeviceType* findDeviceType(int32_t code);
// The model whose section name is `name` (`length` bytes, any case), nullptr if none.
const DeviceType* findDeviceTypeByName(const char* name, size_t length);
// Section name of a code ("GF45" ... "GFEFIS"), nullptr for other codes.
const char* deviceTypeName(int32_t code);
// Number of display keys read per unit of a code (0 for unknown codes).
int deviceDisplayCount(int32_t code);
