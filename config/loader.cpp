// The configuration loader: walks the settings file in the item table's fixed order,
// hands every line to the line parser, writes verdicts and the [GF Connections] report
// back, and reloads when the file's archive attribute says it was saved again.
#include "config/loader.h"

#include <cstdio>
#include <cstring>

#include "config/aircraft_profiles.h"
#include "config/items.h"
#include "config/line_parser.h"
#include "config/numbers.h"
#include "config/profile_text.h"
#include "devices/models.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t READ_LIMIT = 255;    // a value is parsed as at most 254 characters
constexpr uint32_t WIDE_LIMIT = 16384;  // the larger read that finds a value's true length
constexpr uint32_t VALUE_ROOM = WIDE_LIMIT + 128;  // a wide value plus an error text
constexpr int CONDITION_KEYS = 255;     // keys "0" to "254"
constexpr int LIGHTS_PER_UNIT = 24;
constexpr uint32_t MAX_UNITS = 256;     // unit numbers are 8-bit; more would alias unit 0

const char CONDITIONS_SECTION[] = "Conditions";
const char REPORT_SECTION[] = "GF Connections";
const char SERIAL_KEY[] = "Serial";
const char UNITS_KEY[] = "Units";  // the report's word on serials when there are none
const char SERIALS_NOT_AVAILABLE[] = "serials not available";

// Static because the loader runs on the loop thread only and is never re-entered.
char wideValue[VALUE_ROOM];
char lineValue[LINE_BUFFER_SIZE];
char needsValue[LINE_BUFFER_SIZE];
char longText[VALUE_ROOM];
char quotedText[VALUE_ROOM + 2];

// The Serial= keys of the model being walked, and what they bind.
struct ModelSerials {
    char serials[UNIT_SECTIONS][SECTION_SERIAL_ROOM];
    const char* ofSections[UNIT_SECTIONS];  // nullptr: the section has no Serial= key
    const char* ofUnits[UNIT_SECTIONS];
    UnitBinding binding;
};
ModelSerials modelSerials;
char serialLine[READ_LIMIT + 64];  // a Serial= line with its verdict

// Set when the file changed while the last load was running, so the next tick loads it.
bool changedDuringLoad = false;
// Set when the last load's verdicts and report could not be written into the file.
bool writeFailed = false;

// One pass over every key the configuration is made of. A load pass parses and writes
// back; a verify pass only reads. Both fold what the file holds afterwards into a
// fingerprint, so a verify pass run after a load tells whether someone else saved the
// file while the load ran.
struct Walk {
    bool verify;
    const LoadInputs* in;
    const LoadObserver* observer;
    uint64_t fingerprint;
    // The aircraft profile whose sections and conditions replace the settings file's;
    // nullptr for none.
    const char* profile = nullptr;
};

struct ItemContext {
    int32_t deviceType;
    uint8_t kind;
    uint16_t index;
    uint8_t unit;
    uint16_t minVoltage;
    uint16_t needsFlags;
};

constexpr uint64_t FNV_OFFSET = 1469598103934665603ull;
constexpr uint64_t FNV_PRIME = 1099511628211ull;

void foldBytes(Walk& walk, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        walk.fingerprint ^= static_cast<unsigned char>(text[i]);
        walk.fingerprint *= FNV_PRIME;
    }
    // A separator that no value holds keeps "ab"+"c" apart from "a"+"bc".
    walk.fingerprint ^= 0x100;
    walk.fingerprint *= FNV_PRIME;
}

// Folds a key and its value as the next read will see it: trimmed at both ends. Quotes
// stay: a value read has lost its pair already, and putLine protects a written one. Which
// file it came from counts too: a profile that gains a section changes the load.
void foldKey(Walk& walk, const char* file, const char* section, const char* key,
             const char* value) {
    ReadBack read = readBack(value, std::strlen(value));
    foldBytes(walk, file == walk.in->path ? "m" : "p", 1);
    foldBytes(walk, section, std::strlen(section));
    foldBytes(walk, key, std::strlen(key));
    foldBytes(walk, value + read.begin, read.end - read.begin);
}

void tellKey(const Walk& walk, const char* file, KeyRead read) {
    read.file = file;
    if (walk.observer && walk.observer->keyRead) walk.observer->keyRead(read);
}

const LineObserver* lineNotesOf(const Walk& walk) {
    return walk.observer ? walk.observer->lineNotes : nullptr;
}

