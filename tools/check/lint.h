// norvalume-check's warnings: what the program reads differently from how it looks, or
// not at all, without a word in the file. Every rule comes from the program's own code:
// the line grammar and the Needs reader say what they skipped or overrode, the loader's
// walk says which keys it asked for (a key in the file that it never asked for is never
// read), and the item table says which line can never own its output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/loader.h"

namespace check {

struct Warning {
    int line;
    int column;           // 0 when no column helps
    std::string section;  // as written in the file
    std::string key;      // as written; empty for a warning about a section or a line
    std::string text;
};

// Reads the lines of the file at `path` as they are before a load writes anything, and
// forgets what an earlier lint collected. For an aircraft profile, `settingsPath` is the
// settings file it overlays; only the keys read from `path` are its lines.
void lintStart(const char* path, const char* settingsPath = nullptr);

// Makes `observer` report to the lint during the load that follows.
void lintAttach(LoadObserver& observer);

// After that load, while its item table is still there: every warning, in file order.
// `unitCounts` (by DeviceType code) are the units the load assumed connected.
std::vector<Warning> lintFinish(const uint16_t* unitCounts);

// "FILE:LINE:COLUMN: warning: [SECTION] KEY: text", without the column when it has none.
std::string formatWarning(const char* file, const Warning& warning);

}  // namespace check
