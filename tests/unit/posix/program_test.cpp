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

class Claim : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override {
        char pattern[] = "/tmp/norvalume-claim-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        setenv("NORVALUME_RUNDIR", dir.c_str(), 1);
    }
    void TearDown() override {
        platform::releaseSettingsFile();
        unsetenv("NORVALUME_RUNDIR");
        std::string command = "rm -rf '" + dir + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    // The one lock file of the run folder, opened apart from the platform's own.
    int openLockFile() {
        std::string command = "ls '" + dir + "'";
        FILE* list = popen(command.c_str(), "r");
        char name[256] = "";
        if (list) {
            if (!std::fgets(name, sizeof name, list)) name[0] = '\0';
            pclose(list);
        }
        name[std::strcspn(name, "\n")] = '\0';
        EXPECT_EQ(std::strncmp(name, "settings-", 9), 0) << name;
        return open((dir + "/" + name).c_str(), O_RDWR);
    }
};

TEST_F(Claim, HeldUntilReleasedAndRefusedWhileAnotherHoldsIt) {
    ASSERT_EQ(platform::claimSettingsFile("/opt/norvalume/norvalume.ini"), platform::CLAIM_TAKEN);
    const int other = openLockFile();
    ASSERT_GE(other, 0);
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0) << "the claim holds no lock";

    platform::releaseSettingsFile();
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(platform::claimSettingsFile("/opt/norvalume/norvalume.ini"), platform::CLAIM_HELD);
    // Another settings file is another claim.
    EXPECT_EQ(platform::claimSettingsFile("/opt/norvalume/other.ini"), platform::CLAIM_TAKEN);
    platform::releaseSettingsFile();
    close(other);
    EXPECT_EQ(platform::claimSettingsFile("/opt/norvalume/norvalume.ini"), platform::CLAIM_TAKEN);
}

TEST_F(Claim, ARunFolderThatCannotHoldTheLockCannotTell) {
    setenv("NORVALUME_RUNDIR", (dir + "/missing/folder").c_str(), 1);
    EXPECT_EQ(platform::claimSettingsFile("/opt/norvalume/norvalume.ini"),
              platform::CLAIM_UNAVAILABLE);
}

}  // namespace