bool putKey(const Walk& walk, const char* file, const char* section, const char* key,
            const char* value) {
    if (walk.observer && walk.observer->fileChange)
        walk.observer->fileChange(file, section, key, value);
    if (walk.observer && walk.observer->dryRun) return false;
    if (walk.observer && walk.observer->onlyFile && std::strcmp(walk.observer->onlyFile, file) != 0)
        return false;
    return platform::profilePut(file, section, key, value);
}

// Writes a line so that the next read gives it back unchanged. A value that begins and
// ends with the same quote character loses that pair when read, which would silently
// change the user's line (and its meaning) on every load; one more pair protects it.
bool putLine(const Walk& walk, const char* file, const char* section, const char* key,
             const char* text) {
    size_t length = std::strlen(text);
    ReadBack read = readBack(text, length);
    if (read.quoted && length + 3 <= sizeof quotedText) {
        char first = text[read.begin];
        quotedText[0] = first;
        std::memcpy(quotedText + 1, text, length);
        quotedText[length + 1] = first;
        quotedText[length + 2] = '\0';
        return putKey(walk, file, section, key, quotedText);
    }
    return putKey(walk, file, section, key, text);
}

// The error text the parser appended to a rejected line. The parser cuts any older
// annotation before it parses, so the first "<<<" left in the line is the new one.
const char* appendedError(const char* line) {
    const char* mark = std::strstr(line, "<<<");
    if (!mark) return "";
    return mark > line && mark[-1] == ' ' ? mark - 1 : mark;
}

// Drops the blanks that stood before an old annotation, which the parser leaves in front
// of the new one: otherwise a line that stays wrong gains one blank at every load.
void closeUpError(char* line) {
    char* error = const_cast<char*>(appendedError(line));
    if (!*error) return;
    char* p = error;
    while (p > line && (p[-1] == ' ' || p[-1] == '\t')) --p;
    if (p != error) std::memmove(p, error, std::strlen(error) + 1);
}

// The characters of `value` (`length` of them) before an old annotation, blanks in
// front of it left out.
size_t withoutAnnotation(const char* value, size_t length) {
    const char* mark = std::strstr(value, "<<<");
    size_t keep = mark ? static_cast<size_t>(mark - value) : length;
    while (keep > 0 && (value[keep - 1] == ' ' || value[keep - 1] == '\t')) --keep;
    return keep;
}

// The whole value of `length` in wideValue with an old annotation removed and `verdict`
// ("" for none) appended, in longText: nothing of the user's text is ever cut off.
// nullptr when the file is to stay as it is: it filled the wide read too, so its true
// end is unknown and it cannot be rewritten safely.
const char* withVerdict(uint32_t length, const char* verdict) {
    if (length >= WIDE_LIMIT - 1) return nullptr;
    const size_t keep = withoutAnnotation(wideValue, length);
    std::memcpy(longText, wideValue, keep);
    size_t add = std::strlen(verdict);
    if (add > sizeof longText - keep - 1) add = sizeof longText - keep - 1;
    std::memcpy(longText + keep, verdict, add);
    longText[keep + add] = '\0';
    return longText;
}

// What to write back for a value longer than the read limit: the parser saw only its
// first 254 characters, but the rest is still the user's text. nullptr when the file is
// to stay as it is.
const char* longLineReplacement(uint32_t length, ParseResult result) {
    if (result != PARSE_REJECTED && !std::strstr(wideValue, "<<<")) return nullptr;
    return withVerdict(length, result == PARSE_REJECTED ? appendedError(lineValue) : "");
}

// How much of the value of `length` in wideValue the parser sees: what the read limit
// leaves, at most READ_LIMIT - 1 characters. When the limit ends inside the "<<<" of an
// old annotation, the parser would take the stray "<" for a comparison and reject a good
// line: its view then ends before the mark.
uint32_t parsedLength(uint32_t length) {
    uint32_t cut = length < READ_LIMIT - 1 ? length : READ_LIMIT - 1;
    if (length > cut) {
        const char* mark = std::strstr(wideValue, "<<<");
        uint32_t at = mark ? static_cast<uint32_t>(mark - wideValue) : length;
        if (at < cut && at + 3 > cut) cut = at;
    }
    return cut;
}

// Reads a value into wideValue, as wide as the widest read goes; its length, 0 for none.
uint32_t readWide(const char* file, const char* section, const char* key) {
    uint32_t length = platform::profileGet(file, section, key, wideValue, WIDE_LIMIT);
    if (length > WIDE_LIMIT - 1) length = WIDE_LIMIT - 1;
    wideValue[length] = '\0';
    return length;
}

