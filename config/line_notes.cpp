// The notes of the settings-line grammar (see line_notes.h): what it tells an observer
// as it reads, and the rules of which options each kind of line makes no use of.
#include "config/line_notes.h"

namespace {

LineNote noteOn(const LineNotes& notes, LineNoteKind kind, const char* from, const char* to) {
    return LineNote{kind, UNUSED_NONE, static_cast<int>(from - notes.line),
                    static_cast<int>(to - from), -1, 0, 0};
}

// The kinds of line a rule is for, one bit per ItemKind; a kind beyond the four counts
// as KINDS_OTHER, so that "every kind but a light" still holds for it.
constexpr uint8_t KIND_BIT_CONDITION = 1u << KIND_CONDITION;
constexpr uint8_t KIND_BIT_BRIGHTNESS = 1u << KIND_BRIGHTNESS;
constexpr uint8_t KIND_BIT_LIGHT = 1u << KIND_LIGHT;
constexpr uint8_t KIND_BIT_DISPLAY = 1u << KIND_DISPLAY;
constexpr uint8_t KINDS_OTHER = 0x10;
constexpr uint8_t KINDS_ALL = 0x1F;
constexpr uint8_t KINDS_TRUTH = KIND_BIT_CONDITION | KIND_BIT_LIGHT;

uint8_t kindBit(uint8_t kind) { return kind <= KIND_DISPLAY ? 1u << kind : KINDS_OTHER; }

bool always(const ItemRecord&) { return true; }
bool textType(const ItemRecord& r) { return r.valueType >= VT_STR; }
bool textDisplay(const ItemRecord& r) { return textType(r) || (r.flags & FLAG_HAS_STRING); }
bool hasOffset(const ItemRecord& r) { return r.flags & FLAG_HAS_OFFSET; }
bool noOffset(const ItemRecord& r) { return !hasOffset(r); }
bool numberTypeNothingRead(const ItemRecord& r) {
    return noOffset(r) && !textType(r) && !(r.flags & FLAG_TYPE_FROM_SIM);
}
bool constantCompared(const ItemRecord& r) { return noOffset(r) && (r.flags & FLAG_HAS_NUMBER); }
bool floatRead(const ItemRecord& r) {
    return hasOffset(r) && (r.valueType == VT_F32 || r.valueType == VT_F64);
}
bool typeReadFromSim(const ItemRecord& r) { return hasOffset(r) && (r.flags & FLAG_TYPE_FROM_SIM); }
bool textMatchRead(const ItemRecord& r) { return hasOffset(r) && (r.flags & FLAG_TEXT_MATCH); }
bool numberWithoutSign(const ItemRecord& r) {
    return hasOffset(r) && (r.flags & FLAG_HAS_NUMBER) && r.compareOp == CMP_NONE;
}

// A field given on a line of `kinds` whose record `holds` is of no use there (or, for a
// bare number, not what it seems). Told in this order, each about the option that gave
// the field last.
struct UnusedRule {
    Field field;
    uint8_t kinds;
    bool (*holds)(const ItemRecord&);
    LineNoteKind note;
    UnusedReason reason;
};

constexpr uint8_t NOT_DISPLAY = KINDS_ALL & ~KIND_BIT_DISPLAY;
constexpr uint8_t NOT_LIGHT = KINDS_ALL & ~KIND_BIT_LIGHT;

const UnusedRule UNUSED_RULES[] = {
    {FIELD_FORMAT, NOT_DISPLAY, always, NOTE_UNUSED, UNUSED_FORMAT},
    {FIELD_TYPE, NOT_DISPLAY, textType, NOTE_UNUSED, UNUSED_DISPLAY_TYPE},
    {FIELD_FORMAT, KIND_BIT_DISPLAY, textDisplay, NOTE_UNUSED, UNUSED_FORMAT_TEXT},
    {FIELD_FLASH, KIND_BIT_CONDITION | KIND_BIT_BRIGHTNESS, always, NOTE_UNUSED, UNUSED_FLASH},
    {FIELD_TIMER, NOT_LIGHT, always, NOTE_UNUSED, UNUSED_TIMER},
    {FIELD_MULTIPLIER, KINDS_ALL, noOffset, NOTE_UNUSED, UNUSED_NO_OFFSET},
    {FIELD_DIVISOR, KINDS_ALL, noOffset, NOTE_UNUSED, UNUSED_NO_OFFSET},
    {FIELD_MASK, KINDS_ALL, noOffset, NOTE_UNUSED, UNUSED_NO_OFFSET},
    {FIELD_TYPE, KINDS_ALL, numberTypeNothingRead, NOTE_UNUSED, UNUSED_NO_OFFSET},
    {FIELD_COMPARE, KINDS_TRUTH, constantCompared, NOTE_UNUSED, UNUSED_COMPARE_CONSTANT},
    {FIELD_MASK, KINDS_ALL, floatRead, NOTE_UNUSED, UNUSED_FLOAT_MASK},
    {FIELD_TYPE, KINDS_ALL, typeReadFromSim, NOTE_UNUSED, UNUSED_TYPE_FROM_SIM},
    {FIELD_OFFSET, KINDS_ALL, textMatchRead, NOTE_UNUSED, UNUSED_MATCH_OFFSET},
    {FIELD_LITERAL, KINDS_TRUTH, numberWithoutSign, NOTE_BARE_NUMBER, UNUSED_NONE},
};

}  // namespace

