// norvalume-profile: one settings-file read or write, done by Windows' own private-profile
// functions (profile_win32.cpp) or, in the Linux build, by our INI engine
// (profile_posix.cpp). The same command file run through both shows where they differ.
#pragma once

#include <cstdint>

// Reads `key` of `section` with the default "" into `buf` (`size` bytes); returns what the
// call returns, the number of characters copied.
uint32_t profileToolGet(const char* path, const char* section, const char* key, char* buf,
                        uint32_t size);

// Writes, or with a null `value` deletes the key, with a null `key` the section; returns
// whether the call reported success.
bool profileToolPut(const char* path, const char* section, const char* key, const char* value);