// Reads one item key and, in a load pass, parses it and applies the write-back rule.
// Returns whether the key is present (an empty value counts as missing).
bool visitItem(Walk& walk, const char* file, const char* section, const char* key,
               const ItemContext& ctx) {
    uint32_t length = readWide(file, section, key);
    if (length == 0) {
        tellKey(walk, file, KeyRead{section, key, false, false, -1, 0, 0});
        return false;
    }
    if (walk.verify) {
        foldKey(walk, file, section, key, wideValue);
        return true;
    }

    uint32_t cut = parsedLength(length);
    std::memcpy(lineValue, wideValue, cut);
    lineValue[cut] = '\0';
    const int32_t position = itemCount();
    ParseResult result =
        parseItemLine(position, ctx.deviceType, ctx.kind, ctx.index, ctx.unit, lineValue,
                      ctx.minVoltage, ctx.needsFlags, lineNotesOf(walk));
    if (result != PARSE_REJECTED) acceptItem();
    if (result == PARSE_REJECTED) closeUpError(lineValue);
    // The blanks that stood before a cut-off annotation would be trimmed by the next read
    // anyway; leaving them out keeps the file as tidy as the user wrote it.
    if (result == PARSE_STORED_CUT) {
        size_t end = std::strlen(lineValue);
        while (end > 0 && (lineValue[end - 1] == ' ' || lineValue[end - 1] == '\t')) --end;
        lineValue[end] = '\0';
    }
    if (result == PARSE_REJECTED && walk.observer && walk.observer->lineRejected)
        walk.observer->lineRejected(file, section, key, appendedError(lineValue));
    const bool rejected = result == PARSE_REJECTED;
    tellKey(walk, file,
            KeyRead{section, key, true, rejected, rejected ? -1 : position, length, cut});
    if (result != PARSE_REJECTED && walk.observer && walk.observer->lineAccepted)
        walk.observer->lineAccepted(file, section, key, lineValue, itemCount() - 1);

    const char* replacement = nullptr;
    if (length <= READ_LIMIT - 1) {
        if (result != PARSE_STORED) replacement = lineValue;
    } else {
        replacement = longLineReplacement(length, result);
    }
    // A line that already reads as its replacement (a verdict still true) is not written.
    if (replacement && std::strcmp(replacement, wideValue) == 0) replacement = nullptr;
    bool written = replacement && putLine(walk, file, section, key, replacement);
    foldKey(walk, file, section, key, written ? replacement : wideValue);
    return true;
}

// A base key and its continuations: the run goes on past a missing base key but ends
// at the first missing continuation.
void visitRun(Walk& walk, const char* file, const char* section, char letter, int number,
              ItemContext ctx) {
    char key[32];
    ctx.index = static_cast<uint16_t>(number);
    std::snprintf(key, sizeof key, "%c%d", letter, number);
    visitItem(walk, file, section, key, ctx);
    for (int m = 1;; ++m) {
        std::snprintf(key, sizeof key, "%c%d.%d", letter, number, m);
        if (!visitItem(walk, file, section, key, ctx)) break;
    }
}

// The report's GFDev line: how the library was bound, or why it could not be.
const char* libraryReportText(LibraryFailure failure, bool callbackRefused) {
    switch (failure) {
        case LIBRARY_BOUND:
            return callbackRefused ? "DLL found, but no Connect callback!" : "DLL found";
        case LIBRARY_NOT_FOUND: return "DLL not found";
        case LIBRARY_OTHER_BITNESS: return "DLL is for the other bitness (32/64-bit)";
        case LIBRARY_LACKS_ENTRY_POINT: return "DLL lacks an entry point";
        case LIBRARY_INIT_FAILED: return "initialisation failed";
    }
    return "initialisation failed";
}

// A report line that already says the same is left alone, so a load that changes nothing
// writes nothing: on Windows every write marks the file and rewrites it whole.
bool putReport(const Walk& walk, const char* key, const char* value) {
    char current[READ_LIMIT];
    uint32_t n = platform::profileGet(walk.in->path, REPORT_SECTION, key, current, sizeof current);
    if (value ? std::strcmp(current, value) == 0 : n == 0) return true;
    return putKey(walk, walk.in->path, REPORT_SECTION, key, value);
}

// What the report says of the interface module; nullptr when there is nothing to say.
// Both complaints are about the last link attempt, which fails one way only.
const char* interfaceReportText(const LoadInputs& in) {
    if (in.versionTooOld) return "incorrect version, needs >= 3.465";
    if (in.accessDenied)
        return "cannot reach the interface module: it runs as administrator and Norvalume "
               "does not; start both the same way";
    return nullptr;
}

