// norvalume-sim's Linux front end: listens on the socket that stands for the window of
// the chosen class, answers each client's blocks, and runs commands from the script and
// standard input in one poll loop, so `wait` never stops the serving. A client keeps its
// connection while its link is open: its block is mapped at the first exchange and kept
// until the client goes, and each exchange is one name in, one answer out.
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

// Exit status when the run folder is not ours (usage: 2, cannot serve: 1).
constexpr int EXIT_RUN_FOLDER_REFUSED = 3;
// A block name is far shorter; more without a newline is not a client of ours.
constexpr size_t MOST_PENDING_INPUT = 300;

volatile sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }

uint64_t nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

// One client's connection: what it sent after its last whole name, and its block.
struct Client {
    int fd = -1;
    std::string input;
    std::string blockName;
    uint8_t* view = nullptr;
    bool hung = false;  // a silent module left a request of it unanswered
};

void unmapBlock(Client& c) {
    if (c.view) munmap(c.view, LINK_BLOCK_SIZE);
    c.view = nullptr;
    c.blockName.clear();
}

// The client's block by name: mapped at the link's first exchange and kept; a new name
// (the client opened again on this connection) replaces it. Only memory of our own user
// that is as large as a block is taken; nullptr for anything else.
uint8_t* blockOf(Client& c, const std::string& name) {
    if (c.view && c.blockName == name) return c.view;
    unmapBlock(c);
    char shmName[MOST_PENDING_INPUT + 2];
    if (name.empty() || platform::sharedMemoryName(name.c_str(), shmName, sizeof shmName) != 0)
        return nullptr;
    int fd = shm_open(shmName, O_RDWR, 0);
    if (fd < 0) return nullptr;
    struct stat st;
    void* view = MAP_FAILED;
    if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && st.st_size >= off_t(LINK_BLOCK_SIZE))
        view = mmap(nullptr, LINK_BLOCK_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (view == MAP_FAILED) return nullptr;
    c.view = static_cast<uint8_t*>(view);
    c.blockName = name;
    return c.view;
}

// One exchange: the named block carried out and the result sent, or nothing sent while
// the module is silent. A name that maps no block is answered 0, as the module does.
void answerExchange(Client& c, const std::string& name) {
    uint8_t* block = blockOf(c, name);
    uint32_t result = 0;
    if (!block) {
        simModule.exchanges++;
    } else if (!serveBlock(block, &result)) {
        c.hung = true;
        return;
    }
    uint8_t out[4];
    writeLe32(out, result);
    send(c.fd, out, sizeof out, MSG_NOSIGNAL);
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
    std::vector<Client> clients;
};

// Binds and listens on the window's socket, which only our own user may connect to; -1
// after saying why not.
int openListener(const SimOptions& options, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (platform::runFolderPath(options.windowClass.c_str(), addr.sun_path,
                                sizeof addr.sun_path) != 0) {
        std::fprintf(stderr, "norvalume-sim: run folder path too long\n");
        return -1;
    }
    // A socket left by a module that died is ours to replace; any other file of that
    // name is left alone, and then the bind says so.
    struct stat st;
    if (lstat(addr.sun_path, &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == geteuid())
        unlink(addr.sun_path);
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const mode_t oldMask = umask(0177);  // the socket: read and write for us alone
    bool bound = listener >= 0 && bind(listener, reinterpret_cast<sockaddr*>(&addr),
                                       sizeof addr) == 0;
    umask(oldMask);
    if (!bound || listen(listener, 16) != 0) {
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

// A new client, if it runs as our own user: nobody else's blocks are served.
void acceptClient(int listener, Serving& st) {
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    if (!platform::socketPeerIsUs(fd)) {
        close(fd);
        return;
    }
    Client c;
    c.fd = fd;
    st.clients.push_back(c);
}

// Takes what the client sent, in one call, and answers each whole name in it. False when
// the client has gone, or sent more than any name without a newline: it is let go.
bool serveClient(Client& c) {
    char buf[512];
    ssize_t n = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0) return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK;
    if (n == 0) return false;
    c.input.append(buf, size_t(n));
    for (size_t end; !c.hung && (end = c.input.find('\n')) != std::string::npos;) {
        const std::string name = c.input.substr(0, end);
        c.input.erase(0, end + 1);
        answerExchange(c, name);
    }
    return c.input.size() <= MOST_PENDING_INPUT;
}

void dropClient(Client& c) {
    unmapBlock(c);
    close(c.fd);
    c.fd = -1;
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

// Serves the clients that poll found ready (from `first` on in `fds`), and lets go of
// those that left; while the module is silent no answer goes out, and once it speaks
// again the clients it left waiting are let go, so they come back on a new connection.
void serveClients(const std::vector<pollfd>& fds, size_t first, Serving& st) {
    for (size_t i = 0; i < st.clients.size(); i++) {
        Client& c = st.clients[i];
        const bool ready = first + i < fds.size() &&
                           (fds[first + i].revents & (POLLIN | POLLHUP | POLLERR));
        const bool keep = (!ready || serveClient(c)) &&
                          !(c.hung && simModule.fault != sim::FAULT_SILENT);
        if (!keep) dropClient(c);
    }
    size_t kept = 0;
    for (Client& c : st.clients)
        if (c.fd >= 0) st.clients[kept++] = c;
    st.clients.resize(kept);
}

void catchStopSignals() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int serveSim(const SimOptions& options) {
    char why[512];
    if (!platform::prepareRunFolder(why, sizeof why)) {
        std::fprintf(stderr, "norvalume-sim: %s\n", why);
        return EXIT_RUN_FOLDER_REFUSED;
    }
    // Blocks of clients that were killed would otherwise stay until the machine restarts.
    platform::removeOrphanedSharedMemory();
    sockaddr_un addr;
    int listener = openListener(options, addr);
    if (listener < 0) return 1;
    catchStopSignals();

    std::printf("ready %s\n", options.windowClass.c_str());
    std::fflush(stdout);

    Serving st;
    std::vector<pollfd> fds;
    while (!st.quit && !stopRequested) {
        runDueCommands(st, options);
        if (st.quit) break;
        serveClients(fds, fds.size(), st);  // lets go of those a silent spell left waiting

        fds.clear();
        fds.push_back({listener, POLLIN, 0});
        if (st.inputOpen) fds.push_back({0, POLLIN, 0});
        const size_t firstClient = fds.size();
        for (const Client& c : st.clients) fds.push_back({c.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), pollTimeout(st, options)) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (st.inputOpen && (fds[1].revents & (POLLIN | POLLHUP))) readInput(st);
        serveClients(fds, firstClient, st);
        if (fds[0].revents & POLLIN) acceptClient(listener, st);
    }
    for (Client& c : st.clients) dropClient(c);
    close(listener);
    unlink(addr.sun_path);
    return 0;
}
