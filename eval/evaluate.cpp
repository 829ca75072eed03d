// Evaluation of one item in one scan: power gates, condition references, decoding and
// scaling, comparison or text match, flashing, timed switching, change detection, and
// the output that leaves for the panel only when it changed or must be refreshed.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "devices/devices.h"
#include "eval/internal.h"
#include "eval/trace.h"

constexpr uint32_t BRIGHTNESS_REFRESH_MS = 1000;
constexpr int32_t BRIGHTNESS_MAX = 15;  // the library takes levels 0..15
constexpr uint32_t FLASH_FAST_MS = 110;
constexpr uint32_t FLASH_SLOW_MS = 330;

// A light or display made dark (a light through the scan's masks).
static void blankItem(const ItemState& item);

static float readFloat(const uint8_t* bytes) {
    float v;
    std::memcpy(&v, bytes, sizeof v);
    return v;
}

static void writeFloat(uint8_t* bytes, float v) { std::memcpy(bytes, &v, sizeof v); }

static uint32_t readU32(const uint8_t* b) {
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

// Narrowing a double that lies outside the float range is undefined; the simulator can
// hand us any F64, so such values saturate to infinity as the hardware would.
static float toFloat(double v) {
    if (v > FLT_MAX) return INFINITY;
    if (v < -FLT_MAX) return -INFINITY;
    return static_cast<float>(v);
}

// Add a half and truncate, without ever converting NaN or an out-of-range value.
static int32_t roundToInt(double v) {
    if (std::isnan(v)) return 0;
    v += 0.5;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(v);
}

static double decodeRaw(const uint8_t* raw, uint16_t valueType) {
    switch (valueType) {
    case VT_S8:
        return static_cast<int8_t>(raw[0]);
    case VT_U8:
        return raw[0];
    case VT_S16:
        return static_cast<int16_t>(raw[0] | (raw[1] << 8));
    case VT_S32:
        return static_cast<int32_t>(readU32(raw));
    case VT_U32:
        return readU32(raw);
    case VT_F32:
        return readFloat(raw);
    case VT_F64: {
        double d;
        std::memcpy(&d, raw, sizeof d);
        return d;
    }
    default:  // VT_DEFAULT and VT_U16
        return static_cast<uint16_t>(raw[0] | (raw[1] << 8));
    }
}

static double compareWithLiteral(double value, float literal, uint8_t op) {
    double diff = value - literal;
    if (std::isnan(diff)) return 0;
    bool result;
    switch (op) {
    case CMP_EQ: result = std::fabs(diff) < 0.5; break;
    case CMP_LT: result = diff < 0; break;
    case CMP_LE: result = diff <= 0; break;
    case CMP_GT: result = diff > 0; break;
    case CMP_GE: result = diff >= 0; break;
    default: result = std::fabs(diff) >= 0.5; break;  // "!=" and no operator alike
    }
    return result ? 1 : 0;
}

// Only the first occurrence counts. Neither the 8-byte literal nor the 128-byte message
// needs a terminator, so both are measured with a bound.
static double textMatches(const ItemState& item) {
    const char* needle = reinterpret_cast<const char*>(item.literal);
    size_t needleLen = strnlen(needle, sizeof item.literal);
    if (needleLen == 0) return 0;
    const char* text = simStatus().messageText;
    size_t textLen = strnlen(text, sizeof simStatus().messageText);
    for (size_t at = 0; at + needleLen <= textLen; ++at) {
        if (std::memcmp(text + at, needle, needleLen) != 0) continue;
        if (item.flags & FLAG_TEXT_MATCH_ANYWHERE) return 1;
        if (at == 0) return 1;
        return static_cast<int8_t>(text[at - 1]) < 32 ? 1 : 0;
    }
    return 0;
}

// The FLAG_NEEDS_* bits of every gate that is closed, so a trace can name them all.
static uint32_t closedGates(const ItemState& item, const Gates& gates) {
    constexpr uint32_t ANY_GATE = FLAG_NEEDS_V | FLAG_NEEDS_B | FLAG_NEEDS_A | FLAG_NEEDS_E;
    if ((item.flags & ANY_GATE) == 0) return 0;  // most items have none: no comparing
    uint32_t closed = gates.closed;
    if ((item.flags & FLAG_NEEDS_V) && item.minVoltage > gates.volts) closed |= FLAG_NEEDS_V;
    return closed & item.flags;
}

Gates gatesNow() {
    const SimStatus& status = simStatus();
    uint32_t closed = 0;
    if (status.powerBytes[0] == 0) closed |= FLAG_NEEDS_B;
    if (status.powerBytes[1] == 0) closed |= FLAG_NEEDS_A;
    if (status.failureByte != 0) closed |= FLAG_NEEDS_E;
    return Gates{closed, status.busVoltage};
}

static uint8_t kindOf(const ItemState& item) { return keyKind(item.key); }

static bool blankable(uint8_t kind) { return kind == KIND_LIGHT || kind == KIND_DISPLAY; }

// Whether a light or display has sent output since it last started afresh.
static bool outputSent(const ItemState& item) {
    return blankable(kindOf(item)) && item.outputCount != 0;
}

// A light or display that stops applying goes dark, and so do the later lines of its
// output (the kind aside), which start again as if freshly loaded.
static void notApplicable(EvalTable& t, int32_t i) {
    ItemState& item = t.states[i];
    if (!outputSent(item)) return;
    blankItem(item);
    constexpr uint32_t OUTPUT = 0xFF00FFFF;  // model, unit and index
    for (int32_t j = i; j < t.count; ++j) {
        ItemState& r = t.states[j];
        if (j > i && ((r.key ^ item.key) & OUTPUT) != 0) break;
        r.outputCount = 0;
        r.lastToggleMs = 0;
        r.flashPhase = 0;
    }
}

// Whether the condition at `position` (a reference looked up at adoption) holds now.
static bool referenceHolds(const EvalTable& t, uint16_t position) {
    return position < REFERENCE_MISSING && readFloat(t.states[position].last) != 0.0f;
}

// The reference slots in order, each required one before the excluded one beside it.
// The failed reference's number comes from the line: only a trace wants it.
static bool referencesHold(EvalTable& t, const ItemState& item, int32_t i) {
    const ItemReferences& refs = t.references[i];
    for (int slot = 0; slot < item.referenceSlots; ++slot) {
        const uint16_t required = refs.required[slot];
        const bool requiredFails = required != REFERENCE_NONE && !referenceHolds(t, required);
        if (requiredFails || referenceHolds(t, refs.excluded[slot])) {
            const ItemRecord& line = itemTable()[i];
            traceEnd(TRACE_REFERENCE_FAILED, 0,
                     requiredFails ? line.requiredConditions[slot] : line.excludedConditions[slot],
                     !requiredFails);
            return false;
        }
    }
    return true;
}

// Power gates, then condition references. A failed power gate sets the output count
// first, so the item goes dark on every scan it fails; a failed reference only blanks
// what was already sent.
static bool applies(EvalTable& t, ItemState& item, int32_t i) {
    const uint32_t closed = closedGates(item, t.gates);
    if (closed) {
        traceEnd(TRACE_GATE_CLOSED, closed);
        item.outputCount = 3;
        notApplicable(t, i);
        return false;
    }
    if (item.referenceSlots && !referencesHold(t, item, i)) {
        if (outputSent(item)) notApplicable(t, i);
        return false;
    }
    return true;
}

// The level kept in `last`, within the library's range. A string or radio type leaves raw
// bytes there, unclamped, which read as any float at all.
static int32_t brightnessLevel(const ItemState& item) {
    const int32_t level = roundToInt(readFloat(item.last));
    return level < 0 ? 0 : level > BRIGHTNESS_MAX ? BRIGHTNESS_MAX : level;
}

// A brightness level goes out again every second, changed or not.
static void refreshBrightness(ItemState& item, uint32_t now) {
    if (now - item.lastToggleMs < BRIGHTNESS_REFRESH_MS) return;
    resendBrightness(brightnessLevel(item), keyType(item.key), keyUnit(item.key));
    item.lastToggleMs = now;
}

// Moves a flashing light or display to its next phase when its period is up; a phase
// change forces the output. True while the item is in its dark phase, which ends the
// evaluation: the value is looked at again only in the lit phase.
static bool flashIsDark(ItemState& item, uint32_t now, bool* forced) {
    if (!blankable(kindOf(item)) || item.lastToggleMs == 0 ||
        (item.flags & (FLAG_FLASH_FAST | FLAG_FLASH_SLOW)) == 0)
        return false;
    traceFlashing();
    uint32_t period = (item.flags & FLAG_FLASH_FAST) ? FLASH_FAST_MS : FLASH_SLOW_MS;
    if (now - item.lastToggleMs < period) return item.flashPhase == 1;
    item.flashPhase = item.flashPhase ? 0 : 1;
    item.lastToggleMs = now;
    *forced = true;
    if (item.flashPhase == 0) return false;
    blankItem(item);
    return true;
}

// The raw value as a number. The mask is kept in raw, and only integer types take it.
static double scaledRaw(ItemState& item) {
    if (item.valueType < VT_F32 && item.mask != 0) {
        uint32_t masked = readU32(item.raw) & item.mask;
        for (int b = 0; b < 4; ++b) item.raw[b] = static_cast<uint8_t>(masked >> (8 * b));
    }
    const double decoded = decodeRaw(item.raw, item.valueType);
    double value = decoded;
    if (item.multiplier != 0) value *= item.multiplier;
    if (item.divisor != 0) value /= item.divisor;
    traceDecoded(decoded, value);
    return value;
}

// What a numeric item stands for: a comparison's truth, a text match, or its value or
// constant, brought into range for a brightness level and to 0 or 1 for a light or a
// condition.
static double numericValue(ItemState& item) {
    double value = 0;
    if (item.flags & FLAG_HAS_OFFSET) value = scaledRaw(item);
    const uint32_t source = item.flags & (FLAG_HAS_OFFSET | FLAG_HAS_NUMBER | FLAG_TEXT_MATCH |
                                          FLAG_TEXT_MATCH_ANYWHERE);
    if (source == (FLAG_HAS_OFFSET | FLAG_HAS_NUMBER))
        return compareWithLiteral(value, readFloat(item.literal), item.compareOp);
    if (item.flags & FLAG_TEXT_MATCH) return textMatches(item);
    if (source == FLAG_HAS_NUMBER) value = readFloat(item.literal);
    const uint8_t kind = kindOf(item);
    if (kind == KIND_BRIGHTNESS) {
        if (std::isnan(value)) value = 0;  // a level must be a number
        if (value > BRIGHTNESS_MAX) value = BRIGHTNESS_MAX;
        if (value < 0) value = 0;
    } else if (kind != KIND_DISPLAY) {
        value = (value >= 0.5 || value <= -0.5) ? 1 : 0;
    }
    return value;
}

static bool numericChanged(const ItemState& item, double value) {
    const double last = readFloat(item.last);
    const uint8_t kind = kindOf(item);
    if (kind == KIND_DISPLAY && (item.flags & FLAG_HAS_STRING)) {
        // A constant text: `last` holds the text shown, not a number to compare with.
        return std::memcmp(item.literal, item.last, 8) != 0;
    }
    if (kind == KIND_BRIGHTNESS || kind == KIND_DISPLAY) {
        float tolerance = halfUnitTable[item.decimals];
        // NaN compares unequal to everything, so a display that once showed one
        // would otherwise never be found changed again.
        return std::isnan(value) != std::isnan(last) || std::fabs(value - last) > tolerance;
    }
    return (value == 0) != (last == 0);
}

// What one evaluation found: the value to keep in `last` once sent, and whether it
// must be sent.
struct Update {
    bool changed;
    bool forced;
    bool numeric;
    float value;
    uint8_t bytes[8];
};

// A condition keeps its value at once, sent or not: later items read it in this scan.
// The change is judged on the float that `last` keeps and a display shows: the double
// itself would differ from it on every scan when a float cannot hold it.
static void decodeNumeric(ItemState& item, Update& update) {
    update.value = toFloat(numericValue(item));
    if (numericChanged(item, update.value)) update.changed = true;
    if (kindOf(item) == KIND_CONDITION) writeFloat(item.last, update.value);
}

// Strings and radio frequencies pass through as bytes. Only brightness and displays
// compare them with what was sent; other kinds change only on their first evaluations
// or a new type byte.
static void decodeBytes(ItemState& item, Update& update) {
    const uint32_t source =
        item.flags & (FLAG_HAS_OFFSET | FLAG_HAS_NUMBER | FLAG_HAS_STRING | FLAG_TEXT_MATCH);
    if (source == FLAG_HAS_NUMBER || source == FLAG_HAS_STRING)
        std::memcpy(item.raw, item.literal, 8);
    const uint8_t kind = kindOf(item);
    if (!update.changed && (kind == KIND_BRIGHTNESS || kind == KIND_DISPLAY))
        update.changed = std::memcmp(item.raw, item.last, 8) != 0;
    if (kind == KIND_CONDITION) std::memcpy(item.last, item.raw, 8);
    std::memcpy(update.bytes, item.raw, 8);
}

// The length of a timed light's period, from its line: only timed lights ask.
static uint32_t timerPeriod(int32_t i) { return itemTable()[i].timerPeriodMs; }

// Judged by the time elapsed since the period began, as every timer is, so that a period
// running across the tick counter's wrap ends on time.
static bool timedDeadlineReached(const ItemState& item, int32_t i, uint32_t now) {
    if (item.timerDeadlineMs == 0) return false;
    const uint32_t period = timerPeriod(i);
    const uint32_t began = item.timerDeadlineMs - period;
    return now - began >= period;
}

// A timed light whose deadline has come switches to its final state: off for timed-off,
// steady on for timed-on, which also stops its flashing. True when it did.
static bool timedSwitch(ItemState& item, int32_t i, uint32_t now) {
    const uint32_t timed = item.flags & (FLAG_TIMED_ON | FLAG_TIMED_OFF);
    if (timed == 0 || !timedDeadlineReached(item, i, now)) return false;
    item.lastToggleMs = 0;
    if (timed == FLAG_TIMED_OFF)
        blankItem(item);
    else
        markLight(keyIndex(item.key), true);
    return true;
}

// A light that comes on starts its timer unless one is running; one that goes off
// after its deadline lets the next switch-on start a fresh period.
static void sendLight(ItemState& item, int32_t i, uint32_t now) {
    bool on = readFloat(item.last) != 0.0f;
    if (on && item.timerDeadlineMs == 0 && (item.flags & (FLAG_TIMED_ON | FLAG_TIMED_OFF))) {
        // 0 stands for no timer; a deadline on the wrap itself ends a millisecond late.
        item.timerDeadlineMs = now + timerPeriod(i);
        if (item.timerDeadlineMs == 0) item.timerDeadlineMs = 1;
    }
    markLight(keyIndex(item.key), on);
    if (!on && timedDeadlineReached(item, i, now)) {
        item.lastToggleMs = 0;
        item.timerDeadlineMs = 0;
    }
}

// Keeps the new value and sends it to the panel. Flashing and brightness count their
// time from the send.
static void send(ItemState& item, int32_t i, const Update& update, uint32_t now) {
    traceSent();
    if (update.numeric)
        writeFloat(item.last, update.value);
    else
        std::memcpy(item.last, update.bytes, 8);
    const uint8_t kind = kindOf(item);
    if ((item.flags & (FLAG_FLASH_FAST | FLAG_FLASH_SLOW)) || kind == KIND_BRIGHTNESS)
        item.lastToggleMs = now;

    switch (kind) {
    case KIND_BRIGHTNESS:
        setBrightness(brightnessLevel(item), keyType(item.key), keyUnit(item.key));
        break;
    case KIND_LIGHT:
        sendLight(item, i, now);
        break;
    case KIND_DISPLAY: {
        int mode = 0;
        const char* text = buildDisplayText(item, itemTable()[i].displayFormat, &mode);
        traceDisplay(text, mode);
        writeDisplay(text, keyType(item.key), keyUnit(item.key), keyIndex(item.key), mode);
        break;
    }
    default:
        break;
    }
}

int evaluateInTable(EvalTable& t, int32_t i, uint32_t now) {
    ItemState& item = t.states[i];
    traceBegin(i, item.raw);
    // The first two evaluations after a load (or after a light or display stopped
    // applying), and any after the simulator changed the type byte, count as changed
    // whatever the value.
    Update update = {};
    update.changed = item.outputCount < 2 || item.valueType != item.typeSeen;
    const uint8_t kind = kindOf(item);
    // A condition that does not apply reads false to the items after it.
    if (kind == KIND_CONDITION) writeFloat(item.last, 0.0f);

    if (!applies(t, item, i)) return 0;
    if (flashIsDark(item, now, &update.forced)) {
        traceEnd(TRACE_FLASH_DARK);
        return 1;
    }

    update.numeric = item.valueType <= VT_F64;
    if (update.numeric) {
        decodeNumeric(item, update);
        traceValue(update.value);
    } else {
        decodeBytes(item, update);
    }
    if (!update.changed && timedSwitch(item, i, now)) {
        traceEnd(TRACE_TIMED_SWITCH);
        return 1;
    }
    if (update.forced || (update.changed && kind != KIND_CONDITION)) send(item, i, update, now);
    // After the send: a level never sent yet goes out as itself, not as the 0 it starts at.
    if (kind == KIND_BRIGHTNESS) refreshBrightness(item, now);

    if (item.outputCount < 2) ++item.outputCount;
    item.typeSeen = item.valueType;
    return 1;
}

int evaluateItem(int32_t i, uint32_t now) {
    if (!currentTable() || i < 0 || i >= evalTable().count) return 0;
    evalTable().gates = gatesNow();
    return evaluateInTable(evalTable(), i, now);
}

int conditionTrue(uint8_t ref, int32_t before) {
    if (before <= 0 || !currentTable()) return 0;
    const int32_t found = findCondition(ref, before);
    if (found < 0 || found >= evalTable().count) return 0;
    return readFloat(evalTable().states[found].last) != 0.0f ? 1 : 0;
}

void forgetOutputs(EvalTable& t) {
    for (int32_t i = 0; i < t.count; ++i) t.states[i].outputCount = 0;
}

static void blankItem(const ItemState& item) {
    const uint8_t kind = kindOf(item);
    if (kind == KIND_LIGHT)
        markLight(keyIndex(item.key), false);
    else if (kind == KIND_DISPLAY)
        writeDisplay(blankText, keyType(item.key), keyUnit(item.key), keyIndex(item.key), 0);
}
