// The grammar of one settings line: turns it into an ItemRecord stored in the item
// table, or rejects it with an error text appended in place.
#pragma once

#include <cstdint>

#include "config/items.h"

constexpr int LINE_BUFFER_SIZE = 512;

// Returns 1 (stored), -1 (stored, an old error text was cut off) or 0 (rejected, an
// error text appended). `line` lies in a buffer of LINE_BUFFER_SIZE bytes.
int parseItemLine(int32_t position, int32_t deviceType, uint8_t kind, uint16_t index,
                  uint8_t unit, char* line, uint16_t minVoltage, uint16_t needsFlags);
