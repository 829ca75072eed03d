// Our INI engine: reads and edits settings text exactly as the Windows private-profile
// functions do, so a file moves between Windows and Linux without surprises. The text
// engine works on a byte buffer; the file wrappers below it read and rewrite whole files.
// Compiled into the Linux platform and into the unit tests' fake platform alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// Reads the whole file. False when it is missing, unreadable or larger than the cap.
bool readFile(const char* path, std::string* out);

// getValue on the file at `path`; a missing or unreadable file reads as empty.
uint32_t fileGet(const char* path, const char* section, const char* key, char* buf,
                 uint32_t size);

// applyPut on the file at `path`, creating it when missing (not its directory). The new
// text replaces the old one by rename, so a crash mid-write never leaves half a file.
// True when the file says what was asked for afterwards.
bool filePut(const char* path, const char* section, const char* key, const char* value);

}  // namespace ini
