// The Linux program services a start relies on: a file named on a command line made a full
// path against the current folder, and the claim on a settings file, held by a lock in
// the run folder that any other holder of the lock file sees.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/path_key.h"
#include "platform/platform.h"

namespace {

TEST(FullPath, RelativeNamesJoinTheCurrentFolderAndKeepWhatTheyName) {
    char here[PATH_MAX];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    const std::string cwd = std::strcmp(here, "/") == 0 ? "" : here;
    struct Case {
        const char* typed;
        std::string full;
    } cases[] = {
        {"panel.ini", cwd + "/panel.ini"},
        {"./panel.ini", cwd + "/panel.ini"},
        {"../cockpit/panel.ini", cwd + "/../cockpit/panel.ini"},
        {"my panels/./panel one.ini", cwd + "/my panels/panel one.ini"},
        {"a//b/", cwd + "/a/b"},
        {".", cwd.empty() ? "/" : cwd},
        {"/opt/./x//y/../z.ini", "/opt/x/y/../z.ini"},
        {"/", "/"},
    };
    for (const Case& c : cases) {
        char out[PATH_MAX + 64];
        EXPECT_EQ(platform::fullPath(c.typed, out, sizeof out), c.full.size()) << c.typed;
        EXPECT_EQ(std::string(out), c.full) << c.typed;
    }

    // Refused, never cut: an empty name, and a path one byte too long for the buffer.
    char out[16] = "x";
    EXPECT_EQ(platform::fullPath("", out, sizeof out), 0u);
    EXPECT_STREQ(out, "");
    const std::string fits(15, 'p');
    EXPECT_EQ(platform::fullPath(("/" + fits.substr(1)).c_str(), out, sizeof out), 15u);
    EXPECT_EQ(platform::fullPath(("/" + fits).c_str(), out, sizeof out), 0u);
    EXPECT_STREQ(out, "");
}

// The lock lies in the run folder: another holder of it is another copy of the program.
TEST(Claim, HeldUntilReleasedRefusedWhileAnotherHoldsItUnknownWithoutARunFolder) {
    char made[] = "/tmp/norvalume-claim-XXXXXX";
    ASSERT_NE(mkdtemp(made), nullptr);
    const std::string dir = made;
    setenv("NORVALUME_RUNDIR", dir.c_str(), 1);
    const char* ini = "/opt/norvalume/norvalume.ini";
    char key[platform::PATH_KEY_SIZE];
    platform::pathKey(ini, key);
    const std::string lock = dir + "/settings-" + key + ".lock";

    ASSERT_EQ(platform::claimSettingsFile(ini), platform::CLAIM_TAKEN);
    const int other = open(lock.c_str(), O_RDWR);
    ASSERT_GE(other, 0) << lock;
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0) << "the claim holds no lock";
    platform::releaseSettingsFile();
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(platform::claimSettingsFile(ini), platform::CLAIM_HELD);
    EXPECT_EQ(platform::claimSettingsFile("/opt/norvalume/other.ini"), platform::CLAIM_TAKEN);
    platform::releaseSettingsFile();
    close(other);

    setenv("NORVALUME_RUNDIR", (dir + "/missing/folder").c_str(), 1);
    EXPECT_EQ(platform::claimSettingsFile(ini), platform::CLAIM_UNAVAILABLE);
    unsetenv("NORVALUME_RUNDIR");
    EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}

}  // namespace
