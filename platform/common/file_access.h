// What the INI engine needs of the file system, one small function each, implemented once
// per system (posix/file_access.cpp, win32/file_access.cpp). The engine decides when to
// read, compare and replace; these only do it.
#pragma once

#include <string>

#include "platform/common/ini.h"

namespace ini {

// What is at `path` now: the file's state, or exists = false when nothing is there.
// False when something is there that is no regular file, or it cannot be looked at.
bool statPath(const char* path, FileState* state);

// The cheapest look at a file that still sees a save: no open, so a check run every few
// seconds stays invisible. Fields the system cannot tell this way stay 0. False when the
// file does not exist.
bool glanceAt(const char* path, FileState* state);

// Reads the whole file. False when it is missing, unreadable or larger than the cap.
// `state`, when given, describes the file that was read (exists = false when missing).
bool readFile(const char* path, std::string* out, FileState* state = nullptr);

// Whether the file at `path` is a plain file that opens for reading now (opened and closed
// again, nothing read).
bool canRead(const char* path);

// Whether the user lets us write the file that `state` describes (an existing one).
bool userMayWrite(const char* path, const FileState& state);

// The path of the file that `path` names, links to it followed, so that it is the file
// that gets replaced and not the link. False when it cannot be told.
bool resolvePath(const char* path, std::string* out);

// Writes `text` into a new file beside `target`, flushed to the disk, with what the system
// lets us keep of the old file (`old`: its permissions or attributes). Its name goes to
// `temp`. False when it cannot be written completely: then nothing of it is left behind.
bool writeBeside(const char* target, const std::string& text, const FileState& old,
                 std::string* temp);

enum class Placed { DONE, TAKEN, FAILED };
// Puts the file `temp` at `path` in one step. With `replace` it takes the place of the file
// there; without, it goes there only while nothing is there (TAKEN otherwise).
Placed placeFile(const char* temp, const char* path, bool replace);

// Overwrites the content of the existing file at `path` with `text` and flushes it, so that
// every name of the file sees the new text. False when that failed, maybe half-way.
bool overwriteFile(const char* path, const std::string& text);

void removeFile(const char* path);

// The time now, on the clock FileState's times are taken from.
int64_t clockNow();

// The UTF-16 code unit each byte of the system's 8-bit code page stands for; 0 for a byte
// that is no character on its own (a lead byte of a double-byte code page).
void codePage(char16_t units[256]);

}  // namespace ini
