// norvalume-sim's Linux front end: listens on the socket that stands for the window of
// the chosen class, answers each connection's block, and runs commands from the script
// and standard input in one poll loop, so `wait` never stops the serving.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/rundir.h"
#include "tools/sim/sim_app.h"

namespace {

volatile sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }

uint64_t nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

// Reads the block name the client sent: one line, within a second.
bool readName(int fd, char* name, size_t size) {
    size_t n = 0;
    uint64_t deadline = nowMs() + 1000;
    while (n + 1 < size) {
        uint64_t now = nowMs();
        if (now >= deadline) return false;
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, int(deadline - now)) <= 0) return false;
        char c;
        if (recv(fd, &c, 1, 0) != 1) return false;
        if (c == '\n') {
            name[n] = '\0';
            return true;
        }
        name[n++] = c;
    }
    return false;
}

uint32_t processNamedBlock(const char* name, bool* answered) {
    *answered = true;
    char shmName[300];
    if (!*name || platform::sharedMemoryName(name, shmName, sizeof shmName) != 0) {
        simModule.exchanges++;
        return 0;
    }
    int fd = shm_open(shmName, O_RDWR, 0);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_size < off_t(LINK_BLOCK_SIZE)) {
        if (fd >= 0) close(fd);
        simModule.exchanges++;
        return 0;
    }
    void* view = mmap(nullptr, LINK_BLOCK_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (view == MAP_FAILED) {
        simModule.exchanges++;
        return 0;
    }
    uint32_t result = 0;
    *answered = serveBlock(static_cast<uint8_t*>(view), &result);
    munmap(view, LINK_BLOCK_SIZE);
    return result;
}

// The loop's state: the script's next command and its wait, standard input not yet run
// (up to a partial last line) and its own wait, and the connections a silent module
// never answers. Standard input waits for the script's end, unless the script loops.
struct Serving {
    size_t scriptNext = 0;
    uint64_t scriptWaitUntil = 0;
    bool scriptWaited = false;  // this pass of the script has waited
    std::string input;
    bool inputOpen = true;
    uint64_t inputWaitUntil = 0;
    bool quit = false;
    std::vector<int> hung;
};

// Binds and listens on the window's socket; -1 after saying why not.
int openListener(const SimOptions& options, sockaddr_un& addr) {
    platform::makeRunFolder();
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (platform::runFolderPath(options.windowClass.c_str(), addr.sun_path,
                                sizeof addr.sun_path) != 0) {
        std::fprintf(stderr, "norvalume-sim: run folder path too long\n");
        return -1;
    }
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    unlink(addr.sun_path);  // a socket left by a module that died
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 16) != 0) {
        std::fprintf(stderr, "norvalume-sim: cannot listen on %s: %s\n", addr.sun_path,
                     std::strerror(errno));
        if (listener >= 0) close(listener);
        return -1;
    }
    return listener;
}

bool scriptPending(const Serving& st, const SimOptions& options) {
    const size_t lines = options.scriptLines.size();
    return lines && (options.loop || st.scriptNext < lines);
}

// Runs the script's commands until a wait, its end or a quit. A looping script starts
// over at its end; a pass that never waited lets the serving run for a millisecond first.
void runScript(Serving& st, const SimOptions& options) {
    while (!st.quit && scriptPending(st, options) && nowMs() >= st.scriptWaitUntil) {
        if (st.scriptNext == options.scriptLines.size()) {
            st.scriptNext = 0;
            if (!st.scriptWaited) st.scriptWaitUntil = nowMs() + 1;
            st.scriptWaited = false;
            continue;
        }
        sim::CommandResult r = runSimLine(options.scriptLines[st.scriptNext++]);
        if (r.kind == sim::COMMAND_WAIT) {
            const uint32_t ms = sim::scaledWaitMs(r.waitMs, options.speed);
            st.scriptWaitUntil = nowMs() + ms;
            if (ms) st.scriptWaited = true;
        }
        if (r.kind == sim::COMMAND_QUIT) st.quit = true;
    }
}

