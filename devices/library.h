// The vendor's panel library as the program sees it: the binary interface of its entry
// points, declared here from their documented list, and the record of one loaded copy.
// Pure declarations, so the model table and the tools can name entry points too.
#pragma once

#include <cstddef>

// Every entry point is cdecl (the compilers' default for free functions on every target
// we build), exported under its plain name; units are int. Results that the program
// ignores are declared void, which is safe under cdecl whatever the library returns.
// One type per kind of entry point (the second column of GF_ENTRY_POINTS); kinds with the
// same signature stay apart so that a stand-in library can give each its own behaviour.
typedef int (*GfConnectCallbackFn)(int model, int unit, int event);
typedef int (*GfInitFn)(void* instance);
typedef void (*GfTerminateFn)();
typedef int (*GfRegisterFn)(GfConnectCallbackFn callback);
typedef void (*GfUnregisterFn)();
typedef unsigned short (*GfCountFn)();
typedef void (*GfBrightnessFn)(int unit, int level);
typedef void (*GfGetIndicatorsFn)(int unit, unsigned char* state);
typedef void (*GfSetIndicatorsFn)(int unit, unsigned char state);
typedef void (*GfGetIndicators32Fn)(int unit, unsigned long* state);
typedef void (*GfSetIndicators32Fn)(int unit, unsigned long state);
typedef void (*GfTextFn)(int unit, char* text);
typedef void (*GfSegmentsFn)(int unit, unsigned char* segments);

// What the library tells of one unit, in the vendor's binary layout: packed to single
// bytes, 329 in all. The library fills it; nothing in it is trusted to be terminated.
#pragma pack(push, 1)
struct GfDeviceInfo2 {
    unsigned short bLength;       // the record's size, set by the caller
    char szLocationID[260];       // where the unit is plugged in (its USB location)
    unsigned short wDeviceVersion;
    char szSerialNum[65];         // zero-terminated, up to 64 characters
};
#pragma pack(pop)
static_assert(sizeof(GfDeviceInfo2) == 329, "the vendor's record is 329 bytes");
static_assert(offsetof(GfDeviceInfo2, szLocationID) == 2 &&
                  offsetof(GfDeviceInfo2, wDeviceVersion) == 262 &&
                  offsetof(GfDeviceInfo2, szSerialNum) == 264,
              "the vendor's record is packed to single bytes");
// Model code (the library's hardware type, equal to ours), unit, the record to fill.
// 0 = filled.
typedef int (*GfDeviceInfoFn)(int model, int unit, GfDeviceInfo2* info);

// A unit's identity as the program keeps it: what the library said, cut to the fields'
// sizes, terminated, with control characters replaced. Empty texts when it said nothing.
struct UnitIdentity {
    char serial[sizeof(GfDeviceInfo2::szSerialNum)];
    char location[sizeof(GfDeviceInfo2::szLocationID)];
};

