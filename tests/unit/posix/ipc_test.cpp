// Linux IPC: the connection to the module's socket belongs to the atom (one per open
// link, kept between exchanges, ended with the atom, made again after the module was
// restarted, never trusted after a late answer, never to another user's socket); and
// shared memory left behind: a block outlives a killed creator, and the next start
// removes it once that creator is gone, never while it runs, and never memory that the
// platform did not make.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

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

// A module on a thread: listens on the socket of class CLASS in the run folder, answers
// every line with `answer` after `delayMs`, and counts what the client did.
struct TestModule {
    std::string path;
    int listener = -1;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0};  // connections, the window lookup's included
    std::atomic<int> lines{0};     // requests
    std::atomic<int> ended{0};     // connections the client closed
    std::atomic<int> delayMs{0};
    std::atomic<uint32_t> answer{1};

    void start(const std::string& folder) {
        path = folder + "/CLASS";
        unlink(path.c_str());
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        listener = socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(listen(listener, 8), 0);
        stop = false;
        thread = std::thread([this] { serve(); });
    }
    // Ends the module as a killed one ends: every connection and the socket go.
    void halt() {
        stop = true;
        thread.join();
        close(listener);
        unlink(path.c_str());
    }
    void serve() {
        std::vector<int> connections;
        while (!stop) {
            std::vector<pollfd> fds{{listener, POLLIN, 0}};
            for (int fd : connections) fds.push_back({fd, POLLIN, 0});
            if (poll(fds.data(), fds.size(), 10) <= 0) continue;
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!fds[i].revents) continue;
                char buf[256];
                ssize_t n = recv(fds[i].fd, buf, sizeof buf, 0);
                if (n <= 0) {
                    ++ended;
                    close(fds[i].fd);
                    connections.erase(connections.begin() + long(i - 1));
                    break;  // the indexes moved; poll again
                }
                for (ssize_t k = 0; k < n; ++k) {
                    if (buf[k] != '\n') continue;
                    ++lines;
                    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
                    uint32_t a = answer;
                    send(fds[i].fd, &a, 4, MSG_NOSIGNAL);
                }
            }
            if (fds[0].revents) {
                connections.push_back(accept(listener, nullptr, nullptr));
                ++accepted;
            }
        }
        for (int fd : connections) close(fd);
    }
};

bool eventually(const std::function<bool()>& what) {
    for (int i = 0; i < 200 && !what(); ++i) platform::sleepMs(5);
    return what();
}

class Connection : public ::testing::Test {
protected:
    void SetUp() override {
        char base[] = "/tmp/ipc_test_XXXXXX";
        ASSERT_NE(mkdtemp(base), nullptr);
        folder = base;
        const char* old = getenv("NORVALUME_RUNDIR");
        hadFolder = old != nullptr;
        if (old) oldFolder = old;
        setenv("NORVALUME_RUNDIR", folder.c_str(), 1);
    }
    void TearDown() override {
        if (hadFolder)
            setenv("NORVALUME_RUNDIR", oldFolder.c_str(), 1);
        else
            unsetenv("NORVALUME_RUNDIR");
        rmdir(folder.c_str());
    }
    // The window and an atom as an open link has them.
    void open(TestModule& module) {
        module.start(folder);
        window = platform::findWindowByClass("CLASS");
        ASSERT_NE(window, 0u);
        // The lookup connects and leaves at once; counted before the link's own.
        ASSERT_TRUE(eventually([&] { return module.ended == 1; }));
        message = platform::registerMessage("FsasmLib:IPC");
        atom = platform::addAtom(("block-" + std::to_string(getpid())).c_str());
        ASSERT_NE(atom, 0);
    }
    bool exchange(uint32_t* result, uint32_t timeoutMs = 2000) {
        return platform::sendMessageTimeout(window, message, atom, 0, timeoutMs, result);
    }
    std::string folder;
    platform::WindowRef window = 0;
    uint32_t message = 0;
    uint16_t atom = 0;

private:
    bool hadFolder = false;
    std::string oldFolder;
};

// One connection carries the open link's exchanges and ends with its atom. After a late
// answer it is not trusted again, and after the module was restarted the next send makes
// a new one at once; a module that is gone fails the send with an error code.
TEST_F(Connection, OneConnectionPerLinkMadeAgainWhenInDoubt) {
    TestModule module;
    open(module);
    uint32_t result = 0;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(exchange(&result));
    EXPECT_TRUE(eventually([&] { return module.lines == 5; }));
    EXPECT_EQ(module.accepted, 2) << "the lookup's connection and the link's";

    module.answer = 7;
    module.delayMs = 300;
    EXPECT_FALSE(exchange(&result, 100));
    EXPECT_EQ(platform::lastErrorCode(), 0u) << "a time-out leaves no error code";
    platform::sleepMs(400);  // the late 7 is sent by now, to a connection let go
    module.delayMs = 0;
    module.answer = 1;
    ASSERT_TRUE(exchange(&result));
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(module.accepted, 3);

    module.halt();
    TestModule again;
    again.answer = 3;
    again.start(folder);
    ASSERT_TRUE(exchange(&result)) << "the restarted module was not reached in one send";
    EXPECT_EQ(result, 3u);
    platform::deleteAtom(atom);
    EXPECT_TRUE(eventually([&] { return again.ended == 1; })) << "the link's end went unseen";
    again.halt();
    EXPECT_FALSE(exchange(&result));
    EXPECT_NE(platform::lastErrorCode(), 0u) << "a vanished window is an error, not a time-out";
}

// Another user's process listening on the socket could read every block name and answer
// what it likes: the window is not found. Only root can play the other user here.
TEST_F(Connection, AnotherUsersListenerIsNoWindow) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can listen as another user here";
    const std::string path = folder + "/FOREIGN";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t other = fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        char ok = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                          chmod(path.c_str(), 0777) == 0 && setgid(4242) == 0 &&
                          setuid(4242) == 0 && listen(fd, 4) == 0
                      ? 'y'
                      : 'n';
        if (write(ready[1], &ok, 1) != 1) _exit(1);
        for (;;) close(accept(fd, nullptr, nullptr));
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    EXPECT_EQ(platform::findWindowByClass("FOREIGN"), 0u);
    kill(other, SIGKILL);
    waitpid(other, nullptr, 0);
    unlink(path.c_str());
    close(ready[0]);
    close(ready[1]);
}

}  // namespace
