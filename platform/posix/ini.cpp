// The INI engine: lookup and in-place editing of settings text with the behaviour of
// the Windows private-profile functions, plus whole-file wrappers. A single call scans
// the lines afresh; a session (a whole load) reads the file once and indexes its keys.
#include "platform/posix/ini.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace ini {

namespace {

bool isTrim(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' ||
           c == 0x1A;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

struct Span {
    size_t begin;
    size_t end;  // exclusive
};

Span trimSpan(const char* text, Span s) {
    while (s.begin < s.end && isTrim(static_cast<unsigned char>(text[s.begin]))) ++s.begin;
    while (s.end > s.begin && isTrim(static_cast<unsigned char>(text[s.end - 1]))) --s.end;
    return s;
}

// A name as the caller asked for it, without surrounding blanks.
Span trimmedName(const char* name) { return trimSpan(name, Span{0, std::strlen(name)}); }

bool sameName(const char* text, Span a, const char* name, Span b) {
    if (a.end - a.begin != b.end - b.begin) return false;
    for (size_t i = 0; i < a.end - a.begin; ++i) {
        if (lower(text[a.begin + i]) != lower(name[b.begin + i])) return false;
    }
    return true;
}

enum class LineKind { OTHER, HEADER, KEY };

// One physical line and what it says. `content` excludes the line ending; `next` is where
// the following line starts.
struct Line {
    size_t start;
    size_t contentEnd;
    size_t next;
    size_t visibleEnd;  // the first NUL of the line, or contentEnd
    LineKind kind;
    Span trimmed;  // the whole line, trimmed (up to a NUL)
    Span name;     // section name or key
    Span value;    // KEY only
};

// Parses the line starting at `pos`; false at the end of the text.
bool nextLine(const char* text, size_t length, size_t pos, Line* line) {
    if (pos >= length) return false;
    size_t end = pos;
    while (end < length && text[end] != '\r' && text[end] != '\n') ++end;
    size_t next = end;
    if (next < length && text[next] == '\r') ++next;
    if (next < length && text[next] == '\n' && (next == end || text[end] == '\r')) ++next;
    line->start = pos;
    line->contentEnd = end;
    line->next = next;
    line->kind = LineKind::OTHER;

    // Whatever follows a NUL on its line is invisible to lookups.
    size_t visibleEnd = pos;
    while (visibleEnd < end && text[visibleEnd] != '\0') ++visibleEnd;
    line->visibleEnd = visibleEnd;
    Span t = trimSpan(text, Span{pos, visibleEnd});
    line->trimmed = t;
    if (t.begin == t.end) return true;

    if (text[t.begin] == '[') {
        size_t close = t.end;
        while (close > t.begin && text[close - 1] != ']') --close;
        if (close > t.begin) {
            line->kind = LineKind::HEADER;
            line->name = trimSpan(text, Span{t.begin + 1, close - 1});
            return true;
        }
    }
    const void* eq = std::memchr(text + t.begin, '=', t.end - t.begin);
    if (eq) {
        size_t at = static_cast<size_t>(static_cast<const char*>(eq) - text);
        line->kind = LineKind::KEY;
        line->name = trimSpan(text, Span{t.begin, at});
        line->value = trimSpan(text, Span{at + 1, t.end});
    }
    return true;
}

// Where a section and one of its keys sit in the text.
struct Place {
    bool sectionFound = false;
    Line header{};
    size_t sectionEnd = 0;  // start of the next header, or the end of the text
    bool keyFound = false;
    Line keyLine{};
    bool anyKey = false;
    Line lastKey{};
};

// A UTF-8 byte-order mark is not part of the first line, as Windows reads it.
size_t bodyStart(const char* text, size_t length) {
    return length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
}

Place locate(const char* text, size_t length, const char* section, const char* key) {
    Place place;
    Span sect = trimmedName(section);
    Span k = key ? trimmedName(key) : Span{0, 0};
    Line line;
    size_t pos = bodyStart(text, length);
    while (nextLine(text, length, pos, &line)) {
        pos = line.next;
        if (!place.sectionFound) {
            if (line.kind == LineKind::HEADER && sameName(text, line.name, section, sect)) {
                place.sectionFound = true;
                place.header = line;
                place.sectionEnd = length;
            }
            continue;
        }
        // Only the first matching section counts; a lookup never goes past its end.
        if (line.kind == LineKind::HEADER) {
            place.sectionEnd = line.start;
            break;
        }
        if (line.kind != LineKind::KEY) continue;
        place.anyKey = true;
        place.lastKey = line;
        if (key && !place.keyFound && sameName(text, line.name, key, k)) {
            place.keyFound = true;
            place.keyLine = line;
        }
    }
    return place;
}

bool hasLineBreak(const char* s) { return s && std::strpbrk(s, "\r\n") != nullptr; }

// The line ending the file already uses; CRLF for a file that has none yet.
const char* lineEnding(const std::string& text) {
    size_t at = text.find_first_of("\r\n");
    if (at == std::string::npos) return "\r\n";
    if (text[at] == '\n') return "\n";
    if (at + 1 < text.size() && text[at + 1] == '\n') return "\r\n";
    return "\r";
}

bool endsWithLineEnding(const std::string& text) {
    return text.empty() || text.back() == '\n' || text.back() == '\r';
}

}  // namespace

namespace {

// Copies a value found in the text: one pair of surrounding quotes removed, cut to fit.
uint32_t copyValue(const char* text, Span v, char* buf, uint32_t size) {
    size_t n = v.end - v.begin;
    if (n >= 2) {
        char first = text[v.begin];
        if ((first == '"' || first == '\'') && text[v.end - 1] == first) {
            ++v.begin;
            --v.end;
            n -= 2;
        }
    }
    if (n > size - 1) n = size - 1;
    std::memcpy(buf, text + v.begin, n);
    buf[n] = '\0';
    return static_cast<uint32_t>(n);
}

void appendLowered(std::string* out, const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i) *out += lower(s[i]);
}

std::string indexKey(const char* section, const char* key) {
    Span s = trimmedName(section);
    Span k = trimmedName(key);
    std::string name;
    appendLowered(&name, section + s.begin, s.end - s.begin);
    name += '\0';
    appendLowered(&name, key + k.begin, k.end - k.begin);
    return name;
}

}  // namespace

