// Unit counts from a --units list or from the sections of a settings file; see units.h.
#include "tools/common/units.h"

#include <cstdio>

#include "platform/platform.h"
#include "tools/common/common.h"

namespace tools {

namespace {

constexpr uint32_t PROBE_UNITS = 256;
constexpr int LIGHTS_PER_UNIT = 24;

bool present(const char* path, const char* section, const char* key) {
    char buf[8];
    return platform::profileGet(path, section, key, buf, sizeof buf) != 0;
}

// A unit section counts as there when any key the loader would read first is present.
bool unitSectionPresent(const char* path, int32_t type, uint32_t unit) {
    char section[48];
    char key[16];
    std::snprintf(section, sizeof section, "%s.%u", deviceTypeName(type), unit);
    if (present(path, section, "Needs") || present(path, section, "B") ||
        present(path, section, "Serial"))
        return true;
    for (int n = 0; n < LIGHTS_PER_UNIT; ++n) {
        std::snprintf(key, sizeof key, "L%d", n);
        if (present(path, section, key)) return true;
        std::snprintf(key, sizeof key, "L%d.1", n);
        if (present(path, section, key)) return true;
    }
    for (int n = 0; n < deviceDisplayCount(type); ++n) {
        std::snprintf(key, sizeof key, "D%d", n);
        if (present(path, section, key)) return true;
        std::snprintf(key, sizeof key, "D%d.1", n);
        if (present(path, section, key)) return true;
    }
    return false;
}

}  // namespace

bool parseUnitsList(const char* program, const char* list, UnitCounts counts) {
    for (const UnitsEntry& entry : splitUnitsList(list)) {
        const int nameLength = static_cast<int>(entry.name.size());
        if (!entry.hasCount) {
            std::fprintf(stderr, "%s: --units: expected MODEL=COUNT near \"%s\"\n", program,
                         entry.from);
            return false;
        }
        unsigned long count = 0;
        if (!wholeUnitCount(entry.count, &count)) {
            std::fprintf(stderr, "%s: --units: bad count for \"%.*s\"\n", program, nameLength,
                         entry.name.data());
            return false;
        }
        const DeviceType* model = findDeviceTypeByName(entry.name.data(), entry.name.size());
        if (!model) {
            std::fprintf(stderr, "%s: --units: unknown model \"%.*s\"\n", program, nameLength,
                         entry.name.data());
            return false;
        }
        // Such sections are never read, so a load must not read them either.
        if (count && !model->count) {
            std::fprintf(stderr, "%s: note: the program never counts %s units, "
                                 "so it never reads their sections\n", program, model->sectionName);
            count = 0;
        }
        counts[model->code] = static_cast<uint16_t>(count);
    }
    return true;
}

void unitsFromSections(const char* path, UnitCounts counts) {
    platform::profileBegin(path);  // the file read once for all the keys looked for
    for (int32_t type = 1; type <= DEVICE_TYPE_COUNT; ++type) {
        const DeviceType* model = findDeviceType(type);
        if (!model || !model->count) continue;
        uint32_t units = 0;
        while (units < PROBE_UNITS && unitSectionPresent(path, type, units)) ++units;
        char section[48];
        for (uint32_t n = units; n < PROBE_UNITS; ++n) {
            std::snprintf(section, sizeof section, "%s.%u", model->sectionName, n);
            if (present(path, section, "Serial")) units = n + 1;
        }
        counts[type] = static_cast<uint16_t>(units);
    }
    platform::profileEnd(path);
}

void printUnits(const UnitCounts counts) {
    std::printf("units:");
    bool any = false;
    for (int32_t type = 1; type <= DEVICE_TYPE_COUNT; ++type) {
        if (!counts[type]) continue;
        std::printf(" %s=%u", deviceTypeName(type), counts[type]);
        any = true;
    }
    std::printf(any ? "\n" : " none\n");
}

}  // namespace tools
