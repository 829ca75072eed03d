// The INI engine against the behaviour of the Windows private-profile functions: reads
// and edits from tables of {file, call, expected}, and the file wrappers on real files.
#include "platform/common/ini.h"

#include "platform/common/change_mark.h"
#include "platform/common/file_access.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

struct ReadCase {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    uint32_t size;
    const char* expected;
};

std::string get(const std::string& file, const char* section, const char* key, uint32_t size,
                uint32_t* count) {
    char buf[512];
    std::memset(buf, 'X', sizeof buf);
    *count = ini::getValue(file.data(), file.size(), section, key, buf, size);
    return std::string(buf);
}

TEST(IniRead, MatchesWindowsLookupRules) {
    const std::string longValue(300, 'x');
    const ReadCase cases[] = {
        {"names ignore case and surrounding blanks", "[Sect]\r\nKey=v\r\n", " sECT\t", " kEY ", 255, "v"},
        {"header name is trimmed", "[  Sect  ]\r\nKey=v\r\n", "Sect", "Key", 255, "v"},
        {"key and value trimmed, inner blanks kept", "[S]\r\n   my key   =   v  v   \r\n", "S", "my key", 255, "v  v"},
        {"inner blanks of a name count", "[S]\r\n   my key   =   v  v   \r\n", "S", "my  key", 255, ""},
        {"quoted value keeps its inside", "[S]\r\nk=\"  a b  \"\r\n", "S", "k", 255, "  a b  "},
        {"single quotes stripped", "[S]\r\nk='abc'\r\n", "S", "k", 255, "abc"},
        {"opening quote alone kept", "[S]\r\nk=\"abc\r\n", "S", "k", 255, "\"abc"},
        {"closing quote alone kept", "[S]\r\nk=abc\"\r\n", "S", "k", 255, "abc\""},
        {"mismatched quotes kept", "[S]\r\nk=\"abc'\r\n", "S", "k", 255, "\"abc'"},
        {"inner quotes kept", "[S]\r\nk=a\"b\"c\r\n", "S", "k", 255, "a\"b\"c"},
        {"only one pair stripped", "[S]\r\nk=\"\"x\"\"\r\n", "S", "k", 255, "\"x\""},
        {"a lone quote is a value", "[S]\r\nk=\"\r\n", "S", "k", 255, "\""},
        {"two quotes give empty", "[S]\r\nk=\"\"\r\n", "S", "k", 255, ""},
        {"inline comment is part of the value", "[S]\r\nk=v ; note\r\n", "S", "k", 255, "v ; note"},
        {"comment line is not the key", "[S]\r\n; k=c\r\nk=real\r\n", "S", "k", 255, "real"},
        {"line without = has no key", "[S]\r\nname3\r\nk=v\r\n", "S", "name3", 255, ""},
        {"line without = does not hide the next", "[S]\r\nname3\r\nk=v\r\n", "S", "k", 255, "v"},
        {"first of duplicate keys wins", "[S]\r\nk=first\r\nK=second\r\n", "S", "k", 255, "first"},
        {"value after first =", "[S]\r\nk=a=b\r\n", "S", "k", 255, "a=b"},
        {"first section only", "[S]\r\na=1\r\n[T]\r\n[s]\r\na=2\r\nb=3\r\n", "S", "a", 255, "1"},
        {"no search past the first section", "[S]\r\na=1\r\n[T]\r\n[s]\r\na=2\r\nb=3\r\n", "S", "b", 255, ""},
        {"size 11 takes all", "[S]\r\nk=abcdefghij\r\n", "S", "k", 11, "abcdefghij"},
        {"size 10 cuts one", "[S]\r\nk=abcdefghij\r\n", "S", "k", 10, "abcdefghi"},
        {"size 5", "[S]\r\nk=abcdefghij\r\n", "S", "k", 5, "abcd"},
        {"size 1 gives empty", "[S]\r\nk=abcdefghij\r\n", "S", "k", 1, ""},
        {"long value cut at the limit", "[S]\r\nk=" + longValue + "\r\n", "S", "k", 255, nullptr},
        {"quotes removed before cutting", "[S]\r\nk=\"abcdef\"\r\n", "S", "k", 7, "abcdef"},
        {"CR line endings", "[S]\rk=v\rk2=w\r", "S", "k2", 255, "w"},
        {"LF line endings, last line unterminated", "[S]\nk2=w", "S", "k2", 255, "w"},
        {"text after header ignored", "[S] junk\r\nk=v\r\n[T]]\r\nt=1\r\n[U\r\nu=2\r\n", "S", "k", 255, "v"},
        {"header runs to the last ]", "[S] junk\r\nk=v\r\n[T]]\r\nt=1\r\n[U\r\nu=2\r\n", "T]", "t", 255, "1"},
        {"[ without ] is no header", "[S] junk\r\nk=v\r\n[T]]\r\nt=1\r\n[U\r\nu=2\r\n", "U", "u", 255, ""},
        {"[ without ] belongs to the section above", "[S] junk\r\nk=v\r\n[T]]\r\nt=1\r\n[U\r\nu=2\r\n", "T]", "u", 255, "2"},
        {"keys before any section belong to none", "k=v\r\n[S]\r\n", "", "k", 255, ""},
        {"NUL ends the value", std::string("[S]\r\nk=ab\0cd\r\n", 14), "S", "k", 255, "ab"},
        {"^Z and VT trimmed", "[S]\r\nk=v\v\x1a\r\n", "S", "k", 255, "v"},
        {"missing section", "[S]\r\nk=v\r\n", "X", "k", 255, ""},
        {"empty value", "[S]\r\nk=\r\n", "S", "k", 255, ""},
        {"byte-order mark is not part of the first header", "\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "k", 255, "v"},
        {"byte-order mark only counts at the start", "\r\n\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "k", 255, ""},
    };
    for (const ReadCase& c : cases) {
        uint32_t count = 0;
        std::string got = get(c.file, c.section, c.key, c.size, &count);
        std::string expected = c.expected ? c.expected : longValue.substr(0, 254);
        EXPECT_EQ(got, expected) << c.name;
        EXPECT_EQ(count, expected.size()) << c.name;
        // A load answers from an index of the file: it must give the very same answers.
        ini::Index index;
        ini::buildIndex(c.file.data(), c.file.size(), &index);
        char buf[512];
        EXPECT_EQ(ini::indexedValue(index, c.file.data(), c.section, c.key, buf, c.size), count)
            << c.name;
        EXPECT_EQ(std::string(buf), expected) << c.name;
    }
}

TEST(IniRead, SizeZeroWritesNothing) {
    char buf[4] = {'X', 'X', 'X', 'X'};
    std::string file = "[S]\r\nk=v\r\n";
    EXPECT_EQ(ini::getValue(file.data(), file.size(), "S", "k", buf, 0), 0u);
    EXPECT_EQ(buf[0], 'X');
}

struct EditCase {
    const char* name;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    ini::Edit result;
    std::string after;  // ignored unless CHANGED
};

TEST(IniEdit, KeepsEveryByteTheWriteDoesNotConcern) {
    const char* K = nullptr;
    const EditCase cases[] = {
        {"new file", "", "A1", "k1", "s1", ini::Edit::CHANGED, "[A1]\r\nk1=s1\r\n"},
        {"new key after the last key", "[A1]\r\nk1=s1\r\n", "A1", "k2", "s2", ini::Edit::CHANGED,
         "[A1]\r\nk1=s1\r\nk2=s2\r\n"},
        {"new section at the end", "[A1]\r\nk1=s1\r\nk2=s2\r\n", "A2", "k3", "s3", ini::Edit::CHANGED,
         "[A1]\r\nk1=s1\r\nk2=s2\r\n[A2]\r\nk3=s3\r\n"},
        {"delete a key", "[A1]\r\nk1=s1\r\nk2=s2\r\n[A2]\r\nk3=s3\r\n", "A1", "k1", K,
         ini::Edit::CHANGED, "[A1]\r\nk2=s2\r\n[A2]\r\nk3=s3\r\n"},
        {"delete a section", "[A1]\r\nk2=s2\r\n[A2]\r\nk3=s3\r\n", "A2", K, K, ini::Edit::CHANGED,
         "[A1]\r\nk2=s2\r\n"},
        {"deleting the last key leaves the header", "[A1]\r\nk2=s2\r\n", "A1", "k2", K,
         ini::Edit::CHANGED, "[A1]\r\n"},
        {"replace keeps comments, blanks and spacing", "; head\r\n\r\n[S]\r\nk = 1\r\n\r\n; tail\r\n",
         "S", "k", "2", ini::Edit::CHANGED, "; head\r\n\r\n[S]\r\nk=2\r\n\r\n; tail\r\n"},
        {"replace keeps the key's spelling and indent", "[S]\r\n  KeY=1\r\n", "s", "key", "2",
         ini::Edit::CHANGED, "[S]\r\n  KeY=2\r\n"},
        {"replace only the first duplicate", "[S]\r\nk=1\r\nk=2\r\n", "S", "k", "3",
         ini::Edit::CHANGED, "[S]\r\nk=3\r\nk=2\r\n"},
        {"new key goes before trailing comments", "[S]\r\na=1\r\n; about T\r\n\r\n[T]\r\n", "S", "b",
         "2", ini::Edit::CHANGED, "[S]\r\na=1\r\nb=2\r\n; about T\r\n\r\n[T]\r\n"},
        {"new key in a section without keys", "[S]\r\n[T]\r\n", "S", "b", "2", ini::Edit::CHANGED,
         "[S]\r\nb=2\r\n[T]\r\n"},
        {"unterminated last line gets its ending", "[S]\r\na=1", "S", "b", "2", ini::Edit::CHANGED,
         "[S]\r\na=1\r\nb=2\r\n"},
        {"unterminated file before a new section", "[S]\r\na=1", "T", "b", "2", ini::Edit::CHANGED,
         "[S]\r\na=1\r\n[T]\r\nb=2\r\n"},
        {"new lines use the file's LF", "[S]\na=1\n", "S", "b", "2", ini::Edit::CHANGED,
         "[S]\na=1\nb=2\n"},
        {"leading blanks of a value dropped, trailing kept", "[S]\r\n", "S", "k", "  v  ",
         ini::Edit::CHANGED, "[S]\r\nk=v  \r\n"},
        {"empty value writes key=", "[S]\r\n", "S", "k", "", ini::Edit::CHANGED, "[S]\r\nk=\r\n"},
        {"bytes after a NUL elsewhere survive", std::string("x\0y\r\n[S]\r\nk=1\r\n", 14), "S", "k",
         "2", ini::Edit::CHANGED, std::string("x\0y\r\n[S]\r\nk=2\r\n", 14)},
        {"bytes after a NUL in the rewritten line survive", std::string("[S]\r\nk=1 \0tail\r\n", 16),
         "S", "k", "2", ini::Edit::CHANGED, std::string("[S]\r\nk=2\0tail\r\n", 15)},
        {"byte-order mark stays in front", "\xEF\xBB\xBF[S]\r\nk=1\r\n", "S", "j", "2",
         ini::Edit::CHANGED, "\xEF\xBB\xBF[S]\r\nk=1\r\nj=2\r\n"},
        {"mixed endings: the written line alone changes", "[S]\nk = 1\r\n\r\nL1=x\rm=2\n", "S",
         "L1", "x <<< e", ini::Edit::CHANGED, "[S]\nk = 1\r\n\r\nL1=x <<< e\rm=2\n"},
        {"a NUL tail stays before a new section", std::string("[S]\r\nk=1\r\n\0\0", 12), "R",
         "g", "1", ini::Edit::CHANGED, std::string("[S]\r\nk=1\r\n\0\0\r\n[R]\r\ng=1\r\n", 24)},
        {"same value with the same trailing blanks does not touch", "[S]\r\nk=abc \r\n", "S", "k",
         "abc ", ini::Edit::UNCHANGED, ""},
        {"same value does not touch", "[S]\r\nk = v\r\n", "S", "k", "v", ini::Edit::UNCHANGED, ""},
        {"absent key delete does not touch", "[S]\r\nk=v\r\n", "S", "x", K, ini::Edit::UNCHANGED, ""},
        {"absent section delete does not touch", "[S]\r\nk=v\r\n", "T", K, K, ini::Edit::UNCHANGED, ""},
        {"line break in a value refused", "[S]\r\n", "S", "k", "a\r\n[X]", ini::Edit::REFUSED, ""},
        {"line break in a key refused", "[S]\r\n", "S", "k\nj", "v", ini::Edit::REFUSED, ""},
        {"= in a key refused", "[S]\r\n", "S", "a=b", "v", ini::Edit::REFUSED, ""},
        {"key that reads as a header refused", "[S]\r\n", "S", "[T]", "v", ini::Edit::REFUSED, ""},
    };
    for (const EditCase& c : cases) {
        std::string out = "untouched";
        ini::Edit r = ini::applyPut(c.before, c.section, c.key, c.value, &out);
        EXPECT_EQ(static_cast<int>(r), static_cast<int>(c.result)) << c.name;
        if (c.result == ini::Edit::CHANGED) {
            EXPECT_EQ(out, c.after) << c.name;
        } else {
            EXPECT_EQ(out, "untouched") << c.name;
        }
    }
}

TEST(IniEdit, WrittenValuesReadBackTheSame) {
    // What the loader writes back (a line plus an error text) must read back unchanged.
    const char* values[] = {"1234,U8 ; comment <<< Bad Display format", "'quoted' tail", "x"};
    std::string text = "[S]\r\n";
    for (const char* v : values) {
        std::string out;
        ASSERT_EQ(static_cast<int>(ini::applyPut(text, "S", "L1", v, &out)),
                  static_cast<int>(ini::Edit::CHANGED));
        text = out;
        uint32_t n = 0;
        EXPECT_EQ(get(text, "S", "L1", 255, &n), v);
    }
}

// ---------------------------------------------------------------------------
// Files and the archive stand-in

class IniFile : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/norvalume-ini-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        path = dir + "/panel.ini";
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    void write(const std::string& text) { writeText(path, text); }
    static void writeText(const std::string& file, const std::string& text) {
        std::FILE* f = std::fopen(file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    std::string read() { return readText(path); }
    static std::string readText(const std::string& file) {
        std::string text;
        ini::readFile(file.c_str(), &text);
        return text;
    }
    std::string dir;
    std::string path;
};

TEST_F(IniFile, PutCreatesTheFileButNotItsFolder) {
    EXPECT_TRUE(platform::profilePut(path.c_str(), "A1", "k1", "s1"));
    EXPECT_EQ(read(), "[A1]\r\nk1=s1\r\n");
    std::string deep = dir + "/missing/panel.ini";
    EXPECT_FALSE(platform::profilePut(deep.c_str(), "A1", "k1", "s1"));
}

TEST_F(IniFile, DeleteInAMissingFileCreatesNothing) {
    EXPECT_TRUE(platform::profilePut(path.c_str(), "A1", "k1", nullptr));
    EXPECT_EQ(platform::fileAttributes(path.c_str()), platform::FILE_ATTR_INVALID);
}

TEST_F(IniFile, PutKeepsTheFileMode) {
    write("[S]\r\nk=1\r\n");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    EXPECT_TRUE(platform::profilePut(path.c_str(), "S", "k", "2"));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(read(), "[S]\r\nk=2\r\n");
}

TEST_F(IniFile, PutThroughALinkReplacesItsTarget) {
    write("[S]\r\nk=1\r\n");
    std::string link = dir + "/link.ini";
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    EXPECT_TRUE(platform::profilePut(link.c_str(), "S", "k", "2"));
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read(), "[S]\r\nk=2\r\n");
}

TEST_F(IniFile, GetOnAMissingFileOrAFolderReadsEmpty) {
    char buf[16] = "junk";
    EXPECT_EQ(platform::profileGet(path.c_str(), "S", "k", buf, sizeof buf), 0u);
    EXPECT_STREQ(buf, "");
    std::strcpy(buf, "junk");
    EXPECT_EQ(platform::profileGet(dir.c_str(), "S", "k", buf, sizeof buf), 0u);
    EXPECT_STREQ(buf, "");
    EXPECT_FALSE(platform::profilePut(dir.c_str(), "S", "k", "v"));
}

TEST_F(IniFile, ArchiveSetUntilClearedThenSetByAnyChange) {
    write("[S]\r\nk=1\r\n");
    const char* p = path.c_str();
    EXPECT_TRUE(platform::fileAttributes(p) & platform::FILE_ATTR_ARCHIVE);  // never cleared
    ASSERT_TRUE(platform::setFileAttributes(p, platform::FILE_ATTR_NORMAL));
    EXPECT_EQ(platform::fileAttributes(p), platform::FILE_ATTR_NORMAL);
    EXPECT_EQ(platform::fileAttributes(p), platform::FILE_ATTR_NORMAL);  // reading changes nothing

    // Our own write marks it, like WritePrivateProfileStringA on Windows.
    ASSERT_TRUE(platform::profilePut(p, "S", "k", "2"));
    EXPECT_TRUE(platform::fileAttributes(p) & platform::FILE_ATTR_ARCHIVE);
    ASSERT_TRUE(platform::setFileAttributes(p, platform::FILE_ATTR_NORMAL));

    // An editor saving in place with the same length is seen through the times.
    usleep(20000);
    write("[S]\r\nk=3\r\n");
    EXPECT_TRUE(platform::fileAttributes(p) & platform::FILE_ATTR_ARCHIVE);

    ASSERT_TRUE(platform::setFileAttributes(p, platform::FILE_ATTR_NORMAL));
    ASSERT_TRUE(platform::setFileAttributes(p, platform::FILE_ATTR_ARCHIVE));
    EXPECT_TRUE(platform::fileAttributes(p) & platform::FILE_ATTR_ARCHIVE);
}

// A load's batch: its writes go out only if the file is still what the batch read.
TEST_F(IniFile, BatchWritesOnlyIntoTheFileItRead) {
    const std::string userSave = "[S]\r\nk=1\r\nadded=by the user\r\n";
    struct Case {
        const char* how;
        void (*save)(const std::string& path, const std::string& text);
    } cases[] = {
        {"saved in place", [](const std::string& p, const std::string& t) {
             std::FILE* f = std::fopen(p.c_str(), "r+b");
             std::fwrite(t.data(), 1, t.size(), f);
             std::fclose(f);
         }},
        {"saved by rename", [](const std::string& p, const std::string& t) {
             std::string tmp = p + ".new";
             std::FILE* f = std::fopen(tmp.c_str(), "wb");
             std::fwrite(t.data(), 1, t.size(), f);
             std::fclose(f);
             std::rename(tmp.c_str(), p.c_str());
         }},
    };
    for (const Case& c : cases) {
        write("[S]\r\nk=1\r\n");
        platform::profileBegin(path.c_str());
        EXPECT_TRUE(platform::profilePut(path.c_str(), "S", "k", "1 <<< error")) << c.how;
        c.save(path, userSave);
        EXPECT_EQ(platform::profileEnd(path.c_str()), platform::PROFILE_FILE_CHANGED) << c.how;
        EXPECT_EQ(read(), userSave) << c.how;
    }
    // Unchanged, the batch's writes land at the end, all in one replacement.
    write("[S]\r\nk=1\r\n");
    platform::profileBegin(path.c_str());
    char buf[16];
    EXPECT_EQ(platform::profileGet(path.c_str(), "S", "k", buf, sizeof buf), 1u);
    EXPECT_TRUE(platform::profilePut(path.c_str(), "S", "k", "2"));
    EXPECT_TRUE(platform::profilePut(path.c_str(), "T", "x", "3"));
    EXPECT_EQ(read(), "[S]\r\nk=1\r\n");
    EXPECT_EQ(platform::profileEnd(path.c_str()), platform::PROFILE_WRITTEN);
    EXPECT_EQ(read(), "[S]\r\nk=2\r\n[T]\r\nx=3\r\n");
    // Nothing to write, but saved meanwhile: the caller must load again.
    platform::profileBegin(path.c_str());
    write("[S]\r\nk=9\r\n");
    EXPECT_EQ(platform::profileEnd(path.c_str()), platform::PROFILE_FILE_CHANGED);
    std::string listing = "ls -A '" + dir + "' | grep -v '^panel.ini$' | grep -v '^link' || true";
    EXPECT_EQ(std::system((listing + " | grep -q . && exit 1 || exit 0").c_str()), 0)
        << "a temporary file was left behind";
}

// A second name must see what the batch writes: the file is written into, not replaced.
TEST_F(IniFile, BatchWritesIntoAHardLinkedFileItself) {
    write("[S]\r\nk=1\r\n");
    const std::string other = dir + "/other.ini";
    ASSERT_EQ(link(path.c_str(), other.c_str()), 0);
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    platform::profileBegin(path.c_str());
    EXPECT_TRUE(platform::profilePut(path.c_str(), "S", "k", "1 <<< error"));
    EXPECT_EQ(platform::profileEnd(path.c_str()), platform::PROFILE_WRITTEN);
    std::string text;
    ini::readFile(other.c_str(), &text);
    EXPECT_EQ(text, "[S]\r\nk=1 <<< error\r\n");
    struct stat after;
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    std::string listing = "ls -A '" + dir + "' | grep -q '~' && exit 1 || exit 0";
    EXPECT_EQ(std::system(listing.c_str()), 0) << "the copy beside it was left behind";
}

std::string utf16(const std::u16string& text, bool little) {
    std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t unit : text) {
        char lo = static_cast<char>(unit & 0xFF), hi = static_cast<char>(unit >> 8);
        bytes += little ? lo : hi;
        bytes += little ? hi : lo;
    }
    return bytes;
}

// A UTF-16 file reads as the 8-bit profile functions read it, and a write changes only the
// code units of what it writes: the rest of the line it annotates keeps even a character
// the code page lacks (read as '?').
TEST_F(IniFile, Utf16FileKeepsItsEncodingAndEveryOtherUnit) {
    const std::u16string text = u"; r\u00e9glages\r\n[S]\r\nk=v \u00e9t\u00e9\r\nk2=a\u2192b\r\n"
                                u"L1=X ; \u2192 f\r\n[T]\r\nt=1\r\n";
    const std::u16string after = u"; r\u00e9glages\r\n[S]\r\nk=v \u00e9t\u00e9\r\nk2=a\u2192b\r\n"
                                 u"L1=X ; \u2192 f <<< e\r\n[T]\r\nt=1\r\n[R]\r\ng=1\r\n";
    for (bool little : {true, false}) {
        write(utf16(text, little));
        char buf[64];
        platform::profileBegin(path.c_str());
        EXPECT_EQ(platform::profileGet(path.c_str(), "S", "k", buf, sizeof buf), 5u);
        EXPECT_STREQ(buf, "v \xE9t\xE9") << little;
        EXPECT_EQ(platform::profileGet(path.c_str(), "S", "k2", buf, sizeof buf), 3u);
        EXPECT_STREQ(buf, "a?b") << little;
        EXPECT_EQ(platform::profileGet(path.c_str(), "S", "L1", buf, sizeof buf), 7u);
        EXPECT_TRUE(platform::profilePut(path.c_str(), "S", "L1", "X ; ? f <<< e"));
        EXPECT_TRUE(platform::profilePut(path.c_str(), "R", "g", "1"));
        EXPECT_EQ(platform::profileEnd(path.c_str()), platform::PROFILE_WRITTEN);
        EXPECT_EQ(read(), utf16(after, little)) << little;
        EXPECT_EQ(platform::profileGet(path.c_str(), "T", "t", buf, sizeof buf), 1u) << little;
    }
    // Half a code unit at the end: read, but never written back.
    const std::string odd = utf16(text, true) + "x";
    write(odd);
    EXPECT_FALSE(platform::profilePut(path.c_str(), "R", "g", "1"));
    EXPECT_EQ(read(), odd);
}

TEST(ChangeMark, JudgesByStateThenByBytesWithinTheTimeGrain) {
    const int64_t s = 1000000000;
    ini::FileState file;
    file.exists = true;
    file.fileId = 7;
    file.size = 100;
    file.modified = 50 * s;
    EXPECT_TRUE(changemark::withinGrain(file.modified, 51 * s));
    EXPECT_FALSE(changemark::withinGrain(file.modified, 52 * s));
    EXPECT_TRUE(changemark::withinGrain(file.modified, 49 * s));  // written "in the future"

    struct Case {
        const char* name;
        bool compareBytes;
        void (*change)(ini::FileState*);
        changemark::Verdict verdict;
    } cases[] = {
        {"the same, settled", false, [](ini::FileState*) {}, changemark::Verdict::SAME},
        {"the same, within the grain", true, [](ini::FileState*) {},
         changemark::Verdict::COMPARE_BYTES},
        {"another size", true, [](ini::FileState* f) { f->size = 101; },
         changemark::Verdict::CHANGED},
        {"another write time", false, [](ini::FileState* f) { f->modified += 1; },
         changemark::Verdict::CHANGED},
        {"another file", false, [](ini::FileState* f) { f->fileId = 8; },
         changemark::Verdict::CHANGED},
        {"a change of the metadata", false, [](ini::FileState* f) { f->changed = 1; },
         changemark::Verdict::CHANGED},
        {"gone", false, [](ini::FileState* f) { f->exists = false; },
         changemark::Verdict::CHANGED},
    };
    for (const Case& c : cases) {
        changemark::Mark mark{file, c.compareBytes, 0};
        ini::FileState now = file;
        c.change(&now);
        EXPECT_EQ(static_cast<int>(changemark::judge(mark, now)), static_cast<int>(c.verdict))
            << c.name;
    }
}

TEST_F(IniFile, FileWithoutWritePermissionIsNeverRewritten) {
    const std::string text = "[S]\r\nk=1\r\n";
    write(text);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    EXPECT_FALSE(platform::profilePut(path.c_str(), "S", "k", "2"));
    platform::profileBegin(path.c_str());
    EXPECT_FALSE(platform::profilePut(path.c_str(), "S", "k", "2"));
    EXPECT_EQ(platform::profileEnd(path.c_str()), platform::PROFILE_NOTHING_WRITTEN);
    EXPECT_EQ(read(), text);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}

// A file that is there but cannot be read (here: past the size cap; on Windows, locked by
// another program) answers nothing, and the batch says so: the caller must read it again.
TEST_F(IniFile, BatchOnAFileItCouldNotReadReportsItChanged) {
    write("[S]\r\nk=1\r\n" + std::string(ini::MAX_FILE_SIZE, ';'));
    EXPECT_FALSE(platform::profileBegin(path.c_str()));
    char buf[16];
    EXPECT_EQ(platform::profileGet(path.c_str(), "S", "k", buf, sizeof buf), 0u);
    EXPECT_FALSE(platform::profileHasSection(path.c_str(), "S"));
    EXPECT_FALSE(platform::profilePut(path.c_str(), "S", "k", "2"));
    EXPECT_EQ(platform::profileEnd(path.c_str()), platform::PROFILE_FILE_CHANGED);
    // A folder where the file should be is not a file that could change, nor one to read.
    EXPECT_FALSE(platform::fileReadable(dir.c_str()));
    EXPECT_TRUE(platform::profileBegin(dir.c_str()));
    EXPECT_EQ(platform::profileEnd(dir.c_str()), platform::PROFILE_NOTHING_WRITTEN);
    // Nor is one that may not be read.
    write("[S]\r\nk=1\r\n");
    EXPECT_TRUE(platform::fileReadable(path.c_str()));
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    if (access(path.c_str(), R_OK) != 0) {  // root reads it anyway
        EXPECT_FALSE(platform::fileReadable(path.c_str()));
        EXPECT_FALSE(platform::profileBegin(path.c_str()));
        EXPECT_EQ(platform::profileEnd(path.c_str()), platform::PROFILE_FILE_CHANGED);
    }
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    EXPECT_FALSE(platform::fileReadable((dir + "/missing.ini").c_str()));
}

// A load reads the settings file and an aircraft profile in two batches at once: each is
// answered from its own reading and replaced only while it is still what was read, so a
// save of one drops that file's writes alone. A third file is not batched.
TEST_F(IniFile, TwoBatchesAtOnceEachKeepToTheirFile) {
    const std::string other = dir + "/profile.ini", third = dir + "/third.ini";
    const std::string thirdText = "[S]\r\nk=3\r\n";
    for (bool saveOther : {false, true}) {
        SCOPED_TRACE(saveOther);
        write("[S]\r\nk=1\r\n");
        writeText(other, "[Empty]\r\n[S]\r\nk=2\r\n");
        writeText(third, thirdText);
        EXPECT_TRUE(platform::profileBegin(path.c_str()));
        EXPECT_TRUE(platform::profileBegin(other.c_str()));
        EXPECT_TRUE(platform::profileBegin(third.c_str()));
        char buf[16];
        EXPECT_EQ(platform::profileGet(other.c_str(), "S", "k", buf, sizeof buf), 1u);
        EXPECT_STREQ(buf, "2");
        EXPECT_TRUE(platform::profileHasSection(other.c_str(), "empty"));
        EXPECT_FALSE(platform::profileHasSection(path.c_str(), "Empty"));
        EXPECT_TRUE(platform::profilePut(path.c_str(), "S", "k", "1 <<< a"));
        EXPECT_TRUE(platform::profilePut(other.c_str(), "S", "k", "2 <<< b"));
        // Not batched: written at once.
        EXPECT_TRUE(platform::profilePut(third.c_str(), "S", "k", "4"));
        EXPECT_EQ(readText(third), "[S]\r\nk=4\r\n");
        if (saveOther) writeText(other, "[S]\r\nk=9\r\n");
        EXPECT_EQ(platform::profileEnd(other.c_str()),
                  saveOther ? platform::PROFILE_FILE_CHANGED : platform::PROFILE_WRITTEN);
        EXPECT_EQ(platform::profileEnd(third.c_str()), platform::PROFILE_NOTHING_WRITTEN);
        EXPECT_EQ(platform::profileEnd(path.c_str()), platform::PROFILE_WRITTEN);
        EXPECT_EQ(read(), "[S]\r\nk=1 <<< a\r\n");
        EXPECT_EQ(readText(other), saveOther ? "[S]\r\nk=9\r\n" : "[Empty]\r\n[S]\r\nk=2 <<< b\r\n");
    }
}

TEST_F(IniFile, AttributesOfAMissingFileAreInvalid) {
    EXPECT_EQ(platform::fileAttributes(path.c_str()), platform::FILE_ATTR_INVALID);
    EXPECT_FALSE(platform::setFileAttributes(path.c_str(), platform::FILE_ATTR_NORMAL));
}

}  // namespace
