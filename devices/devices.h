// Output to the GoFlight panels through the vendor's device library: binding and
// counting units, indicator lights and brightness, and the displays with their
// seven-segment font. The devices layer also remembers every output it has written,
// so that it can make them all dark again without knowing what drove them, and what
// each unit shows, so that nothing is sent that the unit already shows.
// Its state is its own (devices/state.h); the others read it through the functions here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "devices/library.h"
#include "devices/models.h"

// --- Binding and counting
constexpr uint16_t MAX_UNITS_PER_MODEL = 256;  // unit numbers are 8-bit

// Loads the library, binds its entry points and registers the connect callback. A plug
// event recounts the units on the loop thread and then calls `onPlugged` there (may be
// nullptr). False when no library could be loaded and initialised; libraryFailure() says
// why.
bool bindDeviceLibrary(void (*onPlugged)());
// Makes every output dark, then unregisters and releases the library.
void unbindDeviceLibrary();
// Counts the units of every model again, and asks the library who each unit is. A unit
// may have been replaced meanwhile, so what the layer knew the units show is forgotten:
// every output goes out again when next written.
void countDevices();
// Whether the library tells its units apart by serial number (it exports
// GFDev_GetDeviceInfo2). Older installations do not.
bool serialsAvailable();
// What the library said of a unit at the last count: its serial number and USB location,
// each possibly empty. nullptr for a unit not counted, or when serials are not available.
const UnitIdentity* unitIdentity(int32_t type, uint8_t unit);
// Connected units of a model; 0 for any code that is no model.
uint16_t deviceCount(int32_t type);
// The counts by DeviceType code, DEVICE_COUNT_SLOTS of them (slot 0 is always 0).
const uint16_t* deviceCounts();
// Whether the library answered 0 to the registration of the connect callback.
bool connectCallbackRefused();
// Why the last bindDeviceLibrary failed; LIBRARY_BOUND after a success.
LibraryFailure libraryFailure();
// Whether a library is loaded and initialised.
bool deviceLibraryBound();
// Back to the state at program start: nothing bound, counted, gathered, known or
// written. For tests and tools.
void resetDevices();

// --- Lights and brightness
// The light bits marked since the last flush: bit n is light n modulo 32.
struct LightMasks {
    uint32_t on;
    uint32_t off;
};
LightMasks lightMasks();
// A scan begins with no marks.
void clearLightMasks();
// Units whose last lights are kept for a model that may report none (shadowsLights).
constexpr int SHADOWED_UNITS = 16;
constexpr int32_t BLANK_BRIGHTNESS = 8;
// Sends a level unless the unit is known to show it already.
void setBrightness(int32_t value, int32_t type, uint8_t unit);
// Sends a level whatever the unit is known to show: the scan's once-a-second refresh.
void resendBrightness(int32_t value, int32_t type, uint8_t unit);
void markLight(uint16_t bit, bool on);
void flushLights(uint8_t unit, int32_t type);
// Switches the lights of `offMaskArg` off and of `onMaskArg` on (on wins), keeping the
// others as the unit reports them. Nothing is read or written when the unit is known to
// show the result already, and nothing written when it reports that it does.
void writeIndicators(int32_t type, uint8_t unit, uint32_t offMaskArg, uint32_t onMaskArg);
// Makes every output written since start (or since the last blanking) dark: lights off,
// displays blank, brightness at BLANK_BRIGHTNESS; each once. Needs no item table.
void blankAllOutputs();
// Whether any output is remembered as written; for tests and the watchdog's callers.
bool anyOutputWritten();

// The record of written outputs: one byte per unit, a bit for its lights, one for its
// brightness and one per display.
constexpr uint8_t WRITTEN_LIGHTS = 0x01;
constexpr uint8_t WRITTEN_BRIGHTNESS = 0x02;
constexpr uint8_t WRITTEN_DISPLAY0 = 0x04;  // display n is WRITTEN_DISPLAY0 << n
static_assert((WRITTEN_DISPLAY0 << (MAX_DISPLAYS - 1)) <= 0xFF,
              "every display of the widest model has its bit in the record's byte");