void notesStart(LineNotes& notes, const LineObserver* observer, const char* line) {
    notes.observer = observer && observer->note ? observer : nullptr;
    notes.line = line;
    for (OptionSpan& g : notes.given) g = OptionSpan{-1, 0};
}

void noteSpan(const LineNotes& notes, LineNoteKind kind, const char* from, const char* to) {
    if (notes.observer) notes.observer->note(noteOn(notes, kind, from, to));
}

void noteNumberCut(const LineNotes& notes, const char* start, const char* read,
                   const char* end) {
    if (!notes.observer || end <= read) return;
    LineNote n = noteOn(notes, NOTE_NUMBER_CUT, start, end);
    n.read = static_cast<int>(read - start);
    notes.observer->note(n);
}

void noteLongHex(const LineNotes& notes, const char* start, const char* digits, const char* end) {
    if (!notes.observer) return;
    while (*digits == '0' && digits < end) ++digits;
    if (end - digits > 8) noteSpan(notes, NOTE_HEX_TOO_LONG, start, end);
}

void noteContradiction(const LineNotes& notes, const uint8_t* opposite, int32_t ref,
                       const char* start, const char* end) {
    if (!notes.observer) return;
    for (size_t k = 0; k < sizeof(ItemRecord::requiredConditions); ++k) {
        if (opposite[k] == ref) {
            noteSpan(notes, NOTE_NEVER_APPLIES, start, end);
            return;
        }
    }
}

void noteClaims(LineNotes& notes, uint32_t claims, const char* start, const char* end,
                uint32_t flags) {
    if (!notes.observer) return;
    const OptionSpan now{static_cast<int16_t>(start - notes.line),
                         static_cast<int16_t>(end - start)};
    constexpr uint32_t SPEEDS = FLAG_FLASH_FAST | FLAG_FLASH_SLOW;
    constexpr uint32_t TIMERS = FLAG_TIMED_ON | FLAG_TIMED_OFF;
    bool noted = false;
    for (int field = 0; field < FIELD_COUNT; ++field) {
        if (!(claims & (1u << field))) continue;
        const OptionSpan before = notes.given[field];
        notes.given[field] = now;
        if (before.at < 0 || noted) continue;
        LineNoteKind kind = NOTE_OVERRIDDEN;
        if (field == FIELD_FLASH) {
            // The speeds are flags: a repeated one changes nothing, both make it fast.
            if ((flags & SPEEDS) != SPEEDS) continue;
            kind = NOTE_BOTH_SPEEDS;
        } else if (field == FIELD_TIMER && (flags & TIMERS) == TIMERS) {
            kind = NOTE_BOTH_TIMERS;
        }
        LineNote n = noteOn(notes, kind, start, end);
        n.other = before.at;
        n.otherLength = before.length;
        notes.observer->note(n);
        noted = true;
    }
}

void noteUnusedOptions(const LineNotes& notes, const ItemRecord& record) {
    if (!notes.observer) return;
    const uint8_t kind = kindBit(record.kind);
    for (const UnusedRule& rule : UNUSED_RULES) {
        const OptionSpan g = notes.given[rule.field];
        if (g.at < 0 || !(rule.kinds & kind) || !rule.holds(record)) continue;
        notes.observer->note(LineNote{rule.note, rule.reason, g.at, g.length, -1, 0, 0});
    }
}