// The aircraft and the profile in force, while [Profiles] has a rule to use.
void writeProfileReport(const Walk& walk) {
    const bool rules = activeProfile().state != PROFILE_NO_RULES;
    char title[READ_LIMIT];
    reportableText(walk.in->aircraftTitle ? walk.in->aircraftTitle : "", title, sizeof title);
    putReport(walk, "Aircraft", rules && title[0] ? title : nullptr);
    char profile[READ_LIMIT];
    describeActiveProfile(profile, sizeof profile);
    putReport(walk, "Profile", rules ? profile : nullptr);
}

void writeReportHead(const Walk& walk) {
    putReport(walk, "GFDev", libraryReportText(LIBRARY_BOUND, walk.in->callbackRefused));
    putReport(walk, "Ombrex", interfaceReportText(*walk.in));
    writeProfileReport(walk);
    putReport(walk, UNITS_KEY, walk.in->identity ? nullptr : SERIALS_NOT_AVAILABLE);
}

// A model's count in the report; absent for none.
void writeUnitCount(const Walk& walk, int32_t type, uint32_t units) {
    char count[16];
    std::snprintf(count, sizeof count, "%u", static_cast<unsigned>(units));
    putReport(walk, deviceTypeName(type), units ? count : nullptr);
}

// A condition of the profile in force replaces the settings file's of that number.
const char* conditionFile(const Walk& walk, const char* key) {
    char probe[2];
    if (walk.profile && platform::profileGet(walk.profile, CONDITIONS_SECTION, key, probe, sizeof probe))
        return walk.profile;
    return walk.in->path;
}

// A section of the profile in force replaces the settings file's of that name, whole.
const char* sectionFile(const Walk& walk, const char* section) {
    if (walk.profile && platform::profileHasSection(walk.profile, section)) return walk.profile;
    return walk.in->path;
}

void walkConditions(Walk& walk) {
    char key[16];
    for (int n = 0; n < CONDITION_KEYS; ++n) {
        std::snprintf(key, sizeof key, "%d", n);
        ItemContext ctx{DEV_CONDITION, KIND_CONDITION, static_cast<uint16_t>(n + 1), 0, 0, 0};
        visitItem(walk, conditionFile(walk, key), CONDITIONS_SECTION, key, ctx);
    }
}

bool writesReport(const Walk& walk) {
    return !walk.verify && !(walk.observer && walk.observer->verdictsOnly);
}

// The Serial= keys of a model's first `sections` sections.
void readSerials(Walk& walk, int32_t type, int sections) {
    ModelSerials& m = modelSerials;
    char section[48];
    for (int n = 0; n < UNIT_SECTIONS; ++n) {
        m.ofSections[n] = nullptr;
        if (n >= sections) continue;
        unitSectionName(section, sizeof section, type, n);
        const char* file = sectionFile(walk, section);
        if (!platform::profileGet(file, section, SERIAL_KEY, needsValue, READ_LIMIT)) {
            tellKey(walk, file, KeyRead{section, SERIAL_KEY, false, false, -1, 0, 0});
            continue;
        }
        serialOfValue(needsValue, m.serials[n], sizeof m.serials[n]);
        m.ofSections[n] = m.serials[n];
    }
}

// What a Serial= line should read after this load: the old verdict gone, and the new one
// for a serial an earlier section named. Written back when it differs; returns what the
// file holds then. A line the read limit cut is left alone: its end is unknown.
const char* settleSerialLine(const Walk& walk, const char* file, const char* section,
                             int32_t type, int n, uint32_t length) {
    const UnitBinding& b = modelSerials.binding;
    const bool taken = b.fate[n] == SECTION_SERIAL_TAKEN;
    const size_t keep = withoutAnnotation(needsValue, length);
    std::memcpy(serialLine, needsValue, keep);
    serialLine[keep] = '\0';
    char verdict[64] = "";
    if (taken)
        std::snprintf(verdict, sizeof verdict, " <<< serial already claimed by [%s.%d]",
                      deviceTypeName(type), b.first[n]);
    std::strcat(serialLine, verdict);
    if (taken && walk.observer && walk.observer->lineRejected)
        walk.observer->lineRejected(file, section, SERIAL_KEY, verdict);
    if (length >= READ_LIMIT - 1 || std::strcmp(serialLine, needsValue) == 0) return needsValue;
    return putLine(walk, file, section, SERIAL_KEY, serialLine) ? serialLine : needsValue;
}

