// The configuration loader: reads the whole settings file into the item table,
// writes verdicts and the connection report back, and reloads when the file changes.
#pragma once

#include <cstdint>

constexpr uint32_t RELOAD_TIMER_ID = 3;
extern bool loadBusy;
extern bool reloadPending;

void loadConfiguration(int force);