// Runs standard input's complete lines until a wait, the last of them or a quit.
void runInput(Serving& st) {
    while (!st.quit && nowMs() >= st.inputWaitUntil) {
        size_t end = st.input.find('\n');
        if (end == std::string::npos) break;
        std::string line = st.input.substr(0, end);
        st.input.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        sim::CommandResult r = runSimLine(line);
        if (r.kind == sim::COMMAND_WAIT) st.inputWaitUntil = nowMs() + r.waitMs;
        if (r.kind == sim::COMMAND_QUIT) st.quit = true;
    }
}

void runDueCommands(Serving& st, const SimOptions& options) {
    runScript(st, options);
    if (options.loop || (!scriptPending(st, options) && nowMs() >= st.scriptWaitUntil))
        runInput(st);
}

// Until the next command falls due: -1 when nothing waits to run.
int pollTimeout(const Serving& st, const SimOptions& options) {
    const uint64_t now = nowMs();
    int timeout = -1;
    for (uint64_t due : {st.scriptWaitUntil, st.inputWaitUntil}) {
        if (due <= now) continue;
        if (timeout < 0 || due - now < uint64_t(timeout)) timeout = int(due - now);
    }
    if (timeout < 0 && scriptPending(st, options)) timeout = 0;
    return timeout;
}

// One client: its message name in, the result word out (or no answer while silent).
void serveConnection(int listener, Serving& st) {
    int conn = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    char name[300];
    if (conn >= 0 && readName(conn, name, sizeof name)) {
        bool answered = true;
        uint32_t result = processNamedBlock(name, &answered);
        if (answered) {
            uint8_t out[4];
            writeLe32(out, result);
            send(conn, out, 4, MSG_NOSIGNAL);
            close(conn);
        } else {
            st.hung.push_back(conn);
        }
    } else if (conn >= 0) {
        close(conn);  // a window lookup, or a client that said nothing
    }
}

void readInput(Serving& st) {
    char buf[4096];
    ssize_t n = read(0, buf, sizeof buf);
    if (n > 0) {
        st.input.append(buf, size_t(n));
    } else if (n == 0 || errno != EINTR) {
        st.inputOpen = false;  // keep serving without it
        if (!st.input.empty() && st.input.back() != '\n') st.input += '\n';
    }
}

// Forgets the unanswered connections whose client has gone.
void dropClosedHung(const std::vector<pollfd>& fds, size_t firstHung, Serving& st) {
    for (size_t i = firstHung; i < fds.size(); i++) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char c;
        if (recv(fds[i].fd, &c, 1, MSG_DONTWAIT) > 0) continue;
        close(fds[i].fd);
        for (size_t k = 0; k < st.hung.size(); k++)
            if (st.hung[k] == fds[i].fd) st.hung.erase(st.hung.begin() + long(k));
    }
}

}  // namespace

int serveSim(const SimOptions& options) {
    // Blocks of clients that were killed would otherwise stay until the machine restarts.
    platform::removeOrphanedSharedMemory();
    sockaddr_un addr;
    int listener = openListener(options, addr);
    if (listener < 0) return 1;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::printf("ready %s\n", options.windowClass.c_str());
    std::fflush(stdout);

    Serving st;
    while (!st.quit && !stopRequested) {
        runDueCommands(st, options);
        if (st.quit) break;
        if (simModule.fault != sim::FAULT_SILENT) {
            for (int fd : st.hung) close(fd);
            st.hung.clear();
        }

        std::vector<pollfd> fds;
        fds.push_back({listener, POLLIN, 0});
        if (st.inputOpen) fds.push_back({0, POLLIN, 0});
        size_t firstHung = fds.size();
        for (int fd : st.hung) fds.push_back({fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), pollTimeout(st, options)) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents & POLLIN) serveConnection(listener, st);
        if (st.inputOpen && (fds[1].revents & (POLLIN | POLLHUP))) readInput(st);
        dropClosedHung(fds, firstHung, st);
    }
    for (int fd : st.hung) close(fd);
    close(listener);
    unlink(addr.sun_path);
    return 0;
}
