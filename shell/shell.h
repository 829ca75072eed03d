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
// Delay of the scan after a switch of aircraft profile: the new profile's outputs follow
// the dark at once, not a whole scan period later.
constexpr uint32_t SWITCH_SCAN_DELAY_MS = 1;

// Runs the whole program; returns the process exit code.
int runNorvalume();

// Exit codes of a start that did not run.
constexpr int EXIT_NO_WINDOW_CLASS = 1;
constexpr int EXIT_NO_DEVICE_LIBRARY = 2;
constexpr int EXIT_NO_WINDOW = 3;
// A command line it does not understand: nothing was started.
constexpr int EXIT_BAD_COMMAND_LINE = 4;
// A copy of the program (or identify mode) already runs for this settings file: this
// one ends at once, having touched neither the panels nor the file.
constexpr int EXIT_ALREADY_RUNNING = 5;
// Linux: the run folder, where the simulator's stand-in is found, is not this user's alone.
constexpr int EXIT_IPC_REFUSED = 6;

// The command line: "--identify" with "=SECONDS" (1 to 3600) or without, "--help" (also
// "/?") and "--version". Every switch may start with "/" instead of "--" and is read in
// any case, on every platform. Read left to right: help, version and anything not
// understood end the reading there.
enum StartMode : int {
    START_NORMAL,
    START_IDENTIFY,
    START_BAD_SWITCH,  // --identify with a bad number of seconds
    START_HELP,
    START_VERSION,
    START_UNKNOWN,     // an argument that is no switch of the program
};
struct StartRequest {
    StartMode mode;
    uint32_t seconds;      // START_IDENTIFY: how long the units show who they are
    const char* argument;  // START_BAD_SWITCH, START_UNKNOWN: the argument not understood
};
constexpr uint32_t DEFAULT_IDENTIFY_SECONDS = 10;
constexpr uint32_t MAX_IDENTIFY_SECONDS = 3600;
StartRequest readCommandLine(int argc, const char* const* argv);

// One copy per settings file: claims `iniPath` for this process. False when another copy
// holds it; the user has then been told (a beep, and a line on a console that started
// this one, saying what `mode` would have done) and the caller ends with
// EXIT_ALREADY_RUNNING, having touched nothing. When the system cannot tell, the start
// goes on as it always did.
bool claimOrSayWhoHasIt(const char* iniPath, StartMode mode);

// Identify mode: binds the device library (no simulator; of the settings file only the
// Serial= keys are read, and nothing is written), lights every light of every unit at full
// brightness with each display showing the section that drives it and its key, and after
// `seconds` (or a stop request) makes everything dark. While the program runs for the same settings file it touches nothing:
// its end would leave that copy's panels dark. 0, or the exit code of a start that did
// not run.
int runIdentify(uint32_t seconds);

// Runs what the command line asks for: help, the version, identify mode, or the whole
// program.
int runFromCommandLine(int argc, const char* const* argv);

// The settings path for a program file: everything after the last '.' of the whole path
// replaced by "ini"; just "ini" when the path holds no '.'. Always terminated; cut to
// `size` - 1 characters when it does not fit.
void deriveIniPath(const char* programFile, char* out, size_t size);

// The settings path of this program (deriveIniPath of its own path); reads nothing.
void programIniPath(char* out, size_t size);

// Fills the settings: the path from the program's own path, the periods from the file.
void readShellSettings();

// A load of the settings file, on the reload timer: only when the file changed, or
// always (at start and after a plug event). A load that finds the scan or another load
// busy tries again shortly, carrying a forced request over.
enum LoadRequest : int { LOAD_IF_CHANGED = 0, LOAD_FORCED = 1 };
void loadConfiguration(LoadRequest request);

// What the main window does on WM_TIMER (on creation it starts all three).
void onMainWindowTimer(uint32_t id);

// The user's session ends (log-off, restart, shutdown): the system may end the process
// as soon as this returns, without a close. Every output is dark and the device library
// released before it returns; outside a timer's handler everything else is released too.
void onSessionEnd();

// Releases everything in reverse order of acquisition: the link, the device library,
// the item table. Harmless to call twice.
void shutdownNorvalume();

// Back to the state at program start, with the default settings; for tests.
void resetShell();
