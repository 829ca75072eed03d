// The program's frame: the settings path, the two timing settings, start-up, the
// window handlers and shutdown.
#pragma once

#include <cstdint>

constexpr int INI_PATH_SIZE = 261;
extern char iniPath[INI_PATH_SIZE];
extern uint32_t scanPeriod;      // ms, [Config] ScanInterval, default 220
extern uint32_t revisionPeriod;  // ms, [Config] RevisionTime, default 2500

// Runs the whole program; returns the process exit code.
int runNorvalume();