// Each Serial= line once more, now that the binding is known: its verdict written back
// (a load), its value folded into the fingerprint (a load and a verify alike).
void settleSerials(Walk& walk, int32_t type, int sections) {
    char section[48];
    for (int n = 0; n < sections; ++n) {
        if (!modelSerials.ofSections[n]) continue;
        unitSectionName(section, sizeof section, type, n);
        const char* file = sectionFile(walk, section);
        uint32_t length = platform::profileGet(file, section, SERIAL_KEY, needsValue, READ_LIMIT);
        const bool taken = modelSerials.binding.fate[n] == SECTION_SERIAL_TAKEN;
        const char* held =
            walk.verify ? needsValue : settleSerialLine(walk, file, section, type, n, length);
        foldKey(walk, file, section, SERIAL_KEY, held);
        tellKey(walk, file, KeyRead{section, SERIAL_KEY, true, taken, -1, length, length});
    }
}

// One key per section of a model in the report: the unit it drives, or the serial it
// names that no connected unit has; no key for the others, nor without serials.
void reportUnits(const Walk& walk, int32_t type) {
    const UnitBinding& b = modelSerials.binding;
    char key[48];
    char value[sizeof(UnitIdentity) + 32];
    for (int n = 0; n < UNIT_SECTIONS; ++n) {
        unitSectionName(key, sizeof key, type, n);
        const char* text = nullptr;
        const UnitIdentity* id =
            walk.in->identity && b.fate[n] == SECTION_BOUND ? walk.in->identity(type, b.unit[n])
                                                            : nullptr;
        if (id) {
            describeUnit(*id, value, sizeof value);
            text = value;
        } else if (walk.in->identity && b.fate[n] == SECTION_SERIAL_ABSENT) {
            std::snprintf(value, sizeof value, "serial %s not connected", modelSerials.ofSections[n]);
            text = value;
        }
        putReport(walk, key, text);
    }
}

// Which section drives which unit of a model, from the Serial= keys and who the units
// are; the report's keys of the model's units with it.
const UnitBinding& bindModel(Walk& walk, int32_t type, uint32_t units) {
    ModelSerials& m = modelSerials;
    const bool counted = findDeviceType(type)->count != nullptr;
    const bool known = counted && unitSerials(walk.in->identity, type, units, m.ofUnits);
    const int sections = counted ? sectionsLookedAt(units, known) : 0;
    readSerials(walk, type, sections);
    bindUnitSections(units, known ? m.ofUnits : nullptr, m.ofSections, &m.binding);
    settleSerials(walk, type, sections);
    if (writesReport(walk) && counted) reportUnits(walk, type);
    return m.binding;
}

// One section, for the unit it drives: its Needs, brightness, lights and displays.
void walkSection(Walk& walk, int32_t type, int number, uint8_t unit) {
    char section[48];
    unitSectionName(section, sizeof section, type, number);
    // A section of the profile in force replaces the settings file's of that name, whole.
    const char* file = sectionFile(walk, section);
    ItemContext ctx{type, KIND_BRIGHTNESS, 0, unit, 0, 0};
    uint32_t n = platform::profileGet(file, section, "Needs", needsValue, READ_LIMIT);
    if (n >= sizeof needsValue) n = sizeof needsValue - 1;
    needsValue[n] = '\0';
    if (n) foldKey(walk, file, section, "Needs", needsValue);
    parseNeeds(needsValue, &ctx.needsFlags, &ctx.minVoltage, lineNotesOf(walk));
    tellKey(walk, file, KeyRead{section, "Needs", n != 0, false, -1, n, n});

    visitItem(walk, file, section, "B", ctx);
    ctx.kind = KIND_LIGHT;
    for (int light = 0; light < LIGHTS_PER_UNIT; ++light)
        visitRun(walk, file, section, 'L', light, ctx);
    ctx.kind = KIND_DISPLAY;
    for (int display = 0; display < deviceDisplayCount(type); ++display)
        visitRun(walk, file, section, 'D', display, ctx);
}

void walkDevices(Walk& walk) {
    for (int32_t type = 1; type <= DEVICE_TYPE_COUNT; ++type) {
        uint32_t units = walk.in->unitCounts ? walk.in->unitCounts[type] : 0;
        if (writesReport(walk)) writeUnitCount(walk, type, units);
        if (units > MAX_UNITS) units = MAX_UNITS;
        const UnitBinding& binding = bindModel(walk, type, units);
        for (int n = 0; n < UNIT_SECTIONS; ++n)
            if (binding.fate[n] == SECTION_BOUND) walkSection(walk, type, n, binding.unit[n]);
    }
}

