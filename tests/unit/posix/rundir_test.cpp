// The run folder rule that the Linux IPC layer and the emulator both follow: where a
// name's path lies with and without $NORVALUME_RUNDIR and $XDG_RUNTIME_DIR, that a path
// is refused rather than cut, and that a folder is used only when no other user can put
// a name into it.
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

// Sets or (null) unsets an environment variable.
void setVariable(const char* name, const char* value) {
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

class RunDir : public ::testing::Test {
protected:
    void SetUp() override {
        for (Saved& v : saved) {
            const char* value = getenv(v.name);
            v.had = value != nullptr;
            if (value) v.value = value;
        }
        char base[] = "/tmp/rundir_test_XXXXXX";
        ASSERT_NE(mkdtemp(base), nullptr);
        scratch = base;
    }
    void TearDown() override {
        for (const Saved& v : saved) setVariable(v.name, v.had ? v.value.c_str() : nullptr);
        std::string remove = "rm -rf '" + scratch + "'";
        EXPECT_EQ(std::system(remove.c_str()), 0);
    }
    // Null unsets the variable.
    static void useDir(const char* dir) { setVariable("NORVALUME_RUNDIR", dir); }
    static void useRuntime(const char* dir) { setVariable("XDG_RUNTIME_DIR", dir); }
    static std::string defaultDir() { return "/tmp/norvalume-" + std::to_string(getuid()); }
    std::string scratch;

private:
    struct Saved {
        const char* name;
        bool had;
        std::string value;
    } saved[2] = {{"NORVALUME_RUNDIR", false, ""}, {"XDG_RUNTIME_DIR", false, ""}};
};

TEST_F(RunDir, PathLiesInTheNamedFolderTheSessionsOrThePerUserDefault) {
    struct Case {
        const char* dir;
        const char* runtime;
        const char* name;
        std::string expected;
    } cases[] = {
        {"/run/here", "/run/user/7", "CLASS", "/run/here/CLASS"},
        {nullptr, "/run/user/7", "CLASS", "/run/user/7/norvalume/CLASS"},
        {"", "/run/user/7", "CLASS", "/run/user/7/norvalume/CLASS"},
        {nullptr, nullptr, "CLASS", defaultDir() + "/CLASS"},
        {"", "", "OTHER", defaultDir() + "/OTHER"},
        // A relative session folder would be another folder in every working directory.
        {nullptr, "run/user/7", "CLASS", defaultDir() + "/CLASS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.dir ? c.dir : "(unset)") + " " +
                     (c.runtime ? c.runtime : "(unset)"));
        useDir(c.dir);
        useRuntime(c.runtime);
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

// What is at the run folder's place before it is prepared.
enum Found { NOTHING, FOLDER, LINK_TO_FOLDER, PLAIN_FILE };
constexpr uid_t ANOTHER_USER = 4242;

// The folder as another user, or this one, may have left it; then whether prepareRunFolder
// takes it and what its message says. A default folder (here the session's) must be
// private to us; one the environment names only kept from others' writes.
TEST_F(RunDir, FolderIsOursOrRefusedWithWhatIsWrong) {
    struct Case {
        const char* what;
        bool named;
        Found found;
        mode_t mode;
        bool otherOwner;
        bool accepted;
        const char* message;  // part of the message when refused
    } cases[] = {
        {"default, missing: made private", false, NOTHING, 0, false, true, ""},
        {"default, private", false, FOLDER, 0700, false, true, ""},
        {"default, open to all", false, FOLDER, 0777, false, false, "mode 0777, must be 0700"},
        {"default, readable by the group", false, FOLDER, 0750, false, false, "mode 0750"},
        {"default, a link to a private folder", false, LINK_TO_FOLDER, 0700, false, false,
         "symbolic link"},
        {"default, a file", false, PLAIN_FILE, 0600, false, false, "not a folder"},
        {"default, another user's", false, FOLDER, 0700, true, false, "belongs to user 4242"},
        {"named, readable by all", true, FOLDER, 0755, false, true, ""},
        {"named, through a link", true, LINK_TO_FOLDER, 0700, false, true, ""},
        {"named, writable by the group", true, FOLDER, 0775, false, false, "write to it"},
        {"named, writable by all", true, FOLDER, 0757, false, false, "mode 0757"},
        {"named, missing: not made", true, NOTHING, 0, false, false, "No such file"},
        {"named, another user's", true, FOLDER, 0755, true, false, "belongs to user 4242"},
    };
    const mode_t mask = umask(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.otherOwner && geteuid() != 0) {
            std::printf("skipped \"%s\": only root can make a folder another user's\n", c.what);
            continue;
        }
        const std::string runtime = scratch + "/runtime-" + std::to_string(&c - cases);
        ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
        const std::string dir = runtime + "/norvalume";
        const std::string real = runtime + "/real";
        if (c.found == FOLDER) {
            ASSERT_EQ(mkdir(dir.c_str(), c.mode), 0);
        }
        if (c.found == LINK_TO_FOLDER) {
            ASSERT_EQ(mkdir(real.c_str(), c.mode), 0);
            ASSERT_EQ(symlink(real.c_str(), dir.c_str()), 0);
        }
        if (c.found == PLAIN_FILE) std::fclose(std::fopen(dir.c_str(), "w"));
        if (c.otherOwner) {
            ASSERT_EQ(chown(dir.c_str(), ANOTHER_USER, ANOTHER_USER), 0);
        }
        useDir(c.named ? dir.c_str() : nullptr);
        useRuntime(c.named ? nullptr : runtime.c_str());

        char why[256] = "stale";
        EXPECT_EQ(platform::prepareRunFolder(why, sizeof why), c.accepted);
        if (c.accepted) {
            EXPECT_STREQ(why, "");
            struct stat st;
            ASSERT_EQ(stat(dir.c_str(), &st), 0);
            EXPECT_TRUE(S_ISDIR(st.st_mode));
            if (c.found == NOTHING) {
                EXPECT_EQ(st.st_mode & 0777, 0700u);
            }
        } else {
            EXPECT_NE(std::string(why).find("run folder " + dir + " refused"), std::string::npos)
                << why;
            EXPECT_NE(std::string(why).find(c.message), std::string::npos) << why;
        }
        struct stat st;
        if (c.named && c.found == NOTHING) {
            EXPECT_NE(lstat(dir.c_str(), &st), 0) << "made";
        }
    }
    umask(mask);
}

TEST_F(RunDir, SessionFolderThatCannotHoldOursIsRefused) {
    useDir(nullptr);
    const std::string missing = scratch + "/gone";
    useRuntime(missing.c_str());
    char why[256];
    EXPECT_FALSE(platform::prepareRunFolder(why, sizeof why));
    EXPECT_NE(std::string(why).find(missing + "/norvalume refused: it cannot be created"),
              std::string::npos)
        << why;
}

}  // namespace
