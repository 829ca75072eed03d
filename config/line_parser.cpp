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

// The settings a later option can override, for the observer's notes.
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

struct OptionSpan {
    int16_t at;  // -1: not given
    int16_t length;
};

// Everything one line's scan needs; nothing survives the call.
struct LineScan {
    ItemRecord record;
    const char* cursor;
    int32_t position;
    int positiveCount;
    int negativeCount;
    const char* tokenStart;
    // Kept only for an observer: the fields the current option sets, and which option
    // last gave each.
    const LineObserver* observer;
    const char* line;
    uint32_t claimed;
    OptionSpan given[FIELD_COUNT];
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

void claim(LineScan& s, Field field) {
    if (s.observer) s.claimed |= 1u << field;
}

LineNote noteOn(const LineScan& s, LineNoteKind kind, const char* from, const char* to) {
    return LineNote{kind, UNUSED_NONE, static_cast<int>(from - s.line),
                    static_cast<int>(to - from), -1, 0, 0};
}

void tell(const LineScan& s, LineNoteKind kind, const char* from, const char* to) {
    if (s.observer) s.observer->note(noteOn(s, kind, from, to));
}

// The option at the token start reads as its first `read` characters; up to `end` the
// rest of a run of digits and points was skipped with it.
void tellCut(const LineScan& s, const char* read, const char* end) {
    if (!s.observer || end <= read) return;
    LineNote n = noteOn(s, NOTE_NUMBER_CUT, s.tokenStart, end);
    n.read = static_cast<int>(read - s.tokenStart);
    s.observer->note(n);
}

// Hexadecimal digits from `digits` to the cursor that hold more than 32 bits.
void tellLongHex(const LineScan& s, const char* digits) {
    if (!s.observer) return;
    while (*digits == '0' && digits < s.cursor) ++digits;
    if (s.cursor - digits > 8) tell(s, NOTE_HEX_TOO_LONG, s.tokenStart, s.cursor);
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
float readNumber(LineScan& s, const char*& p) {
    const char* used = p;
    double value = readDecimal(p, &used);
    const char* run = skipNumberChars(p);
    p = skipNumberChars(used > run ? used : run);
    tellCut(s, used, p);
    return toFloatSaturating(value);
}

LineError numberLiteral(LineScan& s) {
    const char* p = s.cursor;
    if (upper(*p) == 'X') {
        ++p;
        const char* digits = p;
        uint32_t value = 0;
        if (!readHex(p, value)) return ERR_BAD_LITERAL_HEX;
        storeFloatLiteral(s.record, static_cast<float>(value));
        s.cursor = p;
        tellLongHex(s, digits);
        return LINE_OK;
    }
    if (!startsNumber(*p)) return ERR_BAD_LITERAL;
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
        tell(s, NOTE_TEXT_UNCLOSED, s.cursor, p);
    else if (length > sizeof r.literal)
        tell(s, NOTE_TEXT_CUT, s.cursor, p);
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
    field = readNumber(s, s.cursor);
    // 0 is what "not given" looks like to the evaluation.
    if (field == 0) tell(s, NOTE_ZERO_SCALE, s.tokenStart, s.cursor);
    return LINE_OK;
}

// A reference to a condition the line also refers to with the other sign.
void tellContradiction(const LineScan& s, const uint8_t* opposite, int32_t ref) {
    if (!s.observer) return;
    for (int k = 0; k < MAX_REFERENCES; ++k) {
        if (opposite[k] == ref) {
            tell(s, NOTE_NEVER_APPLIES, s.tokenStart, s.cursor);
            return;
        }
    }
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
    const char* read = s.cursor;
    s.cursor = skipDigitsAndPoints(s.cursor);
    tellCut(s, read, s.cursor);
    tellContradiction(s, negative ? s.record.requiredConditions : s.record.excludedConditions,
                      n + 1);
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
    const char* read = s.cursor;
    s.cursor = skipDigitsAndPoints(s.cursor);
    tellCut(s, read, s.cursor);
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
    if ((p[0] == '3' && p[1] == '2') || (p[0] == '6' && p[1] == '4')) {
        r.valueType = p[0] == '3' ? VT_F32 : VT_F64;
        s.cursor += 2;
        claim(s, FIELD_TYPE);
        return LINE_OK;
    }
    claim(s, FIELD_FLASH);
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
            claim(s, FIELD_TIMER);
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
        claim(s, FIELD_TIMER);
        return LINE_OK;
    } else {
        return ERR_BAD_S;
    }
    claim(s, FIELD_TYPE);
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
    claim(s, FIELD_TYPE);
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

LineError optionM(LineScan& s) {
    const char* digits = s.cursor;
    if (!readHex(s.cursor, s.record.mask)) return ERR_BAD_M;
    claim(s, FIELD_MASK);
    tellLongHex(s, digits);
    // 0 is what "no mask" looks like to the evaluation.
    if (s.record.mask == 0) tell(s, NOTE_ZERO_MASK, s.tokenStart, s.cursor);
    return LINE_OK;
}

LineError optionI(LineScan& s) {
    ItemRecord& r = s.record;
    if (upper(*s.cursor) == 'X') {
        ++s.cursor;
        r.flags |= FLAG_INDIRECT_OFFSET | FLAG_HAS_OFFSET;
        claim(s, FIELD_OFFSET);
        return offsetArgument(s, r.offset, ERR_BAD_X_NOT_HEX, ERR_BAD_X_TOO_HIGH);
    }
    r.flags |= FLAG_TYPE_FROM_SIM;
    claim(s, FIELD_TYPE_OFFSET);
    return offsetArgument(s, r.typeOffset, ERR_BAD_I_NOT_HEX, ERR_BAD_I_TOO_HIGH);
}

LineError optionR(LineScan& s) {
    if (*s.cursor < '0' || *s.cursor > '2') return ERR_BAD_RADIO;
    s.record.valueType = static_cast<uint16_t>(VT_R0 + (*s.cursor - '0'));
    ++s.cursor;
    claim(s, FIELD_TYPE);
    return LINE_OK;
}

// "<", "<=", ">" and ">=": a number must follow at once.
LineError ordering(LineScan& s, char c) {
    ItemRecord& r = s.record;
    r.compareOp = (c == '<') ? CMP_LT : CMP_GT;
    if (*s.cursor == '=') {
        r.compareOp = (c == '<') ? CMP_LE : CMP_GE;
        ++s.cursor;
    }
    claim(s, FIELD_COMPARE);
    claim(s, FIELD_LITERAL);
    return numberLiteral(s);
}

// A number with no sign, a blank or comma between options, or a character that starts
// no option and is skipped.
LineError otherCharacter(LineScan& s, char c) {
    if (startsNumber(c)) {
        --s.cursor;
        claim(s, FIELD_LITERAL);
        return numberLiteral(s);
    }
    if (c != ' ' && c != '\t' && c != ',') tell(s, NOTE_SKIPPED, s.tokenStart, s.cursor);
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
            if (*s.cursor != '=') {  // a lone "!" is skipped
                tell(s, NOTE_SKIPPED, s.tokenStart, s.cursor);
                return LINE_OK;
            }
            ++s.cursor;
            r.compareOp = CMP_NE;
            break;  // then as "="
        case '=':
            r.compareOp = CMP_EQ;
            break;
        case '"':
        case '\'':
            --s.cursor;
            claim(s, FIELD_LITERAL);
            textLiteral(s, FLAG_HAS_STRING);
            return LINE_OK;
        case '<':
        case '>':
            return ordering(s, c);
        case '*':
            claim(s, FIELD_MULTIPLIER);
            return scaling(s, r.multiplier);
        case '/':
            claim(s, FIELD_DIVISOR);
            return scaling(s, r.divisor);
        case 'C':
            return conditionReference(s, false);
        case 'A':
            claim(s, FIELD_LITERAL);
            return textMatch(s);
        case 'D':
            claim(s, FIELD_FORMAT);
            return displayFormat(s);
        case 'F':
            return optionF(s);
        case 'I':
            return optionI(s);
        case 'X':
            r.flags |= FLAG_HAS_OFFSET;
            claim(s, FIELD_OFFSET);
            return offsetArgument(s, r.offset, ERR_BAD_X_NOT_HEX, ERR_BAD_X_TOO_HIGH);
        case 'M':
            return optionM(s);
        case 'R':
            return optionR(s);
        case 'S':
            return optionS(s);
        case 'U':
            return optionU(s);
        default:
            return otherCharacter(s, c);
    }
    // "=" and "!=": a quoted text or a number must follow at once.
    claim(s, FIELD_COMPARE);
    claim(s, FIELD_LITERAL);
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

// After an option: a note when it replaces a setting an earlier option gave (one note per
// option), and from now on it is the option that gave those settings.
void settleClaims(LineScan& s) {
    const OptionSpan now{static_cast<int16_t>(s.tokenStart - s.line),
                         static_cast<int16_t>(s.cursor - s.tokenStart)};
    constexpr uint32_t SPEEDS = FLAG_FLASH_FAST | FLAG_FLASH_SLOW;
    constexpr uint32_t TIMERS = FLAG_TIMED_ON | FLAG_TIMED_OFF;
    bool noted = false;
    for (int field = 0; field < FIELD_COUNT; ++field) {
        if (!(s.claimed & (1u << field))) continue;
        const OptionSpan before = s.given[field];
        s.given[field] = now;
        if (before.at < 0 || noted) continue;
        LineNoteKind kind = NOTE_OVERRIDDEN;
        if (field == FIELD_FLASH) {
            // The speeds are flags: a repeated one changes nothing, both make it fast.
            if ((s.record.flags & SPEEDS) != SPEEDS) continue;
            kind = NOTE_BOTH_SPEEDS;
        } else if (field == FIELD_TIMER && (s.record.flags & TIMERS) == TIMERS) {
            kind = NOTE_BOTH_TIMERS;
        }
        LineNote n = noteOn(s, kind, s.tokenStart, s.cursor);
        n.other = before.at;
        n.otherLength = before.length;
        s.observer->note(n);
        noted = true;
    }
    s.claimed = 0;
}

void tellUnused(const LineScan& s, Field field, UnusedReason why) {
    const OptionSpan g = s.given[field];
    if (g.at >= 0) s.observer->note(LineNote{NOTE_UNUSED, why, g.at, g.length, -1, 0, 0});
}

// What an accepted line carries that its kind makes no use of, as the evaluation and the
// display text read the record.
void tellUnusedOptions(const LineScan& s) {
    const ItemRecord& r = s.record;
    const bool truth = r.kind == KIND_LIGHT || r.kind == KIND_CONDITION;
    const bool textType = r.valueType >= VT_STR;
    if (r.kind != KIND_DISPLAY) {
        tellUnused(s, FIELD_FORMAT, UNUSED_FORMAT);
        if (textType) tellUnused(s, FIELD_TYPE, UNUSED_DISPLAY_TYPE);
    } else if (textType || (r.flags & FLAG_HAS_STRING)) {
        tellUnused(s, FIELD_FORMAT, UNUSED_FORMAT_TEXT);
    }
    if (r.kind == KIND_CONDITION || r.kind == KIND_BRIGHTNESS)
        tellUnused(s, FIELD_FLASH, UNUSED_FLASH);
    if (r.kind != KIND_LIGHT) tellUnused(s, FIELD_TIMER, UNUSED_TIMER);
    if (!(r.flags & FLAG_HAS_OFFSET)) {
        tellUnused(s, FIELD_MULTIPLIER, UNUSED_NO_OFFSET);
        tellUnused(s, FIELD_DIVISOR, UNUSED_NO_OFFSET);
        tellUnused(s, FIELD_MASK, UNUSED_NO_OFFSET);
        if (!textType && !(r.flags & FLAG_TYPE_FROM_SIM)) tellUnused(s, FIELD_TYPE, UNUSED_NO_OFFSET);
        if (truth && (r.flags & FLAG_HAS_NUMBER))
            tellUnused(s, FIELD_COMPARE, UNUSED_COMPARE_CONSTANT);
        return;
    }
    if (r.valueType == VT_F32 || r.valueType == VT_F64) tellUnused(s, FIELD_MASK, UNUSED_FLOAT_MASK);
    if (r.flags & FLAG_TYPE_FROM_SIM) tellUnused(s, FIELD_TYPE, UNUSED_TYPE_FROM_SIM);
    if (r.flags & FLAG_TEXT_MATCH) tellUnused(s, FIELD_OFFSET, UNUSED_MATCH_OFFSET);
    const OptionSpan literal = s.given[FIELD_LITERAL];
    if (truth && (r.flags & FLAG_HAS_NUMBER) && r.compareOp == CMP_NONE && literal.at >= 0)
        s.observer->note(LineNote{NOTE_BARE_NUMBER, UNUSED_NONE, literal.at, literal.length, -1, 0, 0});
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
    if (observer && observer->note) {
        s.observer = observer;
        s.line = line;
        for (OptionSpan& g : s.given) g = OptionSpan{-1, 0};
    }
    ParseResult result = PARSE_STORED;

    // An old verdict is cut off for good, so verdicts never pile up and a corrected line
    // loses its annotation by itself.
    if (char* old = std::strstr(line, "<<<")) {
        *old = '\0';
        result = PARSE_STORED_CUT;
    }

    s.cursor = line;
    LineError error = LINE_OK;
    for (bool done = false; !done && error == LINE_OK;) {
        s.tokenStart = s.cursor;
        error = token(s, done);
        if (s.observer && error == LINE_OK && s.claimed) settleClaims(s);
    }
    if (error == LINE_OK) error = finalCheck(s.record);
    if (error == LINE_OK && s.observer) tellUnusedOptions(s);
    if (error == LINE_OK && !storeItem(position, s.record)) error = ERR_NO_MEMORY;
    if (error != LINE_OK) {
        appendError(line, std::strlen(line), error);
        return PARSE_REJECTED;
    }
    return result;
}
