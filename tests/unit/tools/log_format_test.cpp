// The call log's text argument: one call stays one line whatever bytes a display text
// carries, and the quoting can be read back unambiguously.
#include "tools/virtual-gfdev/log_format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CallLogText, EscapesQuotesBackslashesAndControlCharacters) {
    const struct {
        const char* text;
        const char* logged;
    } cases[] = {
        {"  250", R"( "  250")"},
        {"SAY \"HI\" C:\\", R"( "SAY \"HI\" C:\\")"},
        {"GEAR\nDOWN\r", R"( "GEAR\nDOWN\r")"},
        {"\tA\x01\x1F\x7F", R"( "\tA\x01\x1F\x7F")"},
        {"\x85\x9F\xA0\xFF", " \"\\x85\\x9F\xA0\xFF\""},  // C1 controls; Latin-1 text stays
        {"", R"( "")"},
        {nullptr, R"( "")"},
    };
    for (const auto& c : cases) {
        std::string line;
        gflog::addText(line, c.text);
        EXPECT_EQ(line, c.logged) << (c.text ? c.text : "(null)");
    }
}

}  // namespace
