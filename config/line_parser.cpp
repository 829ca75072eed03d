// The settings-line grammar: a run of one-letter options, each followed directly by its
// argument, read into one ItemRecord. A rejected line gets its verdict appended in place,
// and an old verdict from an earlier load is cut off first.
#include "config/line_parser.h"

#include <cstring>

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
constexpr uint32_t LITERAL_FLAGS = FLAG_HAS_NUMBER | FLAG_HAS_STRING | FLAG_TEXT_MATCH;

// Everything one line's scan needs; nothing survives the call.
struct LineScan {
    ItemRecord record;
    const char* cursor;
    int32_t position;
    int positiveCount;
    int negativeCount;
};

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool startsNumber(char c) { return isDigit(c) || c == '+' || c == '-' || c == '.'; }

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

void storeFloatLiteral(ItemRecord& r, float value) {
    std::memset(r.literal, 0, sizeof r.literal);
    std::memcpy(r.literal, &value, sizeof value);
    r.flags = (r.flags & ~LITERAL_FLAGS) | FLAG_HAS_NUMBER;
}

// A decimal number at `p` (the caller has checked it starts with a digit, sign or point).
// The scan goes on after what the conversion used and after any run of number
// characters, so an exponent is part of its number rather than the start of another.
float readNumber(const char*& p) {
    const char* used = p;
    double value = readDecimal(p, &used);
    const char* run = skipNumberChars(p);
    p = skipNumberChars(used > run ? used : run);
    return toFloatSaturating(value);
}

LineError numberLiteral(LineScan& s) {
    const char* p = s.cursor;
    if (upper(*p) == 'X') {
        ++p;
        uint32_t value = 0;
        if (!readHex(p, value)) return ERR_BAD_LITERAL_HEX;
        storeFloatLiteral(s.record, static_cast<float>(value));
        s.cursor = p;
        return LINE_OK;
    }
    if (!startsNumber(*p)) return ERR_BAD_LITERAL;
    storeFloatLiteral(s.record, readNumber(p));
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
    while (*p) {
        char c = *p;
        if (c == quote) {
            if (p[1] != quote) {
                ++p;
                break;
            }
            ++p;  // a doubled quote: keep one
        }
        if (kept < sizeof r.literal) r.literal[kept++] = static_cast<uint8_t>(c);
        ++p;
    }
    r.flags = (r.flags & ~LITERAL_FLAGS) | literalFlag;
    s.cursor = p;
}

LineError textMatch(LineScan& s) {
    if (upper(*s.cursor) == 'A') {
        s.record.flags |= FLAG_TEXT_MATCH_ANYWHERE;
        ++s.cursor;
    }
    if (*s.cursor != '"') return ERR_BAD_A;
    textLiteral(s, FLAG_TEXT_MATCH);
    return LINE_OK;
}

LineError scaling(LineScan& s, float& field) {
    if (!startsNumber(*s.cursor)) return ERR_BAD_MULTIPLIER;
    field = readNumber(s.cursor);
    return LINE_OK;
}

LineError conditionReference(LineScan& s, bool negative) {
    if (!isDigit(*s.cursor)) return ERR_BAD_CONDITION_NUMBER;
    int32_t n = readDigits(s.cursor);
    if (n > 255) return ERR_BAD_CONDITION_NUMBER;
    // Conditions may only look back, and "back" means the conditions stored so far, not
    // the key numbers: with keys missing or rejected the two differ.
    if (s.record.kind == KIND_CONDITION && n >= s.position) return ERR_FORWARD_CONDITION;
    if (s.position <= 0 || findCondition(n + 1, s.position) < 0) return ERR_CONDITION_MISSING;
    int& count = negative ? s.negativeCount : s.positiveCount;
    if (count >= MAX_REFERENCES) return negative ? ERR_TOO_MANY_NEGATIVE : ERR_TOO_MANY_POSITIVE;
    uint8_t* slots = negative ? s.record.excludedConditions : s.record.requiredConditions;
    slots[count++] = static_cast<uint8_t>(n + 1);
    s.cursor = skipDigitsAndPoints(s.cursor);
    return LINE_OK;
}

