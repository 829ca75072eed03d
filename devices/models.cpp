// The table of panel models and its look-ups.
#include "devices/models.h"

#define DL(NAME) &DeviceLibrary::NAME
#define SEG(NAME, WIDTH, FN) {NAME, FORM_SEGMENTS, WIDTH, DL(FN), nullptr}
#define TXT(NAME, WIDTH, FN) {NAME, FORM_TEXT, WIDTH, nullptr, DL(FN)}
const DeviceType deviceTypes[DEVICE_TYPE_COUNT] = {
    {DEV_GF45, "GF45", 2,
     {{"alpha", FORM_ALPHA, 4, nullptr, DL(GF45_SetAlpha)},
      {"numeric", FORM_NUMERIC, 5, DL(GF45_SetNumericSegments), DL(GF45_SetNumeric)}},
     DL(GF45_GetNumDevices), DL(GF45_SetBrightness), nullptr, nullptr, 0, 0},
    {DEV_GFP8, "GFP8", 0, {}, DL(GFP8_GetNumDevices), DL(GFP8_SetBrightness),
     DL(GFP8_GetIndicators), DL(GFP8_SetIndicators), 8, 0xFF},
    {DEV_GFT8, "GFT8", 0, {}, DL(GFT8_GetNumDevices), DL(GFT8_SetBrightness),
     DL(GFT8_GetIndicators), DL(GFT8_SetIndicators), 8, 0xFF},
    {DEV_GFLGT, "GFLGT", 0, {}, DL(GFLGT_GetNumDevices), DL(GFLGT_SetBrightness),
     DL(GFLGT_GetIndicators), DL(GFLGT_SetIndicators), 8, 0xFC},
    {DEV_GF166, "GF166", 2,
     {SEG("L", 6, GF166_SetLDisplaySegments), SEG("R", 6, GF166_SetRDisplaySegments)},
     DL(GF166_GetNumDevices), DL(GF166_SetBrightness), DL(GF166_GetIndicators),
     DL(GF166_SetIndicators), 8, 0x07},
    {DEV_GFMCP, "GFMCP", 5,
     {SEG("A", 3, GFMCP_SetADisplaySegments), SEG("B", 3, GFMCP_SetBDisplaySegments),
      SEG("C", 3, GFMCP_SetCDisplaySegments), SEG("D", 6, GFMCP_SetDDisplaySegments),
      SEG("E", 6, GFMCP_SetEDisplaySegments)},
     DL(GFMCP_GetNumDevices), DL(GFMCP_SetBrightness), DL(GFMCP_GetIndicators),
     DL(GFMCP_SetIndicators), 8, 0xF7},
    {DEV_GFRP48, "GFRP48", 0, {}, DL(GFRP48_GetNumDevices), DL(GFRP48_SetBrightness),
     DL(GFRP48_GetIndicators), DL(GFRP48_SetIndicators), 8, 0xFF},
    {DEV_GF46, "GF46", 2,
     {{"alpha", FORM_ALPHA, 4, nullptr, DL(GF46_SetAlpha)},
      {"numeric", FORM_NUMERIC, 6, DL(GF46_SetNumericSegments), DL(GF46_SetNumeric)}},
     DL(GF46_GetNumDevices), DL(GF46_SetBrightness), nullptr, nullptr, 0, 0},
    {DEV_GFTQ6, "GFTQ6", 0, {}, nullptr, nullptr, nullptr, nullptr, 0, 0},
    {DEV_GFATC, "GFATC", 1, {SEG("digit", 1, GFATC_SetDigitSegments)},
     DL(GFATC_GetNumDevices), DL(GFATC_SetBrightness), nullptr, nullptr, 0, 0},
    {DEV_GFLGT2, "GFLGT2", 0, {}, nullptr, nullptr, nullptr, nullptr, 0, 0},
    // The 32-bit indicator entry points of this model are handled apart (writeIndicators).
    {DEV_GFMCPPRO, "GFMCPPRO", 6,
     {TXT("A", 3, GFMCPPro_SetADisplayText), TXT("B", 5, GFMCPPro_SetBDisplayText),
      TXT("C", 3, GFMCPPro_SetCDisplayText), TXT("D", 5, GFMCPPro_SetDDisplayText),
      TXT("E", 5, GFMCPPro_SetEDisplayText), TXT("F", 3, GFMCPPro_SetFDisplayText)},
     DL(GFMCPPro_GetNumDevices), DL(GFMCPPro_SetBrightness), nullptr, nullptr, 32, 0xBFC69F},
    {DEV_GFEFIS, "GFEFIS", 0, {}, nullptr, nullptr, nullptr, nullptr, 0, 0},
};
#undef TXT
#undef SEG
#undef DL

const int32_t deviceCountOrder[10] = {DEV_GF45,  DEV_GF46,  DEV_GFP8,  DEV_GFT8,
                                      DEV_GFRP48, DEV_GFLGT, DEV_GF166, DEV_GFMCP,
                                      DEV_GFMCPPRO, DEV_GFATC};

const DeviceType* findDeviceType(int32_t code) {
    if (code < 1 || code > DEVICE_TYPE_COUNT) return nullptr;
    return &deviceTypes[code - 1];
}

static char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

const DeviceType* findDeviceTypeByName(const char* name, size_t length) {
    for (const DeviceType& t : deviceTypes) {
        const char* s = t.sectionName;
        size_t i = 0;
        while (i < length && s[i] != '\0' && upper(s[i]) == upper(name[i])) ++i;
        if (i == length && s[i] == '\0') return &t;
    }
    return nullptr;
}

const char* deviceTypeName(int32_t code) {
    const DeviceType* t = findDeviceType(code);
    return t ? t->sectionName : nullptr;
}

int deviceDisplayCount(int32_t code) {
    const DeviceType* t = findDeviceType(code);
    return t ? t->displays : 0;
}
