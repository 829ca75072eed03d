// The words the table and the derivation share: which line of an output applied, why
// another did not, what a value read as and what an output shows. Every verdict comes
// from the evaluation's trace or state; nothing here decides a rule again.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "config/items.h"
#include "eval/eval.h"
#include "link/link.h"
#include "tools/common/common.h"
#include "tools/watch/watch.h"

namespace watch {

namespace {

const char* compareText(uint8_t op) {
    static const char* const ops[] = {"!=", "=", "<", "<=", ">", ">=", "!="};
    return op < 7 ? ops[op] : "?";
}

bool sameOutput(const ItemRecord& a, const ItemRecord& b) {
    return a.deviceType == b.deviceType && a.unit == b.unit && a.kind == b.kind &&
           a.index == b.index;
}

// A radio or text value as the bytes hold it, by the type the item has now (the type
// byte from the simulator, where it reads one).
std::string bytesValue(uint8_t valueType, const uint8_t* raw) {
    char text[32];
    if (valueType == VT_STR) return quoted(reinterpret_cast<const char*>(raw), 8);
    if (valueType >= VT_R0 && valueType <= VT_R2) {
        std::snprintf(text, sizeof text, "0x%02X%02X", raw[1], raw[0]);
        return text;
    }
    std::string hex;
    tools::appendHexBytes(hex, raw, 8);
    return hex.substr(1);
}

}  // namespace

const ItemState& itemState(int32_t i) {
    static const ItemState none = {};
    const ItemState* states = itemStates();
    return states && i >= 0 && i < itemStateCount() ? states[i] : none;
}

float floatOf(const uint8_t* bytes) {
    float v;
    std::memcpy(&v, bytes, sizeof v);
    return v;
}

std::string number(double value) {
    char text[48];
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15)
        std::snprintf(text, sizeof text, "%.0f", value);
    else
        std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string quoted(const char* text, size_t size) {
    std::string out = "\"";
    for (size_t n = 0; n < size && text[n]; ++n) {
        const unsigned char c = static_cast<unsigned char>(text[n]);
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

int32_t outputEnd(int32_t first) {
    int32_t end = first + 1;
    while (end < itemCount() && sameOutput(itemTable()[end], itemTable()[first])) ++end;
    return end;
}

bool evaluatedNow(int32_t i) {
    return session.traces[static_cast<size_t>(i)].scan == session.trace.scan;
}

bool lineApplied(int32_t i) {
    const TraceStop stop = session.traces[static_cast<size_t>(i)].end.stop;
    return evaluatedNow(i) && stop != TRACE_GATE_CLOSED && stop != TRACE_REFERENCE_FAILED;
}

int32_t applyingLine(int32_t first) {
    for (int32_t i = first; i < outputEnd(first); ++i)
        if (lineApplied(i)) return i;
    return -1;
}

std::string notApplyingReason(int32_t i) {
    const ItemTrace& t = session.traces[static_cast<size_t>(i)];
    if (!evaluatedNow(i)) return "not evaluated in this scan";
    char text[96];
    if (t.end.stop == TRACE_REFERENCE_FAILED) {
        const int n = t.end.failedReference - 1;
        std::snprintf(text, sizeof text,
                      t.end.failedExcluded ? "!C%d: C%d is true" : "C%d is false", n, n);
        return text;
    }
    std::string closed = "Needs closed:";
    if (t.end.closedGates & FLAG_NEEDS_V) {
        std::snprintf(text, sizeof text, " V%u (volts %.2f)", itemTable()[i].minVoltage,
                      simStatus().busVoltage);
        closed += text;
    }
    if (t.end.closedGates & FLAG_NEEDS_B) closed += " Battery (off)";
    if (t.end.closedGates & FLAG_NEEDS_A) closed += " Avionics (off)";
    if (t.end.closedGates & FLAG_NEEDS_E)
        closed += " E (failure " + number(simStatus().failureByte) + ")";
    return closed;
}

namespace {

// The value of record `i` as the evaluation traced in `t`.
std::string tracedValue(int32_t i, const ItemTrace& t) {
    const ItemRecord& item = itemTable()[i];
    if (item.flags & FLAG_TEXT_MATCH)
        return "text " + quoted(reinterpret_cast<const char*>(item.literal), 8) +
               (t.value.value != 0 ? " found" : " not found");
    if ((item.flags & (FLAG_HAS_STRING | FLAG_HAS_OFFSET)) == FLAG_HAS_STRING)
        return quoted(reinterpret_cast<const char*>(item.literal), 8);
    if (!t.value.known) {
        if (item.flags & FLAG_HAS_OFFSET) return bytesValue(itemState(i).valueType, t.raw);
        return number(floatOf(item.literal));
    }
    const std::string value =
        t.decoded.known ? number(t.scaled.value) : number(floatOf(item.literal));
    if ((item.flags & (FLAG_HAS_OFFSET | FLAG_HAS_NUMBER)) == (FLAG_HAS_OFFSET | FLAG_HAS_NUMBER))
        return value + " " + compareText(item.compareOp) + number(floatOf(item.literal)) + ": " +
               (t.value.value != 0 ? "true" : "false");
    return value;
}

}  // namespace

bool flashShows(int32_t i) {
    const ItemRecord& item = itemTable()[i];
    return session.traces[static_cast<size_t>(i)].flashing &&
           (item.kind == KIND_DISPLAY || floatOf(itemState(i).last) != 0);
}

std::string valueText(int32_t i) {
    const ItemTrace& t = session.traces[static_cast<size_t>(i)];
    if (!lineApplied(i)) return "-";
    if (t.end.stop != TRACE_FLASH_DARK) return tracedValue(i, t);
    if (flashShows(i)) return "(dark phase of its flash)";
    const ItemTrace& looked = session.looked[static_cast<size_t>(i)];
    return looked.scan ? tracedValue(i, looked) : "-";
}

std::string shownText(int32_t first) {
    const ItemRecord& item = itemTable()[first];
    if (item.kind == KIND_CONDITION) return floatOf(itemState(first).last) != 0 ? "true" : "false";
    const UnitShown& unit = unitShown(item.deviceType, item.unit);
    if (item.kind == KIND_BRIGHTNESS)
        return unit.brightnessSent ? "level " + std::to_string(unit.brightness) : "-";
    const int32_t line = applyingLine(first);
    const bool flashing = line >= 0 && flashShows(line);
    std::string shown;
    if (item.kind == KIND_LIGHT) {
        shown = (unit.lit >> (item.index % 32)) & 1 ? "lit" : "off";
    } else if (item.index < MAX_DISPLAYS && unit.displays[item.index].written) {
        const std::string& text = unit.displays[item.index].text;
        const size_t start = text.find_first_not_of(' ');
        shown = start == std::string::npos ? "(blank)"
                                           : quoted(text.c_str() + start, text.size() - start);
    } else {
        shown = "(blank)";
    }
    return flashing ? shown + ", flashing" : shown;
}

std::string lineText(int32_t i) {
    const Line& line = session.lines[static_cast<size_t>(i)];
    return line.key + "=" + line.text;
}

std::string simulatorLine() {
    if (!linkStatus().connected) {
        if (linkStatus().versionTooOld) return "simulator: interface too old, needs 3.465 or later";
        return linkStatus().accessDenied
                   ? "simulator: the interface module refused us: it runs as administrator "
                     "and the watch does not; start both the same way"
                   : "simulator: not connected";
    }
    if (itemCount() <= 0) return "simulator: connected";
    if (!session.scanRead) return "simulator: connected, no answer to the last scan";
    char text[160];
    const int32_t exchanges = lastScanExchanges();
    std::snprintf(text, sizeof text,
                  "simulator: volts %.2f  battery %s  avionics %s  failure %u  %d exchange%s a scan",
                  simStatus().busVoltage, simStatus().powerBytes[0] ? "on" : "off",
                  simStatus().powerBytes[1] ? "on" : "off", simStatus().failureByte,
                  static_cast<int>(exchanges), exchanges == 1 ? "" : "s");
    std::string line = text;
    if (simStatus().controlByte & CONTROL_BLANK_BIT) line += "  panels dark (control byte)";
    if (textMatchUsed())
        line += "  message " + quoted(simStatus().messageText, sizeof simStatus().messageText);
    return line;
}

}  // namespace watch
