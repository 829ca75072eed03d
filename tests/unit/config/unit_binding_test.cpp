// Which section drives which unit: by the serial a section names, the rest in order, and
// what a Serial= value and a unit's identity read as.
#include "config/unit_binding.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// "section>unit" for a bound section, "section:absent", "section:taken(first)", in
// section order; unbound units follow as "unit!".
std::string render(const UnitBinding& b, uint32_t units) {
    std::string out;
    for (int n = 0; n < UNIT_SECTIONS; ++n) {
        const std::string s = std::to_string(n);
        switch (b.fate[n]) {
            case SECTION_BOUND: out += s + ">" + std::to_string(b.unit[n]) + " "; break;
            case SECTION_SERIAL_ABSENT: out += s + ":absent "; break;
            case SECTION_SERIAL_TAKEN:
                out += s + ":taken(" + std::to_string(b.first[n]) + ") ";
                break;
            default: break;
        }
    }
    for (uint32_t u = 0; u < units; ++u) {
        const int section = b.sectionOf[u];
        if (section < 0) {
            out += std::to_string(u) + "! ";
        } else {
            EXPECT_EQ(b.fate[section], SECTION_BOUND);
            EXPECT_EQ(b.unit[section], u) << "sectionOf and unit disagree";
        }
    }
    return out;
}

TEST(UnitBinding, SectionsTakeTheirSerialsThenTheOtherUnitsInOrder) {
    const bool NO_SERIALS = false;
    const struct Case {
        const char* what;
        bool serialsKnown;
        std::vector<const char*> unitSerials;  // the units in USB order
        std::vector<std::pair<int, const char*>> sectionSerials;
        const char* expected;
    } cases[] = {
        {"no Serial= key: by order, as always", true, {"A", "B"}, {}, "0>0 1>1 "},
        {"by serial, wherever it is plugged in", true, {"A", "B"}, {{0, "B"}, {1, "A"}},
         "0>1 1>0 "},
        {"a section by serial, the other by order", true, {"A", "B"}, {{1, "A"}}, "0>1 1>0 "},
        {"mixed, three units", true, {"A", "B", "C"}, {{0, "C"}}, "0>2 1>0 2>1 "},
        {"[GF166.1] drives its radio when it is the only one", true, {"A"}, {{1, "A"}},
         "1>0 "},
        {"a serial no unit has: not read, its unit goes by order", true, {"A"}, {{0, "Z"}},
         "0:absent 1>0 "},
        {"a serial of no connected unit at all", true, {}, {{3, "A"}}, "3:absent "},
        {"a second claim is taken out, whatever the case", true, {"A", "B"},
         {{0, "B"}, {1, "b"}}, "0>1 1:taken(0) 2>0 "},
        {"a taken claim counts even when the first is absent", true, {"A"},
         {{2, "Z"}, {5, "z"}}, "0>0 2:absent 5:taken(2) "},
        {"serials compare without regard to case", true, {"gf1660042"}, {{0, "GF1660042"}},
         "0>0 "},
        {"a unit without a serial goes by order", true, {"", "B"}, {{0, "B"}, {1, ""}},
         "0>1 1>0 "},
        {"two units with one serial: the first is claimed", true, {"A", "A"}, {{1, "A"}},
         "0>1 1>0 "},
        {"more units than sections want: the rest still by order", true, {"A", "B", "C"},
         {{7, "B"}}, "0>0 1>2 7>1 "},
        {"no serials from the library: section n drives unit n", NO_SERIALS, {"", ""},
         {{0, "B"}, {1, "A"}}, "0>0 1>1 "},
        {"no serials from the library, a repeated serial still taken out", NO_SERIALS,
         {"", "", ""}, {{0, "A"}, {2, "a"}}, "0>0 1>1 2:taken(0) 2! "},
        {"no serials, sections beyond the count are not read", NO_SERIALS, {""}, {{4, "A"}},
         "0>0 "},
    };
    for (const Case& c : cases) {
        const char* sections[UNIT_SECTIONS] = {};
        for (const auto& s : c.sectionSerials) sections[s.first] = s.second;
        const uint32_t units = static_cast<uint32_t>(c.unitSerials.size());
        const char* none[1] = {""};  // known serials of no unit are still known
        const char* const* known = units ? c.unitSerials.data() : none;
        UnitBinding b;
        bindUnitSections(units, c.serialsKnown ? known : nullptr, sections, &b);
        EXPECT_EQ(render(b, units), c.expected) << c.what;
    }
}

TEST(UnitBinding, SerialValuesAndUnitsReadAsTheUserWroteThem) {
    const struct {
        const char* value;
        const char* serial;
    } values[] = {
        {"GF1660042", "GF1660042"},
        {"  GF1660042 ; the COM1 radio", "GF1660042"},
        {"GF1660042 <<< serial already claimed by [GF166.0]", "GF1660042"},
        {"GF1660042 ; note <<< serial already claimed by [GF166.0]", "GF1660042"},
        {"; only a note", ""},
        {"A B", "A B"},
    };
    for (const auto& v : values) {
        char out[SECTION_SERIAL_ROOM];
        serialOfValue(v.value, out, sizeof out);
        EXPECT_STREQ(out, v.serial) << v.value;
    }
    // A value longer than any serial is cut one beyond, so it cannot match one.
    const std::string longValue(100, 'X');
    char out[SECTION_SERIAL_ROOM];
    serialOfValue(longValue.c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out).size(), sizeof(UnitIdentity::serial));

    const struct {
        const char* serial;
        const char* location;
        const char* text;
    } units[] = {  // (with a serial: the loader's tests)
        {"", "1-4.2", "no serial, USB 1-4.2"},
        {"", "", "no serial"},
    };
    for (const auto& u : units) {
        UnitIdentity id{};
        std::snprintf(id.serial, sizeof id.serial, "%s", u.serial);
        std::snprintf(id.location, sizeof id.location, "%s", u.location);
        char text[sizeof(UnitIdentity) + 32];
        describeUnit(id, text, sizeof text);
        EXPECT_STREQ(text, u.text);
    }
}

}  // namespace
