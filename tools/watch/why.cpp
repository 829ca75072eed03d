// The derivation of one output: every line of its key in order and why it applies or
// not (its Needs gates against the simulator's state, each condition it refers to with
// that condition's own derivation), the bytes read, the value decoded, scaled and
// compared, the flash or timed state, the text built and what was sent.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "config/aircraft_profiles.h"
#include "config/items.h"
#include "devices/devices.h"
#include "eval/eval.h"
#include "tools/common/common.h"
#include "tools/watch/watch.h"

namespace watch {

namespace {

constexpr int DEEPEST_REFERENCE = 8;
const char* const TYPE_NAMES[VALUE_TYPE_COUNT] = {"U16", "S8",  "U8",  "S16", "U16", "S32", "U32",
                                                  "F32", "F64", "STR", "R0",  "R1",  "R2"};

std::string typeName(uint16_t type) {
    return type < VALUE_TYPE_COUNT ? TYPE_NAMES[type] : "type " + std::to_string(type);
}

std::string hexBytes(const uint8_t* bytes, size_t n) {
    std::string out;
    tools::appendHexBytes(out, bytes, n);
    return out.empty() ? out : out.substr(1);
}

std::string hex4(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

std::string indent(int depth) { return std::string(4 + 4 * static_cast<size_t>(depth), ' '); }

const ItemTrace& traceOf(int32_t i) { return session.traces[static_cast<size_t>(i)]; }

// The Needs gates of a line: each against the simulator's value, open or closed.
std::string needsText(int32_t i) {
    const ItemRecord& item = itemTable()[i];
    const uint32_t closed = traceOf(i).end.closedGates;
    auto verdict = [&](uint32_t gate) { return (closed & gate) ? " closed" : " open"; };
    std::string out;
    char text[96];
    if (item.flags & FLAG_NEEDS_V) {
        std::snprintf(text, sizeof text, "; V%u: volts %.2f,%s", item.minVoltage,
                      simStatus().busVoltage, verdict(FLAG_NEEDS_V));
        out += text;
    }
    if (item.flags & FLAG_NEEDS_B)
        out += std::string("; Battery: ") + (simStatus().powerBytes[0] ? "on," : "off,") +
               verdict(FLAG_NEEDS_B);
    if (item.flags & FLAG_NEEDS_A)
        out += std::string("; Avionics: ") + (simStatus().powerBytes[1] ? "on," : "off,") +
               verdict(FLAG_NEEDS_A);
    if (item.flags & FLAG_NEEDS_E)
        out += "; E: failure " + std::to_string(simStatus().failureByte) + "," +
               verdict(FLAG_NEEDS_E);
    return out.empty() ? out : "Needs" + out.substr(1);
}

void explainLine(int32_t i, int depth, std::string& out);

// What a light's or condition's value stands for when the line compares nothing.
std::string truthText(int32_t i) {
    const ItemRecord& item = itemTable()[i];
    const bool compares =
        (item.flags & (FLAG_HAS_OFFSET | FLAG_HAS_NUMBER)) == (FLAG_HAS_OFFSET | FLAG_HAS_NUMBER);
    if (compares || (item.kind != KIND_LIGHT && item.kind != KIND_CONDITION)) return "";
    return traceOf(i).value.value != 0 ? " (on: 0.5 or more away from 0)"
                                        : " (off: within 0.5 of 0)";
}

// One reference of record `i` and the derivation of the condition it names.
void explainReference(int32_t i, uint8_t ref, bool excluded, bool* stopped, int depth,
                      std::string& out) {
    const ItemTrace& t = traceOf(i);
    const int n = ref - 1;
    const bool holds = conditionTrue(ref, i) != 0;
    std::string verdict;
    if (*stopped) {
        verdict = "not looked at";
    } else if (t.end.stop == TRACE_REFERENCE_FAILED && t.end.failedReference == ref &&
               t.end.failedExcluded == excluded) {
        verdict = "fails";
        *stopped = true;
    } else {
        verdict = "holds";
    }
    out += indent(depth) + (excluded ? "!C" : "C") + std::to_string(n) +
           (excluded ? " (must be false): " : " (must be true): ") + (holds ? "true" : "false") +
           ", " + verdict + "\n";
    const int32_t found = findCondition(ref, i);
    if (found < 0)
        out += indent(depth + 1) + "no such condition before this line: reads false\n";
    else if (depth < DEEPEST_REFERENCE)
        explainLine(found, depth + 1, out);
}

void explainReferences(int32_t i, int depth, std::string& out) {
    const ItemRecord& item = itemTable()[i];
    bool stopped = traceOf(i).end.stop == TRACE_GATE_CLOSED;
    for (int slot = 0; slot < 8; ++slot) {
        if (item.requiredConditions[slot])
            explainReference(i, item.requiredConditions[slot], false, &stopped, depth, out);
        if (item.excludedConditions[slot])
            explainReference(i, item.excludedConditions[slot], true, &stopped, depth, out);
    }
}

// Where the value came from: the bytes read (through a pointer, with a type from the
// simulator), or the constant.
void explainSource(int32_t i, int depth, std::string& out) {
    const ItemRecord& item = itemTable()[i];
    const ItemTrace& t = traceOf(i);
    if (!(item.flags & FLAG_HAS_OFFSET)) {
        if (item.flags & FLAG_HAS_STRING)
            out += indent(depth) + "text " +
                   quoted(reinterpret_cast<const char*>(item.literal), 8) + "\n";
        else if (item.flags & FLAG_HAS_NUMBER)
            out += indent(depth) + "constant " + number(floatOf(item.literal)) + "\n";
        return;
    }
    std::string place = "X" + hex4(item.offset);
    if (item.flags & FLAG_INDIRECT_OFFSET) {
        const std::vector<uint8_t>* pointer = bytesRead(item.offset, 2);
        const uint32_t to = pointer ? ((*pointer)[0] | (*pointer)[1] << 8) : 0;
        out += indent(depth) + "IX" + hex4(item.offset) + " holds the offset " +
               (pointer ? hex4(to) : std::string("(not read yet)")) + "\n";
        place = "X" + hex4(to);
    }
    // The type the evaluation went by: the line's, or the byte the simulator gave.
    const uint8_t type = itemState(i).valueType;
    if (item.flags & FLAG_TYPE_FROM_SIM)
        out += indent(depth) + "I" + hex4(item.typeOffset) + " gives the type: code " +
               std::to_string(type) + ", " + typeName(type) + "\n";
    // An ADF frequency takes its thousands and tenths from the two bytes behind.
    const size_t size = type == VT_R1                 ? 4
                        : type < VALUE_TYPE_COUNT ? valueTypeBytes[type]
                                                  : 8;
    out += indent(depth) + "read " + place + " as " + typeName(type) + ": " +
           hexBytes(t.raw, size) + "\n";
}

// From the decoded number to what the line stands for.
void explainValue(int32_t i, int depth, std::string& out) {
    const ItemRecord& item = itemTable()[i];
    const ItemTrace& t = traceOf(i);
    if (t.end.stop == TRACE_FLASH_DARK) {
        out += indent(depth) + "dark phase of its flash: the value is looked at in the lit phase\n";
        return;
    }
    explainSource(i, depth, out);
    if (t.decoded.known) {
        std::string step = "decoded " + number(t.decoded.value);
        if (item.mask && itemState(i).valueType < VT_F32) step = "mask M" + hex4(item.mask) + ": " + step;
        if (item.multiplier != 0 || item.divisor != 0)
            step += ", scaled" + (item.multiplier != 0 ? " *" + number(item.multiplier) : "") +
                    (item.divisor != 0 ? " /" + number(item.divisor) : "") + ": " +
                    number(t.scaled.value);
        out += indent(depth) + step + "\n";
    }
    if (item.flags & FLAG_TEXT_MATCH)
        out += indent(depth) + "message " +
               quoted(simStatus().messageText, sizeof simStatus().messageText) + " has " +
               quoted(reinterpret_cast<const char*>(item.literal), 8) +
               ((item.flags & FLAG_TEXT_MATCH_ANYWHERE) ? " anywhere: " : " at a line start: ") +
               (t.value.value != 0 ? "yes" : "no") + "\n";
    else if (t.value.known || !(item.flags & FLAG_HAS_OFFSET))
        out += indent(depth) + "value: " + valueText(i) + truthText(i) + "\n";
}

// The flash and timed state of a light or display, from its record.
void explainTiming(int32_t i, int depth, std::string& out) {
    const ItemRecord& item = itemTable()[i];
    const ItemTrace& t = traceOf(i);
    if (item.flags & (FLAG_FLASH_FAST | FLAG_FLASH_SLOW)) {
        const std::string state = t.flashing ? std::string(": running, ") +
                                                   (itemState(i).flashPhase ? "dark" : "lit") + " phase"
                                             : ": not running";
        out += indent(depth) + ((item.flags & FLAG_FLASH_FAST) ? "flash fast" : "flash slow") +
               state + "\n";
    }
    if ((item.flags & (FLAG_TIMED_ON | FLAG_TIMED_OFF)) == 0) return;
    std::string state = "no period running";
    const uint32_t deadline = itemState(i).timerDeadlineMs;
    if (deadline != 0) {
        const int32_t left = static_cast<int32_t>(deadline - platform::tickCount());
        state = left > 0 ? "ends in " + number(left / 1000.0) + " s" : "period ended";
    }
    out += indent(depth) + "timed " + number(item.timerPeriodMs / 1000.0) + " s, then " +
           ((item.flags & FLAG_TIMED_ON) ? "steady on" : "off") + ": " + state + "\n";
}

void explainLine(int32_t i, int depth, std::string& out) {
    const Line& line = session.lines[static_cast<size_t>(i)];
    // With aircraft profiles a line may come from the settings file or the profile.
    const std::string from =
        activeProfile().state != PROFILE_NO_RULES ? "  (in " + line.file + ")" : std::string();
    out += std::string(2 + 4 * static_cast<size_t>(depth), ' ') +
           (depth ? "[" + line.section + "] " : std::string()) + lineText(i) + from + "\n";
    if (!evaluatedNow(i)) {
        out += indent(depth) + "not evaluated in this scan\n";
        return;
    }
    const std::string needs = needsText(i);
    if (!needs.empty()) out += indent(depth) + needs + "\n";
    explainReferences(i, depth, out);
    if (!lineApplied(i)) {
        out += indent(depth) + "=> does not apply: " + notApplyingReason(i) + "\n";
        return;
    }
    explainValue(i, depth, out);
    explainTiming(i, depth, out);
    const ItemTrace& t = traceOf(i);
    // The display drops the blanks a text is built with in front before it aligns it.
    const char* built = t.displayText + std::strspn(t.displayText, " ");
    if (itemTable()[i].kind == KIND_DISPLAY && t.displayText[0])
        out += indent(depth) + "text built when last sent: " +
               quoted(built, sizeof t.displayText - static_cast<size_t>(built - t.displayText)) +
               (t.displayMode > 0 ? " (too wide: the test pattern)" : "") + "\n";
    out += indent(depth) + "=> applies" + (itemTable()[i].kind == KIND_CONDITION
                                                ? std::string(": ") + shownText(i)
                                                : std::string()) + "\n";
}

// What the output shows: the light bit, the level, or the text and segments sent.
std::string explainShown(int32_t first) {
    const ItemRecord& item = itemTable()[first];
    std::string out = "shows: " + shownText(first) + "\n";
    if (item.kind != KIND_DISPLAY || item.index >= MAX_DISPLAYS) return out;
    const DisplayShown& d = unitShown(item.deviceType, item.unit).displays[item.index];
    if (!d.written) return out;
    out += "sent: " + quoted(d.text.c_str(), d.text.size());
    if (d.text == testPattern) out += " (the test pattern: the text does not fit this display)";
    if (d.segmentsSent) out += ", segments " + hexBytes(d.segments, sizeof d.segments);
    return out + "\n";
}

// Section and key names are not case-sensitive.
bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t n = 0; n < a.size(); ++n)
        if (std::tolower(static_cast<unsigned char>(a[n])) !=
            std::tolower(static_cast<unsigned char>(b[n])))
            return false;
    return true;
}

}  // namespace

