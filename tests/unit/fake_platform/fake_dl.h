// Fake platform, dynamic libraries and registry: an in-process stand-in for the panel
// library. Its entry points record every call, in order, in the same line format as the
// virtual library's GFDEV_LOG, so any test can compare what reached the panels as text.
// Free of GoogleTest; usable from every unit-test folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fake {

// Log line format, one line per library call:
//   NAME [arg ...]           arguments separated by one blank
//   integers in decimal      (unit, brightness level)
//   indicator states 0xHEX   upper-case digits, no padding ("0x6", "0xBFC69F")
//   texts in double quotes   with \" and \\ escaped
//   segment buffers          16 two-digit upper-case hex bytes separated by blanks
// Calls without loggable arguments (GFDev_Init, GetNumDevices, GetIndicators' address)
// log the name and the unit where there is one: "GFP8_GetIndicators 0".
extern std::vector<std::string> dlLog;

// Off: the fake library keeps its state but logs nothing (benchmarks count allocations).
extern bool dlLogEnabled;

// The whole log as one string, lines joined by '\n' (no trailing newline).
std::string dlLogText();
void clearDlLog();

// Puts the fake library in place: it loads under the name "GFDEV.DLL", exports every
// entry point, GFDev_Init returns 0, the callback is accepted, every count is 0, every
// indicator state 0, no registry values, and the log is empty. Call it in SetUp.
void installFakeLibrary();

// No library at all: every loadLibrary fails (until installFakeLibrary).
void removeFakeLibrary();

// The one name or path under which loadLibrary finds the fake library ("GFDEV.DLL" after
// installFakeLibrary). Any other name fails. Compared exactly, case-sensitively.
void setFakeLibraryPath(const char* nameOrPath);

// A name or path under which loadLibrary finds a library for the other word size: the
// load fails and says so. Empty (after installFakeLibrary): none.
extern std::string otherBitnessPath;

// Every name passed to loadLibrary, in order.
extern std::vector<std::string> dlLoadAttempts;

// How often freeLibrary was called on the fake library, and how many lines the call log
// held at the last such call (to check that nothing was called after the release).
extern int dlFreeCount;
extern size_t dlLogLinesAtFree;
// Called when freeLibrary releases the fake library, so a test can look at the rest of
// the program at that moment (null = none).
extern void (*dlOnFree)();

// librarySymbol answers nullptr for this entry point name (e.g. "GFDev_Init").
void withholdEntryPoint(const char* name);

// What GFDev_Init and GFDev_RegisterConnectCallback return.
void setFakeInitResult(int result);
void setFakeRegisterResult(int result);

// The raw value behind a model's count entry point, by DeviceType code (1..13). The
// entry point returns it as unsigned short, as the vendor's does.
void setFakeUnits(int32_t deviceType, uint32_t count);

// A unit's indicator state as its GetIndicators entry point reports it. The fake's
// SetIndicators stores what it is given, as a real panel would.
void setFakeIndicators(int32_t deviceType, int unit, uint32_t state);
uint32_t fakeIndicators(int32_t deviceType, int unit);

// What GFDev_GetDeviceInfo2 answers for a unit: `bytes` written over the record from its
// start (no more than the record holds), and `result`. A unit nobody set answers 0 with
// the serial "<MODEL><unit + 1, four digits>" (GF1660001) and the location
// "1-<code>.<unit + 1>".
void setFakeDeviceInfo(int32_t deviceType, int unit, const std::string& bytes, int result);
// The same for a well-formed answer: this serial and location, result 0.
void setFakeSerial(int32_t deviceType, int unit, const char* serial, const char* location = "");

// The callback the program registered (nullptr when none): tests call it to stand in a
// panel being plugged in. Arguments: model code, unit, event (1 connect, 2 disconnect).
typedef int (*FakeConnectCallback)(int model, int unit, int event);
FakeConnectCallback registeredCallback();

// A registry value under HKEY_LOCAL_MACHINE: `length` raw bytes, not necessarily
// terminated. A key given with a null valueName exists but holds no values.
void setFakeRegistryValue(const char* subKey, const char* valueName, const char* bytes,
                          uint32_t length);
void clearFakeRegistry();
// Every subKey passed to registryGetString, in order.
extern std::vector<std::string> registryReads;

}  // namespace fake
