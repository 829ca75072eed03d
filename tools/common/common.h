// What the tools share that the program has no use for: the units list of
// norvalume-check's --units and the virtual library's GFDEV_UNITS, reading a whole file,
// the blank-separated hex bytes of the virtual panels' state file and call log, the check
// that standard output was written, and the answers to --help and --version.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

// One entry of a units list such as "GF45=1,GFMCP=2,GFP8=2": the text up to a comma.
struct UnitsEntry {
    std::string_view name;   // up to the first '=', or the whole entry without one
    bool hasCount;           // an '=' follows the name
    std::string_view count;  // after that '='
    const char* from;        // the list from this entry on, for messages
};

// The entries of a units list in order; a comma at the very end adds no empty entry, a
// comma inside a count's brackets ("GF166=[AAA,BBB]") ends no entry, and nullptr is an
// empty list. Nothing is trimmed or checked: what a blank, a bad count or
// an unknown model means is each tool's decision.
std::vector<UnitsEntry> splitUnitsList(const char* list);

// A count that is all of its text: a decimal number of 0..65535 as strtoul reads it.
bool wholeUnitCount(std::string_view text, unsigned long* count);
// The decimal number a count starts with, as strtol reads it, the rest ignored; 0 when
// there is none or it is outside 0..65535.
int leadingUnitCount(std::string_view text);

// A count given as the units' serial numbers in USB order, "[AAA,BBB]" (blanks around
// the brackets and each serial dropped, an empty serial standing for a unit that has
// none, "[]" for no unit): true, with the serials. False, with none, for any other count.
bool unitSerialList(std::string_view count, std::vector<std::string>* serials);

// The whole content of a file; empty when it cannot be read.
std::string readFile(const char* path);

// Appends each byte as a blank and two upper-case hex digits: " 0A FF".
void appendHexBytes(std::string& out, const unsigned char* bytes, size_t count);
// Reads `count` hex bytes separated by blanks, as strtoul reads each; false when one is
// missing or above FF.
bool parseHexBytes(const char* text, unsigned char* out, size_t count);

// Flushes standard output and checks that everything written to it arrived (a full disk,
// a reader that went away). False, after saying so on standard error as `program`, when
// not: the tool then ends with an exit status that tells a failure.
bool standardOutputWritten(const char* program);

// --help and --version, answered alike by every tool on standard output: `usage`, or
// "<program> <project version>". True when `arg` was one of them; the tool then ends
// with exit status 0.
bool answerInfoOption(const char* arg, const char* program, const char* usage);

}  // namespace tools
