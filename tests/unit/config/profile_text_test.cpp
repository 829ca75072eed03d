// The read-back rule against the INI engine itself: each text written through the
// platform and read again must come back exactly as the rule says.
#include "config/profile_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_platform/fake_profile.h"
#include "platform/platform.h"

namespace {

TEST(ReadBack, AgreesWithWhatTheEngineReadsBack) {
    struct Case {
        const char* name;
        std::string written;
        bool quoted;
    };
    const Case cases[] = {
        {"plain", "abc", false},
        {"blanks and tabs at both ends", " \t abc \t ", false},
        {"VT, FF and the end-of-file mark at both ends", std::string("\v\f\x1a") + "abc\x1a\f\v", false},
        {"inner blanks kept", "a b\tc", false},
        {"only blanks", "   ", false},
        {"double quotes", "\"a b\"", true},
        {"single quotes", "'a b'", true},
        {"quotes inside trimmed blanks", " \t\"a\"\v ", true},
        {"blanks inside quotes kept", "\" a \"", true},
        {"one pair only", "\"\"a\"\"", true},
        {"quotes at the ends of two quoted words", "\"a\" and \"b\"", true},
        {"an empty pair", "''", true},
        {"mismatched quotes", "\"a'", false},
        {"opening quote alone", "\"a", false},
        {"closing quote alone", "a'", false},
        {"a lone quote", "\"", false},
    };
    fake::resetProfile();
    const std::string path = fake::tempFilePath("read_back.ini");
    fake::writeFile(path, "");
    for (const Case& c : cases) {
        ReadBack rule = readBack(c.written.c_str(), c.written.size());
        EXPECT_EQ(rule.quoted, c.quoted) << c.name;
        ASSERT_TRUE(platform::profilePut(path.c_str(), "S", "k", c.written.c_str())) << c.name;
        char read[64];
        platform::profileGet(path.c_str(), "S", "k", read, sizeof read);
        EXPECT_EQ(c.written.substr(rule.valueBegin(), rule.valueEnd() - rule.valueBegin()),
                  std::string(read))
            << c.name;
    }
}

}  // namespace
