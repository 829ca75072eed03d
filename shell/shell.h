// The program's frame: the settings path, the two timing settings, start-up, the
// window handlers and shutdown.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int INI_PATH_SIZE = 261;
extern char iniPath[INI_PATH_SIZE];
extern uint32_t scanPeriod;      // ms, [Config] ScanInterval, default 220
extern uint32_t revisionPeriod;  // ms, [Config] RevisionTime, default 2500

// Runs the whole program; returns the process exit code.
int runNorvalume();

// Exit codes of a failed start.
constexpr int EXIT_NO_WINDOW_CLASS = 1;
constexpr int EXIT_NO_DEVICE_LIBRARY = 2;
constexpr int EXIT_NO_WINDOW = 3;

constexpr uint32_t DEFAULT_SCAN_PERIOD_MS = 220;
constexpr uint32_t DEFAULT_REVISION_PERIOD_MS = 2500;
constexpr uint32_t MIN_REVISION_PERIOD_MS = 1000;

// The settings path for a program file: everything after the last '.' of the whole path
// replaced by "ini"; just "ini" when the path holds no '.'. Always terminated; cut to
// `size` - 1 characters when it does not fit.
void deriveIniPath(const char* programFile, char* out, size_t size);

// [Config] values as read from the file (never empty: a missing key keeps the default).
uint32_t parseScanInterval(const char* value);   // ms
uint32_t parseRevisionTime(const char* value);   // seconds in the file, ms out

// Fills iniPath from the program's own path and scanPeriod and revisionPeriod from it.
void readShellSettings();

// What the main window does on creation and on WM_TIMER.
void onMainWindowCreate();
void onMainWindowTimer(uint32_t id);

// Releases everything in reverse order of acquisition: the link, the device library,
// the item table. Harmless to call twice.
void shutdownNorvalume();
