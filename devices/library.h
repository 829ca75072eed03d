// The vendor's panel library as the program sees it: the binary interface of its entry
// points, declared here from their documented list, and the record of one loaded copy.
// Pure declarations, so the model table and the tools can name entry points too.
#pragma once

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
