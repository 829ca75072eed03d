// A client of the interface module in the layout that 64-bit clients of the module's own
// SDK use, written from the protocol's wire facts: reads go as type-4 records (a packed
// 20-byte header whose 8-byte destination the module hands back untouched), writes as
// type 2. It looks for UIPCMAIN, then FS98MAIN, as those clients do. For the tests only:
// it proves that the emulator serves such clients byte for byte; the program itself
// sends type 1.
#pragma once

#include <cstdint>

#include "link/link.h"

// The same contract as linkOpen, linkClose, linkRead, linkWrite and linkProcess, on a
// block of its own. One handshake exchange; its words land in the two below. A read's
// destination must not be null.
bool probe64Open(uint32_t requiredSimVersion, LinkError* error);
void probe64Close();
bool probe64Read(uint32_t offset, uint32_t size, void* destination, LinkError* error);
bool probe64Write(uint32_t offset, uint32_t size, const void* source, LinkError* error);
bool probe64Process(LinkError* error);
// Queues a bare header of `type` with no data, so a test can hand the module a record
// it does not know. Reads behind it are not carried out, and the exchange reports
// LINK_REPLY_DAMAGED.
bool probe64Queue(uint32_t type, LinkError* error);

extern uint32_t probe64InterfaceWord;
extern uint32_t probe64SimulatorWord;
