// norvalume-check: checks a settings file with the very loader the program uses, forced,
// with unit counts from the command line standing in for the device library. Prints every
// rejected line, with --lint what the program reads without a word (lint.h), the items
// per kind and, on request, every stored record.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "config/aircraft_profiles.h"
#include "config/items.h"
#include "config/line_parser.h"
#include "config/loader.h"
#include "config/profile_text.h"
#include "devices/models.h"
#include "eval/eval.h"
#include "platform/platform.h"
#include "tools/check/lint.h"
#include "tools/common/common.h"
#include "tools/common/files.h"
#include "tools/common/units.h"

namespace {

constexpr int EXIT_ALL_ACCEPTED = 0;
constexpr int EXIT_REJECTED = 1;
constexpr int EXIT_CANNOT_RUN = 2;
// As wide as the loader's own read, so a long line compares whole.
constexpr size_t DRY_RUN_READ_SIZE = 16384;

int rejectedLines = 0;
// The file checked and the units assumed connected, by DeviceType code.
const char* checkPath = "";
tools::UnitCounts unitCounts = {};
// The file whose lines the present pass reports: the settings file, then each aircraft
// profile with the settings file under it. A line of the other file is reported in its
// own pass, once.
std::string passFile;

constexpr char USAGE[] =
    "usage: norvalume-check [--units GF45=1,GFMCP=1,...] [--dry-run] [--lint | --no-lint]\n"
    "                       [--strict] [--dump] [--aircraft TITLE [--aircraft-path PATH]]\n"
    "                       FILE\n"
    "  FILE       the settings file; a relative name is taken from the current folder\n"
    "  --aircraft the title of an aircraft: says which [Profiles] rule it picks, and\n"
    "             checks that profile only (default: every profile in turn)\n"
    "  --aircraft-path  its aircraft file, for the rules' path: patterns\n"
    "  --units    the panel units connected, per model (default: as many units\n"
    "             of each model as FILE has sections for)\n"
    "  --dry-run  write nothing: print what would be written instead (and lint)\n"
    "  --lint     warn about what the program skips, overrides or never reads,\n"
    "             as FILE:LINE:COLUMN: warning: [SECTION] KEY: text\n"
    "  --no-lint  no warnings, also with --dry-run\n"
    "  --strict   lint, and any warning makes the exit status 1\n"
    "  --dump     print every stored item record\n"
    "  --help, --version\n"
    "Without --dry-run, also with --lint, --strict or --dump, the verdicts are written\n"
    "into FILE as the program writes them: \" <<< reason\" after each rejected line, and\n"
    "gone from a corrected one. Nothing else is changed: warnings are only printed, and\n"
    "[GF Connections] is the program's report of the panels it sees.\n"
    "exit status: 0 every line accepted, 1 some line rejected (or, with --strict,\n"
    "a warning), 2 could not run (or could not write the verdicts into FILE, or its\n"
    "report to standard output)\n";

void usage() { std::fputs(USAGE, stderr); }

// The settings file's lines rejected with the settings file alone, by "section\0key".
std::set<std::string> rejectedAlone;
std::string lineName(const char* section, const char* key) {
    return std::string(section) + '\0' + key;
}

bool inPass(const char* file) { return !file || passFile == file; }
bool inProfilePass() { return passFile != checkPath; }

// The name of the file a line is in, before its section: left out for the settings
// file's own lines while it is checked alone.
std::string fileLabel(const char* file) {
    if (!file || (std::strcmp(file, checkPath) == 0 && !inProfilePass())) return "";
    const char* name = file;
    for (const char* p = file; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return std::string(name) + " ";
}

// A line of the settings file that only the profile of the pass makes wrong (a condition
// it refers to replaced) is reported there too; a rule's verdict comes from the first pass.
void onRejected(const char* file, const char* section, const char* key, const char* errorText) {
    const bool rule = std::strcmp(section, PROFILES_SECTION) == 0;
    if (!inPass(file) && (rule || !inProfilePass() || rejectedAlone.count(lineName(section, key))))
        return;
    if (!inProfilePass()) rejectedAlone.insert(lineName(section, key));
    ++rejectedLines;
    std::printf("%s[%s] %s:%s\n", fileLabel(file).c_str(), section, key, errorText);
}

// What a read gives back after `value` is written. The loader protects a quoted line
// with a pair of its own, so comparing the raw value with the present one would report
// every such line as a change.
const char* readBackText(const char* value, char* out, size_t size) {
    ReadBack read = readBack(value, std::strlen(value));
    size_t length = read.valueEnd() - read.valueBegin();
    size_t n = length < size - 1 ? length : size - 1;
    std::memcpy(out, value + read.valueBegin(), n);
    out[n] = '\0';
    return out;
}

// Only what would really change the file: the loader deletes every report key that does
// not apply and rewrites the ones that do, most of them no-ops.
void onDryRunChange(const char* file, const char* section, const char* key, const char* value) {
    static char present[DRY_RUN_READ_SIZE];
    static char after[DRY_RUN_READ_SIZE];
    if (!inPass(file)) return;
    platform::profileGet(file, section, key, present, sizeof present);
    if (value ? std::strcmp(present, readBackText(value, after, sizeof after)) == 0
              : present[0] == '\0')
        return;
    const std::string label = fileLabel(file);
    if (value)
        std::printf("would write %s[%s] %s=%s\n", label.c_str(), section, key, value);
    else
        std::printf("would delete %s[%s] %s\n", label.c_str(), section, key);
}

void printHex(const char* name, const uint8_t* bytes, int n) {
    std::printf(" %s=", name);
    for (int i = 0; i < n; ++i) std::printf("%02x", bytes[i]);
}

void printConditions(const char* name, const uint8_t* list) {
    std::printf(" %s=", name);
    for (int i = 0; i < 8; ++i) std::printf(i ? ",%u" : "%u", list[i]);
}

// The literal as a value: a number with %g, a text quoted with anything that would break
// the blank-separated line escaped, "-" when the record has none.
void printLiteral(const ItemRecord& r) {
    std::printf(" literal=");
    if (r.flags & FLAG_HAS_NUMBER) {
        float value;
        std::memcpy(&value, r.literal, sizeof value);
        std::printf("%g", value);
    } else if (r.flags & (FLAG_HAS_STRING | FLAG_TEXT_MATCH)) {
        std::putchar('"');
        for (int i = 0; i < 8 && r.literal[i]; ++i) {
            unsigned char c = r.literal[i];
            if (c <= ' ' || c >= 127 || c == '"' || c == '\\')
                std::printf("\\x%02x", c);
            else
                std::putchar(c);
        }
        std::putchar('"');
    } else {
        std::putchar('-');
    }
    printHex("literalBytes", r.literal, 8);
}

void dumpRecord(const ItemRecord& r) {
    std::printf("deviceType=%d unit=%u kind=%u index=%u flags=0x%x offset=0x%x displayFormat=%d "
                "compareOp=%u valueType=%u",
                r.deviceType, r.unit, r.kind, r.index, r.flags, r.offset, r.displayFormat,
                r.compareOp, r.valueType);
    printConditions("requiredConditions", r.requiredConditions);
    printConditions("excludedConditions", r.excludedConditions);
    std::printf(" mask=0x%x multiplier=%g divisor=%g", r.mask, r.multiplier, r.divisor);
    printLiteral(r);
    std::printf(" typeOffset=0x%x minVoltage=%u timerPeriodMs=%u\n", r.typeOffset, r.minVoltage,
                r.timerPeriodMs);
}

// How many exchanges with the simulator a scan of this table takes: every item is read
// on every scan, in as many as its reads need.
void printScanPlan() {
    if (itemCount() <= 0) return;
    if (!adoptItemTable()) {
        std::printf("scan: no memory for the scan's plan\n");
        return;
    }
    const ScanPlan plan = scanPlan();
    std::printf("scan: every item read in %d exchange%s a scan (%u bytes of requests)",
                static_cast<int>(plan.exchanges), plan.exchanges == 1 ? "" : "s",
                static_cast<unsigned>(plan.bytes));
    if (plan.indirectItems)
        std::printf(", and %d more for the %d item%s read through an offset",
                    static_cast<int>(plan.indirectExchanges), static_cast<int>(plan.indirectItems),
                    plan.indirectItems == 1 ? "" : "s");
    std::printf("\n");
}

// What the command line asks for.
struct Options {
    const char* units = nullptr;
    const char* file = nullptr;
    bool dryRun = false;
    bool dump = false;
    int lint = -1;  // -1: as --dry-run says
    bool strict = false;
    const char* aircraft = nullptr;
    const char* aircraftPath = nullptr;
};

// False for a command line that cannot run; `info` set when --help or --version was answered.
bool parseOptions(int argc, char** argv, Options& o, bool& info) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (tools::answerInfoOption(a, "norvalume-check", USAGE)) {
            info = true;
            return true;
        }
        if (std::strcmp(a, "--units") == 0 && i + 1 < argc) {
            o.units = argv[++i];
        } else if (std::strncmp(a, "--units=", 8) == 0) {
            o.units = a + 8;
        } else if (std::strcmp(a, "--dry-run") == 0) {
            o.dryRun = true;
        } else if (std::strcmp(a, "--dump") == 0) {
            o.dump = true;
        } else if (std::strcmp(a, "--lint") == 0 || std::strcmp(a, "--no-lint") == 0) {
            o.lint = a[2] == 'l' ? 1 : 0;
        } else if (std::strcmp(a, "--strict") == 0) {
            o.strict = true;
        } else if (std::strcmp(a, "--aircraft-path") == 0 && i + 1 < argc) {
            o.aircraftPath = argv[++i];
        } else if (std::strncmp(a, "--aircraft-path=", 16) == 0) {
            o.aircraftPath = a + 16;
        } else if (std::strcmp(a, "--aircraft") == 0 && i + 1 < argc) {
            o.aircraft = argv[++i];
        } else if (std::strncmp(a, "--aircraft=", 11) == 0) {
            o.aircraft = a + 11;
        } else if ((a[0] == '-' && a[1] != '\0') || o.file) {
            return false;
        } else {
            o.file = a;
        }
    }
    // A path alone picks nothing: an aircraft without a title never switches.
    return o.file != nullptr && (!o.aircraftPath || o.aircraft);
}

