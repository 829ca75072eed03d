// The program's command line: the switches it knows, the usage and version it answers
// with (on the console it was started from, if any), and the one-copy rule that both a
// normal start and identify mode obey before they touch the panels or the file.
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "shell/shell.h"
#include "version.h"

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// `arg` after a "--" or "/" starts with `name` in any case; returns what follows it.
const char* afterSwitchName(const char* arg, const char* name) {
    if (arg[0] == '/')
        ++arg;
    else if (arg[0] == '-' && arg[1] == '-')
        arg += 2;
    else
        return nullptr;
    for (; *name; ++name, ++arg)
        if (lower(*arg) != *name) return nullptr;
    return arg;
}

bool isSwitch(const char* arg, const char* name) {
    const char* rest = afterSwitchName(arg, name);
    return rest && *rest == '\0';
}

// "=SECONDS" after --identify: 1 to 3600 whole seconds; 0 for anything else.
uint32_t identifySeconds(const char* value) {
    uint32_t seconds = 0;
    const char* p = value;
    while (*p >= '0' && *p <= '9' && seconds <= MAX_IDENTIFY_SECONDS)
        seconds = seconds * 10 + static_cast<uint32_t>(*p++ - '0');
    if (*p != '\0' || p == value || seconds > MAX_IDENTIFY_SECONDS) return 0;
    return seconds;
}

// What --help prints: the usage, with the settings file this program reads.
void printUsage(FILE* to) {
    char ini[INI_PATH_SIZE];
    programIniPath(ini, sizeof ini);
    std::fprintf(to,
                 "usage: norvalume [--identify[=SECONDS]]\n"
                 "       norvalume --help | --version\n"
                 "Without a switch it drives the GoFlight panels from the simulator, as the\n"
                 "settings file beside the program says: %s\n"
                 "  --identify  light every connected panel for SECONDS (1 to 3600, default %u),\n"
                 "              each display showing its section and key, then make them dark\n"
                 "  --help      this text (also /?)\n"
                 "  --version   the version\n"
                 "Switches may start with / instead of -- (/identify=30), in any case.\n"
                 "exit status: 0 ended normally, 1 no window class, 2 the device library\n"
                 "could not be used ([GF Connections] GFDev= says why), 3 no window, 4 a bad\n"
                 "command line, 5 Norvalume already runs for this settings file\n",
                 ini, static_cast<unsigned>(DEFAULT_IDENTIFY_SECONDS));
}

}  // namespace

void programIniPath(char* out, size_t size) {
    char program[INI_PATH_SIZE];
    platform::programPath(program, sizeof program);
    deriveIniPath(program, out, size);
}

StartRequest readCommandLine(int argc, const char* const* argv) {
    StartRequest request{START_NORMAL, DEFAULT_IDENTIFY_SECONDS, nullptr};
    for (int i = 1; i < argc && argv[i]; ++i) {
        const char* arg = argv[i];
        const char* rest = afterSwitchName(arg, "identify");
        if (rest && (*rest == '\0' || *rest == '=')) {
            request.mode = START_IDENTIFY;
            request.seconds = *rest ? identifySeconds(rest + 1) : DEFAULT_IDENTIFY_SECONDS;
            if (request.seconds == 0) return StartRequest{START_BAD_SWITCH, 0, arg};
        } else if (isSwitch(arg, "help") || std::strcmp(arg, "/?") == 0) {
            return StartRequest{START_HELP, 0, nullptr};
        } else if (isSwitch(arg, "version")) {
            return StartRequest{START_VERSION, 0, nullptr};
        } else {
            return StartRequest{START_UNKNOWN, 0, arg};
        }
    }
    return request;
}

bool claimOrSayWhoHasIt(const char* iniPath, StartMode mode) {
    const platform::SettingsClaim claim = platform::claimSettingsFile(iniPath);
    if (claim == platform::CLAIM_HELD) {
        platform::attachParentConsole();
        if (mode == START_IDENTIFY)
            std::fprintf(stderr,
                         "norvalume: Norvalume already runs for %s; identify would leave its "
                         "panels dark, so it does nothing: close Norvalume first\n",
                         iniPath);
        else
            std::fprintf(stderr, "norvalume: Norvalume already runs for %s; this copy ends\n",
                         iniPath);
        std::fflush(stderr);
        platform::beep(platform::BEEP_EXCLAMATION);
        return false;
    }
    if (claim == platform::CLAIM_UNAVAILABLE)
        std::fprintf(stderr, "norvalume: cannot tell whether Norvalume already runs for %s\n",
                     iniPath);
    return true;
}

int runFromCommandLine(int argc, const char* const* argv) {
    const StartRequest request = readCommandLine(argc, argv);
    switch (request.mode) {
        case START_HELP:
        case START_VERSION:
            platform::attachParentConsole();
            if (request.mode == START_HELP)
                printUsage(stdout);
            else
                std::printf("norvalume %s\n", NORVALUME_VERSION);
            std::fflush(stdout);
            return 0;
        case START_BAD_SWITCH:
        case START_UNKNOWN:
            platform::attachParentConsole();
            if (request.mode == START_BAD_SWITCH)
                std::fprintf(stderr, "norvalume: %s: --identify=SECONDS takes whole seconds, "
                                     "1 to %u\n",
                             request.argument, static_cast<unsigned>(MAX_IDENTIFY_SECONDS));
            else
                std::fprintf(stderr, "norvalume: not understood: %s\n", request.argument);
            printUsage(stderr);
            std::fflush(stderr);
            platform::beep(platform::BEEP_EXCLAMATION);
            return EXIT_BAD_COMMAND_LINE;
        case START_IDENTIFY:
            return runIdentify(request.seconds);
        default:
            return runNorvalume();
    }
}