LineError displayFormat(LineScan& s) {
    ItemRecord& r = s.record;
    char c = upper(*s.cursor);
    if (c == 'X' || c == '-') {
        r.flags |= (c == 'X') ? FLAG_HEX_DISPLAY : FLAG_SHOW_SIGN;
        r.displayFormat = 0;
        ++s.cursor;
        if (!isDigit(*s.cursor)) return LINE_OK;
    }
    const char* first = s.cursor;
    if (!isDigit(*first)) return ERR_BAD_DISPLAY_FORMAT;
    int32_t v = readDigits(s.cursor);
    if (v / 100 > 6 || (v % 100) / 10 > 6 || v % 10 > 6) return ERR_BAD_DISPLAY_FORMAT;
    // The leading-zero form is remembered apart (D012 is not D12); D05 stays plain 5.
    bool leadingZeroForm = first[0] == '0' && (first[1] == '0' || v > 9);
    r.displayFormat = static_cast<int16_t>(leadingZeroForm ? v + 1000 : v);
    s.cursor = skipDigitsAndPoints(s.cursor);
    return LINE_OK;
}

// Reads <n>on or <n>off (n from 1 to 59) at `text`. On success sets timerPeriodMs and
// TimedOn/TimedOff in `record`, adds `flashFlag` to its flags and returns the position
// after the suffix; otherwise returns nullptr. With no flash flag (the steady form)
// only "off" is accepted.
const char* readTimedSuffix(const char* text, uint32_t flashFlag, ItemRecord& record);

LineError optionF(LineScan& s) {
    ItemRecord& r = s.record;
    const char* p = s.cursor;
    if (p[0] == '3' && p[1] == '2') {
        r.valueType = VT_F32;
        s.cursor += 2;
        return LINE_OK;
    }
    if (p[0] == '6' && p[1] == '4') {
        r.valueType = VT_F64;
        s.cursor += 2;
        return LINE_OK;
    }
    if (startsWithWord(p, "SLOW") || startsWithWord(p, "FAST")) {
        r.flags |= (upper(*p) == 'S') ? FLAG_FLASH_SLOW : FLAG_FLASH_FAST;
        s.cursor += 4;
        return LINE_OK;
    }
    char c = upper(*p);
    if (c == 'S' || c == 'F') {
        const char* after =
            readTimedSuffix(p + 1, c == 'S' ? FLAG_FLASH_SLOW : FLAG_FLASH_FAST, r);
        if (after) {
            s.cursor = after;
            return LINE_OK;
        }
    }
    return ERR_BAD_F;
}

LineError optionS(LineScan& s) {
    ItemRecord& r = s.record;
    const char* p = s.cursor;
    if (p[0] == '8') {
        r.valueType = VT_S8;
        s.cursor += 1;
    } else if (startsWithWord(p, "TR")) {
        r.valueType = VT_STR;
        s.cursor += 2;
    } else if (p[0] == '1' && p[1] == '6') {
        r.valueType = VT_S16;
        s.cursor += 2;
    } else if (p[0] == '3' && p[1] == '2') {
        r.valueType = VT_S32;
        s.cursor += 2;
    } else if (upper(p[0]) == 'T') {
        const char* after = readTimedSuffix(p + 1, 0, r);
        if (!after) return ERR_BAD_STEADY;
        s.cursor = after;
    } else {
        return ERR_BAD_S;
    }
    return LINE_OK;
}

LineError optionU(LineScan& s) {
    ItemRecord& r = s.record;
    const char* p = s.cursor;
    if (p[0] == '8') {
        r.valueType = VT_U8;
        s.cursor += 1;
    } else if (p[0] == '1' && p[1] == '6') {
        r.valueType = VT_U16;
        s.cursor += 2;
    } else if (p[0] == '3' && p[1] == '2') {
        r.valueType = VT_U32;
        s.cursor += 2;
    } else {
        return ERR_BAD_U;
    }
    return LINE_OK;
}

// An offset argument (X, IX, I): 16 bits at most.
LineError offsetArgument(LineScan& s, uint16_t& field, LineError notHex, LineError tooHigh) {
    uint32_t value = 0;
    if (!readHex(s.cursor, value)) return notHex;
    if (value > 0xFFFF) return tooHigh;
    field = static_cast<uint16_t>(value);
    return LINE_OK;
}