// --- [Profiles]

// What the load finds of a usable rule's file: refused by name, missing, or unreadable.
void checkRuleFile(const char* settingsPath, ProfileRule* rule) {
    char path[sizeof ActiveProfile::path];
    if (!pathBeside(settingsPath, rule->file, path, sizeof path)) {
        rule->error = RULE_BAD_FILE_NAME;
        return;
    }
    if (platform::fileReadable(path)) return;
    const bool there = platform::fileAttributes(path) != platform::FILE_ATTR_INVALID;
    rule->error = there ? RULE_FILE_UNREADABLE : RULE_FILE_MISSING;
}

// The rules of [Profiles] in key order, parsed and checked; a verify pass only folds
// them, in the order the load pass folds them once settled.
void readRules(Walk& walk) {
    if (!walk.verify) resetProfileRules();
    if (!platform::profileHasSection(walk.in->path, PROFILES_SECTION)) return;
    char key[16];
    for (int n = 0; n < PROFILE_RULE_KEYS; ++n) {
        std::snprintf(key, sizeof key, "%d", n);
        const uint32_t length = readWide(walk.in->path, PROFILES_SECTION, key);
        if (!length) tellKey(walk, walk.in->path, KeyRead{PROFILES_SECTION, key, false, false, -1, 0, 0});
        if (!length) continue;
        if (walk.verify) {
            foldKey(walk, walk.in->path, PROFILES_SECTION, key, wideValue);
            continue;
        }
        ProfileRule rule;
        parseProfileRule(wideValue, withoutAnnotation(wideValue, length), static_cast<uint8_t>(n),
                         walk.in->path, &rule);
        if (!ruleRefused(rule.error)) checkRuleFile(walk.in->path, &rule);
        addProfileRule(rule);
    }
}

// The rule the aircraft picks (or the tool names), and what its file was found to be.
ActiveProfile chooseProfile(const LoadInputs& in) {
    ActiveProfile a{PROFILE_NO_RULES, -1, ""};
    const int32_t count = profileRuleCount();
    bool usable = false;
    for (int32_t r = 0; r < count; ++r) usable = usable || !ruleRefused(profileRules()[r].error);
    if (!usable) return a;
    const bool titled = in.aircraftTitle && in.aircraftTitle[0];
    a.state = in.profileRule == PROFILE_BY_AIRCRAFT && !titled ? PROFILE_NO_TITLE : PROFILE_NO_MATCH;
    if (in.profileRule == PROFILE_BY_AIRCRAFT)
        a.rule = matchingProfileRule(in.aircraftTitle, in.aircraftPath);
    else if (in.profileRule >= 0 && in.profileRule < count &&
             !ruleRefused(profileRules()[in.profileRule].error))
        a.rule = in.profileRule;
    if (a.rule < 0) return a;
    const ProfileRule& rule = profileRules()[a.rule];
    pathBeside(in.path, rule.file, a.path, sizeof a.path);
    a.state = rule.error == RULE_FILE_MISSING      ? PROFILE_MISSING
              : rule.error == RULE_FILE_UNREADABLE ? PROFILE_UNREADABLE
                                                   : PROFILE_IN_FORCE;
    return a;
}

// Each rule's verdict into its line, by the rules every other line follows: a line
// already saying it is not written again.
void settleRules(Walk& walk) {
    char key[16];
    const char* path = walk.in->path;
    for (int32_t r = 0; r < profileRuleCount(); ++r) {
        const ProfileRule& rule = profileRules()[r];
        std::snprintf(key, sizeof key, "%u", static_cast<unsigned>(rule.number));
        const uint32_t length = readWide(path, PROFILES_SECTION, key);
        const char* verdict = profileRuleErrorText(rule.error);
        if (*verdict && walk.observer && walk.observer->lineRejected)
            walk.observer->lineRejected(path, PROFILES_SECTION, key, verdict);
        tellKey(walk, path, KeyRead{PROFILES_SECTION, key, true, ruleRefused(rule.error), -1,
                                    length, length});
        const char* replacement = withVerdict(length, verdict);
        if (replacement && std::strcmp(replacement, wideValue) == 0) replacement = nullptr;
        const bool written = replacement && putLine(walk, path, PROFILES_SECTION, key, replacement);
        foldKey(walk, path, PROFILES_SECTION, key, written ? replacement : wideValue);
    }
}

