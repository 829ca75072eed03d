// Fake platform, time and program: a clock the tests advance by hand. sleepMs advances
// it too, so code that pauses runs instantly and the tests can count the pauses.
#pragma once

#include <cstdint>
#include <vector>

namespace fake {

extern uint32_t nowMs;                 // what tickCount() returns
extern uint32_t totalSleptMs;          // sum of every sleepMs
extern std::vector<uint32_t> beeps;    // kinds passed to beep(), in order
extern char programPathText[300];      // what programPath() reports

void advance(uint32_t ms);
void resetTime();

}  // namespace fake
