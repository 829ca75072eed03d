// The panel units a tool assumes connected, taken as norvalume-check and norvalume-watch
// both take them: from a --units list, or from the unit sections of the settings file.
#pragma once

#include <cstdint>

#include "devices/models.h"

namespace tools {

// Unit counts by DeviceType code (slot 0 unused).
typedef uint16_t UnitCounts[DEVICE_TYPE_COUNT + 1];

// "GF45=1,GFMCP=2": model names as in the section names, any case, into `counts`. Stops
// at the first entry that is not MODEL=COUNT with a known model and a count of 0..65535,
// says why on standard error after "`program`: ", and returns false.
bool parseUnitsList(const char* program, const char* list, UnitCounts counts);

// As many units of each model the program counts as the file at `path` has consecutive
// sections <Model>.0, <Model>.1, ... for, and at least enough for its last section with
// Serial=, which drives its unit wherever that one is counted. Reads the file only.
void unitsFromSections(const char* path, UnitCounts counts);

// "units: GF45=1 GFP8=2" on standard output, "units: none" without any.
void printUnits(const UnitCounts counts);

}  // namespace tools
