// The INI engine's file access on Linux: stat, read, a new file beside the old one that
// rename() puts in its place, and the write into a hard-linked file itself.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "platform/common/file_access.h"

namespace ini {

namespace {

int64_t nanoseconds(const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FileState stateOf(const struct stat& st) {
    FileState s;
    s.exists = true;
    s.volume = static_cast<uint64_t>(st.st_dev);
    s.fileId = static_cast<uint64_t>(st.st_ino);
    s.size = static_cast<uint64_t>(st.st_size);
    s.modified = nanoseconds(st.st_mtim);
    s.changed = nanoseconds(st.st_ctim);
    s.links = static_cast<uint32_t>(st.st_nlink);
    s.mode = static_cast<uint32_t>(st.st_mode);
    s.owner = static_cast<uint32_t>(st.st_uid);
    s.group = static_cast<uint32_t>(st.st_gid);
    return s;
}

bool readAll(int fd, std::string* out) {
    char chunk[65536];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (out->size() + static_cast<size_t>(n) > MAX_FILE_SIZE) return false;
        out->append(chunk, static_cast<size_t>(n));
    }
}

// Opens the file at `path` for reading, its state in `st`: -1 unless it is a regular file.
int openRegular(const char* path, struct stat* st) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    if (fstat(fd, st) == 0 && S_ISREG(st->st_mode)) return fd;
    close(fd);
    return -1;
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool statPath(const char* path, FileState* state) {
    struct stat st;
    if (stat(path, &st) != 0) {
        *state = FileState{};
        return errno == ENOENT;
    }
    *state = stateOf(st);
    return S_ISREG(st.st_mode);
}

bool glanceAt(const char* path, FileState* state) {
    return statPath(path, state) && state->exists;
}

bool canRead(const char* path) {
    struct stat st;
    int fd = path ? openRegular(path, &st) : -1;
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool readFile(const char* path, std::string* out, FileState* state) {
    out->clear();
    if (state) *state = FileState{};
    struct stat st;
    int fd = path ? openRegular(path, &st) : -1;
    if (fd < 0) return false;
    bool ok = static_cast<unsigned long long>(st.st_size) <= MAX_FILE_SIZE;
    if (ok) {
        out->reserve(static_cast<size_t>(st.st_size));
        ok = readAll(fd, out);
    }
    close(fd);
    if (!ok) {
        out->clear();
        return false;
    }
    if (state) *state = stateOf(st);
    return true;
}

// The user has taken write permission away: the file is not ours to rewrite.
bool userMayWrite(const char* path, const FileState& state) {
    return (state.mode & 0222) != 0 && access(path, W_OK) == 0;
}

bool resolvePath(const char* path, std::string* out) {
    char target[PATH_MAX];
    if (!realpath(path, target)) return false;
    *out = target;
    return true;
}

bool writeBeside(const char* target, const std::string& text, const FileState& old,
                 std::string* temp) {
    char name[PATH_MAX + 32];
    int len = std::snprintf(name, sizeof name, "%s.~%ld", target, static_cast<long>(getpid()));
    if (len <= 0 || static_cast<size_t>(len) >= sizeof name) return false;
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = true;
    if (old.exists) {
        ok = fchmod(fd, static_cast<mode_t>(old.mode & 07777)) == 0;
        if (fchown(fd, static_cast<uid_t>(old.owner), static_cast<gid_t>(old.group)) != 0) {
            // Only the owner's group may be out of reach; the file is still ours to write.
        }
    }
    ok = ok && writeAll(fd, text) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (!ok) unlink(name);
    if (ok) *temp = name;
    return ok;
}

Placed placeFile(const char* temp, const char* path, bool replace) {
    if (replace) return rename(temp, path) == 0 ? Placed::DONE : Placed::FAILED;
    // link() never replaces what is there, which rename() would.
    if (link(temp, path) != 0) return errno == EEXIST ? Placed::TAKEN : Placed::FAILED;
    unlink(temp);
    return Placed::DONE;
}

bool overwriteFile(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = writeAll(fd, text) && ftruncate(fd, static_cast<off_t>(text.size())) == 0 &&
              fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    return ok;
}

void removeFile(const char* path) { unlink(path); }

int64_t clockNow() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

// Linux programs have no ANSI code page; Latin-1 keeps every byte as the unit of its value.
void codePage(char16_t units[256]) {
    for (int b = 0; b < 256; ++b) units[b] = static_cast<char16_t>(b);
}

}  // namespace ini