uint32_t getValue(const char* text, size_t length, const char* section, const char* key,
                  char* buf, uint32_t size) {
    if (!buf || size == 0) return 0;
    buf[0] = '\0';
    if (!text || !section || !key) return 0;
    Place place = locate(text, length, section, key);
    if (!place.keyFound) return 0;
    return copyValue(text, place.keyLine.value, buf, size);
}

void buildIndex(const char* text, size_t length, Index* index) {
    index->values.clear();
    std::unordered_map<std::string, bool> sections;
    std::string current;
    bool inSection = false;  // under the first header of its name
    Line line;
    size_t pos = bodyStart(text, length);
    while (nextLine(text, length, pos, &line)) {
        pos = line.next;
        if (line.kind == LineKind::HEADER) {
            current.clear();
            appendLowered(&current, text + line.name.begin, line.name.end - line.name.begin);
            // Only the first section of a name is ever looked in.
            inSection = sections.emplace(current, true).second;
            current += '\0';
            continue;
        }
        if (line.kind != LineKind::KEY || !inSection) continue;
        std::string name = current;
        appendLowered(&name, text + line.name.begin, line.name.end - line.name.begin);
        index->values.emplace(std::move(name), std::make_pair(line.value.begin, line.value.end));
    }
}

uint32_t indexedValue(const Index& index, const char* text, const char* section,
                      const char* key, char* buf, uint32_t size) {
    if (!buf || size == 0) return 0;
    buf[0] = '\0';
    if (!text || !section || !key) return 0;
    auto found = index.values.find(indexKey(section, key));
    if (found == index.values.end()) return 0;
    return copyValue(text, Span{found->second.first, found->second.second}, buf, size);
}

