// The settings-line grammar: a run of one-letter options, each followed directly by its
// argument, read into one ItemRecord. OPTIONS below has one row per option form; the
// walk finds the row at the cursor and lets it read its argument. A rejected line gets
// its verdict appended in place, and an old verdict from an earlier load is cut off first.
#include "config/line_parser.h"

#include <cstring>

#include "config/line_notes.h"
#include "config/numbers.h"

namespace {

const char* const ERROR_TEXTS[LINE_ERROR_COUNT] = {
    "",
    " <<< Bad multiplier (*)",
    " <<< Bad I: offset not hexadecimal",
    " <<< Bad I: offset too high",
    " <<< Bad Display format",
    " <<< Cannot use forward condition reference",
    " <<< Too many positive conditions",
    " <<< Too many negative conditions",
    " <<< Bad Condition number",
    " <<< Condition referenced doesn't exist",
    " <<< Bad A: needs literal string \"\"",
    " <<< Bad M: mask not hexadecimal",
    " <<< Bad literal: X not followed by hexadecimal",
    " <<< Bad literal value",
    " <<< Bad X: offset not hexadecimal",
    " <<< Bad X: offset too high",
    " <<< Bad value type: U8, U16 or U32 accepted",
    " <<< Bad steady parameter: St<n>off with <n> value 1-59 secs accepted",
    " <<< Bad value type: S8, S16, S32 or STR accepted",
    " <<< Bad Radio type: R0-R2 accepted",
    " <<< Unknown 'F' parameter: not one of Ffast, Fslow, F32, F64, Ff<n>on, Ff<n>off, Fs<n>on, Fs<n>off",
    " <<< needs offset or literal to get value",
    " <<< incorrect use of A\"<str>\" option",
    " <<< cannot set brightness with string",
    " <<< no internal conditions allowed, use references to [Conditions]",
    " <<< either offset or literal, not both",
    " <<< cannot use strings with lights or conditions",
    " <<< needs offset and/or literal to get result",
    " <<< cannot obtain enough memory!",
};

constexpr int MAX_REFERENCES = 8;
constexpr uint32_t NEGATIVE = 1;  // a condition reference that must not hold
constexpr uint32_t LITERAL_FLAGS = FLAG_HAS_NUMBER | FLAG_HAS_STRING | FLAG_TEXT_MATCH;

// Everything one line's scan needs; nothing survives the call.
struct LineScan {
    ItemRecord record;
    const char* cursor;
    const char* tokenStart;  // where the option being read starts
    int32_t position;
    int positiveCount;
    int negativeCount;
    LineNotes notes;
};

struct OptionRow;

// Reads the argument of `row`'s option at the cursor (just after the option's letters)
// into the record and leaves the cursor after it. LINE_OK, or the line's verdict.
using ArgumentReader = LineError (*)(LineScan& s, const OptionRow& row);

// One form of an option. The first row whose `starts` holds the character at the cursor
// (in either case) and whose `then` follows it at once is the one that reads.
struct OptionRow {
    const char* starts;  // the characters that start it, letters in upper case
    const char* then;    // what must follow at once, matched in either case
    ArgumentReader read;
    uint32_t value;      // what the row stands for: a value type, a comparison, flags
    uint32_t claims;     // the fields it sets (fieldBit), so that an override is noticed
    LineError error;     // its argument missing or not of its form
    LineError tooHigh;   // its argument beyond its range
};

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool startsNumber(char c) { return isDigit(c) || c == '+' || c == '-' || c == '.'; }

bool isQuote(char c) { return c == '"' || c == '\''; }

// True when `text` starts with `word` (upper case) in either case. Stops at the first
// mismatch, so it never reads past the terminator of `text`.
bool startsWithWord(const char* text, const char* word) {
    for (; *word; ++text, ++word) {
        if (upper(*text) != *word) return false;
    }
    return true;
}

// Condition and format numbers: digits only, saturating, so an over-long run lands above
// every accepted range instead of wrapping into it.
int32_t readDigits(const char*& p) { return readLeadingInt(p, &p); }

const char* skipNumberChars(const char* p) {
    while (startsNumber(*p)) ++p;
    return p;
}

const char* skipDigitsAndPoints(const char* p) {
    while (isDigit(*p) || *p == '.') ++p;
    return p;
}

// The digits and points after a number that counts as read up to the cursor: skipped,
// and told as a cut.
void skipNumberRest(LineScan& s) {
    const char* read = s.cursor;
    s.cursor = skipDigitsAndPoints(s.cursor);
    noteNumberCut(s.notes, s.tokenStart, read, s.cursor);
}

// --- The arguments shared by several options: numbers, texts, hexadecimal

void storeFloatLiteral(ItemRecord& r, float value) {
    std::memset(r.literal, 0, sizeof r.literal);
    std::memcpy(r.literal, &value, sizeof value);
    r.flags = (r.flags & ~LITERAL_FLAGS) | FLAG_HAS_NUMBER;
}

// A decimal number at `p` (the caller has checked it starts with a digit, sign or point).
// The scan goes on after what the conversion used and after any run of number
// characters, so an exponent is part of its number rather than the start of another.
float readNumber(LineScan& s, const char*& p) {
    const char* used = p;
    double value = readDecimal(p, &used);
    const char* run = skipNumberChars(p);
    p = skipNumberChars(used > run ? used : run);
    noteNumberCut(s.notes, s.tokenStart, used, p);
    return toFloatSaturating(value);
}

// A number literal at the cursor: X and hexadecimal digits, or a decimal number (else
// `row.error`).
LineError numberLiteral(LineScan& s, const OptionRow& row) {
    const char* p = s.cursor;
    if (upper(*p) == 'X') {
        ++p;
        const char* digits = p;
        uint32_t value = 0;
        if (!readHex(p, value)) return ERR_BAD_LITERAL_HEX;
        storeFloatLiteral(s.record, static_cast<float>(value));
        s.cursor = p;
        noteLongHex(s.notes, s.tokenStart, digits, s.cursor);
        return LINE_OK;
    }
    if (!startsNumber(*p)) return row.error;
    storeFloatLiteral(s.record, readNumber(s, p));
    s.cursor = p;
    return LINE_OK;
}

// A quoted text at the cursor, closed by the same quote that opened it; a doubled quote
// stands for one. Only the first 8 characters are kept, and a text of 8 has no
// terminator in the record.
void textLiteral(LineScan& s, uint32_t literalFlag) {
    const char quote = *s.cursor;
    const char* p = s.cursor + 1;
    ItemRecord& r = s.record;
    std::memset(r.literal, 0, sizeof r.literal);
    size_t kept = 0;
    size_t length = 0;
    bool closed = false;
    while (*p) {
        char c = *p;
        if (c == quote) {
            if (p[1] != quote) {
                ++p;
                closed = true;
                break;
            }
            ++p;  // a doubled quote: keep one
        }
        if (kept < sizeof r.literal) r.literal[kept++] = static_cast<uint8_t>(c);
        ++length;
        ++p;
    }
    r.flags = (r.flags & ~LITERAL_FLAGS) | literalFlag;
    if (!closed)
        noteSpan(s.notes, NOTE_TEXT_UNCLOSED, s.cursor, p);
    else if (length > sizeof r.literal)
        noteSpan(s.notes, NOTE_TEXT_CUT, s.cursor, p);
    s.cursor = p;
}

// An offset (X, IX, I): 16 bits at most.
LineError hexOffset(LineScan& s, const OptionRow& row, uint16_t& field) {
    uint32_t value = 0;
    if (!readHex(s.cursor, value)) return row.error;
    if (value > 0xFFFF) return row.tooHigh;
    field = static_cast<uint16_t>(value);
    return LINE_OK;
}

// Reads <n>on or <n>off (n from 1 to 59) at `text`. On success sets timerPeriodMs and
// TimedOn/TimedOff in `record`, adds `flashFlag` to its flags and returns the position
// after the suffix; otherwise returns nullptr. With no flash flag (the steady form)
// only "off" is accepted.
const char* readTimedSuffix(const char* text, uint32_t flashFlag, ItemRecord& record) {
    const char* p = text;
    if (!isDigit(*p)) return nullptr;
    int32_t n = readDigits(p);
    if (n < 1 || n > 59) return nullptr;
    uint32_t timed;
    if (flashFlag != 0 && startsWithWord(p, "ON")) {
        timed = FLAG_TIMED_ON;
        p += 2;
    } else if (startsWithWord(p, "OFF")) {
        timed = FLAG_TIMED_OFF;
        p += 3;
    } else {
        return nullptr;
    }
    record.timerPeriodMs = static_cast<uint32_t>(n) * 1000u;
    record.flags |= timed | flashFlag;
    return p;
}

// --- The readers of the rows

// "=" and "!=": a quoted text or a number must follow at once.
LineError comparison(LineScan& s, const OptionRow& row) {
    s.record.compareOp = static_cast<uint8_t>(row.value);
    if (!isQuote(*s.cursor)) return numberLiteral(s, row);
    textLiteral(s, FLAG_HAS_STRING);
    return LINE_OK;
}

// "<", "<=", ">" and ">=": a number must follow at once.
LineError ordering(LineScan& s, const OptionRow& row) {
    s.record.compareOp = static_cast<uint8_t>(row.value);
    return numberLiteral(s, row);
}

// A quoted text or a number on its own: the option's first character is its argument's.
LineError quotedText(LineScan& s, const OptionRow&) {
    s.cursor = s.tokenStart;
    textLiteral(s, FLAG_HAS_STRING);
    return LINE_OK;
}

LineError bareNumber(LineScan& s, const OptionRow& row) {
    s.cursor = s.tokenStart;
    return numberLiteral(s, row);
}

LineError scaling(LineScan& s, const OptionRow& row, float& field) {
    if (!startsNumber(*s.cursor)) return row.error;
    field = readNumber(s, s.cursor);
    // 0 is what "not given" looks like to the evaluation.
    if (field == 0) noteSpan(s.notes, NOTE_ZERO_SCALE, s.tokenStart, s.cursor);
    return LINE_OK;
}

LineError multiplier(LineScan& s, const OptionRow& row) {
    return scaling(s, row, s.record.multiplier);
}

LineError divisor(LineScan& s, const OptionRow& row) { return scaling(s, row, s.record.divisor); }

// C<n> and, with NEGATIVE as `value`, !C<n>. Conditions may only look back, and "back"
// means the conditions stored so far, not the key numbers: with keys missing or rejected
// the two differ.
LineError conditionReference(LineScan& s, const OptionRow& row) {
    const bool negative = row.value == NEGATIVE;
    if (!isDigit(*s.cursor)) return row.error;
    int32_t n = readDigits(s.cursor);
    if (n > 255) return row.tooHigh;
    if (s.record.kind == KIND_CONDITION && n >= s.position) return ERR_FORWARD_CONDITION;
    if (s.position <= 0 || findCondition(n + 1, s.position) < 0) return ERR_CONDITION_MISSING;
    int& count = negative ? s.negativeCount : s.positiveCount;
    if (count >= MAX_REFERENCES) return negative ? ERR_TOO_MANY_NEGATIVE : ERR_TOO_MANY_POSITIVE;
    uint8_t* slots = negative ? s.record.excludedConditions : s.record.requiredConditions;
    slots[count++] = static_cast<uint8_t>(n + 1);
    skipNumberRest(s);
    const uint8_t* opposite =
        negative ? s.record.requiredConditions : s.record.excludedConditions;
    noteContradiction(s.notes, opposite, n + 1, s.tokenStart, s.cursor);
    return LINE_OK;
}

// A or, with TextMatchAnywhere as `value`, AA: a text in double quotes must follow.
LineError textMatch(LineScan& s, const OptionRow& row) {
    s.record.flags |= row.value;
    if (*s.cursor != '"') return row.error;
    textLiteral(s, FLAG_TEXT_MATCH);
    return LINE_OK;
}

// D<n>; DX and D- (their flag as `value`) stand alone or go on with <n>.
LineError displayFormat(LineScan& s, const OptionRow& row) {
    ItemRecord& r = s.record;
    if (row.value != 0) {
        r.flags |= row.value;
        r.displayFormat = 0;
        if (!isDigit(*s.cursor)) return LINE_OK;
    }
    const char* first = s.cursor;
    if (!isDigit(*first)) return row.error;
    int32_t v = readDigits(s.cursor);
    if (v / 100 > 6 || (v % 100) / 10 > 6 || v % 10 > 6) return row.tooHigh;
    // The leading-zero form is remembered apart (D012 is not D12); D05 stays plain 5.
    bool leadingZeroForm = first[0] == '0' && (first[1] == '0' || v > 9);
    r.displayFormat = static_cast<int16_t>(leadingZeroForm ? v + 1000 : v);
    skipNumberRest(s);
    return LINE_OK;
}

// The keywords: the row's own letters are all there is to read.
LineError valueType(LineScan& s, const OptionRow& row) {
    s.record.valueType = static_cast<uint16_t>(row.value);
    return LINE_OK;
}

LineError flashSpeed(LineScan& s, const OptionRow& row) {
    s.record.flags |= row.value;
    return LINE_OK;
}

// Fs<n>on, Ff<n>off, St<n>off ...: the flash speed (none for St) as `value`.
LineError timedForm(LineScan& s, const OptionRow& row) {
    const char* after = readTimedSuffix(s.cursor, row.value, s.record);
    if (!after) return row.error;
    s.cursor = after;
    return LINE_OK;
}

// The letter with none of its forms after it.
LineError noForm(LineScan&, const OptionRow& row) { return row.error; }

// X and IX (their flags as `value`).
LineError offset(LineScan& s, const OptionRow& row) {
    s.record.flags |= row.value;
    return hexOffset(s, row, s.record.offset);
}

LineError typeOffset(LineScan& s, const OptionRow& row) {
    s.record.flags |= row.value;
    return hexOffset(s, row, s.record.typeOffset);
}

LineError mask(LineScan& s, const OptionRow& row) {
    const char* digits = s.cursor;
    if (!readHex(s.cursor, s.record.mask)) return row.error;
    noteLongHex(s.notes, s.tokenStart, digits, s.cursor);
    // 0 is what "no mask" looks like to the evaluation.
    if (s.record.mask == 0) noteSpan(s.notes, NOTE_ZERO_MASK, s.tokenStart, s.cursor);
    return LINE_OK;
}

// --- The options

constexpr uint32_t OFFSET = fieldBit(FIELD_OFFSET);
constexpr uint32_t TYPE = fieldBit(FIELD_TYPE);
constexpr uint32_t COMPARE_LITERAL = fieldBit(FIELD_COMPARE) | fieldBit(FIELD_LITERAL);
constexpr uint32_t LITERAL = fieldBit(FIELD_LITERAL);
constexpr uint32_t FORMAT = fieldBit(FIELD_FORMAT);
constexpr uint32_t FLASH = fieldBit(FIELD_FLASH);
constexpr uint32_t TIMER = fieldBit(FIELD_TIMER);
constexpr LineError NONE = LINE_OK;

// One row per form of an option, tried in this order: a longer form before the shorter
// one it starts with. A character no row starts is skipped. Which kinds of line make no
// use of a field an option claims is told by UNUSED_RULES (config/line_notes.cpp). A
// linear search is plenty for lines read once per load.
const OptionRow OPTIONS[] = {
    // starts  then    reader        value  claims  error  tooHigh
    {"!", "C", conditionReference, NEGATIVE, 0, ERR_BAD_CONDITION_NUMBER, ERR_BAD_CONDITION_NUMBER},
    {"!", "=", comparison, CMP_NE, COMPARE_LITERAL, ERR_BAD_LITERAL, NONE},
    {"=", "", comparison, CMP_EQ, COMPARE_LITERAL, ERR_BAD_LITERAL, NONE},
    {"\"'", "", quotedText, 0, LITERAL, NONE, NONE},
    {"<", "=", ordering, CMP_LE, COMPARE_LITERAL, ERR_BAD_LITERAL, NONE},
    {"<", "", ordering, CMP_LT, COMPARE_LITERAL, ERR_BAD_LITERAL, NONE},
    {">", "=", ordering, CMP_GE, COMPARE_LITERAL, ERR_BAD_LITERAL, NONE},
    {">", "", ordering, CMP_GT, COMPARE_LITERAL, ERR_BAD_LITERAL, NONE},
    {"0123456789+-.", "", bareNumber, 0, LITERAL, ERR_BAD_LITERAL, NONE},
    {"*", "", multiplier, 0, fieldBit(FIELD_MULTIPLIER), ERR_BAD_MULTIPLIER, NONE},
    {"/", "", divisor, 0, fieldBit(FIELD_DIVISOR), ERR_BAD_MULTIPLIER, NONE},
    {"C", "", conditionReference, 0, 0, ERR_BAD_CONDITION_NUMBER, ERR_BAD_CONDITION_NUMBER},
    {"A", "A", textMatch, FLAG_TEXT_MATCH_ANYWHERE, LITERAL, ERR_BAD_A, NONE},
    {"A", "", textMatch, 0, LITERAL, ERR_BAD_A, NONE},
    {"D", "X", displayFormat, FLAG_HEX_DISPLAY, FORMAT, ERR_BAD_DISPLAY_FORMAT,
     ERR_BAD_DISPLAY_FORMAT},
    {"D", "-", displayFormat, FLAG_SHOW_SIGN, FORMAT, ERR_BAD_DISPLAY_FORMAT,
     ERR_BAD_DISPLAY_FORMAT},
    {"D", "", displayFormat, 0, FORMAT, ERR_BAD_DISPLAY_FORMAT, ERR_BAD_DISPLAY_FORMAT},
    {"F", "32", valueType, VT_F32, TYPE, ERR_BAD_F, NONE},
    {"F", "64", valueType, VT_F64, TYPE, ERR_BAD_F, NONE},
    {"F", "SLOW", flashSpeed, FLAG_FLASH_SLOW, FLASH, ERR_BAD_F, NONE},
    {"F", "FAST", flashSpeed, FLAG_FLASH_FAST, FLASH, ERR_BAD_F, NONE},
    {"F", "S", timedForm, FLAG_FLASH_SLOW, FLASH | TIMER, ERR_BAD_F, NONE},
    {"F", "F", timedForm, FLAG_FLASH_FAST, FLASH | TIMER, ERR_BAD_F, NONE},
    {"F", "", noForm, 0, 0, ERR_BAD_F, NONE},
    {"I", "X", offset, FLAG_INDIRECT_OFFSET | FLAG_HAS_OFFSET, OFFSET, ERR_BAD_X_NOT_HEX,
     ERR_BAD_X_TOO_HIGH},
    {"I", "", typeOffset, FLAG_TYPE_FROM_SIM, fieldBit(FIELD_TYPE_OFFSET), ERR_BAD_I_NOT_HEX,
     ERR_BAD_I_TOO_HIGH},
    {"X", "", offset, FLAG_HAS_OFFSET, OFFSET, ERR_BAD_X_NOT_HEX, ERR_BAD_X_TOO_HIGH},
    {"M", "", mask, 0, fieldBit(FIELD_MASK), ERR_BAD_M, NONE},
    {"R", "0", valueType, VT_R0, TYPE, ERR_BAD_RADIO, NONE},
    {"R", "1", valueType, VT_R1, TYPE, ERR_BAD_RADIO, NONE},
    {"R", "2", valueType, VT_R2, TYPE, ERR_BAD_RADIO, NONE},
    {"R", "", noForm, 0, 0, ERR_BAD_RADIO, NONE},
    {"S", "8", valueType, VT_S8, TYPE, ERR_BAD_S, NONE},
    {"S", "TR", valueType, VT_STR, TYPE, ERR_BAD_S, NONE},
    {"S", "16", valueType, VT_S16, TYPE, ERR_BAD_S, NONE},
    {"S", "32", valueType, VT_S32, TYPE, ERR_BAD_S, NONE},
    {"S", "T", timedForm, 0, TIMER, ERR_BAD_STEADY, NONE},
    {"S", "", noForm, 0, 0, ERR_BAD_S, NONE},
    {"U", "8", valueType, VT_U8, TYPE, ERR_BAD_U, NONE},
    {"U", "16", valueType, VT_U16, TYPE, ERR_BAD_U, NONE},
    {"U", "32", valueType, VT_U32, TYPE, ERR_BAD_U, NONE},
    {"U", "", noForm, 0, 0, ERR_BAD_U, NONE},
};

// The row of the option at `at` (not the line's end), nullptr for none.
const OptionRow* optionAt(const char* at) {
    const char c = upper(*at);
    for (const OptionRow& row : OPTIONS) {
        if (std::strchr(row.starts, c) && startsWithWord(at + 1, row.then)) return &row;
    }
    return nullptr;
}

// One token at the cursor: an option with its argument, or a character no option starts
// with (a blank or comma between options says nothing; anything else is noted).
LineError token(LineScan& s) {
    s.tokenStart = s.cursor;
    const OptionRow* row = optionAt(s.cursor);
    if (!row) {
        const char c = *s.cursor++;
        if (c != ' ' && c != '\t' && c != ',')
            noteSpan(s.notes, NOTE_SKIPPED, s.tokenStart, s.cursor);
        return LINE_OK;
    }
    s.cursor += 1 + std::strlen(row->then);
    const LineError error = row->read(s, *row);
    if (error == LINE_OK) noteClaims(s.notes, row->claims, s.tokenStart, s.cursor, s.record.flags);
    return error;
}

// Whether the options fit the item's kind; the first failing check names the fault.
LineError finalCheck(const ItemRecord& r) {
    const uint32_t f = r.flags;
    const bool hasOffset = f & FLAG_HAS_OFFSET;
    const bool hasNumber = f & FLAG_HAS_NUMBER;
    const bool hasString = f & FLAG_HAS_STRING;
    const bool isTextMatch = f & FLAG_TEXT_MATCH;
    if (r.kind & 1) {  // brightness and displays produce a value
        if (!hasOffset && !hasNumber && !hasString && !isTextMatch) return ERR_NEEDS_VALUE;
        if (isTextMatch) return ERR_TEXT_MATCH_ON_VALUE;
        if (hasOffset && (hasNumber || hasString)) return ERR_OFFSET_AND_LITERAL;
        if (r.kind == KIND_BRIGHTNESS && hasString) return ERR_BRIGHTNESS_STRING;
        if (r.compareOp >= CMP_LT && r.compareOp <= CMP_NE) return ERR_INTERNAL_CONDITION;
        return LINE_OK;
    }
    if (hasString) return ERR_STRING_ON_TRUTH;
    if (!hasOffset && !hasNumber && !isTextMatch) return ERR_NEEDS_RESULT;
    return LINE_OK;
}

// Appends the verdict after whatever the line holds. A line already filling the buffer
// keeps all of its own text and gets as much of the verdict as still fits.
void appendError(char* line, size_t length, LineError error) {
    const char* text = ERROR_TEXTS[error];
    size_t room = static_cast<size_t>(LINE_BUFFER_SIZE) - 1 - length;
    size_t n = std::strlen(text);
    if (n > room) n = room;
    std::memcpy(line + length, text, n);
    line[length + n] = '\0';
}

}  // namespace

