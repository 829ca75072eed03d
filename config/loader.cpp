// Placeholder until the loader lands.
#include "config/loader.h"

bool loadBusy = false;
bool reloadPending = false;

void loadConfiguration(int) {}
