// Binding a model's sections to its connected units: by the serial a section names, and
// the rest in order. See unit_binding.h.
#include "config/unit_binding.h"

#include <cstdio>
#include <cstring>

#include "devices/models.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t READ_LIMIT = 255;  // a value is read as at most 254 characters

bool named(const char* serial) { return serial && *serial; }

char folded(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool sameSerial(const char* a, const char* b) {
    while (*a && folded(*a) == folded(*b)) ++a, ++b;
    return *a == '\0' && *b == '\0';
}

// The earlier section that named the same serial, -1 for none. A linear look back: the
// sections that name serials are a handful.
int earlierClaim(const char* const* sectionSerials, int section) {
    for (int m = 0; m < section; ++m)
        if (named(sectionSerials[m]) && sameSerial(sectionSerials[m], sectionSerials[section]))
            return m;
    return -1;
}

void bind(UnitBinding* out, int section, uint32_t unit) {
    out->fate[section] = SECTION_BOUND;
    out->unit[section] = static_cast<uint8_t>(unit);
    out->sectionOf[unit] = static_cast<int16_t>(section);
}

// Without serials: section n drives unit n, unless it repeats an earlier section's serial.
void bindInOrder(uint32_t units, const char* const* sectionSerials, UnitBinding* out) {
    for (uint32_t n = 0; n < units; ++n) {
        const int claim = sectionSerials && named(sectionSerials[n])
                              ? earlierClaim(sectionSerials, static_cast<int>(n))
                              : -1;
        if (claim < 0) {
            bind(out, static_cast<int>(n), n);
            continue;
        }
        out->fate[n] = SECTION_SERIAL_TAKEN;
        out->first[n] = static_cast<uint8_t>(claim);
    }
}

// The sections that name a serial take their units, wherever they are plugged in; two
// units that report one serial (a faulty library) give it to the first.
void bindBySerial(uint32_t units, const char* const* unitSerials,
                  const char* const* sectionSerials, bool* claimed, UnitBinding* out) {
    for (int n = 0; n < UNIT_SECTIONS; ++n) {
        if (!named(sectionSerials[n])) continue;
        const int claim = earlierClaim(sectionSerials, n);
        if (claim >= 0) {
            out->fate[n] = SECTION_SERIAL_TAKEN;
            out->first[n] = static_cast<uint8_t>(claim);
            continue;
        }
        out->fate[n] = SECTION_SERIAL_ABSENT;
        for (uint32_t u = 0; u < units; ++u) {
            if (claimed[u] || !sameSerial(unitSerials[u], sectionSerials[n])) continue;
            claimed[u] = true;
            bind(out, n, u);
            break;
        }
    }
}

}  // namespace

void unitSectionName(char* out, size_t size, int32_t type, int number) {
    std::snprintf(out, size, "%s.%d", deviceTypeName(type), number);
}

void bindUnitSections(uint32_t units, const char* const* unitSerials,
                      const char* const* sectionSerials, UnitBinding* out) {
    std::memset(out, 0, sizeof *out);
    for (int16_t& section : out->sectionOf) section = -1;
    if (units > UNIT_SECTIONS) units = UNIT_SECTIONS;
    if (!unitSerials) return bindInOrder(units, sectionSerials, out);
    if (!sectionSerials) return bindInOrder(units, nullptr, out);

    bool claimed[UNIT_SECTIONS] = {};
    bindBySerial(units, unitSerials, sectionSerials, claimed, out);
    // The sections without a serial take the units nobody claimed, both in order.
    uint32_t next = 0;
    for (int n = 0; n < UNIT_SECTIONS; ++n) {
        if (named(sectionSerials[n])) continue;
        while (next < units && claimed[next]) ++next;
        if (next == units) break;
        bind(out, n, next++);
    }
}

bool unitSerials(UnitIdentityFn identity, int32_t type, uint32_t units,
                 const char* out[UNIT_SECTIONS]) {
    if (!identity) return false;
    if (units > UNIT_SECTIONS) units = UNIT_SECTIONS;
    for (uint32_t u = 0; u < units; ++u) {
        const UnitIdentity* id = identity(type, static_cast<uint8_t>(u));
        out[u] = id ? id->serial : "";
    }
    return true;
}

int sectionsLookedAt(uint32_t units, bool serialsKnown) {
    if (serialsKnown || units > UNIT_SECTIONS) return UNIT_SECTIONS;
    return static_cast<int>(units);
}

void serialOfValue(const char* value, char* out, size_t size) {
    if (!out || size == 0) return;
    size_t end = std::strcspn(value, ";");
    const char* verdict = std::strstr(value, "<<<");
    if (verdict && static_cast<size_t>(verdict - value) < end)
        end = static_cast<size_t>(verdict - value);
    size_t begin = 0;
    while (begin < end && (value[begin] == ' ' || value[begin] == '\t')) ++begin;
    while (end > begin && (value[end - 1] == ' ' || value[end - 1] == '\t')) --end;
    if (end - begin > size - 1) end = begin + size - 1;
    std::memcpy(out, value + begin, end - begin);
    out[end - begin] = '\0';
}

void describeUnit(const UnitIdentity& id, char* out, size_t size) {
    const char* what = *id.serial ? "serial " : "no serial";
    if (*id.location)
        std::snprintf(out, size, "%s%s, USB %s", what, id.serial, id.location);
    else
        std::snprintf(out, size, "%s%s", what, id.serial);
}

void bindSectionsOfFile(const char* path, int32_t type, uint32_t units,
                        UnitIdentityFn identity, UnitBinding* out) {
    static char serials[UNIT_SECTIONS][SECTION_SERIAL_ROOM];
    static const char* sectionSerials[UNIT_SECTIONS];
    static const char* ofUnits[UNIT_SECTIONS];
    const bool known = unitSerials(identity, type, units, ofUnits);
    const DeviceType* model = findDeviceType(type);
    // No unit, nothing to bind: a section alone says nothing here.
    const int sections = model && model->count && units ? sectionsLookedAt(units, known) : 0;
    char section[48];
    char value[READ_LIMIT];
    for (int n = 0; n < UNIT_SECTIONS; ++n) {
        sectionSerials[n] = nullptr;
        if (n >= sections) continue;
        unitSectionName(section, sizeof section, type, n);
        if (!platform::profileGet(path, section, "Serial", value, READ_LIMIT)) continue;
        serialOfValue(value, serials[n], sizeof serials[n]);
        sectionSerials[n] = serials[n];
    }
    bindUnitSections(units, known ? ofUnits : nullptr, sectionSerials, out);
}