// What one pass found, summed over the passes.
struct Totals {
    size_t warnings = 0;
    bool writeFailed = false;
};

void printItems(bool lint, int rejected, size_t warnings, bool dump) {
    int perKind[4] = {0, 0, 0, 0};
    for (int32_t i = 0; i < itemCount(); ++i)
        if (itemTable()[i].kind < 4) ++perKind[itemTable()[i].kind];
    std::printf("items: %d conditions, %d brightness, %d lights, %d displays; %d lines rejected",
                perKind[KIND_CONDITION], perKind[KIND_BRIGHTNESS], perKind[KIND_LIGHT],
                perKind[KIND_DISPLAY], rejected);
    if (lint) std::printf("; %zu warning%s", warnings, warnings == 1 ? "" : "s");
    std::printf("\n");
    printScanPlan();
    if (dump)
        for (int32_t i = 0; i < itemCount(); ++i) dumpRecord(itemTable()[i]);
}

// One load: the settings file with the profile of the rule at `rule` (PROFILE_NONE for
// none), the lines of `file` reported, linted and given their verdicts.
void checkPass(const Options& o, bool lint, int32_t rule, const std::string& file,
               const uint16_t* units, Totals& totals) {
    passFile = file;
    const int rejectedBefore = rejectedLines;
    LoadObserver observer{onRejected, o.dryRun ? onDryRunChange : nullptr, o.dryRun};
    observer.verdictsOnly = true;
    // The settings file's verdicts are those of the file alone: a line of it that a
    // profile's lines make wrong is reported with that profile, not written.
    observer.onlyFile = passFile.c_str();
    if (lint) {
        check::lintStart(file.c_str(), rule == PROFILE_NONE ? nullptr : checkPath);
        check::lintAttach(observer);
    }
    LoadInputs inputs{checkPath, units, false, false};
    inputs.profileRule = rule;
    loadConfigurationOnce(inputs, &observer);
    totals.writeFailed = totals.writeFailed || (!o.dryRun && lastLoadWriteFailed());
    size_t warnings = 0;
    if (lint) {
        for (const check::Warning& w : check::lintFinish(units)) {
            std::printf("%s\n", check::formatWarning(file.c_str(), w).c_str());
            ++warnings;
        }
    }
    totals.warnings += warnings;
    printItems(lint, rejectedLines - rejectedBefore, warnings, o.dump);
}

