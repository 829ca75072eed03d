// Our INI engine, the one both builds read and write the settings file with: lookups and
// edits with the rules of the Windows private-profile functions, so a file moves between
// Windows and Linux without surprises, and a load's batch that reads the file once and
// replaces it in one step only while it is still what was read. The text functions work
// on a byte buffer; the file work goes through the small per-OS layer of file_access.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "platform/platform.h"

namespace ini {

// Files larger than this are treated as unreadable: a settings file is a few kilobytes,
// and a runaway file must not make every lookup read gigabytes.
constexpr size_t MAX_FILE_SIZE = 16u * 1024u * 1024u;

// Looks `key` of `section` up in `text` (`length` bytes, NULs allowed) and copies the
// value, one pair of surrounding quotes removed, cut to size - 1 characters, into `buf`,
// always terminated when size > 0. Returns the number of characters copied; 0 for a
// missing section or key as well as for an empty value.
uint32_t getValue(const char* text, size_t length, const char* section, const char* key,
                  char* buf, uint32_t size);

enum class Edit { UNCHANGED, CHANGED, REFUSED };

// One write as a change of the text: `removed` bytes at `at` give way to `inserted`.
struct Splice {
    size_t at = 0;
    size_t removed = 0;
    std::string inserted;
};

// Works out one write on `text`. A null `value` deletes the key, a null `key` the whole
// section. Every byte the write does not concern is kept. REFUSED when the names or the
// value would not read back as written (a line break anywhere, '=' in the key, a key that
// would read as a section header); UNCHANGED when the text already says the same. Only
// CHANGED fills `splice`.
Edit planPut(const std::string& text, const char* section, const char* key, const char* value,
             Splice* splice);

// planPut applied: the new text in `out` (not touched unless CHANGED).
Edit applyPut(const std::string& text, const char* section, const char* key,
              const char* value, std::string* out);

// Where every key of the text sits, found in one pass: lookups then cost no scan of the
// text. Built over a text that must outlive it and stay unchanged.
struct Index {
    // Lower-cased section name, a NUL, lower-cased key: where the value starts and ends.
    std::unordered_map<std::string, std::pair<size_t, size_t>> values;
    // Every section name of the text, lower-cased.
    std::unordered_set<std::string> sections;
};
void buildIndex(const char* text, size_t length, Index* index);
// Whether the indexed text has a section of that name, keys or not.
bool indexedSection(const Index& index, const char* section);
// getValue answered from the index of `text`; the same result, whatever the text.
uint32_t indexedValue(const Index& index, const char* text, const char* section,
                      const char* key, char* buf, uint32_t size);

// What a file was when it was looked at: a later write goes out only while it still is.
// Times are nanoseconds on the system's clock; fields the system cannot tell stay 0.
struct FileState {
    bool exists = false;
    uint64_t volume = 0;
    uint64_t fileId = 0;
    uint64_t size = 0;
    int64_t modified = 0;
    int64_t changed = 0;  // the last change of content or metadata, where it is known
    uint32_t links = 0;   // the names the file has
    uint32_t mode = 0;    // permission bits, or the Windows attributes
    uint32_t owner = 0;
    uint32_t group = 0;
};
bool sameFileState(const FileState& a, const FileState& b);

// How the file's text is stored. UTF-16 files (with their byte-order mark) are read and
// edited as 8-bit text, each code unit one character of the system's code page, as the
// ANSI profile functions read them; what is written goes back in UTF-16.
enum class Encoding { BYTES, UTF16LE, UTF16BE };

// getValue on the file at `path`; a missing or unreadable file reads as empty.
uint32_t fileGet(const char* path, const char* section, const char* key, char* buf,
                 uint32_t size);

// indexedSection on the file at `path`; a missing or unreadable file has no section.
bool fileHasSection(const char* path, const char* section);

// applyPut on the file at `path`, creating it when missing (not its directory): a batch of
// one write. True when the file says what was asked for afterwards.
bool filePut(const char* path, const char* section, const char* key, const char* value);

// One reading of a file for a whole batch of lookups and writes (a load): lookups are
// answered from that reading, writes edit a copy, and the copy replaces the file at the
// end only if the file is then still byte for byte what was read.
struct Session {
    bool open = false;
    std::string path;
    bool readable = false;  // the file exists and was read (or is missing: empty text)
    bool writable = false;  // the user lets us write it, in an encoding we can write back
    FileState state{};
    std::string original;   // the bytes as read
    Encoding encoding = Encoding::BYTES;
    std::string decoded;    // a UTF-16 file's text as 8-bit characters; else empty
    std::string edited;     // the text with the batch's writes
    std::u16string wide;    // a UTF-16 file's code units with the writes, one per character
    bool dirty = false;
    Index index;
};
void sessionBegin(Session* session, const char* path);
uint32_t sessionGet(const Session& session, const char* section, const char* key, char* buf,
                    uint32_t size);
bool sessionHasSection(const Session& session, const char* section);
// False when the write is refused or the file may not be written.
bool sessionPut(Session* session, const char* section, const char* key, const char* value);

enum class Commit { NOTHING_TO_WRITE, WRITTEN, FILE_CHANGED, FAILED };
// Ends the session: writes the edited copy if the file is unchanged since it was read.
// FILE_CHANGED (also without writes) when it is not: the writes are dropped.
Commit sessionEnd(Session* session);

inline platform::ProfileOutcome profileOutcome(Commit commit) {
    switch (commit) {
        case Commit::WRITTEN: return platform::PROFILE_WRITTEN;
        case Commit::FILE_CHANGED: return platform::PROFILE_FILE_CHANGED;
        case Commit::FAILED: return platform::PROFILE_WRITE_FAILED;
        case Commit::NOTHING_TO_WRITE: break;
    }
    return platform::PROFILE_NOTHING_WRITTEN;
}

// FNV-1a over bytes: what the change marks remember of a file's content, and the hash a
// settings file's claim is named by (path_key.h).
uint64_t digest(const std::string& bytes);

}  // namespace ini
