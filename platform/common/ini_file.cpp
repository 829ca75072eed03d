// The INI engine's file half: a batch reads the file once, edits a copy, and puts the copy
// in place in one step only while the file is still byte for byte what was read, so a save
// by someone else is never written over and a crash never leaves half a file. UTF-16 files
// are edited code unit by code unit, so that every line the batch does not write keeps its
// bytes.
#include <cstring>
#include <unordered_map>

#include "platform/common/file_access.h"
#include "platform/common/ini.h"

namespace ini {

namespace {

// The code page both ways: the unit each byte stands for, and the byte for each unit that
// has one.
struct CodePageTables {
    char16_t units[256];
    std::unordered_map<char16_t, char> bytes;
};

const CodePageTables& tables() {
    static const CodePageTables made = [] {
        CodePageTables t{};
        codePage(t.units);
        for (int b = 255; b >= 0x80; --b)
            if (t.units[b]) t.bytes[t.units[b]] = static_cast<char>(b);
        return t;
    }();
    return made;
}

// A code unit as the ANSI profile functions return it: its byte in the code page, '?' for
// one the code page lacks.
char narrow(char16_t unit) {
    if (unit < 0x80) return static_cast<char>(unit);
    const auto& bytes = tables().bytes;
    auto found = bytes.find(unit);
    return found == bytes.end() ? '?' : found->second;
}

char16_t widen(char c) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x80) return b;
    char16_t unit = tables().units[b];
    return unit ? unit : u'?';
}

Encoding encodingOf(const std::string& bytes) {
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') return Encoding::UTF16LE;
    if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') return Encoding::UTF16BE;
    return Encoding::BYTES;
}

// The code units after the byte-order mark, and the same as 8-bit text, one character each.
void decodeUtf16(const std::string& bytes, Encoding encoding, std::u16string* wide,
                 std::string* text) {
    const bool little = encoding == Encoding::UTF16LE;
    wide->clear();
    text->clear();
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        unsigned char lo = static_cast<unsigned char>(bytes[little ? i : i + 1]);
        unsigned char hi = static_cast<unsigned char>(bytes[little ? i + 1 : i]);
        char16_t unit = static_cast<char16_t>(hi << 8 | lo);
        wide->push_back(unit);
        text->push_back(narrow(unit));
    }
}

std::string encodeUtf16(const std::u16string& wide, Encoding encoding) {
    const bool little = encoding == Encoding::UTF16LE;
    std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
    bytes.reserve(2 + 2 * wide.size());
    for (char16_t unit : wide) {
        char lo = static_cast<char>(unit & 0xFF);
        char hi = static_cast<char>(unit >> 8);
        bytes += little ? lo : hi;
        bytes += little ? hi : lo;
    }
    return bytes;
}

// Applies a write, worked out on the 8-bit text, to the code units. Characters the write
// keeps at the start and the end of what it replaces keep their units, so a line that
// gets a verdict keeps even the characters the code page lacks.
void spliceUnits(const std::string& text, const Splice& splice, std::u16string* wide) {
    const std::string& in = splice.inserted;
    size_t head = 0;
    while (head < splice.removed && head < in.size() && text[splice.at + head] == in[head]) ++head;
    size_t tail = 0;
    while (tail < splice.removed - head && tail < in.size() - head &&
           text[splice.at + splice.removed - 1 - tail] == in[in.size() - 1 - tail])
        ++tail;
    std::u16string units;
    for (size_t i = head; i < in.size() - tail; ++i) units.push_back(widen(in[i]));
    wide->replace(splice.at + head, splice.removed - head - tail, units);
}

// The text lookups see: the bytes, or a UTF-16 file's characters.
const std::string& lookupText(const Session& session) {
    return session.encoding == Encoding::BYTES ? session.original : session.decoded;
}

// Whether the file at `path` is still exactly `bytes` as it was when `read` was taken:
// same file, same size and times, and on a second reading the same bytes.
bool stillAsRead(const char* path, const FileState& read, const std::string& bytes) {
    FileState now;
    if (!statPath(path, &now) || !sameFileState(now, read)) return false;
    if (!read.exists) return true;
    std::string again;
    FileState reread;
    return readFile(path, &again, &reread) && sameFileState(reread, read) && again == bytes;
}

// A file with more than one name (a hard link) must not be split: a new file put in its
// place would leave the other names with the old text, and the user's saves through them
// would no longer reach the program. So the new text goes into the file itself; the whole
// new copy beside it stays until that write is on the disk, so that even a power loss
// half-way leaves the text somewhere.
Commit overwriteLinked(const char* path, const std::string& temp, const std::string& before,
                       const std::string& text) {
    if (overwriteFile(path, text)) {
        removeFile(temp.c_str());
        return Commit::WRITTEN;
    }
    // The old text fitted before: put it back. Should even that fail, the copy stays.
    if (overwriteFile(path, before)) removeFile(temp.c_str());
    return Commit::FAILED;
}