// The rules whose profiles the checker takes in turn: each usable rule whose file is
// there, a file named by several rules once. With --aircraft, the one its title picks.
std::vector<int32_t> profilesToCheck(const Options& o) {
    std::vector<int32_t> out;
    const ProfileRule* rules = profileRules();
    if (o.aircraft) {
        const int32_t r = matchingProfileRule(o.aircraft, o.aircraftPath);
        std::printf("aircraft \"%s\"", o.aircraft);
        if (o.aircraftPath) std::printf(" from \"%s\"", o.aircraftPath);
        if (r < 0)
            std::printf(": no rule matches: the settings file alone\n");
        else
            std::printf(": rule %u picks %s%s\n", static_cast<unsigned>(rules[r].number),
                        rules[r].file, profileRuleErrorText(rules[r].error));
        if (r >= 0 && rules[r].error == RULE_OK) out.push_back(r);
        return out;
    }
    for (int32_t r = 0; r < profileRuleCount(); ++r) {
        bool seen = rules[r].error != RULE_OK;
        for (int32_t earlier : out) seen = seen || std::strcmp(rules[earlier].file, rules[r].file) == 0;
        if (!seen) out.push_back(r);
    }
    return out;
}

void checkProfile(const Options& o, bool lint, int32_t rule, Totals& totals) {
    const ProfileRule rule0 = profileRules()[rule];
    char path[sizeof ActiveProfile::path];
    if (!pathBeside(checkPath, rule0.file, path, sizeof path)) return;
    tools::UnitCounts units;
    std::memcpy(units, unitCounts, sizeof units);
    if (!o.units) {
        tools::UnitCounts own = {};
        tools::unitsFromSections(path, own);
        for (int32_t type = 1; type <= DEVICE_TYPE_COUNT; ++type)
            if (own[type] > units[type]) units[type] = own[type];
    }
    std::printf("profile %s (rule %u):\n", rule0.file, static_cast<unsigned>(rule0.number));
    if (std::memcmp(units, unitCounts, sizeof units) != 0) tools::printUnits(units);
    checkPass(o, lint, rule, path, units, totals);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    bool info = false;
    if (!parseOptions(argc, argv, o, info)) {
        usage();
        return EXIT_CANNOT_RUN;
    }
    if (info) return EXIT_ALL_ACCEPTED;
    // A checker never creates the file it was asked to check.
    std::string file;
    if (!tools::existingFile("norvalume-check", o.file, &file)) return EXIT_CANNOT_RUN;
    checkPath = file.c_str();
    const bool lint = o.strict || (o.lint < 0 ? o.dryRun : o.lint == 1);

    if (o.units) {
        if (!tools::parseUnitsList("norvalume-check", o.units, unitCounts)) return EXIT_CANNOT_RUN;
    } else {
        tools::unitsFromSections(checkPath, unitCounts);
    }
    tools::printUnits(unitCounts);

    Totals totals;
    checkPass(o, lint, PROFILE_NONE, file, unitCounts, totals);
    for (int32_t rule : profilesToCheck(o)) checkProfile(o, lint, rule, totals);

    releaseItemStates();
    freeItemTable();
    if (totals.writeFailed) {
        std::fprintf(stderr, "norvalume-check: %s: the verdicts could not be written into it\n",
                     checkPath);
        return EXIT_CANNOT_RUN;
    }
    if (!tools::standardOutputWritten("norvalume-check")) return EXIT_CANNOT_RUN;
    if (rejectedLines || (o.strict && totals.warnings)) return EXIT_REJECTED;
    return EXIT_ALL_ACCEPTED;
}