// Every entry point the program may call, once: X(name, kind), the kind naming its type
// Gf<kind>Fn. From this list come the members of DeviceLibrary, the binding's look-ups
// by name, and the exports of the unit tests' fake library and of the virtual library.
// Which model uses an entry point, and for what, is the model table's business
// (devices/models.h): a new model is a row there and its entry points here.
#define GF_ENTRY_POINTS(X)                                                              \
    X(GFDev_Init, Init)                                                                 \
    X(GFDev_Terminate, Terminate)                                                       \
    X(GFDev_RegisterConnectCallback, Register)                                          \
    X(GFDev_UnregisterConnectCallback, Unregister)                                      \
    X(GFDev_GetDeviceInfo2, DeviceInfo)                                                 \
    X(GF45_GetNumDevices, Count)                                                        \
    X(GF45_SetBrightness, Brightness)                                                   \
    X(GF45_SetAlpha, Text)                                                              \
    X(GF45_SetNumeric, Text)                                                            \
    X(GF45_SetNumericSegments, Segments)                                                \
    X(GFP8_GetNumDevices, Count)                                                        \
    X(GFP8_SetBrightness, Brightness)                                                   \
    X(GFP8_GetIndicators, GetIndicators)                                                \
    X(GFP8_SetIndicators, SetIndicators)                                                \
    X(GFT8_GetNumDevices, Count)                                                        \
    X(GFT8_SetBrightness, Brightness)                                                   \
    X(GFT8_GetIndicators, GetIndicators)                                                \
    X(GFT8_SetIndicators, SetIndicators)                                                \
    X(GFLGT_GetNumDevices, Count)                                                       \
    X(GFLGT_SetBrightness, Brightness)                                                  \
    X(GFLGT_GetIndicators, GetIndicators)                                               \
    X(GFLGT_SetIndicators, SetIndicators)                                               \
    X(GF166_GetNumDevices, Count)                                                       \
    X(GF166_SetBrightness, Brightness)                                                  \
    X(GF166_GetIndicators, GetIndicators)                                               \
    X(GF166_SetIndicators, SetIndicators)                                               \
    X(GF166_SetLDisplaySegments, Segments)                                              \
    X(GF166_SetRDisplaySegments, Segments)                                              \
    X(GFMCP_GetNumDevices, Count)                                                       \
    X(GFMCP_SetBrightness, Brightness)                                                  \
    X(GFMCP_GetIndicators, GetIndicators)                                               \
    X(GFMCP_SetIndicators, SetIndicators)                                               \
    X(GFMCP_SetADisplaySegments, Segments)                                              \
    X(GFMCP_SetBDisplaySegments, Segments)                                              \
    X(GFMCP_SetCDisplaySegments, Segments)                                              \
    X(GFMCP_SetDDisplaySegments, Segments)                                              \
    X(GFMCP_SetEDisplaySegments, Segments)                                              \
    X(GFRP48_GetNumDevices, Count)                                                      \
    X(GFRP48_SetBrightness, Brightness)                                                 \
    X(GFRP48_GetIndicators, GetIndicators)                                              \
    X(GFRP48_SetIndicators, SetIndicators)                                              \
    X(GF46_GetNumDevices, Count)                                                        \
    X(GF46_SetBrightness, Brightness)                                                   \
    X(GF46_SetAlpha, Text)                                                              \
    X(GF46_SetNumeric, Text)                                                            \
    X(GF46_SetNumericSegments, Segments)                                                \
    X(GFATC_GetNumDevices, Count)                                                       \
    X(GFATC_SetBrightness, Brightness)                                                  \
    X(GFATC_SetDigitSegments, Segments)                                                 \
    X(GFLGT2_GetNumDevices, Count)                                                      \
    X(GFLGT2_SetBrightness, Brightness)                                                 \
    X(GFLGT2_GetIndicators, GetIndicators)                                              \
    X(GFLGT2_SetIndicators, SetIndicators)                                              \
    X(GFMCPPro_GetNumDevices, Count)                                                    \
    X(GFMCPPro_SetBrightness, Brightness)                                               \
    X(GFMCPPro_GetIndicators, GetIndicators32)                                          \
    X(GFMCPPro_SetIndicators, SetIndicators32)                                          \
    X(GFMCPPro_SetADisplayText, Text)                                                   \
    X(GFMCPPro_SetBDisplayText, Text)                                                   \
    X(GFMCPPro_SetCDisplayText, Text)                                                   \
    X(GFMCPPro_SetDDisplayText, Text)                                                   \
    X(GFMCPPro_SetEDisplayText, Text)                                                   \
    X(GFMCPPro_SetFDisplayText, Text)

// Why a start could not bind the library, for the report in the settings file.
enum LibraryFailure : int {
    LIBRARY_BOUND = 0,
    LIBRARY_NOT_FOUND,           // neither beside the program, on the search path nor
                                 // in the configuration program's folder
    LIBRARY_OTHER_BITNESS,       // found, but built for the other of 32/64-bit
    LIBRARY_LACKS_ENTRY_POINT,   // GFDev_Init or GFDev_Terminate is not exported
    LIBRARY_INIT_FAILED,         // GFDev_Init answered non-zero
};

// The loaded library and one optional reference per entry point (nullptr = not bound).
struct DeviceLibrary {
    void* deviceLibraryHandle;
#define GF_LIBRARY_MEMBER(NAME, KIND) Gf##KIND##Fn NAME;
    GF_ENTRY_POINTS(GF_LIBRARY_MEMBER)
#undef GF_LIBRARY_MEMBER
};
