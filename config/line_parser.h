// The grammar of one settings line: turns it into an ItemRecord stored in the item
// table, or rejects it with an error text appended in place.
#pragma once

#include <cstdint>

#include "config/items.h"
#include "config/line_notes.h"

constexpr int LINE_BUFFER_SIZE = 512;

enum ParseResult : int {
    PARSE_REJECTED = 0,     // an error text appended to the line
    PARSE_STORED = 1,
    PARSE_STORED_CUT = -1,  // stored, and an old error text was cut off the line
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
