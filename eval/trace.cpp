// The evaluation's optional trace: the record of one item opened as its evaluation starts.
#include "eval/trace.h"

#include <cstring>

EvalTrace* evalTrace = nullptr;
ItemTrace* tracedItem = nullptr;

void setEvalTrace(EvalTrace* trace) {
    evalTrace = trace;
    tracedItem = nullptr;
}

// The display text of the last send is kept across scans: a display is sent only when it
// changes, and the tool still wants to show what it was sent.
void traceStart(int32_t i, const uint8_t raw[8]) {
    if (i < 0 || i >= evalTrace->count) return;
    ItemTrace& t = evalTrace->items[i];
    t.scan = evalTrace->scan;
    t.end = TraceEnd{TRACE_DONE, 0, 0, false};
    t.flashing = false;
    t.sent = false;
    t.decoded.known = false;
    t.scaled.known = false;
    t.value.known = false;
    std::memcpy(t.raw, raw, sizeof t.raw);
    tracedItem = &t;
}

void traceDisplayText(const char* text, int mode) {
    std::strncpy(tracedItem->displayText, text ? text : "", sizeof tracedItem->displayText - 1);
    tracedItem->displayText[sizeof tracedItem->displayText - 1] = '\0';
    tracedItem->displayMode = mode;
}
