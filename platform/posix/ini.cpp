// The INI engine: lookup and in-place editing of settings text with the behaviour of
// the Windows private-profile functions, plus whole-file wrappers. Lines are scanned
// afresh on every call; settings files are small and calls are rare (a load, a save).
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

Place locate(const char* text, size_t length, const char* section, const char* key) {
    Place place;
    Span sect = trimmedName(section);
    Span k = key ? trimmedName(key) : Span{0, 0};
    Line line;
    size_t pos = 0;
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

uint32_t getValue(const char* text, size_t length, const char* section, const char* key,
                  char* buf, uint32_t size) {
    if (!buf || size == 0) return 0;
    buf[0] = '\0';
    if (!text || !section || !key) return 0;
    Place place = locate(text, length, section, key);
    if (!place.keyFound) return 0;

    Span v = place.keyLine.value;
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
        *out = text;
        out->replace(line.trimmed.begin, line.contentEnd - line.trimmed.begin, replacement);
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

bool readFile(const char* path, std::string* out) {
    out->clear();
    if (!path) return false;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<unsigned long long>(st.st_size) > MAX_FILE_SIZE) {
        close(fd);
        return false;
    }
    char chunk[8192];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            out->clear();
            return false;
        }
        if (n == 0) break;
        if (out->size() + static_cast<size_t>(n) > MAX_FILE_SIZE) {
            close(fd);
            out->clear();
            return false;
        }
        out->append(chunk, static_cast<size_t>(n));
    }
    close(fd);
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

// Writes the new text beside the file and renames it over, keeping the file's mode. When
// the folder refuses a new file but the file itself is writable, it is rewritten in place.
bool replaceFile(const char* path, const std::string& text, bool existed, mode_t mode) {
    char target[PATH_MAX];
    if (existed && realpath(path, target)) {
        path = target;  // a link stays a link: its target is what gets replaced
    }
    char temp[PATH_MAX + 32];
    int len = std::snprintf(temp, sizeof temp, "%s.~%ld", path, static_cast<long>(getpid()));
    if (len > 0 && static_cast<size_t>(len) < sizeof temp) {
        int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            bool ok = (!existed || fchmod(fd, mode) == 0) && writeAll(fd, text);
            ok = (close(fd) == 0) && ok;
            if (ok && rename(temp, path) == 0) return true;
            unlink(temp);
            if (!existed) return false;
        }
    }
    if (!existed) return false;
    int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = writeAll(fd, text);
    return (close(fd) == 0) && ok;
}

}  // namespace

bool filePut(const char* path, const char* section, const char* key, const char* value) {
    if (!path || !section) return false;
    struct stat st;
    bool existed = stat(path, &st) == 0;
    if (existed && !S_ISREG(st.st_mode)) return false;
    std::string text;
    // An existing file we cannot read must not be replaced by a file holding one key.
    if (existed && !readFile(path, &text)) return false;
    std::string edited;
    switch (applyPut(text, section, key, value, &edited)) {
        case Edit::REFUSED:
            return false;
        case Edit::UNCHANGED:
            return true;
        case Edit::CHANGED:
            break;
    }
    return replaceFile(path, edited, existed, existed ? (st.st_mode & 07777) : 0);
}

}  // namespace ini
