// norvalume-watch: a second client of the simulator interface that loads the settings
// file read-only, scans with the program's own link, scan and evaluation code, and shows
// what each output shows and why. The session below is the one set of state the parts
// share; the observers the program's layers call are plain functions writing into it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "devices/models.h"
#include "eval/eval.h"
#include "eval/trace.h"
#include "platform/platform.h"
#include "tools/common/units.h"

namespace watch {

// An accepted line of the settings file, by the position of its record.
struct Line {
    std::string section;  // "GFP8.0", "Conditions"
    std::string key;      // "L0.1", "3"
    std::string text;     // as the parser read it
    std::string file;     // the name of the file it is in: the settings file or a profile
};

// A line the loader rejected: the program never reads it.
struct Rejected {
    std::string section;
    std::string key;
    std::string error;  // " <<< ..."
};

// What one display shows, as it was last sent.
struct DisplayShown {
    bool written;
    std::string text;
    bool segmentsSent;
    uint8_t segments[16];
};

// What one panel unit shows, as the devices layer last sent it.
struct UnitShown {
    uint32_t lit;
    bool brightnessSent;
    int32_t brightness;
    DisplayShown displays[MAX_DISPLAYS];
};

// The place and size of one read.
typedef std::pair<uint32_t, uint32_t> Place;

// The bytes one read of a scan brought, in the order the scan read them.
struct Read {
    uint32_t offset;
    std::vector<uint8_t> bytes;
};

struct Session {
    std::string path;
    bool unitsGiven;  // --units; otherwise the units follow the file's sections
    tools::UnitCounts units;
    std::vector<Line> lines;          // by record position
    std::vector<Rejected> rejected;
    platform::FileStamp stamp;        // of the file as loaded
    bool stampSeen;                   // a changed stamp waiting to settle
    platform::FileStamp pendingStamp;
    platform::FileStamp profileStamp;  // of the aircraft profile in force, as loaded
    platform::FileStamp pendingProfileStamp;
    uint32_t loads;                   // loads so far

    std::vector<ItemTrace> traces;  // one per record, filled by the evaluation
    std::vector<ItemTrace> looked;  // per record, the last trace that looked at its value
    EvalTrace trace;
    std::map<std::pair<int32_t, uint8_t>, UnitShown> shown;  // by (model code, unit)
    std::vector<Read> reads;                                 // of the last scan
    std::map<Place, std::vector<uint8_t>> lastRead;          // the last bytes at each place
    bool scanRead;                                           // the last scan read it
};

extern Session session;

// --- session.cpp
// Loads the settings file with the program's loader, changing nothing in it. False when
// the file does not exist.
bool loadSettings();
// Loads the file again once a save has settled (it looked the same at two calls in a
// row); true when it did.
bool reloadIfSaved();
// Installs the observers and the link's wait hook; stopWatching takes them away again
// and closes the link.
void startWatching();
void stopWatching();
// Opens the link when it is down (at most every `retryMs`), then runs one scan of the
// program. True when the simulator answered it (or there was nothing to ask).
bool scanOnce(uint32_t now, uint32_t retryMs);
// What the unit of model `type` shows; a unit never written shows nothing.
const UnitShown& unitShown(int32_t type, uint8_t unit);
// The bytes the last scan that read `place` brought; nullptr when none has.
const std::vector<uint8_t>* bytesRead(uint32_t offset, uint32_t size);
// While [Profiles] has rules: the aircraft the scans settled and the profile in force, on
// one line; "" without rules.
std::string aircraftLine();

// --- explain.cpp: the words both views use
// The evaluation's state of record `i`; all zero when there is none.
const ItemState& itemState(int32_t i);
// Position of the record that applied for the output of `first` this scan, -1 none.
int32_t applyingLine(int32_t first);
// One past the last record of the output `first` belongs to.
int32_t outputEnd(int32_t first);
// True when record `i` was evaluated in the last scan; and when it then applied.
bool evaluatedNow(int32_t i);
bool lineApplied(int32_t i);
// Why record `i` did not apply, in a few words.
std::string notApplyingReason(int32_t i);
// The value of record `i` as its line reads it, and what it stands for. In the dark phase
// of a flash that shows (a lit light, a display) that phase; for a light that is off, whose
// flash shows nothing, the value as it was last looked at.
std::string valueText(int32_t i);
// Whether the flash of record `i` shows on its output: a light flashes only while it is on.
bool flashShows(int32_t i);
// What the output of record `i` shows now.
std::string shownText(int32_t i);
// The line of record `i` as written: "L0.1=X0BEC U32 >0 Ffast ; nose".
std::string lineText(int32_t i);
// The simulator's state as the last scan read it, on one line.
std::string simulatorLine();
// The number as the display of a value: integers without decimals, else %g.
std::string number(double value);
float floatOf(const uint8_t* bytes);
std::string quoted(const char* text, size_t size);

// --- table.cpp and why.cpp: one frame of each view
std::string tableFrame(const std::string& filter);
// The derivation of the output `key` of `section`; *found false when the file has no such
// output for the units connected.
std::string whyFrame(const std::string& section, const std::string& key, bool* found);

}  // namespace watch
