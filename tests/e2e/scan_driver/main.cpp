// norvalume-scandriver: the scan cycle without the rest of the program, for the
// end-to-end tests. It builds the item table from settings lines through the line
// parser, binds the panel library, opens the link and runs scans on command:
//   norvalume-scandriver ITEMS_FILE      then on standard input: scan [N] | quit
// ITEMS_FILE lines are "SECTION KEY=VALUE" ("GFP8.0 L3=X0BC4 U8", "Conditions 0=..."),
// in table order. Every answer is one line on standard output.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/items.h"
#include "config/line_parser.h"
#include "devices/devices.h"
#include "eval/eval.h"
#include "link/link.h"
#include "platform/platform.h"
#include "shell/shell.h"

namespace {

bool sectionType(const char* section, int32_t* type, uint8_t* unit) {
    if (std::strcmp(section, "Conditions") == 0) {
        *type = DEV_CONDITION;
        *unit = 0;
        return true;
    }
    const char* dot = std::strrchr(section, '.');
    if (!dot) return false;
    for (int32_t t = 1; t <= DEVICE_TYPE_COUNT; ++t) {
        const char* name = deviceTypeName(t);
        size_t n = std::strlen(name);
        if (static_cast<size_t>(dot - section) == n && std::strncmp(section, name, n) == 0) {
            *type = t;
            *unit = static_cast<uint8_t>(std::atoi(dot + 1));
            return true;
        }
    }
    return false;
}

bool keyKind(const char* key, bool condition, uint8_t* kind, uint16_t* index) {
    if (condition) {
        *kind = KIND_CONDITION;
        *index = static_cast<uint16_t>(std::atoi(key) + 1);
        return key[0] >= '0' && key[0] <= '9';
    }
    if (key[0] == 'B' && key[1] == '\0') {
        *kind = KIND_BRIGHTNESS;
        *index = 0;
        return true;
    }
    if (key[0] != 'L' && key[0] != 'D') return false;
    *kind = key[0] == 'L' ? KIND_LIGHT : KIND_DISPLAY;
    *index = static_cast<uint16_t>(std::atoi(key + 1));  // a continuation keeps its base
    return true;
}

bool loadItems(const char* path) {
    FILE* f = std::fopen(path, "r");
    if (!f) return false;
    resetItemTable();
    char text[LINE_BUFFER_SIZE];
    while (std::fgets(text, sizeof text, f)) {
        text[std::strcspn(text, "\r\n")] = '\0';
        char* space = std::strchr(text, ' ');
        char* equals = space ? std::strchr(space + 1, '=') : nullptr;
        if (!equals) continue;
        *space = '\0';
        *equals = '\0';
        int32_t type;
        uint8_t unit, kind;
        uint16_t index;
        if (!sectionType(text, &type, &unit) ||
            !keyKind(space + 1, type == DEV_CONDITION, &kind, &index)) {
            std::printf("skipped %s %s\n", text, space + 1);
            continue;
        }
        char line[LINE_BUFFER_SIZE] = {};
        std::snprintf(line, sizeof line, "%s", equals + 1);
        int result = parseItemLine(itemCount(), type, kind, index, unit, line, 0, 0);
        if (result != PARSE_REJECTED) acceptItem();
        std::printf("item %s %s %d %s\n", text, space + 1, result, line);
    }
    std::fclose(f);
    return true;
}

bool openLink() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        linkSupervisionTick();
        if (linkStatus().connected) return true;
        platform::sleepMs(100);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 2) {
        std::fprintf(stderr, "usage: norvalume-scandriver ITEMS_FILE\n");
        return 2;
    }
    if (!loadItems(argv[1])) {
        std::printf("cannot read %s\n", argv[1]);
        return 2;
    }
    std::printf("items %d\n", static_cast<int>(itemCount()));
    std::printf("library %s\n", bindDeviceLibrary(nullptr) ? "bound" : "missing");
    if (!openLink()) {
        std::printf("link down\n");
        unbindDeviceLibrary();
        return 1;
    }
    std::printf("ready\n");

    char command[64];
    int scans = 0;
    while (std::fgets(command, sizeof command, stdin)) {
        if (std::strncmp(command, "quit", 4) == 0) break;
        if (std::strncmp(command, "scan", 4) != 0) {
            std::printf("unknown command\n");
            continue;
        }
        int n = std::atoi(command + 4);
        if (n <= 0) n = 1;
        for (int s = 0; s < n; ++s) {
            if (s > 0) platform::sleepMs(DEFAULT_SCAN_PERIOD_MS);
            scanTick();
            ++scans;
        }
        std::printf("scanned %d link %s\n", scans, linkStatus().connected ? "up" : "down");
    }
    resetLinkStatus();
    unbindDeviceLibrary();
    releaseItemStates();
    freeItemTable();
    return 0;
}