// One token at the cursor. Sets `done` at ";" (the rest is a comment) and at the end.
LineError token(LineScan& s, bool& done) {
    ItemRecord& r = s.record;
    const char c = *s.cursor;
    if (c == '\0' || c == ';') {
        done = true;
        return LINE_OK;
    }
    ++s.cursor;
    switch (upper(c)) {
        case '!':
            if (upper(*s.cursor) == 'C') {
                ++s.cursor;
                return conditionReference(s, true);
            }
            if (*s.cursor != '=') return LINE_OK;  // a lone "!" is skipped
            ++s.cursor;
            r.compareOp = CMP_NE;
            break;  // then as "="
        case '=':
            r.compareOp = CMP_EQ;
            break;
        case '"':
        case '\'':
            --s.cursor;
            textLiteral(s, FLAG_HAS_STRING);
            return LINE_OK;
        case '<':
        case '>':
            r.compareOp = (c == '<') ? CMP_LT : CMP_GT;
            if (*s.cursor == '=') {
                r.compareOp = (c == '<') ? CMP_LE : CMP_GE;
                ++s.cursor;
            }
            return numberLiteral(s);
        case '*':
            return scaling(s, r.multiplier);
        case '/':
            return scaling(s, r.divisor);
        case 'C':
            return conditionReference(s, false);
        case 'A':
            return textMatch(s);
        case 'D':
            return displayFormat(s);
        case 'F':
            return optionF(s);
        case 'I':
            if (upper(*s.cursor) == 'X') {
                ++s.cursor;
                r.flags |= FLAG_INDIRECT_OFFSET | FLAG_HAS_OFFSET;
                return offsetArgument(s, r.offset, ERR_BAD_X_NOT_HEX, ERR_BAD_X_TOO_HIGH);
            }
            r.flags |= FLAG_TYPE_FROM_SIM;
            return offsetArgument(s, r.typeOffset, ERR_BAD_I_NOT_HEX, ERR_BAD_I_TOO_HIGH);
        case 'X':
            r.flags |= FLAG_HAS_OFFSET;
            return offsetArgument(s, r.offset, ERR_BAD_X_NOT_HEX, ERR_BAD_X_TOO_HIGH);
        case 'M':
            return readHex(s.cursor, r.mask) ? LINE_OK : ERR_BAD_M;
        case 'R':
            if (*s.cursor < '0' || *s.cursor > '2') return ERR_BAD_RADIO;
            r.valueType = static_cast<uint16_t>(VT_R0 + (*s.cursor - '0'));
            ++s.cursor;
            return LINE_OK;
        case 'S':
            return optionS(s);
        case 'U':
            return optionU(s);
        default:
            if (startsNumber(c)) {
                --s.cursor;
                return numberLiteral(s);
            }
            return LINE_OK;  // blanks, punctuation and letters that start no option
    }
    // "=" and "!=": a quoted text or a number must follow at once.
    if (*s.cursor == '"' || *s.cursor == '\'') {
        textLiteral(s, FLAG_HAS_STRING);
        return LINE_OK;
    }
    return numberLiteral(s);
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

namespace {

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

}  // namespace

ParseResult parseItemLine(int32_t position, int32_t deviceType, uint8_t kind, uint16_t index,
                  uint8_t unit, char* line, uint16_t minVoltage, uint16_t needsFlags) {
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
    ParseResult result = PARSE_STORED;

    // An old verdict is cut off for good, so verdicts never pile up and a corrected line
    // loses its annotation by itself.
    if (char* old = std::strstr(line, "<<<")) {
        *old = '\0';
        result = PARSE_STORED_CUT;
    }

    s.cursor = line;
    LineError error = LINE_OK;
    for (bool done = false; !done && error == LINE_OK;) error = token(s, done);
    if (error == LINE_OK) error = finalCheck(s.record);
    if (error == LINE_OK && !storeItem(position, s.record)) error = ERR_NO_MEMORY;
    if (error != LINE_OK) {
        appendError(line, std::strlen(line), error);
        return PARSE_REJECTED;
    }
    return result;
}
