// norvalume-panels: draws the virtual panels from the state file the virtual GoFlight
// library keeps (GFDEV_STATE): each unit's serial number and USB location, its brightness
// (or "dark" when nothing on it is lit), its lights by key as marks, and its displays by
// key, seven-segment ones as character art, alpha and text ones as text. --once prints
// one frame.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "devices/models.h"
#include "tools/common/common.h"

namespace {

// One display of a unit as the state file gives it.
struct DisplayState {
    std::string name;
    std::string kind;  // "segments", "text" or "none"
    std::string text;
    unsigned char segments[16];
};

// One unit as the state file gives it.
struct UnitState {
    std::string model;
    int unit;
    bool identified;  // the state file gave its serial and location
    std::string serial;
    std::string usb;
    std::string brightness;  // "-" when never set
    int lightBits;
    unsigned long lights;
    std::vector<DisplayState> displays;
};

const DeviceType* modelNamed(const std::string& model) {
    return findDeviceTypeByName(model.data(), model.size());
}

// The display's key (D0, D1, ...) from its name in the state file, as the model table
// orders them; the name itself for a display the table does not know.
std::string displayKey(const std::string& model, const std::string& display) {
    if (const DeviceType* type = modelNamed(model))
        for (int d = 0; d < type->displays; ++d)
            if (display == type->display[d].name) return "D" + std::to_string(d);
    return display;
}

// Positions drawn per segment display, as the model table gives them (6 for a display
// it does not know); more are drawn when the panel was sent a longer text.
int displayWidth(const std::string& model, const std::string& display) {
    if (const DeviceType* type = modelNamed(model))
        for (int d = 0; d < type->displays; ++d)
            if (display == type->display[d].name) return type->display[d].width;
    return 6;
}

// Three text rows per digit: " _ " / "|_|" / "|_|." from segments a..g and the point.
void drawSegments(std::string rows[3], const unsigned char seg[16], int width) {
    int last = 0;
    for (int i = 0; i < 15; ++i)
        if (seg[i]) last = i + 1;
    int n = last > width ? last : width;
    for (int i = 0; i < n; ++i) {
        unsigned char s = seg[i];
        rows[0] += ' ';
        rows[0] += (s & 0x01) ? '_' : ' ';
        rows[0] += "  ";
        rows[1] += (s & 0x20) ? '|' : ' ';
        rows[1] += (s & 0x40) ? '_' : ' ';
        rows[1] += (s & 0x02) ? '|' : ' ';
        rows[1] += ' ';
        rows[2] += (s & 0x10) ? '|' : ' ';
        rows[2] += (s & 0x08) ? '_' : ' ';
        rows[2] += (s & 0x04) ? '|' : ' ';
        rows[2] += (s & 0x80) ? '.' : ' ';
    }
}

// The lights the model has, by bit; all of them for a model the table does not know.
unsigned long lightsThatExist(const UnitState& u) {
    const DeviceType* type = modelNamed(u.model);
    if (type && type->indicatorWriteMask) return type->indicatorWriteMask;
    return u.lightBits >= 32 ? 0xFFFFFFFFul : (1ul << u.lightBits) - 1;
}

bool isDark(const UnitState& u) {
    if (u.lights & lightsThatExist(u)) return false;
    for (const DisplayState& d : u.displays) {
        if (d.kind == "text" && d.text.find_first_not_of(' ') != std::string::npos) return false;
        if (d.kind == "segments")
            for (unsigned char s : d.segments)
                if (s) return false;
    }
    return true;
}

std::string labelColumn(const std::string& label) {
    std::string column = "  " + label;
    while (column.size() < 12) column += ' ';
    return column;
}

// One row per eight lights, labelled by key: "L0-L7   * * * . . . . ." (lit, dark; a blank
// where the model has no such light).
std::string renderLights(const UnitState& u) {
    const unsigned long exist = lightsThatExist(u);
    const int bits = u.lightBits > 24 ? 24 : u.lightBits;  // only L0 to L23 exist anywhere
    std::string out;
    for (int group = 0; group < bits; group += 8) {
        int lo = -1, hi = -1;
        for (int b = group; b < group + 8 && b < bits; ++b) {
            if (!((exist >> b) & 1)) continue;
            if (lo < 0) lo = b;
            hi = b;
        }
        if (lo < 0) continue;
        std::string label = "L" + std::to_string(lo);
        if (hi > lo) label += "-L" + std::to_string(hi);
        std::string marks;
        for (int b = lo; b <= hi; ++b) {
            if (b > lo) marks += ' ';
            marks += !((exist >> b) & 1) ? ' ' : ((u.lights >> b) & 1) ? '*' : '.';
        }
        out += labelColumn(label) + marks + "\n";
    }
    return out;
}

std::string renderDisplay(const UnitState& u, const DisplayState& d) {
    const std::string label = labelColumn(displayKey(u.model, d.name));
    if (d.kind == "text") return label + "[" + d.text + "]\n";
    if (d.kind != "segments") return label + "(blank)\n";
    std::string rows[3];
    drawSegments(rows, d.segments, displayWidth(u.model, d.name));
    std::string pad(label.size(), ' ');
    return pad + rows[0] + "\n" + label + rows[1] + "\n" + pad + rows[2] + "\n";
}

std::string renderUnit(const UnitState& u) {
    std::string out = "== " + u.model + "." + std::to_string(u.unit) + " ==\n";
    if (u.identified)
        out += "  " + (u.serial.empty() ? "no serial" : "serial " + u.serial) + ", USB " +
               (u.usb.empty() ? "?" : u.usb) + "\n";
    if (isDark(u))
        out += "  dark\n";
    else
        out += "  brightness " + (u.brightness == "-" ? "not set" : u.brightness) + "\n";
    out += renderLights(u);
    for (const DisplayState& d : u.displays) out += renderDisplay(u, d);
    return out;
}

// Adds one line of the state file to the units read so far.
void readStateLine(const std::string& line, std::vector<UnitState>& units) {
    char name[32];
    int unit = 0;
    if (std::sscanf(line.c_str(), "unit %31s %d", name, &unit) == 2) {
        units.push_back(UnitState{name, unit, false, "", "", "-", 0, 0, {}});
        return;
    }
    if (units.empty()) return;
    UnitState& u = units.back();
    if (line.compare(0, 7, "serial ") == 0 || line == "serial") {
        u.identified = true;
        u.serial = line.size() > 7 ? line.substr(7) : "";
    } else if (line.compare(0, 4, "usb ") == 0) {
        u.identified = true;
        u.usb = line.substr(4);
    } else if (line.compare(0, 11, "brightness ") == 0) {
        u.brightness = line.substr(11);
    } else if (line.compare(0, 7, "lights ") == 0) {
        std::sscanf(line.c_str(), "lights %d %lx", &u.lightBits, &u.lights);
    } else if (line.compare(0, 8, "display ") == 0) {
        char dname[32], kind[16];
        int consumed = 0;
        if (std::sscanf(line.c_str(), "display %31s %15s%n", dname, kind, &consumed) < 2)
            return;
        // One blank separates the text: its own leading blanks show its alignment.
        if (line[static_cast<size_t>(consumed)] == ' ') ++consumed;
        DisplayState d{dname, kind, line.substr(static_cast<size_t>(consumed)), {}};
        if (d.kind == "segments" &&
            !tools::parseHexBytes(line.c_str() + consumed, d.segments, sizeof d.segments))
            return;
        u.displays.push_back(d);
    }
}

std::string renderFrame(const std::string& state) {
    std::vector<UnitState> units;
    size_t start = 0;
    while (start < state.size()) {
        size_t end = state.find('\n', start);
        if (end == std::string::npos) end = state.size();
        std::string line = state.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        readStateLine(line, units);
    }
    std::string out;
    for (const UnitState& u : units) out += renderUnit(u);
    if (out.empty()) out = "(no panels)\n";
    return out;
}

constexpr char USAGE[] = "usage: norvalume-panels [--once] [--state FILE] | --help | --version\n";

}  // namespace

int main(int argc, char** argv) {
    bool once = false;
    const char* path = std::getenv("GFDEV_STATE");
    for (int i = 1; i < argc; ++i) {
        if (tools::answerInfoOption(argv[i], "norvalume-panels", USAGE)) return 0;
        if (std::strcmp(argv[i], "--once") == 0) {
            once = true;
        } else if (std::strcmp(argv[i], "--state") == 0 && i + 1 < argc) {
            path = argv[++i];
        } else {
            std::fputs(USAGE, stderr);
            return 2;
        }
    }
    if (!path || !*path) {
        std::fprintf(stderr, "norvalume-panels: no state file (GFDEV_STATE or --state)\n");
        return 2;
    }
    if (once) {
        std::fputs(renderFrame(tools::readFile(path)).c_str(), stdout);
        return 0;
    }
    std::string shown;
    for (;;) {
        std::string frame = renderFrame(tools::readFile(path));
        if (frame != shown) {
            std::fputs("\x1b[H\x1b[2J", stdout);  // home and clear
            std::fputs(frame.c_str(), stdout);
            std::fflush(stdout);
            shown = frame;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}
