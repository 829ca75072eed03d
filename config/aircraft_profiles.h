// Aircraft profiles: the rules of [Profiles], each naming a profile file and the aircraft
// it is for (wildcard patterns on the title the simulator gives, or on its aircraft file's
// path), the matcher they use, and the profile the last load put in force. A profile file
// overlays the settings file: its unit sections and conditions replace those of the same
// name; the loader does that, this keeps what it needs to know.
#pragma once

#include <cstddef>
#include <cstdint>

// The aircraft title and the path of its aircraft file, as the interface module holds
// them: this many bytes each, text ended by a zero byte.
constexpr uint32_t AIRCRAFT_TEXT_SIZE = 256;
// Rules are keys "0" to "254" of [Profiles], as conditions are of [Conditions].
constexpr int PROFILE_RULE_KEYS = 255;
// The longest rule read; a longer one is refused rather than cut, as a cut would change
// what its last pattern matches.
constexpr uint32_t PROFILE_RULE_LIMIT = 254;
constexpr char PROFILES_SECTION[] = "Profiles";

// A rule's verdict. The first ones refuse the rule (it never matches); a rule whose file
// is missing or cannot be read still matches, and its aircraft gets the settings file's
// own sections.
enum ProfileRuleError : uint8_t {
    RULE_OK = 0,
    RULE_BAD_FORM,
    RULE_TOO_LONG,
    RULE_BAD_FILE_NAME,
    RULE_IS_SETTINGS_FILE,
    RULE_FILE_MISSING,
    RULE_FILE_UNREADABLE,
    PROFILE_RULE_ERROR_COUNT
};
// " <<< ..." for each verdict; "" for RULE_OK.
const char* profileRuleErrorText(int error);
inline bool ruleRefused(uint8_t error) {
    return error != RULE_OK && error != RULE_FILE_MISSING && error != RULE_FILE_UNREADABLE;
}

struct ProfileRule {
    uint8_t number;       // its key in [Profiles]
    uint8_t error;        // ProfileRuleError
    bool usesPath;        // some pattern matches the aircraft file's path
    uint8_t patternsAt;   // where the patterns start in `text`, after the first '|'; 0: none
    char file[PROFILE_RULE_LIMIT + 1];  // the profile file's name, blanks trimmed
    char text[PROFILE_RULE_LIMIT + 1];  // the rule as read, without an old verdict
};

// Parses rule `number` from `value` (`length` characters, an old " <<< " verdict cut off
// already) into `rule`: FILE | PATTERN [| PATTERN ...], blanks around each '|' not
// counting, a pattern written path:PATTERN matching the aircraft file's path. Checks the
// file name against `settingsPath`, the settings file's own full path; not whether the
// file is there.
ProfileRuleError parseProfileRule(const char* value, size_t length, uint8_t number,
                                  const char* settingsPath, ProfileRule* rule);

// Whether `text` matches the `length` characters of `pattern`: '*' stands for any run of
// characters, '?' for any one, and letters match in either case. Time in proportion to
// the product of the lengths at most, whatever the pattern.
bool wildcardMatch(const char* pattern, size_t length, const char* text);
// Whether every text that `inner` matches is matched by `outer` too (patterns of
// `outerLength` and `innerLength` characters). False when that cannot be shown.
bool wildcardCovers(const char* outer, size_t outerLength, const char* inner,
                    size_t innerLength);

// One pattern of a rule, as the matcher reads it.
struct RulePattern {
    const char* text;
    size_t length;
    bool onPath;
};
// The pattern after the one that ended at `*at` (0 to begin); false after the last.
bool nextRulePattern(const ProfileRule& rule, size_t* at, RulePattern* pattern);
// Whether a pattern of the rule matches the title, or (path:) the aircraft file's path.
bool profileRuleMatches(const ProfileRule& rule, const char* title, const char* path);

// Whether `name` names a file in the settings file's folder and nowhere else: no folder
// part, drive or stream, no name Windows keeps for a device, nothing a file name cannot
// hold on Windows. A rule's file comes from the settings file, which may come from anyone.
bool plainFileName(const char* name);
// The full path of the file `name` in the folder of the file at `settingsPath`. False
// when it does not fit in `size`.
bool pathBeside(const char* settingsPath, const char* name, char* out, size_t size);

// The rules of the last load, in key order (refused ones too, for the tools).
void resetProfileRules();
bool addProfileRule(const ProfileRule& rule);
// A verdict learnt once the load went to read the file of the rule at `position`.
void setProfileRuleError(int32_t position, uint8_t error);
int32_t profileRuleCount();
const ProfileRule* profileRules();
// Some usable rule matches on the aircraft file's path: the scan reads it too.
bool profileRulesUsePath();
// The position of the first usable rule whose patterns match; -1 when none does, and for
// an empty title.
int32_t matchingProfileRule(const char* title, const char* path);

// What the last load put in force.
enum ProfileState : uint8_t {
    PROFILE_NO_RULES = 0,       // no usable rule: the settings file alone, as without profiles
    PROFILE_NO_TITLE,           // no aircraft title known yet
    PROFILE_NO_MATCH,           // no rule matches the aircraft
    PROFILE_IN_FORCE,           // the file of `rule` overlays the settings file
    PROFILE_MISSING,            // the file of `rule` is not there
    PROFILE_UNREADABLE,         // the file of `rule` could not be read
};
struct ActiveProfile {
    ProfileState state;
    int32_t rule;                         // position in profileRules(); -1 for none
    char path[AIRCRAFT_TEXT_SIZE * 2];    // the profile file's full path; "" for none
};
const ActiveProfile& activeProfile();
void setActiveProfile(const ActiveProfile& profile);
// The full path of the profile file a load overlays; nullptr while none does.
const char* activeProfilePath();

// What a newly settled aircraft calls for.
enum ProfileChange : uint8_t {
    PROFILE_UNCHANGED = 0,  // the same profile (another livery): nothing
    PROFILE_SWITCH,         // another profile, or none: dark at once, then a load
    PROFILE_REPORT_ONLY,    // the first title, and no rule matches: a load for the report
};
ProfileChange profileChangeFor(const char* title, const char* path);

// The report's Profile= line for what is in force, into `out`.
void describeActiveProfile(char* out, size_t size);
// `text` as a report line can hold it: a control character becomes '?', blanks at both
// ends go, and it is cut to `size` - 1 characters.
void reportableText(const char* text, char* out, size_t size);
