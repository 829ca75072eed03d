// norvalume-sim: answers the simulator interface protocol over a 64 KiB offset space, for
// development, tests and the demo. Options and the command runner live here; the window
// (or socket) and the loop are the platform front end's.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "tools/common/common.h"
#include "tools/common/files.h"
#include "tools/sim/sim_app.h"

sim::SimModule simModule;

namespace {

void printLine(const char* line) {
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string usageText() {
    return std::string("usage: norvalume-sim [--window ") + LINK_MODULE_WINDOW_CLASS + "|" +
           LINK_INTERFACE_WINDOW_CLASS + "|" + LINK_SIM_WINDOW_CLASS +
           "] [--script FILE [--loop] [--speed FACTOR]]\n"
           "                     [--interface WORD] [--simversion N]\n"
           "       norvalume-sim --help | --version\n"
           "  --window  the class of the window to answer on: UIPCMAIN (the module's own\n"
           "            window), OMBXMAIN, or FS98MAIN (the simulator's main window, also\n"
           "            the module's network client on a second PC; the default)\n"
           "  --loop    play the script again from the top at its end; standard input\n"
           "            runs beside it\n"
           "  --speed   play the script's waits FACTOR times as fast (0.5: half speed)\n"
           "exit status: 0 quit or stopped, 1 cannot read the script or serve, 2 bad\n"
           "  command line, 3 the run folder is not this user's alone (Linux; the message\n"
           "  names the folder and what is wrong)\n";
}

// --help adds the command language; a usage error gets the options alone.
std::string helpText() { return usageText() + sim::COMMAND_HELP; }

int usage() {
    std::fputs(usageText().c_str(), stderr);
    return 2;
}

// strtoul would take "-1" and wrap it, and an out-of-range value saturates; with the
// 32-bit long of Windows either would pass for a valid 32-bit word.
bool parseNumber(const char* text, unsigned long* out) {
    if (!(*text >= '0' && *text <= '9')) return false;
    char* end = nullptr;
    errno = 0;
    *out = std::strtoul(text, &end, 0);
    return errno == 0 && !*end;
}

bool parseSpeed(const char* text, double* out) {
    char* end = nullptr;
    *out = std::strtod(text, &end);
    // At most a thousandfold either way: beyond that a wait is no longer a wait.
    return end != text && !*end && *out >= 0.001 && *out <= 1000.0;
}

}  // namespace

sim::CommandResult runSimLine(const std::string& line) {
    sim::CommandResult r = sim::runCommand(&simModule, line.c_str(), printLine);
    if (r.kind == sim::COMMAND_ERROR) {
        std::fprintf(stderr, "error: %s: %s\n", r.message, line.c_str());
        std::fflush(stderr);
    }
    return r;
}

bool serveBlock(uint8_t* block, uint32_t* result) {
    bool answered = sim::processBlock(&simModule, block, LINK_BLOCK_SIZE, result);
    if (simModule.lastStop.stopped) {
        char line[128];
        sim::describeStop(simModule.lastStop, line, sizeof line);
        std::fprintf(stderr, "norvalume-sim: %s\n", line);
        std::fflush(stderr);
    }
    return answered;
}

// One of the classes the client looks for.
bool knownWindowClass(const std::string& name) {
    for (const char* windowClass : LINK_WINDOW_CLASSES)
        if (name == windowClass) return true;
    return false;
}

int main(int argc, char** argv) {
    SimOptions options;
    unsigned long interfaceWord = sim::DEFAULT_INTERFACE_WORD;
    unsigned long simVersion = sim::DEFAULT_SIM_VERSION;
    const char* script = nullptr;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (tools::answerInfoOption(arg, "norvalume-sim", helpText().c_str())) return 0;
        if (std::strcmp(arg, "--loop") == 0) {
            options.loop = true;
            continue;
        }
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "--speed") == 0 && value) {
            if (!parseSpeed(value, &options.speed)) return usage();
        } else if (std::strcmp(arg, "--window") == 0 && value) {
            options.windowClass = value;
            if (!knownWindowClass(options.windowClass)) return usage();
        } else if (std::strcmp(arg, "--script") == 0 && value) {
            script = value;
        } else if (std::strcmp(arg, "--interface") == 0 && value) {
            if (!parseNumber(value, &interfaceWord) || interfaceWord > 0xFFFFFFFFul) return usage();
        } else if (std::strcmp(arg, "--simversion") == 0 && value) {
            if (!parseNumber(value, &simVersion) || simVersion > 0xFFFF) return usage();
        } else {
            return usage();
        }
        i++;
    }
    // Both shape how a script plays; without one they would silently do nothing.
    if (!script && (options.loop || options.speed != 1.0)) return usage();
    sim::resetModule(&simModule, uint32_t(interfaceWord), uint16_t(simVersion));
    if (script) {
        std::string path;
        if (!tools::existingFile("norvalume-sim", script, &path)) return 2;
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "norvalume-sim: cannot read %s\n", path.c_str());
            return 2;
        }
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            options.scriptLines.push_back(line);
        }
    }
    return serveSim(options);
}