const char* lineErrorText(int error) {
    if (error <= LINE_OK || error >= LINE_ERROR_COUNT) return "";
    return ERROR_TEXTS[error];
}

bool readHex(const char*& cursor, uint32_t& value) {
    const char* p = cursor;
    uint32_t v = 0;
    for (;; ++p) {
        char c = upper(*p);
        uint32_t digit;
        if (isDigit(c)) {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            break;
        }
        v = (v > 0x0FFFFFFFu) ? 0xFFFFFFFFu : (v << 4) | digit;
    }
    if (p == cursor) return false;
    value = v;
    cursor = p;
    return true;
}

ParseResult parseItemLine(int32_t position, int32_t deviceType, uint8_t kind, uint16_t index,
                  uint8_t unit, char* line, uint16_t minVoltage, uint16_t needsFlags,
                  const LineObserver* observer) {
    // The buffer is the only bound we are given; a line that is not terminated inside it
    // is taken as filling it.
    const char* nul = static_cast<const char*>(std::memchr(line, '\0', LINE_BUFFER_SIZE));
    if (!nul) line[LINE_BUFFER_SIZE - 1] = '\0';

    LineScan s{};
    s.record.deviceType = deviceType;
    s.record.unit = unit;
    s.record.kind = kind;
    s.record.index = index;
    s.record.minVoltage = minVoltage;
    s.record.flags = needsFlags;
    s.position = position;
    notesStart(s.notes, observer, line);
    ParseResult result = PARSE_STORED;

    // An old verdict is cut off for good, so verdicts never pile up and a corrected line
    // loses its annotation by itself.
    if (char* old = std::strstr(line, "<<<")) {
        *old = '\0';
        result = PARSE_STORED_CUT;
    }

    // The scan ends at the line's end and at ";": the rest is a comment.
    s.cursor = line;
    LineError error = LINE_OK;
    while (error == LINE_OK && *s.cursor != '\0' && *s.cursor != ';') error = token(s);
    if (error == LINE_OK) error = finalCheck(s.record);
    if (error == LINE_OK) noteUnusedOptions(s.notes, s.record);
    if (error == LINE_OK && !storeItem(position, s.record)) error = ERR_NO_MEMORY;
    if (error != LINE_OK) {
        appendError(line, std::strlen(line), error);
        return PARSE_REJECTED;
    }
    return result;
}
