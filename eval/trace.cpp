// The evaluation's optional trace: the record of one item opened as its evaluation
// starts, and the hooks that fill it, in the traced build of the evaluation only.
#include "eval/trace.h"

#include <cstring>

namespace {

struct TraceState {
    EvalTrace* trace;  // nullptr: none is kept
    ItemTrace* item;   // the record of the item under evaluation; nullptr: none
};
TraceState traceState = {nullptr, nullptr};

}  // namespace

void setEvalTrace(EvalTrace* trace) {
    traceState.trace = trace;
    traceState.item = nullptr;
}

#if NORVALUME_EVAL_TRACE

// The display text of the last send is kept across scans: a display is sent only when it
// changes, and the tool still wants to show what it was sent.
void traceBegin(int32_t i, const uint8_t raw[8]) {
    EvalTrace* trace = traceState.trace;
    traceState.item = nullptr;
    if (!trace || i < 0 || i >= trace->count) return;
    ItemTrace& t = trace->items[i];
    t.scan = trace->scan;
    t.end = TraceEnd{TRACE_DONE, 0, 0, false};
    t.flashing = false;
    t.sent = false;
    t.decoded.known = false;
    t.scaled.known = false;
    t.value.known = false;
    std::memcpy(t.raw, raw, sizeof t.raw);
    traceState.item = &t;
}

void traceEnd(TraceStop stop, uint32_t closedGates, uint8_t failedReference, bool failedExcluded) {
    if (traceState.item)
        traceState.item->end = TraceEnd{stop, closedGates, failedReference, failedExcluded};
}

void traceFlashing() {
    if (traceState.item) traceState.item->flashing = true;
}

void traceDecoded(double decoded, double scaled) {
    if (!traceState.item) return;
    traceState.item->decoded = TraceNumber{true, decoded};
    traceState.item->scaled = TraceNumber{true, scaled};
}

void traceValue(float value) {
    if (traceState.item) traceState.item->value = TraceNumber{true, value};
}

void traceSent() {
    if (traceState.item) traceState.item->sent = true;
}

void traceDisplay(const char* text, int mode) {
    ItemTrace* t = traceState.item;
    if (!t) return;
    std::strncpy(t->displayText, text ? text : "", sizeof t->displayText - 1);
    t->displayText[sizeof t->displayText - 1] = '\0';
    t->displayMode = mode;
}

#endif