// [Profiles] read, the profile for the aircraft chosen and its batch begun (a verify pass
// takes the load's choice), the verdicts written back. Returns the outcome of a profile
// that could not be read: its batch ends at once, and it is read again once settled, as
// the settings file itself would be.
platform::ProfileOutcome walkProfiles(Walk& walk) {
    readRules(walk);
    platform::ProfileOutcome unread = platform::PROFILE_NOTHING_WRITTEN;
    if (!walk.verify) {
        ActiveProfile a = chooseProfile(*walk.in);
        if (a.state == PROFILE_IN_FORCE && !platform::profileBegin(a.path)) {
            unread = platform::profileEnd(a.path);
            a.state = PROFILE_UNREADABLE;
            setProfileRuleError(a.rule, RULE_FILE_UNREADABLE);
        }
        setActiveProfile(a);
        settleRules(walk);
    }
    const ActiveProfile& a = activeProfile();
    foldBytes(walk, a.path, std::strlen(a.path));
    if (a.state != PROFILE_IN_FORCE) return unread;
    walk.profile = a.path;
    if (walk.verify) platform::profileBegin(a.path);
    return unread;
}

// Of the outcomes of two batches, what the load must act on: a save by someone else
// first, then a failed write.
platform::ProfileOutcome combined(platform::ProfileOutcome a, platform::ProfileOutcome b) {
    for (platform::ProfileOutcome o : {platform::PROFILE_FILE_CHANGED,
                                       platform::PROFILE_WRITE_FAILED, platform::PROFILE_WRITTEN})
        if (a == o || b == o) return o;
    return platform::PROFILE_NOTHING_WRITTEN;
}

// One walk inside one batch of settings-file calls per file: each file is read once for
// it, and its writes reach the file only if nobody saved it meanwhile.
platform::ProfileOutcome walkFiles(Walk& walk) {
    platform::profileBegin(walk.in->path);
    const platform::ProfileOutcome unread = walkProfiles(walk);
    if (writesReport(walk)) writeReportHead(walk);
    walkConditions(walk);
    walkDevices(walk);
    const platform::ProfileOutcome profile =
        walk.profile ? platform::profileEnd(walk.profile) : unread;
    return combined(platform::profileEnd(walk.in->path), profile);
}

// The body of a load, from the table reset to the attribute clear. Returns true when the
// file was saved by someone else while it ran: then none of its verdicts were written.
bool runLoad(const LoadInputs& in, const LoadObserver* observer) {
    Walk walk{false, &in, observer, FNV_OFFSET};
    resetItemTable();
    platform::ProfileOutcome outcome = walkFiles(walk);
    writeFailed = outcome == platform::PROFILE_WRITE_FAILED;
    if (observer && observer->dryRun) return false;
    if (outcome == platform::PROFILE_FILE_CHANGED) return true;
    // The mark tells the running program that the file was saved: a tool that cleared it
    // would hide the user's save from the program.
    if (observer && observer->verdictsOnly) return false;

    // Clearing the marker also hides an edit saved during the walk, so the file is read
    // once more afterwards; an edit saved after the clear sets the marker again itself.
    platform::setFileAttributes(in.path, platform::FILE_ATTR_NORMAL);
    if (walk.profile) platform::setFileAttributes(walk.profile, platform::FILE_ATTR_NORMAL);
    // Verdicts that could not be written (the file is as it was read): nothing to compare
    // with, and loading again would not write them either.
    if (outcome == platform::PROFILE_WRITE_FAILED) return false;
    Walk check{true, &in, nullptr, FNV_OFFSET};
    walkFiles(check);
    return check.fingerprint != walk.fingerprint;
}

// minVoltage follows the V as a leading decimal number, read as atoi reads it (blanks
// before it skipped, so "V 24" is 24); clamped to the field instead of wrapping, so
// V70000 does not become 4464 and V-5 does not become 65531. `end` is set after the
// number, or to `text` when there is none.
uint16_t voltageAfter(const char* text, const char** end) {
    const int32_t value = readLeadingInt(text, end);
    return static_cast<uint16_t>(value < 0 ? 0 : value > 65535 ? 65535 : value);
}

bool isGateLetter(char c) {
    c = static_cast<char>(c & ~0x20);
    return c == 'A' || c == 'B' || c == 'E' || c == 'V';
}

