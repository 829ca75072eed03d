// Placeholder until the link client lands.
#include "link/link.h"

uint32_t interfaceVersion = 0;
uint32_t simulatorVersion = 0;
bool linkConnected = false;
bool versionTooOld = false;

bool linkOpen(uint32_t, LinkError* error) { *error = LINK_NO_INTERFACE_WINDOW; return false; }
void linkClose() {}
bool linkRead(uint32_t, uint32_t, void*, LinkError* error) { *error = LINK_NOT_OPEN; return false; }
bool linkWrite(uint32_t, uint32_t, const void*, LinkError* error) { *error = LINK_NOT_OPEN; return false; }
bool linkProcess(LinkError* error) { *error = LINK_NOT_OPEN; return false; }
void linkSupervisionTick() {}
