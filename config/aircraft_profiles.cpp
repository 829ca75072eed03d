// Aircraft profiles: the [Profiles] rules of the last load, the wildcard matcher that picks
// one by the aircraft, and the profile in force. Nothing here reads a file: the loader
// reads the rules and the profiles, and tells what it put in force.
#include "config/aircraft_profiles.h"

#include <cstdio>
#include <cstring>

namespace {

struct ProfileTable {
    int32_t count;
    bool usesPath;
    ProfileRule rules[PROFILE_RULE_KEYS];
};
ProfileTable table = {};
ActiveProfile active = {PROFILE_NO_RULES, -1, ""};

const char* const ERROR_TEXTS[PROFILE_RULE_ERROR_COUNT] = {
    "",
    " <<< Bad profile rule: FILE | PATTERN expected",
    " <<< Profile rule longer than 254 characters",
    " <<< Profile file must be a file name in this folder",
    " <<< Profile file is this settings file",
    " <<< Profile file not found",
    " <<< Profile file cannot be read",
};

const char PATH_PREFIX[] = "path:";
constexpr size_t PATTERNS_DONE = ~static_cast<size_t>(0);
constexpr size_t PATH_PREFIX_LENGTH = sizeof PATH_PREFIX - 1;

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool blank(char c) { return c == ' ' || c == '\t'; }

bool separator(char c) { return c == '/' || c == '\\'; }

// [begin, end) of text without the blanks at both ends.
void trim(const char* text, size_t* begin, size_t* end) {
    while (*begin < *end && blank(text[*begin])) ++*begin;
    while (*end > *begin && blank(text[*end - 1])) --*end;
}

bool sameFolded(const char* a, size_t n, const char* b) {
    for (size_t i = 0; i < n; ++i)
        if (!b[i] || fold(a[i]) != fold(b[i])) return false;
    return true;
}

bool equalFolded(const char* a, const char* b) {
    return std::strlen(a) == std::strlen(b) && sameFolded(a, std::strlen(a), b);
}

// The file name part of a path.
const char* baseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (separator(*p)) name = p + 1;
    return name;
}

// A name Windows keeps for a device in every folder, with or without an extension.
bool deviceName(const char* name) {
    static const char* const DEVICES[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    size_t stem = std::strcspn(name, ".");
    while (stem > 0 && blank(name[stem - 1])) --stem;
    for (const char* device : DEVICES)
        if (stem == std::strlen(device) && sameFolded(name, stem, device)) return true;
    const bool numbered = stem == 4 && (sameFolded(name, 3, "com") || sameFolded(name, 3, "lpt"));
    return numbered && name[3] >= '0' && name[3] <= '9';
}

}  // namespace

const char* profileRuleErrorText(int error) {
    return error > 0 && error < PROFILE_RULE_ERROR_COUNT ? ERROR_TEXTS[error] : "";
}

bool plainFileName(const char* name) {
    if (!*name || std::strlen(name) > PROFILE_RULE_LIMIT) return false;
    bool onlyDots = true;
    for (const char* p = name; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F || std::strchr("/\\:*?\"<>|", c)) return false;
        if (c != '.' && !blank(*p)) onlyDots = false;
    }
    return !onlyDots && !deviceName(name);
}

bool pathBeside(const char* settingsPath, const char* name, char* out, size_t size) {
    const size_t folder = static_cast<size_t>(baseName(settingsPath) - settingsPath);
    const size_t length = std::strlen(name);
    if (folder + length + 1 > size) return false;
    std::memcpy(out, settingsPath, folder);
    std::memcpy(out + folder, name, length + 1);
    return true;
}

ProfileRuleError parseProfileRule(const char* value, size_t length, uint8_t number,
                                  const char* settingsPath, ProfileRule* rule) {
    *rule = ProfileRule{};
    rule->number = number;
    rule->error = RULE_TOO_LONG;
    if (length > PROFILE_RULE_LIMIT) return RULE_TOO_LONG;
    std::memcpy(rule->text, value, length);
    rule->text[length] = '\0';
    const char* bar = std::strchr(rule->text, '|');
    size_t begin = 0, end = bar ? static_cast<size_t>(bar - rule->text) : length;
    trim(rule->text, &begin, &end);
    std::memcpy(rule->file, rule->text + begin, end - begin);
    rule->file[end - begin] = '\0';
    // 0: no '|', so no pattern (a pattern never starts the rule).
    rule->patternsAt = static_cast<uint8_t>(bar ? bar - rule->text + 1 : 0);
    bool anyPattern = false;
    size_t at = 0;
    RulePattern pattern;
    bool emptyPattern = false;
    while (nextRulePattern(*rule, &at, &pattern)) {
        emptyPattern = emptyPattern || pattern.length == 0;
        anyPattern = true;
        if (pattern.onPath) rule->usesPath = true;
    }
    ProfileRuleError error = RULE_OK;
    if (!anyPattern || emptyPattern || !rule->file[0]) error = RULE_BAD_FORM;
    else if (!plainFileName(rule->file)) error = RULE_BAD_FILE_NAME;
    else if (equalFolded(rule->file, baseName(settingsPath)))
        error = RULE_IS_SETTINGS_FILE;
    rule->error = error;
    return error;
}

