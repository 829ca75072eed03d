// IPC with the interface module on Linux. A "window" of class C is a Unix socket C in the
// run folder (rundir.h); an atom is just its name; shared memory is POSIX shm under the
// name rundir.h gives it. A send writes the atom's name and a newline and waits, within
// the time-out, for the 4-byte little-endian answer. The connection belongs to the atom:
// made at its first send, kept while the answers come in time, closed with the atom, so
// an open link costs one round trip per exchange and the module maps its block once.
// Shared memory outlives a killed process here, so each block we create carries its
// creator's pid behind the part that is mapped; a later start removes it once that
// process is gone.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/rundir.h"

namespace platform {

namespace {

constexpr int MAX_WINDOWS = 8;
constexpr int MAX_MESSAGES = 8;
constexpr int MAX_ATOMS = 64;
constexpr int MAX_MAPPINGS = 16;
constexpr uint16_t FIRST_ATOM = 0xC000;     // where Windows starts string atoms too
constexpr uint32_t FIRST_MESSAGE = 0xC000;  // and registered messages
constexpr size_t NAME_MAX_LEN = 255;

struct Name {
    bool used;
    char text[NAME_MAX_LEN + 1];
};

// Windows found so far (never freed: a class name stays a class name), registered
// messages, atoms; each reference is its table index + 1 (+ the Windows base).
Name windows[MAX_WINDOWS];
Name messages[MAX_MESSAGES];

// An atom and the connection its sends go over, to the window it was made for.
struct Atom {
    Name name;
    bool connected;
    int socket;
    WindowRef window;
    uint64_t receiveTimeoutMs;  // the connection's receive time-out; 0 while unset
};
Atom atoms[MAX_ATOMS];

struct Mapping {
    bool used;
    int fd;
    bool created;  // we made it, so we unlink it: shm outlives processes on Linux
    char name[NAME_MAX_LEN + 2];
};
Mapping mappings[MAX_MAPPINGS];

thread_local uint32_t lastError = 0;

// Where Linux keeps POSIX shared memory, one file per name. Elsewhere it cannot be
// listed, and nothing is removed.
constexpr char SHARED_MEMORY_FOLDER[] = "/dev/shm";

// Written behind the `blockSize` bytes of every block we create. The pid namespace (the
// inode of /proc/self/ns/pid, 0 when unknown) keeps a pid seen from another container
// that shares the folder from being judged here.
struct OwnerRecord {
    char tag[8];
    uint32_t blockSize;
    uint32_t pid;
    uint64_t pidNamespace;
};
constexpr char OWNER_TAG[8] = {'N', 'V', 'L', 'M', 'O', 'W', 'N', '1'};

uint64_t pidNamespace() {
    struct stat st;
    return stat("/proc/self/ns/pid", &st) == 0 ? uint64_t(st.st_ino) : 0;
}

// Sizes a block we have just created and writes our record behind it.
bool claimBlock(int fd, uint32_t size) {
    OwnerRecord record;
    std::memcpy(record.tag, OWNER_TAG, sizeof record.tag);
    record.blockSize = size;
    record.pid = uint32_t(getpid());
    record.pidNamespace = pidNamespace();
    if (ftruncate(fd, off_t(size) + off_t(sizeof record)) != 0) return false;
    ssize_t written = pwrite(fd, &record, sizeof record, off_t(size));
    if (written == ssize_t(sizeof record)) return true;
    if (written >= 0) errno = EIO;  // short
    return false;
}

// True for a block of ours, by its record, whose creator has ended. Only files of our
// own user are opened, without following links or waiting on a pipe.
bool orphaned(int folder, const char* entry) {
    int fd = openat(folder, entry, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    OwnerRecord record;
    struct stat st;
    bool read = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
                st.st_size >= off_t(sizeof record) &&
                pread(fd, &record, sizeof record, st.st_size - off_t(sizeof record)) ==
                    ssize_t(sizeof record);
    close(fd);
    if (!read || std::memcmp(record.tag, OWNER_TAG, sizeof record.tag) != 0 ||
        off_t(record.blockSize) + off_t(sizeof record) != st.st_size ||
        record.pidNamespace != pidNamespace())
        return false;
    // 0 and values beyond pid_t would make kill() address a process group.
    if (record.pid == 0 || record.pid > uint32_t(INT_MAX) || pid_t(record.pid) == getpid())
        return false;
    return kill(pid_t(record.pid), 0) != 0 && errno == ESRCH;
}

bool copyName(char* out, size_t outSize, const char* name) {
    size_t n = std::strlen(name);
    if (n + 1 > outSize) return false;
    std::memcpy(out, name, n + 1);
    return true;
}

int findOrAdd(Name* table, int count, const char* name) {
    if (!name || !*name || std::strlen(name) > NAME_MAX_LEN) return -1;
    for (int i = 0; i < count; i++)
        if (table[i].used && std::strcmp(table[i].text, name) == 0) return i;
    for (int i = 0; i < count; i++)
        if (!table[i].used) {
            table[i].used = true;
            copyName(table[i].text, sizeof table[i].text, name);
            return i;
        }
    return -1;
}

// A connected socket to the window's class, or -1 with errno set.
int connectTo(const char* className) {
    sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    int pathError = runFolderPath(className, addr.sun_path, sizeof addr.sun_path);
    if (pathError != 0) {
        errno = pathError;
        return -1;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // Only a module of our own user may answer: a socket that someone else put in its
    // place would see every exchange and could answer anything.
    errno = 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        !socketPeerIsUs(fd)) {
        int saved = errno ? errno : EACCES;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

uint64_t nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

void disconnect(Atom& atom) {
    if (atom.connected) close(atom.socket);
    atom.connected = false;
}

bool sendLine(int fd, const char* line, size_t n) {
    return send(fd, line, n, MSG_NOSIGNAL) == ssize_t(n);
}

// Writes the request on the atom's connection, made first when there is none. A kept
// connection that the module has closed since (it ended, or was started again) took
// nothing of the request, so it goes once more on a new one: a window that is gone
// fails there, when nothing listens any more.
bool deliver(Atom& atom, WindowRef window, const char* line, size_t n) {
    if (atom.connected) {
        if (sendLine(atom.socket, line, n)) return true;
        if (errno != EPIPE && errno != ECONNRESET) {
            lastError = uint32_t(errno);
            return false;
        }
        disconnect(atom);
    }
    int fd = connectTo(windows[window - 1].text);
    if (fd < 0) {
        lastError = uint32_t(errno);
        return false;
    }
    atom.socket = fd;
    atom.connected = true;
    atom.receiveTimeoutMs = 0;
    atom.window = window;
    if (sendLine(fd, line, n)) return true;
    lastError = uint32_t(errno ? errno : EPIPE);
    return false;
}

// The socket itself waits for the answer, with `ms` as its receive time-out, set again
// only when it differs from the last: a poll before each receive would double the calls
// of an exchange, and on a virtual machine each call costs microseconds.
bool receiveWithin(Atom& atom, uint64_t ms) {
    if (ms == atom.receiveTimeoutMs) return true;
    timeval limit;
    limit.tv_sec = time_t(ms / 1000);
    limit.tv_usec = suseconds_t(ms % 1000 * 1000);
    if (setsockopt(atom.socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) {
        lastError = uint32_t(errno);
        return false;
    }
    atom.receiveTimeoutMs = ms;
    return true;
}

// Waits at most `timeoutMs` for the module's 4-byte answer. A time-out leaves no error
// code, as on Windows; a connection that ends or fails does.
bool receiveAnswer(Atom& atom, uint32_t timeoutMs, uint32_t* result) {
    uint8_t answer[4];
    size_t got = 0;
    const uint64_t deadline = nowMs() + timeoutMs;
    uint64_t left = timeoutMs;
    while (got < sizeof answer) {
        // 0 would mean "wait for ever" to the socket.
        if (left == 0 || !receiveWithin(atom, left)) return false;
        ssize_t r = recv(atom.socket, answer + got, sizeof answer - got, 0);
        if (r > 0) {
            got += size_t(r);
        } else if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return false;
        } else if (r == 0 || errno != EINTR) {
            lastError = r == 0 ? uint32_t(ECONNRESET) : uint32_t(errno);
            return false;
        }
        const uint64_t now = nowMs();
        left = now < deadline ? deadline - now : 0;
    }
    *result = uint32_t(answer[0]) | uint32_t(answer[1]) << 8 | uint32_t(answer[2]) << 16 |
              uint32_t(answer[3]) << 24;
    return true;
}

}  // namespace

bool prepareIpc(char* why, uint32_t size) { return prepareRunFolder(why, size); }

WindowRef findWindowByClass(const char* className) {
    if (!className) return 0;
    // A socket file alone may be left over from a module that died: only a listener counts.
    int fd = connectTo(className);
    if (fd < 0) return 0;
    close(fd);
    int i = findOrAdd(windows, MAX_WINDOWS, className);
    return i < 0 ? 0 : WindowRef(i + 1);
}

uint32_t registerMessage(const char* name) {
    int i = findOrAdd(messages, MAX_MESSAGES, name);
    return i < 0 ? 0 : FIRST_MESSAGE + uint32_t(i);
}

uint16_t addAtom(const char* name) {
    // Unlike Windows atoms these are not reference-counted: each add takes its own slot.
    if (!name || !*name || std::strlen(name) > NAME_MAX_LEN) return 0;
    for (int i = 0; i < MAX_ATOMS; i++)
        if (!atoms[i].name.used) {
            atoms[i] = Atom{};
            atoms[i].name.used = true;
            copyName(atoms[i].name.text, sizeof atoms[i].name.text, name);
            return uint16_t(FIRST_ATOM + i);
        }
    return 0;
}

void deleteAtom(uint16_t atom) {
    int i = int(atom) - FIRST_ATOM;
    if (i < 0 || i >= MAX_ATOMS) return;
    disconnect(atoms[i]);  // the module sees the link end and lets go of the block
    atoms[i] = Atom{};
}

MappingRef createSharedMemory(const char* name, uint32_t size, bool* existed) {
    if (existed) *existed = false;
    char shmName[sizeof Mapping::name];
    int nameError = name ? sharedMemoryName(name, shmName, sizeof shmName) : EINVAL;
    if (nameError) {
        lastError = uint32_t(nameError);
        return 0;
    }
    int slot = -1;
    for (int i = 0; i < MAX_MAPPINGS && slot < 0; i++)
        if (!mappings[i].used) slot = i;
    if (slot < 0) {
        lastError = EMFILE;
        return 0;
    }
    Mapping& m = mappings[slot];
    std::memcpy(m.name, shmName, sizeof m.name);
    m.created = true;
    m.fd = shm_open(m.name, O_RDWR | O_CREAT | O_EXCL, 0600);
    if (m.fd < 0 && errno == EEXIST) {
        // Like Windows: hand back the existing memory and say so.
        m.created = false;
        m.fd = shm_open(m.name, O_RDWR, 0600);
        if (m.fd >= 0 && existed) *existed = true;
    }
    if (m.fd < 0) {
        lastError = uint32_t(errno);
        return 0;
    }
    if (m.created && !claimBlock(m.fd, size)) {
        lastError = uint32_t(errno);
        close(m.fd);
        shm_unlink(m.name);
        return 0;
    }
    m.used = true;
    return MappingRef(slot + 1);
}

void* mapSharedMemory(MappingRef mapping, uint32_t size) {
    if (mapping == 0 || mapping > MAX_MAPPINGS || !mappings[mapping - 1].used) return nullptr;
    int fd = mappings[mapping - 1].fd;
    struct stat st;
    // Memory that someone else made smaller than asked for would fault on access.
    if (fstat(fd, &st) != 0 || st.st_size < off_t(size)) return nullptr;
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        lastError = uint32_t(errno);
        return nullptr;
    }
    return view;
}

void unmapSharedMemory(void* view, uint32_t size) {
    if (view) munmap(view, size);
}

void closeSharedMemory(MappingRef mapping) {
    if (mapping == 0 || mapping > MAX_MAPPINGS || !mappings[mapping - 1].used) return;
    Mapping& m = mappings[mapping - 1];
    close(m.fd);
    if (m.created) shm_unlink(m.name);
    m = Mapping{};
}

void removeOrphanedSharedMemory() {
    DIR* folder = opendir(SHARED_MEMORY_FOLDER);
    if (!folder) return;
    while (dirent* entry = readdir(folder)) {
        char shmName[sizeof Mapping::name];
        if (entry->d_name[0] == '.' ||
            sharedMemoryName(entry->d_name, shmName, sizeof shmName) != 0)
            continue;
        if (orphaned(dirfd(folder), entry->d_name)) shm_unlink(shmName);
    }
    closedir(folder);
}

bool sendMessageTimeout(WindowRef window, uint32_t message, uintptr_t wParam, intptr_t,
                        uint32_t timeoutMs, uint32_t* result) {
    lastError = 0;
    if (window == 0 || window > MAX_WINDOWS || !windows[window - 1].used) {
        lastError = 1400;  // ERROR_INVALID_WINDOW_HANDLE, as Windows reports it
        return false;
    }
    if (message < FIRST_MESSAGE || message >= FIRST_MESSAGE + MAX_MESSAGES) {
        lastError = EINVAL;
        return false;
    }
    // An unknown atom still reaches the module, with an empty name it cannot resolve, on
    // a connection of its own.
    int a = int(wParam) - FIRST_ATOM;
    Atom spare = {};
    Atom& atom = a >= 0 && a < MAX_ATOMS && atoms[a].name.used ? atoms[a] : spare;
    char line[NAME_MAX_LEN + 2];
    int n = std::snprintf(line, sizeof line, "%s\n", atom.name.used ? atom.name.text : "");
    if (atom.connected && atom.window != window) disconnect(atom);
    bool delivered = deliver(atom, window, line, size_t(n)) &&
                     receiveAnswer(atom, timeoutMs, result);
    // After a time-out or a broken answer the connection's state is unknown: a late
    // answer must never pass for the next exchange's.
    if (!delivered || &atom == &spare) disconnect(atom);
    return delivered;
}

uint32_t lastErrorCode() { return lastError; }

bool accessDenied(uint32_t errorCode) { return errorCode == EACCES || errorCode == EPERM; }

uint32_t processId() { return uint32_t(getpid()); }

}  // namespace platform
