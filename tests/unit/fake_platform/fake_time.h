// Fake platform, time and program: a clock the tests advance by hand, the program's
// path, its beeps, its console and its claim on the settings file. sleepMs advances
// it too, so code that pauses runs instantly and the tests can count the pauses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

extern uint32_t nowMs;                 // what tickCount() returns
extern uint32_t totalSleptMs;          // sum of every sleepMs
extern std::vector<uint32_t> beeps;    // kinds passed to beep(), in order
extern char programPathText[300];      // what programPath() reports

// The claim on a settings file: what claimSettingsFile answers, the path it was last
// asked for ("" before), whether the claim is held now, and how often the program
// attached to its starter's console.
extern platform::SettingsClaim claimAnswer;
extern std::string claimedPath;
extern bool claimHeld;
extern int consoleAttaches;

void advance(uint32_t ms);
void resetTime();

}  // namespace fake
