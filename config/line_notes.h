// What the settings-line grammar takes without a word, told to an observer: characters it
// skipped, options that override earlier ones, numbers and texts it cut, and options the
// kind of line makes no use of. norvalume-check listens; the program passes no observer,
// and then none of this is looked for.
#pragma once

#include <cstdint>

#include "config/items.h"

// A character no option starts with is skipped, a later option overrides an earlier one,
// an option the kind of line has no use for is kept and ignored.
enum LineNoteKind : uint8_t {
    NOTE_SKIPPED,         // characters no option starts with
    NOTE_OVERRIDDEN,      // an option that replaces what `other` set
    NOTE_BOTH_SPEEDS,     // Ffast and Fslow (`other`) both given: it flashes fast
    NOTE_BOTH_TIMERS,     // <n>on and <n>off (`other`) both given: it stays on
    NOTE_UNUSED,          // an option the line makes no use of, `reason` says why
    NOTE_NUMBER_CUT,      // a number of which only the first `read` characters count
    NOTE_TEXT_CUT,        // a text longer than the 8 characters kept
    NOTE_TEXT_UNCLOSED,   // a text without its closing quote: it runs to the line's end
    NOTE_BARE_NUMBER,     // a number without a sign after an offset: it compares as !=
    NOTE_ZERO_SCALE,      // *0 or /0: 0 stands for no scaling
    NOTE_ZERO_MASK,       // M0: 0 stands for no mask
    NOTE_HEX_TOO_LONG,    // more than 32 bits of hexadecimal, taken as FFFFFFFF
    NOTE_NEVER_APPLIES,   // !C<n> and C<n> on one line
    // The words of a Needs line.
    NOTE_NEEDS_IGNORED,     // its first letter is no gate
    NOTE_NEEDS_ONE_LETTER,  // a word of gate letters, of which only the first counts
    NOTE_NEEDS_NO_VOLTAGE,  // V without a number: at least 0 V, which always holds
    NOTE_NEEDS_SEMICOLON,   // no comment here: the words after it count
};

enum UnusedReason : uint8_t {
    UNUSED_NONE,
    UNUSED_FORMAT,            // a display format on a line that is no display
    UNUSED_FORMAT_TEXT,       // a display format on a text or radio display
    UNUSED_DISPLAY_TYPE,      // STR or R0-R2 on a line that is no display
    UNUSED_FLASH,             // flashing on a condition or a brightness
    UNUSED_TIMER,             // a timed form on a line that is no light
    UNUSED_NO_OFFSET,         // scaling, a mask or a value type with nothing read
    UNUSED_FLOAT_MASK,        // a mask on F32 or F64
    UNUSED_TYPE_FROM_SIM,     // a value type while I<hex> reads it from the simulator
    UNUSED_MATCH_OFFSET,      // an offset on a text match, which reads the message line
    UNUSED_COMPARE_CONSTANT,  // a comparison with nothing read: the number alone decides
};

// Positions are offsets into the line as parsed (from 0).
struct LineNote {
    LineNoteKind kind;
    UnusedReason reason;
    int at;
    int length;
    int other;  // the earlier option concerned, -1 for none
    int otherLength;
    int read;   // NOTE_NUMBER_CUT: characters read as the number
};

struct LineObserver {
    void (*note)(const LineNote& note);
};

// --- For the grammar (config/line_parser*): what it tells, as it reads one line.

// The settings of the record an option can give, and a later option override. An option
// claims the ones it sets; whether a kind of line makes use of each is UNUSED_RULES'.
enum Field : uint8_t {
    FIELD_OFFSET,
    FIELD_TYPE,
    FIELD_TYPE_OFFSET,
    FIELD_COMPARE,
    FIELD_LITERAL,
    FIELD_MULTIPLIER,
    FIELD_DIVISOR,
    FIELD_MASK,
    FIELD_FORMAT,
    FIELD_FLASH,
    FIELD_TIMER,
    FIELD_COUNT
};

constexpr uint32_t fieldBit(Field field) { return 1u << field; }

struct OptionSpan {
    int16_t at;  // -1: not given
    int16_t length;
};

// One line's notes so far. Without an observer it stays empty and every call below
// returns at once.
struct LineNotes {
    const LineObserver* observer;
    const char* line;
    OptionSpan given[FIELD_COUNT];  // the option that last gave each field
};

// Starts the notes of `line`; `observer` may be nullptr, or have no `note`.
void notesStart(LineNotes& notes, const LineObserver* observer, const char* line);

// The text from `from` to `to` is of `kind` (skipped, cut, a zero scaling or mask, ...).
void noteSpan(const LineNotes& notes, LineNoteKind kind, const char* from, const char* to);

// The option from `start` reads as far as `read`; up to `end` the rest of a run of
// digits and points was skipped with it. Nothing when nothing was skipped.
void noteNumberCut(const LineNotes& notes, const char* start, const char* read,
                   const char* end);

// The option from `start` to `end` whose hexadecimal digits from `digits` hold more than
// 32 bits.
void noteLongHex(const LineNotes& notes, const char* start, const char* digits, const char* end);

// The option from `start` to `end` refers to condition `ref`, which the line also refers
// to with the other sign (`opposite` holds those references).
void noteContradiction(const LineNotes& notes, const uint8_t* opposite, int32_t ref,
                       const char* start, const char* end);

// After the option from `start` to `end`, which set the fields in `claims`: one note when
// it replaces what an earlier option gave, and from now on it gave those fields. `flags`
// are the record's flags after it, which tell two flash speeds or timers apart from an
// override.
void noteClaims(LineNotes& notes, uint32_t claims, const char* start, const char* end,
                uint32_t flags);

// After an accepted line: the options its kind makes no use of, as the evaluation and
// the display text read the record.
void noteUnusedOptions(const LineNotes& notes, const ItemRecord& record);