// What the observer of a Needs line is told about its words.
struct NeedsNotes {
    LineNotes notes;
    const char* numberEnd;  // where the last V's number ended: "V 24" reads the next word
    bool afterSemicolon;    // the words after a ";" are left to that one note
};

// Tells the word from `word` to `end` when it sets nothing or less than it seems to.
// `voltageEnd` is where its number ended when it is a V word.
void tellNeedsWord(NeedsNotes& n, const char* word, const char* end, const char* voltageEnd) {
    const bool partOfNumber = word < n.numberEnd;
    if (voltageEnd) n.numberEnd = voltageEnd;
    if (n.afterSemicolon || partOfNumber) return;
    LineNoteKind kind;
    const char c = static_cast<char>(*word & ~0x20);
    if (*word == ';') {
        kind = NOTE_NEEDS_SEMICOLON;
        n.afterSemicolon = true;
    } else if (c == 'V') {
        if (voltageEnd > word + 1) return;
        kind = NOTE_NEEDS_NO_VOLTAGE;
    } else if (c == 'A' || c == 'B' || c == 'E') {
        const char* p = word + 1;
        while (p < end && isGateLetter(*p)) ++p;
        if (p != end || end - word < 2) return;
        kind = NOTE_NEEDS_ONE_LETTER;
    } else {
        kind = NOTE_NEEDS_IGNORED;
    }
    noteSpan(n.notes, kind, word, end);
}

}  // namespace

void parseNeeds(const char* value, uint16_t* needsFlags, uint16_t* minVoltage,
                const LineObserver* observer) {
    uint16_t flags = 0;
    uint16_t voltage = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(value);
    NeedsNotes notes{{}, value, false};
    notesStart(notes.notes, observer, value);
    while (*p) {
        while (*p && *p <= 32) ++p;
        if (!*p) break;
        const char* word = reinterpret_cast<const char*>(p);
        const char* voltageEnd = nullptr;
        switch (*p) {
            case 'A': case 'a': flags |= FLAG_NEEDS_A; break;
            case 'B': case 'b': flags |= FLAG_NEEDS_B; break;
            case 'E': case 'e': flags |= FLAG_NEEDS_E; break;
            case 'V': case 'v':
                flags |= FLAG_NEEDS_V;
                voltage = voltageAfter(word + 1, &voltageEnd);
                break;
            default: break;
        }
        while (*p > 32) ++p;
        if (observer && observer->note)
            tellNeedsWord(notes, word, reinterpret_cast<const char*>(p), voltageEnd);
    }
    *needsFlags = flags;
    *minVoltage = voltage;
}

namespace {

bool markedSaved(const char* path) {
    uint32_t attributes = platform::fileAttributes(path);
    // A missing file reports every bit set; it has not been saved, it is gone.
    return attributes != platform::FILE_ATTR_INVALID &&
           (attributes & platform::FILE_ATTR_ARCHIVE) != 0;
}

}  // namespace

bool configurationChanged(const char* path) {
    if (changedDuringLoad || markedSaved(path)) return true;
    // The profile in force, also while it is missing: once it is there, it is loaded.
    const char* profile = activeProfilePath();
    return profile && markedSaved(profile);
}

bool loadConfigurationOnce(const LoadInputs& inputs, const LoadObserver* observer) {
    changedDuringLoad = runLoad(inputs, observer);
    finishItemTable();
    return changedDuringLoad;
}

bool lastLoadWriteFailed() { return writeFailed; }

void resetLoader() {
    changedDuringLoad = false;
    writeFailed = false;
    resetProfileRules();
    setActiveProfile(ActiveProfile{PROFILE_NO_RULES, -1, ""});
}

bool reportLibraryFailure(const char* path, LibraryFailure failure) {
    // What a load with no library would say: no units, and nothing known of the link;
    // counts left over from an earlier start would contradict the GFDev line.
    const LoadInputs inputs{path, nullptr, false, false};
    Walk walk{false, &inputs, nullptr, FNV_OFFSET};
    platform::profileBegin(path);
    putReport(walk, "GFDev", libraryReportText(failure, false));
    putReport(walk, "Ombrex", nullptr);
    putReport(walk, UNITS_KEY, nullptr);
    for (int32_t type = 1; type <= DEVICE_TYPE_COUNT; ++type) {
        writeUnitCount(walk, type, 0);
        if (findDeviceType(type)->count) reportUnits(walk, type);
    }
    platform::ProfileOutcome outcome = platform::profileEnd(path);
    return outcome == platform::PROFILE_WRITTEN || outcome == platform::PROFILE_NOTHING_WRITTEN;
}
