// norvalume-panels: draws the virtual panels from the state file the virtual GoFlight
// library keeps (GFDEV_STATE): seven-segment displays as character art, alpha and text
// displays as text, lights as marks, brightness as a level. --once prints one frame.
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

// Positions drawn per segment display, as the model table gives them for the model and
// display names of the state file (6 for one it does not know); more are drawn when the
// panel was sent a longer text.
int displayWidth(const std::string& model, const std::string& display) {
    for (const DeviceType& type : deviceTypes) {
        if (model != type.sectionName) continue;
        for (int d = 0; d < type.displays; ++d)
            if (display == type.display[d].name) return type.display[d].width;
    }
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

std::string renderFrame(const std::string& state) {
    std::string out;
    std::string model;
    size_t start = 0;
    while (start < state.size()) {
        size_t end = state.find('\n', start);
        if (end == std::string::npos) end = state.size();
        std::string line = state.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();

        char name[32];
        int unit = 0;
        if (std::sscanf(line.c_str(), "unit %31s %d", name, &unit) == 2) {
            model = name;
            out += "== " + model + "." + std::to_string(unit) + " ==\n";
        } else if (line.compare(0, 11, "brightness ") == 0) {
            out += "  brightness " + line.substr(11) + "\n";
        } else if (line.compare(0, 7, "lights ") == 0) {
            int bits = 0;
            unsigned long state32 = 0;
            if (std::sscanf(line.c_str(), "lights %d %lx", &bits, &state32) != 2) continue;
            // Only lights 0 to 23 exist on any panel.
            if (bits > 24) bits = 24;
            std::string marks;
            for (int b = 0; b < bits; ++b) {
                if (b && b % 8 == 0) marks += ' ';
                marks += (state32 >> b) & 1 ? '*' : '.';
            }
            out += "  lights     " + marks + "\n";
        } else if (line.compare(0, 8, "display ") == 0) {
            char dname[32], kind[16];
            int consumed = 0;
            if (std::sscanf(line.c_str(), "display %31s %15s %n", dname, kind, &consumed) < 2)
                continue;
            std::string label = std::string("  ") + dname;
            while (label.size() < 12) label += ' ';
            if (std::strcmp(kind, "text") == 0) {
                out += label + " [" + line.substr(static_cast<size_t>(consumed)) + "]\n";
            } else if (std::strcmp(kind, "segments") == 0) {
                unsigned char seg[16];
                if (!tools::parseHexBytes(line.c_str() + consumed, seg, sizeof seg)) continue;
                std::string rows[3];
                drawSegments(rows, seg, displayWidth(model, dname));
                std::string pad(label.size() + 1, ' ');
                out += pad + rows[0] + "\n" + label + " " + rows[1] + "\n" + pad + rows[2] + "\n";
            } else {
                out += label + " (blank)\n";
            }
        }
    }
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
