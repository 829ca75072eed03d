// Which section of a model drives which of its connected units. The library numbers the
// units of a model in USB order, which changes when a unit is plugged into another port;
// a section that names a unit's serial number (Serial=) follows that unit wherever it
// is. The sections without one take the other units in order, as they always did.
#pragma once

#include <cstddef>
#include <cstdint>

#include "devices/library.h"

// Section numbers .0 to .255: unit numbers are 8-bit.
constexpr int UNIT_SECTIONS = 256;
// Room for a Serial= value as kept: one more character than a serial can have, so a
// longer value stays longer than every serial and never matches one.
constexpr size_t SECTION_SERIAL_ROOM = sizeof(UnitIdentity::serial) + 1;

enum SectionFate : uint8_t {
    SECTION_UNUSED = 0,     // drives no unit (none left for it): not read
    SECTION_BOUND,          // read, for the unit in `unit`
    SECTION_SERIAL_ABSENT,  // names a serial no connected unit has: not read
    SECTION_SERIAL_TAKEN,   // names the serial of an earlier section: not read
};

struct UnitBinding {
    uint8_t fate[UNIT_SECTIONS];   // SectionFate by section number
    uint8_t unit[UNIT_SECTIONS];   // the unit a SECTION_BOUND section drives
    uint8_t first[UNIT_SECTIONS];  // the section that named a SECTION_SERIAL_TAKEN serial
    int16_t sectionOf[UNIT_SECTIONS];  // by unit: the section that drives it, -1 for none
};

// The name of section `number` of model `type` (a DeviceType code), e.g. "GF45.0".
void unitSectionName(char* out, size_t size, int32_t type, int number);

// Binds the sections of one model to its `units` connected units (at most UNIT_SECTIONS
// count). `unitSerials[u]` is unit u's serial ("" when it has none); nullptr when the
// library tells no serials: section n then drives unit n. `sectionSerials[n]` is the
// Serial= value of section n, "" or nullptr without one. Serials compare without regard
// to case. In every case a section naming the serial of an earlier section is taken out.
void bindUnitSections(uint32_t units, const char* const* unitSerials,
                      const char* const* sectionSerials, UnitBinding* out);

// Who a unit is, as the devices layer tells it (its unitIdentity); nullptr where the
// library tells no serials.
typedef const UnitIdentity* (*UnitIdentityFn)(int32_t type, uint8_t unit);

// The serials of a model's first `units` units (at most UNIT_SECTIONS) into `out`; false,
// with nothing filled, when `identity` is nullptr.
bool unitSerials(UnitIdentityFn identity, int32_t type, uint32_t units,
                 const char* out[UNIT_SECTIONS]);

// How many sections of a model may bind a unit and are looked at: every section when
// serials are known (a section may name any unit), else those numbered below the count.
int sectionsLookedAt(uint32_t units, bool serialsKnown);

// The serial a Serial= value names: the text before a ";" comment or an old " <<< "
// verdict, without blanks around it, cut to `size` - 1 characters.
void serialOfValue(const char* value, char* out, size_t size);

// What a unit's identity is called in the report and in identify mode, e.g.
// "serial GF1660042, USB 1-4.2"; "no serial" for a unit without one.
void describeUnit(const UnitIdentity& id, char* out, size_t size);

// The binding of one model as the settings file at `path` gives it: only the Serial=
// keys are read, and none for a model without units. For identify mode, which shows on each unit its section.
void bindSectionsOfFile(const char* path, int32_t type, uint32_t units,
                        UnitIdentityFn identity, UnitBinding* out);