std::string whyFrame(const std::string& section, const std::string& key, bool* found) {
    const std::string base = key.substr(0, key.find('.'));
    std::string out = "[" + section + "] " + base + "\n" + simulatorLine() + "\n";
    int32_t first = -1;
    for (int32_t i = 0; i < itemCount() && first < 0; i = outputEnd(i)) {
        const Line& line = session.lines[static_cast<size_t>(i)];
        const std::string lineBase = line.key.substr(0, line.key.find('.'));
        if (sameName(line.section, section) && sameName(lineBase, base))
            first = i;
    }
    *found = first >= 0;
    if (first >= 0) {
        const int32_t applying = applyingLine(first);
        for (int32_t i = first; i < outputEnd(first); ++i) {
            if (applying >= 0 && i > applying)
                out += "  " + lineText(i) + "\n    not looked at: " +
                       session.lines[static_cast<size_t>(applying)].key + " applies\n";
            else
                explainLine(i, 0, out);
        }
        if (applying < 0) out += "no line applies\n";
    } else {
        out += "no accepted line of this key is read (a unit is read only while connected)\n";
    }
    for (const Rejected& r : session.rejected)
        if (sameName(r.section, section) && sameName(r.key.substr(0, r.key.find('.')), base)) {
            out += "  " + r.key + ": rejected, never read:" + r.error + "\n";
            *found = true;
        }
    return first >= 0 ? out + explainShown(first) : out;
}

}  // namespace watch