Edit applyPut(const std::string& text, const char* section, const char* key,
              const char* value, std::string* out) {
    if (!section || !out) return Edit::REFUSED;
    // Anything that would split the line, or not read back under the same name, would
    // silently corrupt the file: refuse it rather than write it.
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value)) return Edit::REFUSED;
    Span k{0, 0};
    if (key) {
        k = trimmedName(key);
        if (k.begin == k.end || std::strchr(key, '=') || key[k.begin] == '[') return Edit::REFUSED;
    }

    const char* data = text.data();
    Place place = locate(data, text.size(), section, key);
    const char* eol = lineEnding(text);

    if (!key) {
        if (!place.sectionFound) return Edit::UNCHANGED;
        *out = text;
        out->erase(place.header.start, place.sectionEnd - place.header.start);
        return Edit::CHANGED;
    }
    if (!value) {
        if (!place.keyFound) return Edit::UNCHANGED;
        *out = text;
        out->erase(place.keyLine.start, place.keyLine.next - place.keyLine.start);
        return Edit::CHANGED;
    }

    const char* v = value;
    while (*v == ' ' || *v == '\t') ++v;
    std::string keyText(key + k.begin, k.end - k.begin);

    if (place.keyFound) {
        const Line& line = place.keyLine;
        size_t oldLen = line.value.end - line.value.begin;
        if (std::strlen(v) == oldLen && std::memcmp(data + line.value.begin, v, oldLen) == 0) {
            return Edit::UNCHANGED;
        }
        // The key keeps its spelling and indentation; the rest of the line is rewritten.
        std::string replacement(data + line.name.begin, line.name.end - line.name.begin);
        replacement += '=';
        replacement += v;
        // Blanks at the end of a value are not compared above: the line may say it already.
        const size_t oldLength = line.visibleEnd - line.trimmed.begin;
        if (replacement.size() == oldLength &&
            std::memcmp(data + line.trimmed.begin, replacement.data(), oldLength) == 0)
            return Edit::UNCHANGED;
        *out = text;
        // Bytes after a NUL are invisible to reads but still the user's: they stay.
        out->replace(line.trimmed.begin, line.visibleEnd - line.trimmed.begin, replacement);
        return Edit::CHANGED;
    }

    std::string newLine = keyText + "=" + v + eol;
    *out = text;
    if (place.sectionFound) {
        const Line& after = place.anyKey ? place.lastKey : place.header;
        size_t at = after.next;
        if (after.next == after.contentEnd) newLine = eol + newLine;  // last line, unterminated
        out->insert(at, newLine);
        return Edit::CHANGED;
    }
    if (!endsWithLineEnding(*out)) *out += eol;
    Span s = trimmedName(section);
    *out += '[';
    out->append(section + s.begin, s.end - s.begin);
    *out += ']';
    *out += eol;
    *out += newLine;
    return Edit::CHANGED;
}

