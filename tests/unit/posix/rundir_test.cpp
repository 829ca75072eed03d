// The run folder rule that the Linux IPC layer and the emulator both follow: where a
// name's path lies with and without $NORVALUME_RUNDIR, that a path is refused rather than
// cut, and that only the per-user default folder is ever created.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/rundir.h"

namespace {

class RunDir : public ::testing::Test {
protected:
    void SetUp() override {
        const char* dir = getenv("NORVALUME_RUNDIR");
        hadDir = dir != nullptr;
        if (dir) savedDir = dir;
    }
    void TearDown() override {
        if (hadDir)
            setenv("NORVALUME_RUNDIR", savedDir.c_str(), 1);
        else
            unsetenv("NORVALUME_RUNDIR");
    }
    // Null unsets the variable.
    static void useDir(const char* dir) {
        if (dir)
            setenv("NORVALUME_RUNDIR", dir, 1);
        else
            unsetenv("NORVALUME_RUNDIR");
    }
    static std::string defaultDir() { return "/tmp/norvalume-" + std::to_string(getuid()); }

private:
    bool hadDir = false;
    std::string savedDir;
};

TEST_F(RunDir, PathLiesInTheNamedFolderOrThePerUserDefault) {
    struct Case {
        const char* dir;
        const char* name;
        std::string expected;
    } cases[] = {
        {"/run/here", "CLASS", "/run/here/CLASS"},
        {nullptr, "CLASS", defaultDir() + "/CLASS"},
        {"", "OTHER", defaultDir() + "/OTHER"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir ? c.dir : "(unset)");
        useDir(c.dir);
        char out[108];
        ASSERT_EQ(platform::runFolderPath(c.name, out, sizeof out), 0);
        EXPECT_EQ(std::string(out), c.expected);
    }
}

TEST_F(RunDir, NamesWithASlashAreRefused) {
    useDir("/run/here");
    char out[64] = "stale";
    EXPECT_EQ(platform::runFolderPath("../CLASS", out, sizeof out), EINVAL);
    EXPECT_STREQ(out, "");
    std::snprintf(out, sizeof out, "stale");
    EXPECT_EQ(platform::sharedMemoryName("a/b", out, sizeof out), EINVAL);
    EXPECT_STREQ(out, "");
}

// One byte short is refused whole: a cut path would name some other socket or block.
TEST_F(RunDir, PathsThatDoNotFitAreRefusedNotCut) {
    useDir("/r");
    struct Case {
        const char* what;
        int (*write)(const char*, char*, size_t);
        const char* expected;
    } cases[] = {
        {"socket path", platform::runFolderPath, "/r/AB"},
        {"shared-memory name", platform::sharedMemoryName, "/AB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        size_t exact = std::strlen(c.expected) + 1;
        char out[16];
        ASSERT_EQ(c.write("AB", out, exact), 0);
        EXPECT_STREQ(out, c.expected);
        EXPECT_EQ(c.write("AB", out, exact - 1), ENAMETOOLONG);
        EXPECT_STREQ(out, "");
    }
}

TEST_F(RunDir, OnlyTheDefaultFolderIsCreated) {
    char base[] = "/tmp/rundir_test_XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    std::string named = std::string(base) + "/named";
    useDir(named.c_str());
    platform::makeRunFolder();
    struct stat st;
    EXPECT_NE(stat(named.c_str(), &st), 0);
    rmdir(base);

    useDir(nullptr);
    bool existed = stat(defaultDir().c_str(), &st) == 0;
    platform::makeRunFolder();
    ASSERT_EQ(stat(defaultDir().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    if (!existed) {
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        rmdir(defaultDir().c_str());
    }
}

}  // namespace
