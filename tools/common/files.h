// Files named on a tool's command line, made full paths against the current folder
// before anything reads or writes them: a bare name must mean the file in the folder the
// user is in, also for the Windows profile functions, which look for a bare name in the
// Windows folder.
#pragma once

#include <string>

namespace tools {

// The full path of `typed` into *out. False, with a line on standard error after
// "`program`: ", when it cannot be made one (an empty name, a path too long).
bool fullPathOf(const char* program, const char* typed, std::string* out);

// The same for a file that must be there: false, with "`program`: FULL PATH: no such
// file" on standard error, when it is not.
bool existingFile(const char* program, const char* typed, std::string* out);

}  // namespace tools
