// The command line and identify mode: started with --identify (/identify on Windows) the
// program drives no panel from the simulator; it shows on every unit which section and
// key is which, for a while, and then makes everything dark.
#include <cstdio>

#include "devices/devices.h"
#include "platform/platform.h"
#include "shell/shell.h"

namespace {

constexpr char IDENTIFY_CLASS[] = "NORVALUME_IDENTIFY";
constexpr uint32_t WAIT_STEP_MS = 100;
const platform::WindowHandlers noHandlers{nullptr, nullptr, nullptr};

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// `arg` after a "--" or "/" starts with "identify" in any case; returns what follows it.
const char* afterSwitchName(const char* arg) {
    if (arg[0] == '/')
        ++arg;
    else if (arg[0] == '-' && arg[1] == '-')
        arg += 2;
    else
        return nullptr;
    for (const char* name = "identify"; *name; ++name, ++arg)
        if (lower(*arg) != *name) return nullptr;
    return arg;
}

}  // namespace

StartRequest readCommandLine(int argc, const char* const* argv) {
    StartRequest request{START_NORMAL, DEFAULT_IDENTIFY_SECONDS};
    for (int i = 1; i < argc && argv[i]; ++i) {
        const char* rest = afterSwitchName(argv[i]);
        if (!rest || (*rest != '\0' && *rest != '=')) continue;  // other arguments: ignored
        request.mode = START_IDENTIFY;
        if (*rest == '\0') continue;
        uint32_t seconds = 0;
        const char* p = rest + 1;
        while (*p >= '0' && *p <= '9' && seconds <= MAX_IDENTIFY_SECONDS)
            seconds = seconds * 10 + static_cast<uint32_t>(*p++ - '0');
        if (*p != '\0' || p == rest + 1 || seconds < 1 || seconds > MAX_IDENTIFY_SECONDS)
            return StartRequest{START_BAD_SWITCH, 0};
        request.seconds = seconds;
    }
    return request;
}

int runIdentify(uint32_t seconds) {
    // No window, but the loop's stop requests (Ctrl-C, SIGTERM on Linux) come with the
    // class: a stopped identify still ends dark.
    platform::registerMainClass(IDENTIFY_CLASS, &noHandlers);
    if (!bindDeviceLibrary(nullptr)) {
        platform::beep(platform::BEEP_ASTERISK);
        return EXIT_NO_DEVICE_LIBRARY;
    }
    identifyUnits();
    const uint32_t start = platform::tickCount();
    while (platform::tickCount() - start < seconds * 1000u && !platform::stopRequested())
        platform::sleepMs(WAIT_STEP_MS);
    unbindDeviceLibrary();  // every output goes dark before the library is let go
    return 0;
}

int runFromCommandLine(int argc, const char* const* argv) {
    const StartRequest request = readCommandLine(argc, argv);
    if (request.mode == START_BAD_SWITCH) {
        std::fprintf(stderr, "norvalume: --identify=SECONDS takes whole seconds, 1 to %u\n",
                     static_cast<unsigned>(MAX_IDENTIFY_SECONDS));
        platform::beep(platform::BEEP_EXCLAMATION);
        return EXIT_BAD_COMMAND_LINE;
    }
    if (request.mode == START_IDENTIFY) return runIdentify(request.seconds);
    return runNorvalume();
}
