// Recording a flight as a norvalume-sim script: every value the scans read, as a `set`
// line when it changes and a `wait` line with the time between. The script is checked as
// it is written against a module of its own, so replaying it puts back exactly the bytes
// the simulator held when the watch read them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/sim/simcore.h"

namespace watch {

// How a `set` line writes a value.
enum class ValueForm { U8, S8, U16, S16, U32, S32, F32, F64, PACKED, TEXT, HEX };

// The form for a read of `size` bytes that the settings file reads as `valueType`
// (VALUE_TYPE_COUNT or above: no line says): its own form when its size fits, else one
// by size.
ValueForm formFor(uint32_t size, int valueType);

// The `set` line that makes `bytes` what `module` holds at `offset`: in `form` where the
// line gives back exactly those bytes, as hex otherwise. The line is run on `module`.
std::string setLine(sim::SimModule* module, uint32_t offset, const std::vector<uint8_t>& bytes,
                    ValueForm form);

// A recording in progress. Every write, flush and close is checked: after the first that
// fails nothing more is written, the file is cut back to the last whole line that
// reached it, and `failure` says what failed and where.
struct Recording {
    FILE* file = nullptr;
    std::string path;
    sim::SimModule* replay = nullptr;  // what the replaying module holds at each moment
    bool anyBlock = false;
    uint32_t lastBlockMs = 0;          // when the last lines were written
    std::string block;                 // the lines of the block being written
    uint64_t keptBytes = 0;            // in the file, ending on a whole line
    uint64_t keptLines = 0;
    bool failed = false;
    std::string failure;
};

// Opens `path` and writes the header naming the settings file and the date. False when
// the file cannot be opened or written; then `failure` says why.
bool startRecording(Recording& r, const char* path, const std::string& settings,
                    const std::string& date);
// The values one scan read at `now`: a wait since the last lines, then a set line for
// every value that differs from what the replay holds. Written and flushed at once, as a
// whole; nothing once the recording has failed.
struct RecordedRead {
    uint32_t offset;
    const std::vector<uint8_t>* bytes;
    ValueForm form;
};
void recordScan(Recording& r, const std::vector<RecordedRead>& reads, uint32_t now);
// A last wait, so that a looping replay holds the last values as long as they held; then
// the file is closed. False when the recording failed, now or before (see `failure`).
bool finishRecording(Recording& r, uint32_t now);

}  // namespace watch
