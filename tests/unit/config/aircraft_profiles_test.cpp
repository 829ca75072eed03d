// The [Profiles] rules on their own: the wildcard matcher, what a rule line parses into,
// which rule an aircraft picks, and when one rule's patterns cover another's.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/aircraft_profiles.h"

namespace {

const char SETTINGS[] = "/cockpit/norvalume.ini";

bool matches(const char* pattern, const char* text) {
    return wildcardMatch(pattern, std::strlen(pattern), text);
}

TEST(AircraftProfiles, WildcardMatchIgnoresCaseAndTakesStarAndQuestionMark) {
    const struct {
        const char* pattern;
        const char* text;
        bool match;
    } cases[] = {
        {"PMDG 737*", "PMDG 737-800 House", true},
        {"pmdg 737*", "PMDG 737-800 HOUSE", true},
        {"PMDG 737*", "PMDG 747-400", false},
        {"*Skyhawk*", "Cessna Skyhawk G1000", true},
        {"*Skyhawk*", "Cessna 152", false},
        {"Cessna 17?", "Cessna 172", true},
        {"Cessna 17?", "Cessna 17", false},  // '?' takes exactly one
        {"Cessna 17?", "Cessna 1722", false},
        {"*", "", true},
        {"", "", true},
        {"", "A", false},
        {"A*B*C", "AxxBxxBxxC", true},  // the star's run must be able to grow back
        {"A*B*C", "AxxBxxBxx", false},
        {"*.air", "c172.AIR", true},
        {"a**b", "ab", true},
        {"\xE9t\xE9*", "\xE9t\xE9 d'avion", true},  // 8-bit text compares byte for byte
    };
    for (const auto& c : cases)
        EXPECT_EQ(matches(c.pattern, c.text), c.match) << c.pattern << " / " << c.text;
    // A pattern that would take exponential time in a naive backtracker stays quick.
    const std::string many(200, 'a');
    EXPECT_FALSE(matches("*a*a*a*a*a*a*a*a*a*a*b", many.c_str()));
}

// What a rule line says: its file, its patterns (title or path), or why it is refused.
TEST(AircraftProfiles, RuleLinesParseOrGetTheirVerdict) {
    const struct {
        const char* line;
        ProfileRuleError error;
        const char* file;
        const char* patterns;  // "T:" title, "P:" path, each followed by ';'
    } cases[] = {
        {"pmdg737.ini | PMDG 737*", RULE_OK, "pmdg737.ini", "T:PMDG 737*;"},
        {"c172.ini|Cessna Skyhawk*|  path:*\\C172\\*  ", RULE_OK, "c172.ini",
         "T:Cessna Skyhawk*;P:*\\C172\\*;"},
        {"  a.ini  |  PATH: x*  ", RULE_OK, "a.ini", "P:x*;"},
        {"a.ini", RULE_BAD_FORM, "a.ini", ""},
        {"a.ini |", RULE_BAD_FORM, "a.ini", "T:;"},
        {"a.ini | A* || B*", RULE_BAD_FORM, "a.ini", "T:A*;T:;T:B*;"},
        {"| A*", RULE_BAD_FORM, "", "T:A*;"},
        {"sub/a.ini | A*", RULE_BAD_FILE_NAME, "sub/a.ini", "T:A*;"},
        {"..\\a.ini | A*", RULE_BAD_FILE_NAME, "..\\a.ini", "T:A*;"},
        {"C:a.ini | A*", RULE_BAD_FILE_NAME, "C:a.ini", "T:A*;"},
        {"a?.ini | A*", RULE_BAD_FILE_NAME, "a?.ini", "T:A*;"},
        {"NUL.ini | A*", RULE_BAD_FILE_NAME, "NUL.ini", "T:A*;"},
        {"com1 | A*", RULE_BAD_FILE_NAME, "com1", "T:A*;"},
        {".. | A*", RULE_BAD_FILE_NAME, "..", "T:A*;"},
        {"console.ini | A*", RULE_OK, "console.ini", "T:A*;"},
        {"NORVALUME.INI | A*", RULE_IS_SETTINGS_FILE, "NORVALUME.INI", "T:A*;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ProfileRule rule;
        EXPECT_EQ(parseProfileRule(c.line, std::strlen(c.line), 7, SETTINGS, &rule), c.error);
        EXPECT_EQ(rule.error, c.error);
        EXPECT_EQ(rule.number, 7);
        EXPECT_STREQ(rule.file, c.file);
        std::string patterns;
        size_t at = 0;
        RulePattern p;
        bool path = false;
        while (nextRulePattern(rule, &at, &p)) {
            patterns += (p.onPath ? "P:" : "T:") + std::string(p.text, p.length) + ";";
            path = path || p.onPath;
        }
        EXPECT_EQ(patterns, c.patterns);
        EXPECT_EQ(rule.usesPath, path);
    }
    // Longer than a line may be: refused whole, never cut (a cut would change the last
    // pattern's meaning).
    const std::string longLine = "a.ini | " + std::string(PROFILE_RULE_LIMIT, 'x');
    ProfileRule rule;
    EXPECT_EQ(parseProfileRule(longLine.c_str(), longLine.size(), 1, SETTINGS, &rule),
              RULE_TOO_LONG);
    EXPECT_TRUE(ruleRefused(RULE_TOO_LONG));
    EXPECT_FALSE(ruleRefused(RULE_FILE_MISSING));  // still picks its aircraft
    for (int e = RULE_BAD_FORM; e < PROFILE_RULE_ERROR_COUNT; ++e)
        EXPECT_EQ(std::strncmp(profileRuleErrorText(e), " <<< ", 5), 0) << e;
}

void addRule(const char* line, uint8_t number) {
    ProfileRule rule;
    parseProfileRule(line, std::strlen(line), number, SETTINGS, &rule);
    addProfileRule(rule);
}

// The lowest-numbered usable rule with a matching pattern wins; a refused rule never
// matches; a path pattern looks at the path only; an empty title matches nothing.
TEST(AircraftProfiles, LowestUsableMatchingRuleWins) {
    resetProfileRules();
    addRule("broken.ini", 0);                     // refused: no pattern
    addRule("pmdg737.ini | PMDG 737*", 1);
    addRule("c172.ini | Cessna Skyhawk* | path:*\\C172\\*", 2);
    addRule("any.ini | *", 3);
    EXPECT_TRUE(profileRulesUsePath());
    const struct {
        const char* title;
        const char* path;
        int32_t rule;
    } cases[] = {
        {"PMDG 737-800 House", "", 1},
        {"Cessna Skyhawk G1000", "", 2},
        {"My Mod", "SimObjects\\Airplanes\\C172\\aircraft.cfg", 2},
        {"PMDG 737-800", "SimObjects\\C172\\x.cfg", 1},  // both match: the lower wins
        {"Cessna Skyhawk", "", 2},
        {"C172", "", 3},  // a path pattern does not look at the title
        {"", "SimObjects\\C172\\x.cfg", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(matchingProfileRule(c.title, c.path), c.rule) << c.title << " " << c.path;
    resetProfileRules();
    addRule("a.ini | path:*", 0);
    addRule("b.ini | B*", 1);
    setProfileRuleError(0, RULE_BAD_FORM);
    EXPECT_EQ(matchingProfileRule("B", "x"), 1);
    resetProfileRules();
}

// Whether every title the inner pattern matches is matched by the outer one: what lets
// the lint say a later rule can never be reached. False when it cannot be shown.
TEST(AircraftProfiles, CoversOnlyWhatItAlwaysMatches) {
    const struct {
        const char* outer;
        const char* inner;
        bool covers;
    } cases[] = {
        {"*", "anything*", true},
        {"PMDG*", "pmdg 737*", true},
        {"PMDG 737*", "PMDG*", false},
        {"*737*", "PMDG 737-800", true},
        {"A?C", "ABC", true},
        {"A?C", "A?C", true},
        {"ABC", "A?C", false},
        {"A?C", "A*C", false},
        {"A*", "A", true},
        {"A", "A*", false},
        {"", "", true},
        {"", "*", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wildcardCovers(c.outer, std::strlen(c.outer), c.inner, std::strlen(c.inner)),
                  c.covers)
            << c.outer << " over " << c.inner;
}

TEST(AircraftProfiles, ReportTextHasNoControlCharactersAndFits) {
    const struct {
        const char* in;
        size_t size;
        const char* out;
    } cases[] = {
        {"  Boeing 737-800  ", 64, "Boeing 737-800"},
        {"A\r\nB\tC", 64, "A??B?C"},
        {"ABCDEFG", 4, "ABC"},
        {"", 4, ""},
    };
    for (const auto& c : cases) {
        char out[64];
        reportableText(c.in, out, c.size);
        EXPECT_STREQ(out, c.out) << c.in;
    }
}

}  // namespace
