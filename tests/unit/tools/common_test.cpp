// The tools' shared helpers: how a units list splits, how each tool's count reading takes
// an entry, and the hex bytes of the panels' state file.
#include "tools/common/common.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Entries joined by "|": the name, then for one with a count "=count:" norvalume-check's
// reading ("bad" where it refuses) and "/" the virtual library's: its number, or the
// serials of a list in brackets, joined by ";".
std::string render(const char* list) {
    std::string out;
    const char* separator = "";
    for (const tools::UnitsEntry& e : tools::splitUnitsList(list)) {
        out += separator;
        separator = "|";
        out += std::string(e.name);
        if (!e.hasCount) continue;
        unsigned long count = 0;
        out += "=" + std::string(e.count) + ":" +
               (tools::wholeUnitCount(e.count, &count) ? std::to_string(count) : "bad") + "/";
        std::vector<std::string> serials;
        if (!tools::unitSerialList(e.count, &serials)) {
            out += std::to_string(tools::leadingUnitCount(e.count));
            continue;
        }
        out += "[";
        for (size_t i = 0; i < serials.size(); ++i) out += (i ? ";" : "") + serials[i];
        out += "]";
    }
    return out;
}

TEST(UnitsList, SplitsEntriesAndReadsCountsAsEachToolDoes) {
    const struct {
        const char* list;
        const char* expected;
    } cases[] = {
        {"GF45=1,GFMCP=2,GFP8=2", "GF45=1:1/1|GFMCP=2:2/2|GFP8=2:2/2"},
        {"", ""},
        {nullptr, ""},
        {"GF45=1,", "GF45=1:1/1"},
        {"GF45=1,,GFP8=2", "GF45=1:1/1||GFP8=2:2/2"},
        {",GF45=1", "|GF45=1:1/1"},
        {"GF45,GF46", "GF45|GF46"},
        {"=3", "=3:3/3"},
        {"GF45=", "GF45=:bad/0"},
        {"GF45=x", "GF45=x:bad/0"},
        {"GF45=2x,GF46=1=2", "GF45=2x:bad/2|GF46=1=2:bad/1"},
        {" GF45 = 3", " GF45 = 3:3/3"},
        {"GF45=1\n", "GF45=1\n:bad/1"},
        {"GF45=65535,GF46=65536", "GF45=65535:65535/65535|GF46=65536:bad/0"},
        {"GF45=-1,GF46=-0,GF166=+4", "GF45=-1:bad/0|GF46=-0:0/0|GF166=+4:4/4"},
        // Units by serial number, in USB order: the commas in brackets end no entry.
        {"GF166=[AAA, BBB ],GF45=1", "GF166=[AAA, BBB ]:bad/[AAA;BBB]|GF45=1:1/1"},
        {"GF166= [A,,B] ,GF46=[]", "GF166= [A,,B] :bad/[A;;B]|GF46=[]:bad/[]"},
        {"GF166=[A]x,GF45=[B", "GF166=[A]x:bad/[A]|GF45=[B:bad/[B]"},
        {"GF166=[A,B,GF45=1", "GF166=[A,B,GF45=1:bad/[A;B;GF45=1]"},
        {"GF166=2[A]", "GF166=2[A]:bad/2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(render(c.list), c.expected) << (c.list ? c.list : "(null)");
    // A message names the rest of the list from the entry on.
    EXPECT_STREQ(tools::splitUnitsList("GF45=1,GF99")[1].from, "GF99");
}

TEST(HexBytes, ReadsWhatItWritesAndRefusesShortOrWideBytes) {
    const unsigned char bytes[4] = {0x00, 0x0A, 0x7F, 0xFF};
    std::string text = "segments";
    tools::appendHexBytes(text, bytes, sizeof bytes);
    EXPECT_EQ(text, "segments 00 0A 7F FF");
    unsigned char back[4] = {};
    ASSERT_TRUE(tools::parseHexBytes(text.c_str() + 8, back, sizeof back));
    EXPECT_EQ(std::string(back, back + 4), std::string(bytes, bytes + 4));

    EXPECT_FALSE(tools::parseHexBytes(" 00 0A 7F", back, sizeof back)) << "one missing";
    EXPECT_FALSE(tools::parseHexBytes(" 00 100 7F FF", back, sizeof back)) << "above FF";
}

}  // namespace