bool nextRulePattern(const ProfileRule& rule, size_t* at, RulePattern* pattern) {
    if (*at == 0) *at = rule.patternsAt;
    if (*at == 0 || *at == PATTERNS_DONE) return false;
    size_t begin = *at;
    const size_t length = std::strlen(rule.text);
    const char* bar = std::strchr(rule.text + begin, '|');
    size_t end = bar ? static_cast<size_t>(bar - rule.text) : length;
    *at = bar ? end + 1 : PATTERNS_DONE;
    trim(rule.text, &begin, &end);
    pattern->onPath = end - begin >= PATH_PREFIX_LENGTH &&
                      sameFolded(rule.text + begin, PATH_PREFIX_LENGTH, PATH_PREFIX);
    if (pattern->onPath) {
        begin += PATH_PREFIX_LENGTH;
        trim(rule.text, &begin, &end);
    }
    pattern->text = rule.text + begin;
    pattern->length = end - begin;
    return true;
}

bool wildcardMatch(const char* pattern, size_t length, const char* text) {
    size_t p = 0;
    const char* t = text;
    size_t starP = length;  // the last '*' met, and where its run then began in the text
    const char* starT = nullptr;
    while (*t) {
        if (p < length && (pattern[p] == '?' || (pattern[p] != '*' && fold(pattern[p]) == fold(*t)))) {
            ++p;
            ++t;
        } else if (p < length && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (starT) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < length && pattern[p] == '*') ++p;
    return p == length;
}

bool wildcardCovers(const char* outer, size_t outerLength, const char* inner,
                    size_t innerLength) {
    if (outerLength > PROFILE_RULE_LIMIT || innerLength > PROFILE_RULE_LIMIT) return false;
    // covered[j]: the outer pattern's first i symbols take the inner's first j, for each
    // i in turn: an outer '*' takes any run of inner symbols, '?' one that is not '*', a
    // letter the same letter.
    bool covered[PROFILE_RULE_LIMIT + 2] = {true};
    for (size_t i = 0; i < outerLength; ++i) {
        const char o = outer[i];
        bool next[PROFILE_RULE_LIMIT + 2] = {false};
        for (size_t j = 0; j <= innerLength; ++j) {
            if (o == '*') next[j] = covered[j] || (j > 0 && next[j - 1]);
            else if (j > 0 && inner[j - 1] != '*')
                next[j] = covered[j - 1] &&
                          (o == '?' || (inner[j - 1] != '?' && fold(o) == fold(inner[j - 1])));
        }
        std::memcpy(covered, next, sizeof covered);
    }
    return covered[innerLength];
}

bool profileRuleMatches(const ProfileRule& rule, const char* title, const char* path) {
    size_t at = 0;
    RulePattern pattern;
    while (nextRulePattern(rule, &at, &pattern))
        if (wildcardMatch(pattern.text, pattern.length, pattern.onPath ? path : title))
            return true;
    return false;
}

void resetProfileRules() {
    table.count = 0;
    table.usesPath = false;
}

bool addProfileRule(const ProfileRule& rule) {
    if (table.count >= PROFILE_RULE_KEYS) return false;
    table.rules[table.count++] = rule;
    if (!ruleRefused(rule.error) && rule.usesPath) table.usesPath = true;
    return true;
}

void setProfileRuleError(int32_t position, uint8_t error) {
    if (position >= 0 && position < table.count) table.rules[position].error = error;
}

int32_t profileRuleCount() { return table.count; }
const ProfileRule* profileRules() { return table.rules; }
bool profileRulesUsePath() { return table.usesPath; }

int32_t matchingProfileRule(const char* title, const char* path) {
    if (!title || !*title) return -1;
    for (int32_t r = 0; r < table.count; ++r)
        if (!ruleRefused(table.rules[r].error) &&
            profileRuleMatches(table.rules[r], title, path ? path : ""))
            return r;
    return -1;
}

const ActiveProfile& activeProfile() { return active; }
void setActiveProfile(const ActiveProfile& profile) { active = profile; }

const char* activeProfilePath() { return active.rule >= 0 && active.path[0] ? active.path : nullptr; }

ProfileChange profileChangeFor(const char* title, const char* path) {
    if (active.state == PROFILE_NO_RULES) return PROFILE_UNCHANGED;
    const int32_t rule = matchingProfileRule(title, path);
    if (rule < 0) {
        if (active.rule >= 0) return PROFILE_SWITCH;
        return active.state == PROFILE_NO_TITLE ? PROFILE_REPORT_ONLY : PROFILE_UNCHANGED;
    }
    if (active.rule < 0) return PROFILE_SWITCH;
    return std::strcmp(table.rules[rule].file, table.rules[active.rule].file) == 0
               ? PROFILE_UNCHANGED
               : PROFILE_SWITCH;
}

void describeActiveProfile(char* out, size_t size) {
    const ProfileRule* rule = active.rule >= 0 ? &table.rules[active.rule] : nullptr;
    switch (active.state) {
        case PROFILE_NO_RULES: std::snprintf(out, size, "none (no rules)"); return;
        case PROFILE_NO_TITLE: std::snprintf(out, size, "none (no aircraft title yet)"); return;
        case PROFILE_NO_MATCH: std::snprintf(out, size, "none (no rule matches)"); return;
        default: break;
    }
    if (!rule) return (void)std::snprintf(out, size, "none");
    const char* why = active.state == PROFILE_MISSING      ? ": not found, the main sections apply"
                      : active.state == PROFILE_UNREADABLE ? ": cannot be read, the main sections apply"
                                                           : "";
    std::snprintf(out, size, "%s (rule %u)%s", rule->file, rule->number, why);
}

void reportableText(const char* text, char* out, size_t size) {
    size_t begin = 0, end = std::strlen(text);
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
    if (end - begin > size - 1) end = begin + size - 1;
    for (size_t i = begin; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out[i - begin] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
    }
    out[end - begin] = '\0';
}
