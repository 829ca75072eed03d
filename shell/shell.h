// The program's frame, on top of every other subsystem: the settings path and the two
// timing settings, the three timers, the reload policy (busy, pending, forced, the
// reload after a plug event), and the order of start-up and shutdown.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int INI_PATH_SIZE = 261;
constexpr uint32_t DEFAULT_SCAN_PERIOD_MS = 220;
constexpr uint32_t DEFAULT_REVISION_PERIOD_MS = 2500;
constexpr uint32_t MIN_REVISION_PERIOD_MS = 1000;

// What the shell reads at start-up and hands down to the others.
struct ShellSettings {
    char iniPath[INI_PATH_SIZE];
    uint32_t scanPeriod;      // ms, [Config] ScanInterval
    uint32_t revisionPeriod;  // ms, [Config] RevisionTime
};
// As readShellSettings last filled them; the defaults before.
const ShellSettings& shellSettings();

// The three timers and their periods.
constexpr uint32_t LINK_TIMER_ID = 1;
constexpr uint32_t SCAN_TIMER_ID = 2;
constexpr uint32_t RELOAD_TIMER_ID = 3;
constexpr uint32_t LINK_TIMER_PERIOD_MS = 3000;
// Delay before a load that found the scan or another load busy tries again.
constexpr uint32_t RELOAD_RETRY_MS = 100;

// Runs the whole program; returns the process exit code.
int runNorvalume();

// Exit codes of a failed start.
constexpr int EXIT_NO_WINDOW_CLASS = 1;
constexpr int EXIT_NO_DEVICE_LIBRARY = 2;
constexpr int EXIT_NO_WINDOW = 3;
constexpr int EXIT_BAD_COMMAND_LINE = 4;

// The command line: "--identify" or "/identify" (any case, on every platform), with
// "=SECONDS" (1 to 3600) or without; every other argument is ignored.
enum StartMode : int { START_NORMAL, START_IDENTIFY, START_BAD_SWITCH };
struct StartRequest {
    StartMode mode;
    uint32_t seconds;  // START_IDENTIFY: how long the units show who they are
};
constexpr uint32_t DEFAULT_IDENTIFY_SECONDS = 10;
constexpr uint32_t MAX_IDENTIFY_SECONDS = 3600;
StartRequest readCommandLine(int argc, const char* const* argv);

// Identify mode: binds the device library (no simulator, no settings file), lights every
// light of every unit at full brightness with each display showing its section and key,
// and after `seconds` (or a stop request) makes everything dark. 0, or the exit code of
// a failed start.
int runIdentify(uint32_t seconds);

// Runs what the command line asks for: identify mode, or the whole program.
int runFromCommandLine(int argc, const char* const* argv);

// The settings path for a program file: everything after the last '.' of the whole path
// replaced by "ini"; just "ini" when the path holds no '.'. Always terminated; cut to
// `size` - 1 characters when it does not fit.
void deriveIniPath(const char* programFile, char* out, size_t size);

// Fills the settings: the path from the program's own path, the periods from the file.
void readShellSettings();

// A load of the settings file, on the reload timer: only when the file changed, or
// always (at start and after a plug event). A load that finds the scan or another load
// busy tries again shortly, carrying a forced request over.
enum LoadRequest : int { LOAD_IF_CHANGED = 0, LOAD_FORCED = 1 };
void loadConfiguration(LoadRequest request);

// What the main window does on WM_TIMER (on creation it starts all three).
void onMainWindowTimer(uint32_t id);

// Releases everything in reverse order of acquisition: the link, the device library,
// the item table. Harmless to call twice.
void shutdownNorvalume();

// Back to the state at program start, with the default settings; for tests.
void resetShell();