// Replaces the file with `text` only while it is still `before` as read in `read`. The new
// text goes into a new file beside it that takes its place in one step, so a reader sees
// the old text or the new one, never a mix, and a link to the file stays a link to it.
// FILE_CHANGED when someone else saved it since; FAILED when it could not be written.
Commit writeIfUnchanged(const char* path, const FileState& read, const std::string& before,
                        const std::string& text) {
    std::string target = path;
    if (read.exists && !resolvePath(path, &target)) target = path;
    const char* file = target.c_str();
    if (!stillAsRead(file, read, before)) return Commit::FILE_CHANGED;
    std::string temp;
    if (!writeBeside(file, text, read, &temp)) return Commit::FAILED;
    // A save that came while the new file was written wins: ours is dropped.
    FileState now;
    if (!statPath(file, &now) || !sameFileState(now, read)) {
        removeFile(temp.c_str());
        return Commit::FILE_CHANGED;
    }
    if (read.exists && read.links > 1) return overwriteLinked(file, temp, before, text);
    // A file that was missing may have been created meanwhile: it is never replaced.
    Placed placed = placeFile(temp.c_str(), file, read.exists);
    if (placed != Placed::DONE) removeFile(temp.c_str());
    if (placed == Placed::TAKEN) return Commit::FILE_CHANGED;
    return placed == Placed::DONE ? Commit::WRITTEN : Commit::FAILED;
}

}  // namespace

bool sameFileState(const FileState& a, const FileState& b) {
    if (a.exists != b.exists) return false;
    if (!a.exists) return true;
    return a.volume == b.volume && a.fileId == b.fileId && a.size == b.size &&
           a.modified == b.modified && a.changed == b.changed;
}

uint64_t digest(const std::string& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

uint32_t fileGet(const char* path, const char* section, const char* key, char* buf,
                 uint32_t size) {
    if (!buf || size == 0) return 0;
    buf[0] = '\0';
    std::string bytes;
    if (!readFile(path, &bytes)) return 0;
    Encoding encoding = encodingOf(bytes);
    if (encoding == Encoding::BYTES) return getValue(bytes.data(), bytes.size(), section, key, buf, size);
    std::u16string wide;
    std::string text;
    decodeUtf16(bytes, encoding, &wide, &text);
    return getValue(text.data(), text.size(), section, key, buf, size);
}

void sessionBegin(Session* session, const char* path) {
    *session = Session{};
    session->open = true;
    session->path = path ? path : "";
    FileState state;
    if (path && statPath(path, &state)) {
        FileState read = state;
        session->readable = !state.exists || readFile(path, &session->original, &read);
        session->state = session->readable ? read : state;
        session->writable = session->readable && (!state.exists || userMayWrite(path, read));
    }
    session->encoding = encodingOf(session->original);
    if (session->encoding != Encoding::BYTES) {
        decodeUtf16(session->original, session->encoding, &session->wide, &session->decoded);
        // Half a code unit at the end: not a file we could write back as it was.
        if (session->original.size() % 2) session->writable = false;
    }
    const std::string& text = lookupText(*session);
    session->edited = text;
    buildIndex(text.data(), text.size(), &session->index);
}

uint32_t sessionGet(const Session& session, const char* section, const char* key, char* buf,
                    uint32_t size) {
    return indexedValue(session.index, lookupText(session).data(), section, key, buf, size);
}

bool sessionHasSection(const Session& session, const char* section) {
    return indexedSection(session.index, section);
}

bool fileHasSection(const char* path, const char* section) {
    Session session;
    sessionBegin(&session, path);
    const bool found = sessionHasSection(session, section);
    session = Session{};
    return found;
}

bool sessionPut(Session* session, const char* section, const char* key, const char* value) {
    if (!session->open || !session->writable || !section) return false;
    Splice splice;
    switch (planPut(session->edited, section, key, value, &splice)) {
        case Edit::REFUSED:
            return false;
        case Edit::UNCHANGED:
            return true;
        case Edit::CHANGED:
            break;
    }
    if (session->encoding != Encoding::BYTES) spliceUnits(session->edited, splice, &session->wide);
    session->edited.replace(splice.at, splice.removed, splice.inserted);
    session->dirty = true;
    return true;
}

Commit sessionEnd(Session* session) {
    if (!session->open) return Commit::NOTHING_TO_WRITE;
    Commit result = Commit::NOTHING_TO_WRITE;
    const char* path = session->path.c_str();
    if (session->dirty) {
        const bool bytes = session->encoding == Encoding::BYTES;
        result = writeIfUnchanged(path, session->state, session->original,
                                  bytes ? session->edited
                                        : encodeUtf16(session->wide, session->encoding));
    } else if (session->readable && !stillAsRead(path, session->state, session->original)) {
        result = Commit::FILE_CHANGED;
    } else if (!session->readable && session->state.exists) {
        // There but not read (another program holds it locked, say): what the batch
        // answered is not the file, so the caller reads it again, as after a save.
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
