// The warnings of norvalume-check (see lint.h). During the load the line grammar's notes
// are kept with the key they belong to; afterwards every line of the file is held
// against what the walk asked for and against the item table.
#include "tools/check/lint.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "config/aircraft_profiles.h"
#include "config/items.h"
#include "devices/models.h"
#include "tools/check/settings_lines.h"
#include "tools/common/common.h"

namespace check {

namespace {

constexpr int LIGHT_KEYS = 24;
constexpr unsigned MAX_UNIT = 255;
const char REPORT_SECTION[] = "gf connections";
const char CONFIG_SECTION[] = "config";
const char CONDITIONS_SECTION[] = "conditions";
const char* const CONFIG_KEYS[] = {"scaninterval", "revisiontime"};

// One key the walk asked for, with what the grammar told about its value.
struct Asked {
    bool found;
    bool rejected;
    int32_t stored;
    uint32_t length;
    uint32_t parsed;
    std::vector<LineNote> notes;
};

std::vector<SettingsLine> fileLines;
// The file linted; the keys the walk asks of another file are not its lines.
std::string lintedFile;
// Linting an aircraft profile: the models the settings file has sections for.
bool profilePass = false;
std::set<std::string> mainModels;
std::map<std::string, Asked> asked;  // by lower-case "section\0key"
std::set<std::string> askedSections;
std::map<int32_t, std::string> storedBy;  // table position -> the key it was made of
std::vector<LineNote> pendingNotes;

std::string nameOf(const std::string& section, const std::string& key) {
    return lowerName(section) + '\0' + lowerName(key);
}

// A run of skipped characters is one note.
void onNote(const LineNote& note) {
    if (note.kind == NOTE_SKIPPED && !pendingNotes.empty()) {
        LineNote& last = pendingNotes.back();
        if (last.kind == NOTE_SKIPPED && last.at + last.length == note.at) {
            last.length += note.length;
            return;
        }
    }
    pendingNotes.push_back(note);
}
const LineObserver noteObserver{onNote};

void onKeyRead(const KeyRead& read) {
    if (read.file && lintedFile != read.file) {
        pendingNotes.clear();
        return;
    }
    const std::string name = nameOf(read.section, read.key);
    Asked& a = asked[name];
    a = Asked{read.found, read.rejected, read.stored, read.length, read.parsed, {}};
    a.notes.swap(pendingNotes);
    pendingNotes.clear();
    askedSections.insert(lowerName(read.section));
    if (read.stored >= 0) storedBy[read.stored] = name;
}

// --- What the grammar's notes say

std::string quoted(const std::string& text) { return "`" + text + "`"; }

std::string span(const SettingsLine& line, int at, int length) {
    if (at < 0 || static_cast<size_t>(at) >= line.value.size()) return "";
    return line.value.substr(static_cast<size_t>(at), static_cast<size_t>(length));
}

const char* kindName(int kind) {
    switch (kind) {
        case KIND_CONDITION: return "a condition";
        case KIND_BRIGHTNESS: return "a brightness";
        case KIND_LIGHT: return "a light";
        default: return "a display";
    }
}

std::string unusedText(const LineNote& n, const std::string& option, int kind) {
    switch (n.reason) {
        case UNUSED_FORMAT: return option + " does nothing: display formats are for displays";
        case UNUSED_FORMAT_TEXT: return option + " does nothing on a text or radio display";
        case UNUSED_DISPLAY_TYPE:
            return option + " is a display type; " + kindName(kind) + " cannot show it";
        case UNUSED_FLASH:
            return option + " does nothing: " + kindName(kind) + " does not flash";
        case UNUSED_TIMER:
            if (kind == KIND_DISPLAY && (option[1] == 'F' || option[1] == 'f'))
                return option + " only flashes here: its time is for lights";
            return option + " does nothing: the timed forms are for lights";
        case UNUSED_NO_OFFSET: return option + " does nothing without an offset (X or IX)";
        case UNUSED_FLOAT_MASK: return option + " does nothing: a mask takes integer types only";
        case UNUSED_TYPE_FROM_SIM:
            return option + " does nothing: the I option reads the type from the simulator";
        case UNUSED_MATCH_OFFSET:
            return option + " does nothing: a text match reads the simulator's message line";
        case UNUSED_COMPARE_CONSTANT:
            return option + " compares nothing without an offset: the number alone decides";
        default: return option + " does nothing here";
    }
}

std::string needsText(const LineNote& n, const std::string& word) {
    switch (n.kind) {
        case NOTE_NEEDS_IGNORED:
            return word + " is ignored: only words starting with A, B, E or V count";
        case NOTE_NEEDS_ONE_LETTER:
            return word + " sets " + word.substr(1, 1) +
                   " only: just the first letter of a word counts (write them apart)";
        case NOTE_NEEDS_NO_VOLTAGE:
            return word + " has no number: it asks for at least 0 V, which always holds";
        default: return word + " starts no comment here: every word after it counts";
    }
}

std::string noteText(const LineNote& n, const SettingsLine& line, int kind) {
    const std::string raw = span(line, n.at, n.length);
    const std::string option = quoted(raw);
    const std::string other = quoted(span(line, n.other, n.otherLength));
    const std::string where = " (column " + std::to_string(line.valueColumn + n.other) + ")";
    switch (n.kind) {
        case NOTE_SKIPPED: return option + " is skipped: no option starts with it";
        case NOTE_OVERRIDDEN:
            if (lowerName(raw) == lowerName(span(line, n.other, n.otherLength)))
                return option + " is given twice" + where;
            return option + " overrides " + other + where;
        case NOTE_BOTH_SPEEDS:
            return option + " and " + other + where + " are both set: it flashes fast";
        case NOTE_BOTH_TIMERS:
            return option + " and " + other + where +
                   " are both set: it stays on when the time is up";
        case NOTE_UNUSED: return unusedText(n, option, kind);
        case NOTE_NUMBER_CUT: {
            std::string read = raw.substr(0, static_cast<size_t>(n.read));
            if (read.find_first_of("0123456789") == std::string::npos) read += "0";
            return option + " reads as " + quoted(read);
        }
        case NOTE_TEXT_CUT: return option + " keeps only its first 8 characters";
        case NOTE_TEXT_UNCLOSED:
            return option + " has no closing quote: the text runs to the end of the line";
        case NOTE_BARE_NUMBER:
            return option + " has no sign, so it compares as " + quoted("!=" + raw) +
                   ": write the sign you mean";
        case NOTE_ZERO_SCALE: return option + " does nothing: 0 stands for no scaling";
        case NOTE_ZERO_MASK: return option + " keeps every bit: 0 stands for no mask";
        case NOTE_HEX_TOO_LONG: return option + " is over 32 bits and reads as FFFFFFFF";
        case NOTE_NEVER_APPLIES:
            return option + " with the same condition required: the line never applies";
        default: return needsText(n, option);
    }
}

// --- Never read: why

// The key with the leading zeros of each of its numbers dropped: what the walk asks for.
std::string plainNumbers(const std::string& key) {
    std::string out;
    for (size_t i = 0; i < key.size(); ++i) {
        const bool startsRun = i == 0 || key[i - 1] < '0' || key[i - 1] > '9';
        const bool moreDigits = i + 1 < key.size() && key[i + 1] >= '0' && key[i + 1] <= '9';
        if (startsRun && key[i] == '0' && moreDigits) {
            while (i + 1 < key.size() && key[i] == '0' && key[i + 1] >= '0' && key[i + 1] <= '9')
                ++i;
        }
        out += key[i];
    }
    return out;
}

// "L3.2" -> letter 'L', base 3, continuation 2; false for anything else.
bool splitItemKey(const std::string& key, char* letter, unsigned* base, unsigned* next) {
    unsigned a = 0, b = 0;
    char c = 0;
    int used = 0;
    if (key.size() < 2 || key[1] < '0' || key[1] > '9' ||
        std::sscanf(key.c_str(), "%c%u%n", &c, &a, &used) != 2)
        return false;
    *next = 0;
    if (static_cast<size_t>(used) < key.size()) {
        int more = 0;
        if (std::sscanf(key.c_str() + used, ".%u%n", &b, &more) != 1 ||
            static_cast<size_t>(used + more) != key.size())
            return false;
        *next = b;
    }
    *letter = static_cast<char>(c & ~0x20);
    *base = a;
    return true;
}

const DeviceType* modelOf(const std::string& section) {
    const size_t dot = section.rfind('.');
    if (dot == std::string::npos) return nullptr;
    return findDeviceTypeByName(section.data(), dot);
}

// The continuation at which the walk stopped a run, and whether the file has it empty.
std::string runEnd(const std::string& section, char letter, unsigned base, bool* empty) {
    for (unsigned m = 1;; ++m) {
        const std::string key = std::string(1, letter) + std::to_string(base) + "." +
                                std::to_string(m);
        auto a = asked.find(nameOf(section, key));
        if (a != asked.end() && a->second.found) continue;
        *empty = false;
        for (const SettingsLine& l : fileLines)
            if (l.kind == LineKind::KEY && l.firstLine == l.number &&
                nameOf(l.section, l.key) == nameOf(section, key))
                *empty = true;
        return key;
    }
}

// The display keys of a model: "D0 to D4", "D0", or "" for none.
std::string displayKeys(const DeviceType& model) {
    if (model.displays <= 1) return model.displays == 1 ? "D0" : "";
    return "D0 to D" + std::to_string(model.displays - 1);
}

std::string panelKeyReason(const SettingsLine& line) {
    const DeviceType* model = modelOf(line.section);
    char letter = 0;
    unsigned base = 0, next = 0;
    const std::string displays = displayKeys(*model);
    const std::string general = "never read: a panel section holds Needs, B" +
                                std::string(displays.empty() ? " and " : ", ") + "L0 to L23" +
                                (displays.empty() ? "" : " and " + displays) +
                                " (and L0.1, ...)";
    if (!splitItemKey(line.key, &letter, &base, &next)) return general;
    const std::string name = model->sectionName;
    if (letter == 'L' && base >= LIGHT_KEYS) return "never read: lights are L0 to L23";
    if (letter == 'D' && base >= static_cast<unsigned>(model->displays)) {
        if (model->displays == 0) return "never read: the " + name + " has no displays";
        return "never read: the " + name +
               (model->displays == 1 ? " has one display, " : " has displays ") +
               displayKeys(*model);
    }
    if ((letter == 'L' || letter == 'D') && next > 0) {
        bool empty = false;
        const std::string end = runEnd(line.section, letter, base, &empty);
        return "never read: the run of " + std::string(1, letter) + std::to_string(base) +
               " lines ends at " + (empty ? end + ", which is empty" : "the missing " + end);
    }
    return general;
}

std::string neverReadReason(const SettingsLine& line) {
    const std::string plain = plainNumbers(line.key);
    if (lowerName(plain) != lowerName(line.key) &&
        asked.count(nameOf(line.section, plain)))
        return "never read: the program reads " + quoted(plain) + ", not " + quoted(line.key);
    if (lowerName(line.section) == CONDITIONS_SECTION) {
        unsigned n = 0;
        char extra = 0;
        if (std::sscanf(line.key.c_str(), "%u%c", &n, &extra) == 1 && n > 254)
            return "never read: conditions are numbered 0 to 254";
        return "never read: the keys of [Conditions] are the numbers 0 to 254";
    }
    if (!modelOf(line.section)) return "never read";
    auto serial = asked.find(nameOf(line.section, "Serial"));
    if (serial != asked.end() && serial->second.rejected)
        return "never read: the section's Serial= names an earlier section's serial";
    return panelKeyReason(line);
}

std::string unreadSectionReason(const std::string& section, const uint16_t* units) {
    const DeviceType* model = modelOf(section);
    if (!model && profilePass)
        return "never read: a profile holds panel sections and [Conditions]; the rest is read "
               "from the settings file only";
    if (!model)
        return "never read: the program reads [Config], [Conditions] and panel sections "
               "such as [GF45.0]";
    const std::string name = model->sectionName;
    const std::string unit = section.substr(section.rfind('.') + 1);
    const bool plain = !unit.empty() && unit.find_first_not_of("0123456789") == std::string::npos &&
                       (unit.size() == 1 || unit[0] != '0') && unit.size() <= 3;
    if (!plain) return "never read: units are numbered 0, 1, 2, ... as in [" + name + ".1]";
    if (!model->count) return "never read: the program never counts " + name + " units";
    const unsigned n = static_cast<unsigned>(std::stoul(unit));
    if (n > MAX_UNIT) return "never read: unit numbers end at 255";
    return "not read: it is read while " + std::to_string(n + 1) + " or more " + name +
           " units are connected; checked with " + std::to_string(units[model->code]);
}

// --- The warnings of one line

enum class SectionUse { REPORT, CONFIG, READ, UNREAD };

SectionUse useOf(const std::string& section) {
    const std::string lower = lowerName(section);
    // A profile's [Config] or report is never read: only the settings file's are.
    if (profilePass) return askedSections.count(lower) ? SectionUse::READ : SectionUse::UNREAD;
    if (lower == REPORT_SECTION) return SectionUse::REPORT;
    if (lower == CONFIG_SECTION) return SectionUse::CONFIG;
    return askedSections.count(lower) ? SectionUse::READ : SectionUse::UNREAD;
}

void add(std::vector<Warning>& out, const SettingsLine& line, int column, bool withKey,
         const std::string& text) {
    out.push_back(Warning{line.number, column, line.section, withKey ? line.key : "", text});
}

void headerWarnings(const SettingsLine& line, const uint16_t* units, std::vector<Warning>& out) {
    const SectionUse use = useOf(line.section);
    if (use == SectionUse::REPORT) return;
    if (line.firstLine != line.number)
        add(out, line, 0, false,
            "never read: only the first [" + line.section + "] (line " +
                std::to_string(line.firstLine) + ") is read");
    else if (use == SectionUse::UNREAD)
        add(out, line, 0, false, unreadSectionReason(line.section, units));
    const DeviceType* model = modelOf(line.section);
    if (profilePass && model && line.firstLine == line.number &&
        !mainModels.count(lowerName(model->sectionName)))
        add(out, line, 0, false,
            "the settings file has no " + std::string(model->sectionName) +
                " section: is the model right? A profile's section replaces the settings "
                "file's of the same name");
}

// A light the model has no bit for: accepted, and sent as off (or not at all).
void lightWarning(const SettingsLine& line, std::vector<Warning>& out) {
    const DeviceType* model = modelOf(line.section);
    char letter = 0;
    unsigned light = 0, next = 0;
    if (!model || !splitItemKey(line.key, &letter, &light, &next) || letter != 'L' ||
        light >= LIGHT_KEYS || (model->indicatorWriteMask >> light) & 1u)
        return;
    add(out, line, 0, true,
        "the " + std::string(model->sectionName) + " has no light L" + std::to_string(light) +
            ": the line is read, but nothing lights");
}

void readKeyWarnings(const SettingsLine& line, const Asked& a, std::vector<Warning>& out) {
    int kind = KIND_DISPLAY;
    if (a.stored >= 0 && a.stored < itemCount()) kind = itemTable()[a.stored].kind;
    if (line.quotePair)
        add(out, line, line.valueColumn - 1, true,
            "the quotes around the whole value are dropped when it is read: the program "
            "reads " + quoted(line.value));
    if (!a.rejected)
        for (const LineNote& n : a.notes)
            add(out, line, line.valueColumn + n.at, true, noteText(n, line, kind));
    if (a.length > a.parsed && a.parsed < line.value.size()) {
        std::string rest = line.value.substr(a.parsed);
        rest = rest.substr(0, rest.find("<<<"));
        if (rest.find_first_not_of(" \t") != std::string::npos)
            add(out, line, line.valueColumn + static_cast<int>(a.parsed), true,
                "only the first " + std::to_string(a.parsed) +
                    " characters of a line are read: the rest is ignored");
    }
    if (a.stored >= 0) lightWarning(line, out);
}

void keyWarnings(const SettingsLine& line, std::vector<Warning>& out) {
    if (line.sectionLine == 0) {
        add(out, line, 0, true, "never read: it stands above the first section");
        return;
    }
    const SectionUse use = useOf(line.section);
    if (use == SectionUse::REPORT || use == SectionUse::UNREAD || line.firstLine == 0) return;
    if (line.firstLine != line.number) {
        add(out, line, 0, true,
            "never read: only the first " + line.key + " of [" + line.section + "] (line " +
                std::to_string(line.firstLine) + ") is read");
        return;
    }
    if (use == SectionUse::CONFIG) {
        for (const char* key : CONFIG_KEYS)
            if (lowerName(line.key) == key) return;
        add(out, line, 0, true, "never read: [Config] holds ScanInterval and RevisionTime");
        return;
    }
    auto a = asked.find(nameOf(line.section, line.key));
    if (a == asked.end())
        add(out, line, 0, true, neverReadReason(line));
    else if (a->second.found)
        readKeyWarnings(line, a->second, out);
}

// The line each key read stands on: the first of its name in the first section of its name.
using LinesByName = std::map<std::string, const SettingsLine*>;
LinesByName linesByName() {
    LinesByName byName;
    for (const SettingsLine& l : fileLines)
        if (l.kind == LineKind::KEY && l.firstLine == l.number)
            byName[nameOf(l.section, l.key)] = &l;
    return byName;
}

// Lines that can never own their output: an earlier line of it applies whenever they do.
void shadowWarnings(LinesByName& byName, std::vector<Warning>& out) {
    for (const auto& entry : storedBy) {
        const int32_t earlier = shadowingItem(entry.first);
        if (earlier < 0 || !storedBy.count(earlier)) continue;
        const SettingsLine* line = byName[entry.second];
        const SettingsLine* owner = byName[storedBy[earlier]];
        if (!line || !owner) continue;
        const bool light = itemTable()[entry.first].kind == KIND_LIGHT;
        add(out, *line, 0, true,
            "never used: " + owner->key + " (line " + std::to_string(owner->number) +
                ") applies whenever this line does, and the first line that applies owns the " +
                (light ? "light, lit or not" : "display, shown or blank"));
    }
}

// A display of a number that can be negative, without the sign column: the digits show
// and the minus does not, so a descent reads as a climb. A hexadecimal display shows the
// test pattern for a negative value instead, and a type read from the simulator is not
// known here.
bool minusLost(const ItemRecord& r) {
    if (r.kind != KIND_DISPLAY ||
        (r.flags & (FLAG_SHOW_SIGN | FLAG_HEX_DISPLAY | FLAG_TYPE_FROM_SIM)))
        return false;
    if (!(r.flags & FLAG_HAS_OFFSET)) {
        float constant = 0;
        std::memcpy(&constant, r.literal, sizeof constant);
        return (r.flags & FLAG_HAS_NUMBER) && constant < 0;
    }
    switch (r.valueType) {
        case VT_S8: case VT_S16: case VT_S32: case VT_F32: case VT_F64: return true;
        case VT_DEFAULT: case VT_U8: case VT_U16: case VT_U32:
            return r.multiplier < 0 || r.divisor < 0;
        default: return false;  // texts and radio frequencies have no sign
    }
}

void signWarnings(LinesByName& byName, std::vector<Warning>& out) {
    for (const auto& entry : storedBy) {
        if (entry.first >= itemCount() || !minusLost(itemTable()[entry.first])) continue;
        const SettingsLine* line = byName[entry.second];
        if (line)
            add(out, *line, 0, true,
                "negative values show without their minus: add the sign column `D-` "
                "(`D-3` for `D3`)");
    }
}

// The patterns of rule `outer` match every aircraft those of `inner` do: some pattern of
// `outer` on the same text covers each pattern of `inner`.
bool ruleCovers(const ProfileRule& outer, const ProfileRule& inner) {
    size_t at = 0;
    RulePattern p;
    while (nextRulePattern(inner, &at, &p)) {
        bool covered = false;
        size_t outerAt = 0;
        RulePattern q;
        while (!covered && nextRulePattern(outer, &outerAt, &q))
            covered = q.onPath == p.onPath && wildcardCovers(q.text, q.length, p.text, p.length);
        if (!covered) return false;
    }
    return true;
}

// [Profiles] rules that can never win: an earlier rule matches every aircraft they do.
void ruleWarnings(LinesByName& byName, std::vector<Warning>& out) {
    const ProfileRule* rules = profileRules();
    for (int32_t j = 0; j < profileRuleCount(); ++j) {
        if (ruleRefused(rules[j].error)) continue;
        for (int32_t i = 0; i < j; ++i) {
            if (ruleRefused(rules[i].error) || !ruleCovers(rules[i], rules[j])) continue;
            const SettingsLine* line = byName[nameOf("Profiles", std::to_string(rules[j].number))];
            const SettingsLine* earlier =
                byName[nameOf("Profiles", std::to_string(rules[i].number))];
            if (line && earlier)
                add(out, *line, 0, true,
                    "never matches: rule " + earlier->key + " (line " +
                        std::to_string(earlier->number) +
                        ") matches every aircraft this one does, and the lowest-numbered "
                        "rule that matches wins");
            break;
        }
    }
}

}  // namespace

void lintStart(const char* path, const char* settingsPath) {
    lintedFile = path;
    profilePass = settingsPath != nullptr;
    mainModels.clear();
    if (profilePass)
        for (const SettingsLine& line : readSettingsLines(tools::readFile(settingsPath)))
            if (line.kind == LineKind::HEADER)
                if (const DeviceType* model = modelOf(line.section))
                    mainModels.insert(lowerName(model->sectionName));
    fileLines = readSettingsLines(tools::readFile(path));
    asked.clear();
    askedSections.clear();
    storedBy.clear();
    pendingNotes.clear();
}

void lintAttach(LoadObserver& observer) {
    observer.keyRead = onKeyRead;
    observer.lineNotes = &noteObserver;
}

std::vector<Warning> lintFinish(const uint16_t* unitCounts) {
    std::vector<Warning> out;
    for (const SettingsLine& line : fileLines) {
        if (line.kind == LineKind::HEADER) headerWarnings(line, unitCounts, out);
        if (line.kind == LineKind::KEY) keyWarnings(line, out);
        const SectionUse use = useOf(line.section);
        if (line.kind == LineKind::OTHER && use != SectionUse::REPORT && use != SectionUse::UNREAD)
            add(out, line, 0, false, "not a key (no \"=\"): the line is never read");
    }
    LinesByName byName = linesByName();
    shadowWarnings(byName, out);
    signWarnings(byName, out);
    if (!profilePass) ruleWarnings(byName, out);
    std::stable_sort(out.begin(), out.end(), [](const Warning& a, const Warning& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    return out;
}

std::string formatWarning(const char* file, const Warning& w) {
    std::string out = std::string(file) + ":" + std::to_string(w.line) + ":";
    if (w.column > 0) out += std::to_string(w.column) + ":";
    out += " warning: ";
    if (!w.section.empty()) out += "[" + w.section + "]";
    if (!w.key.empty()) out += (w.section.empty() ? "" : " ") + w.key;
    return out + ": " + w.text;
}

}  // namespace check
