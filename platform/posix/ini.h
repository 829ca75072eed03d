// Our INI engine: reads and edits settings text exactly as the Windows private-profile
// functions do, so a file moves between Windows and Linux without surprises. The text
// engine works on a byte buffer; the file wrappers below it read and rewrite whole files.
// Compiled into the Linux platform and into the unit tests' fake platform alike.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

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

// Applies one write to `text` and leaves the new text in `out`. A null `value` deletes
// the key, a null `key` the whole section. Every byte the write does not concern is kept.
// REFUSED when the names or the value would not read back as written (a line break
// anywhere, '=' in the key, a key that would read as a section header); UNCHANGED when
// the text already says the same (then `out` is not touched).
Edit applyPut(const std::string& text, const char* section, const char* key,
              const char* value, std::string* out);

// Where every key of the text sits, found in one pass: lookups then cost no scan of the
// text. Built over a text that must outlive it and stay unchanged.
struct Index {
    // Lower-cased section name, a NUL, lower-cased key: where the value starts and ends.
    std::unordered_map<std::string, std::pair<size_t, size_t>> values;
};
void buildIndex(const char* text, size_t length, Index* index);
// getValue answered from the index of `text`; the same result, whatever the text.
uint32_t indexedValue(const Index& index, const char* text, const char* section,
                      const char* key, char* buf, uint32_t size);

// What a file was when it was read: a later write goes out only while it still is.
struct FileState {
    bool exists;
    dev_t device;
    ino_t inode;
    off_t size;
    int64_t modifiedNs;
    int64_t changedNs;
    mode_t mode;
    uid_t owner;
    gid_t group;
};
bool sameFileState(const FileState& a, const FileState& b);

// Reads the whole file. False when it is missing, unreadable or larger than the cap.
// `state`, when given, describes the file that was read (exists = false when missing).
bool readFile(const char* path, std::string* out, FileState* state = nullptr);

// getValue on the file at `path`; a missing or unreadable file reads as empty.
uint32_t fileGet(const char* path, const char* section, const char* key, char* buf,
                 uint32_t size);

// applyPut on the file at `path`, creating it when missing (not its directory). The new
// text goes to a new file that is renamed over the old one only if the file is still what
// was read, so neither a crash nor a save by someone else in between loses anything.
// True when the file says what was asked for afterwards.
bool filePut(const char* path, const char* section, const char* key, const char* value);

// One reading of a file for a whole batch of lookups and writes (a load): lookups are
// answered from that reading, writes edit a copy, and the copy replaces the file at the
// end only if the file is then still byte for byte what was read.
struct Session {
    bool open = false;
    std::string path;
    bool readable = false;  // the file exists and was read (or is missing: empty text)
    bool writable = false;  // the user lets us write it
    FileState state{};
    std::string original;
    std::string edited;
    bool dirty = false;
    Index index;
};
void sessionBegin(Session* session, const char* path);
uint32_t sessionGet(const Session& session, const char* section, const char* key, char* buf,
                    uint32_t size);
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

}  // namespace ini