// What a table of items drives on one unit: its light bits, and WRITTEN_BRIGHTNESS and
// WRITTEN_DISPLAY0 << n for its brightness and displays.
struct DrivenOutputs {
    uint32_t lights;
    uint8_t others;
};
typedef DrivenOutputs DrivenTable[DEVICE_COUNT_SLOTS][MAX_UNITS_PER_MODEL];
// After a reload: makes dark, once, every output written since start that the new table
// no longer drives (light off, display blank, brightness at BLANK_BRIGHTNESS), so no
// deleted or changed line leaves its output behind.
void darkenUndrivenOutputs(const DrivenTable& driven);

// --- Displays
extern const uint8_t segmentFont[36];  // '0'..'9' then 'A'..'Z'
extern const char testPattern[];  // "8.8.8.8.8.8."
extern const char blankText[];    // six blanks
void textToSegments(const char* text, uint8_t out[SEGMENT_POSITIONS]);

// How a display text is shown: as given (too wide: the test pattern), the test pattern
// whatever the text, or as given even when too wide (without its leading blanks).
enum DisplayMode : int { DISPLAY_FIT = 0, DISPLAY_TEST_PATTERN = 1, DISPLAY_OVERFLOW = -1 };
// `mode` is a DisplayMode; any positive value shows the test pattern. Nothing is sent
// when the display is known to show the same text or segments already.
void writeDisplay(const char* text, int32_t type, uint8_t unit, uint16_t display, int mode);

// --- Identify mode
// Identify mode alternates: for a phase each, every display shows its label, then the
// unit's serial number (when the library tells it), and so on.
constexpr uint32_t IDENTIFY_PHASE_MS = 2500;
// A serial wider than a text display moves along it by one character per step.
constexpr uint32_t IDENTIFY_SCROLL_MS = 400;
// What identify mode shows `elapsedMs` after it began: every light of every counted unit
// on, full brightness, and on every display its label or the unit's serial. Called again
// and again; nothing is sent that a unit already shows. `sectionOf` names the section
// that drives a unit (-1: none); nullptr takes the unit's number. blankAllOutputs makes
// all of it dark again.
void identifyUnits(uint32_t elapsedMs, int (*sectionOf)(int32_t type, uint8_t unit));
// What display `display` of a model shows in identify mode for section `section` (-1:
// none, shown as "-"): the section and key, as "GF166.1 D0" when that fits the display,
// else "1 D0", "1D0", "D0" or just the section number, the first that fits. Always
// terminated.
void identifyLabel(int32_t type, int section, uint16_t display, char* out, size_t size);
// What display `display` of a model shows of a unit's serial number: a seven-segment
// display its last letters and digits, as many as it has positions; a text display the
// whole serial, moving along it `elapsedMs` into the phase when it is wider. Always
// terminated.
void identifySerial(int32_t type, const char* serial, uint16_t display, uint32_t elapsedMs,
                    char* out, size_t size);

// --- What leaves for the panels, told to a tool that shows it (norvalume-watch) whether
// or not a library is bound: with an observer set, every output counts as written even
// where the library lacks its entry point. nullptr (the program): nobody is told.
struct OutputObserver {
    // The unit's lit light bits after a write.
    void (*lights)(int32_t type, uint8_t unit, uint32_t lit);
    void (*brightness)(int32_t type, uint8_t unit, int32_t level);
    // `text` as it leaves for the display (right-aligned, or the test pattern); `segments`
    // the 16 bytes a segment display is sent, nullptr when the text itself is sent.
    void (*display)(int32_t type, uint8_t unit, uint16_t display, const char* text,
                    const uint8_t* segments);
};
// Every member must be set.
void setOutputObserver(const OutputObserver* observer);
