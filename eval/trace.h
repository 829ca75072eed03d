// An optional record of what the evaluation did to each item, for a tool that explains
// the outputs (norvalume-watch). The evaluation fills it as it goes, so the tool shows
// what the evaluation did rather than reading the rules a second time. The program's
// build has no hooks at all.
#pragma once

#include <cstdint>

// Where an item's last evaluation ended.
enum TraceStop : uint8_t {
    TRACE_GATE_CLOSED = 1,   // a Needs gate of its section was closed
    TRACE_REFERENCE_FAILED,  // a condition reference did not hold
    TRACE_FLASH_DARK,        // in the dark phase of a flash: its value was not looked at
    TRACE_TIMED_SWITCH,      // its timed period ended in this scan
    TRACE_DONE,              // evaluated through to its value
};

// Where an evaluation ended, and what closed or failed on the way there.
struct TraceEnd {
    TraceStop stop;
    uint32_t closedGates;     // the FLAG_NEEDS_* bits whose gate was closed
    uint8_t failedReference;  // the reference that did not hold (condition number + 1)
    bool failedExcluded;      // it was a !C reference, and its condition held
};

// A number the evaluation worked out; not known when it did not get that far.
struct TraceNumber {
    bool known;
    double value;
};

struct ItemTrace {
    uint32_t scan;          // EvalTrace::scan at the last evaluation; 0: never evaluated
    TraceEnd end;
    bool flashing;          // a flash was running
    bool sent;              // the output was sent in this evaluation
    uint8_t raw[8];         // the bytes the scan read, before the mask
    TraceNumber decoded;    // read as the value type says, after the mask
    TraceNumber scaled;     // after * and /
    TraceNumber value;      // the comparison, text match, value or level it stands for
    int displayMode;        // of the display text below
    char displayText[32];   // the text built when the display was last sent
};

struct EvalTrace {
    ItemTrace* items;  // one per record of the item table
    int32_t count;
    uint32_t scan;     // the tool counts it up before each scan
};

// Keeps a trace in `trace` from the next evaluation on (nullptr: none). The tool sizes it
// to the item table and sets it again after every load.
void setEvalTrace(EvalTrace* trace);

// The hooks the evaluation calls as it goes. They are compiled in only where
// NORVALUME_EVAL_TRACE is set (norvalume_eval_traced, which the watch links), out of line
// there; the program's evaluation has none of them.
#if NORVALUME_EVAL_TRACE
void traceBegin(int32_t i, const uint8_t raw[8]);
void traceEnd(TraceStop stop, uint32_t closedGates = 0, uint8_t failedReference = 0,
              bool failedExcluded = false);
void traceFlashing();
void traceDecoded(double decoded, double scaled);
void traceValue(float value);
void traceSent();
void traceDisplay(const char* text, int mode);
#else
// The program's own build: no hook costs anything on its scan path.
inline void traceBegin(int32_t, const uint8_t*) {}
inline void traceEnd(TraceStop, uint32_t = 0, uint8_t = 0, bool = false) {}
inline void traceFlashing() {}
inline void traceDecoded(double, double) {}
inline void traceValue(float) {}
inline void traceSent() {}
inline void traceDisplay(const char*, int) {}
#endif
