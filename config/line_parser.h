// The grammar of one settings line: turns it into an ItemRecord stored in the item
// table, or rejects it with an error text appended in place.
#pragma once

#include <cstdint>

#include "config/items.h"

constexpr int LINE_BUFFER_SIZE = 512;

enum ParseResult : int {
    PARSE_REJECTED = 0,     // an error text appended to the line
    PARSE_STORED = 1,
    PARSE_STORED_CUT = -1,  // stored, and an old error text was cut off the line
};

// What the grammar takes without a word. A character no option starts with is skipped, a
// later option overrides an earlier one, an option the kind of line has no use for is kept
// and ignored. A checker that warns about these hands the parser an observer; the program
// passes none, and then none of this is looked for.
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

// Parses `line` into the record at `position` of the item table. `line` lies in a buffer
// of LINE_BUFFER_SIZE bytes. `observer` (may be nullptr) hears what the grammar skipped
// or overrode, as it goes: a line rejected later may have had notes before its fault.
ParseResult parseItemLine(int32_t position, int32_t deviceType, uint8_t kind, uint16_t index,
                  uint8_t unit, char* line, uint16_t minVoltage, uint16_t needsFlags,
                  const LineObserver* observer = nullptr);

// Reads hexadecimal digits at `cursor` into `value` (saturating at 0xFFFFFFFF, so an
// over-long run can never wrap into an acceptable number). On success the cursor is
// left after the last digit; with no digit it fails and the cursor is not moved.
bool readHex(const char*& cursor, uint32_t& value);

// The texts appended to a rejected line. Every one starts with " <<< ", which is what
// the next load looks for to cut an old verdict off again.
enum LineError {
    LINE_OK = 0,
    ERR_BAD_MULTIPLIER,
    ERR_BAD_I_NOT_HEX,
    ERR_BAD_I_TOO_HIGH,
    ERR_BAD_DISPLAY_FORMAT,
    ERR_FORWARD_CONDITION,
    ERR_TOO_MANY_POSITIVE,
    ERR_TOO_MANY_NEGATIVE,
    ERR_BAD_CONDITION_NUMBER,
    ERR_CONDITION_MISSING,
    ERR_BAD_A,
    ERR_BAD_M,
    ERR_BAD_LITERAL_HEX,
    ERR_BAD_LITERAL,
    ERR_BAD_X_NOT_HEX,
    ERR_BAD_X_TOO_HIGH,
    ERR_BAD_U,
    ERR_BAD_STEADY,
    ERR_BAD_S,
    ERR_BAD_RADIO,
    ERR_BAD_F,
    ERR_NEEDS_VALUE,
    ERR_TEXT_MATCH_ON_VALUE,
    ERR_BRIGHTNESS_STRING,
    ERR_INTERNAL_CONDITION,
    ERR_OFFSET_AND_LITERAL,
    ERR_STRING_ON_TRUTH,
    ERR_NEEDS_RESULT,
    ERR_NO_MEMORY,
    LINE_ERROR_COUNT
};

// The error text of `error` ("" for LINE_OK and codes out of range).
const char* lineErrorText(int error);
