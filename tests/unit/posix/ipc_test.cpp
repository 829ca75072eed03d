// Shared memory left behind on Linux: a block outlives a killed creator, and the next
// start removes it once that creator is gone, never while it runs, and never memory that
// the platform did not make.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"

namespace {

std::string blockName(const char* what) {
    return "norvalume-test-" + std::to_string(getpid()) + "-" + what;
}

bool blockExists(const std::string& name) {
    int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
    if (fd >= 0) close(fd);
    return fd >= 0;
}

TEST(OrphanedSharedMemory, GoesOnlyOnceItsCreatorHasEnded) {
    const std::string name = blockName("orphan");
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t creator = fork();
    ASSERT_GE(creator, 0);
    if (creator == 0) {
        // Creates the block, says so, and ends when told without ever closing it.
        bool existed = false;
        char made = platform::createSharedMemory(name.c_str(), 4096, &existed) ? 'y' : 'n';
        if (write(ready[1], &made, 1) != 1 || read(release[0], &made, 1) < 0) _exit(1);
        _exit(0);
    }
    char made = 0;
    ASSERT_EQ(read(ready[0], &made, 1), 1);
    ASSERT_EQ(made, 'y');

    platform::removeOrphanedSharedMemory();
    EXPECT_TRUE(blockExists(name)) << "its creator still runs";

    ASSERT_EQ(write(release[1], "x", 1), 1);
    ASSERT_EQ(waitpid(creator, nullptr, 0), creator);
    EXPECT_TRUE(blockExists(name)) << "nothing closed it";
    platform::removeOrphanedSharedMemory();
    EXPECT_FALSE(blockExists(name));

    shm_unlink(("/" + name).c_str());
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

TEST(OrphanedSharedMemory, OwnBlocksAndMemoryMadeByOthersStay) {
    const std::string own = blockName("own");
    bool existed = false;
    platform::MappingRef mapping = platform::createSharedMemory(own.c_str(), 4096, &existed);
    ASSERT_NE(mapping, 0u);
    const std::string foreign = "/" + blockName("foreign");
    int fd = shm_open(foreign.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 8192), 0);
    close(fd);

    platform::removeOrphanedSharedMemory();
    EXPECT_TRUE(blockExists(own));
    EXPECT_TRUE(blockExists(foreign.substr(1)));

    platform::closeSharedMemory(mapping);
    EXPECT_FALSE(blockExists(own));
    shm_unlink(foreign.c_str());
}

}  // namespace