namespace {

int64_t nanoseconds(const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FileState stateOf(const struct stat& st) {
    return FileState{true,         st.st_dev,  st.st_ino, st.st_size,
                     nanoseconds(st.st_mtim), nanoseconds(st.st_ctim),
                     st.st_mode,   st.st_uid,  st.st_gid};
}

FileState missingFile() { return FileState{}; }

// What is at `path` now: the file's state, or exists = false when nothing is there.
// False when something is there that is no regular file, or it cannot be looked at.
bool currentState(const char* path, FileState* state) {
    struct stat st;
    if (stat(path, &st) != 0) {
        *state = missingFile();
        return errno == ENOENT;
    }
    *state = stateOf(st);
    return S_ISREG(st.st_mode);
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

}  // namespace

bool sameFileState(const FileState& a, const FileState& b) {
    if (a.exists != b.exists) return false;
    if (!a.exists) return true;
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modifiedNs == b.modifiedNs && a.changedNs == b.changedNs;
}

bool readFile(const char* path, std::string* out, FileState* state) {
    out->clear();
    if (state) *state = missingFile();
    if (!path) return false;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              static_cast<unsigned long long>(st.st_size) <= MAX_FILE_SIZE;
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

uint32_t fileGet(const char* path, const char* section, const char* key, char* buf,
                 uint32_t size) {
    if (!buf || size == 0) return 0;
    buf[0] = '\0';
    std::string text;
    if (!readFile(path, &text)) return 0;
    return getValue(text.data(), text.size(), section, key, buf, size);
}

namespace {

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

// Whether the file at `path` is still exactly `text` as it was when `read` was taken:
// same file, same size and times, and on a second reading the same bytes.
bool stillAsRead(const char* path, const FileState& read, const std::string& text) {
    FileState now;
    if (!currentState(path, &now) || !sameFileState(now, read)) return false;
    if (!read.exists) return true;
    std::string again;
    FileState reread;
    return readFile(path, &again, &reread) && sameFileState(reread, read) && again == text;
}

// Writes `text` into a new file beside `target`, with the old file's mode and, where
// we may, its owner. The name of the new file goes to `temp`. False when it cannot be
// written completely: then nothing of it is left behind.
bool writeBeside(const char* target, const std::string& text, const FileState& old,
                 char* temp, size_t tempSize) {
    int len = std::snprintf(temp, tempSize, "%s.~%ld", target, static_cast<long>(getpid()));
    if (len <= 0 || static_cast<size_t>(len) >= tempSize) return false;
    int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = true;
    if (old.exists) {
        ok = fchmod(fd, old.mode & 07777) == 0;
        if (fchown(fd, old.owner, old.group) != 0) {
            // Only the owner's group may be out of reach; the file is still ours to write.
        }
    }
    ok = ok && writeAll(fd, text) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (!ok) unlink(temp);
    return ok;
}

// Replaces the file with `text` only while it is still `expected` as read in `read`.
// The new text never goes into the old file: a new file is renamed over it, so a
// reader sees the old text or the new one, never a mix, and a link stays a link.
// FILE_CHANGED when someone else saved it since; FAILED when it could not be written.
Commit writeIfUnchanged(const char* path, const FileState& read, const std::string& expected,
                        const std::string& text) {
    char target[PATH_MAX];
    if (read.exists && realpath(path, target)) path = target;
    if (!stillAsRead(path, read, expected)) return Commit::FILE_CHANGED;
    char temp[PATH_MAX + 32];
    if (!writeBeside(path, text, read, temp, sizeof temp)) return Commit::FAILED;
    // A save that came while the new file was written wins: ours is dropped.
    FileState now;
    if (!currentState(path, &now) || !sameFileState(now, read)) {
        unlink(temp);
        return Commit::FILE_CHANGED;
    }
    // A file that was missing may have been created meanwhile: link() never replaces it.
    bool placed = read.exists ? rename(temp, path) == 0 : link(temp, path) == 0;
    int linkError = errno;
    if (!placed || !read.exists) unlink(temp);
    if (!placed) return linkError == EEXIST ? Commit::FILE_CHANGED : Commit::FAILED;
    return Commit::WRITTEN;
}

// The user has taken write permission away: the file is not ours to rewrite.
bool mayWrite(const char* path, const FileState& state) {
    if (!state.exists) return true;
    return (state.mode & 0222) != 0 && access(path, W_OK) == 0;
}

}  // namespace

void sessionBegin(Session* session, const char* path) {
    *session = Session{};
    session->open = true;
    session->path = path ? path : "";
    FileState state;
    if (path && currentState(path, &state)) {
        session->readable = !state.exists || readFile(path, &session->original, &state);
        session->state = state;
        session->writable = session->readable && mayWrite(path, state);
    }
    session->edited = session->original;
    buildIndex(session->original.data(), session->original.size(), &session->index);
}

uint32_t sessionGet(const Session& session, const char* section, const char* key, char* buf,
                    uint32_t size) {
    return indexedValue(session.index, session.original.data(), section, key, buf, size);
}

bool sessionPut(Session* session, const char* section, const char* key, const char* value) {
    if (!session->open || !session->writable || !section) return false;
    std::string next;
    switch (applyPut(session->edited, section, key, value, &next)) {
        case Edit::REFUSED:
            return false;
        case Edit::UNCHANGED:
            return true;
        case Edit::CHANGED:
            break;
    }
    session->edited.swap(next);
    session->dirty = true;
    return true;
}

Commit sessionEnd(Session* session) {
    if (!session->open) return Commit::NOTHING_TO_WRITE;
    Commit result = Commit::NOTHING_TO_WRITE;
    const char* path = session->path.c_str();
    if (session->dirty) {
        result = writeIfUnchanged(path, session->state, session->original, session->edited);
    } else if (session->readable && !stillAsRead(path, session->state, session->original)) {
        result = Commit::FILE_CHANGED;
    }
    *session = Session{};
    return result;
}

bool filePut(const char* path, const char* section, const char* key, const char* value) {
    if (!path || !section) return false;
    // One write is a batch of one: the same checks guard it.
    Session session;
    sessionBegin(&session, path);
    const bool accepted = sessionPut(&session, section, key, value);
    const Commit commit = sessionEnd(&session);
    return accepted && (commit == Commit::WRITTEN || commit == Commit::NOTHING_TO_WRITE);
}

}  // namespace ini
