// Fake platform, settings file: the real INI engine on real temp files, so the loader is
// tested against the exact file semantics, with an archive flag per path that tests can
// read and set, named failure switches, and a log of every write that reached a file.
#pragma once

#include "fake_platform/fake_fault.h"

#include <functional>
#include <string>
#include <vector>

namespace fake {

struct ProfileWrite {
    std::string section;
    std::string key;    // empty with keyNull: the whole section was deleted
    std::string value;  // empty with valueNull: the key was deleted
    bool keyNull;
    bool valueNull;
};

extern Fault profileReadFails;   // profileGet reads as missing
extern Fault profileWriteFails;  // profilePut changes nothing and returns false
extern Fault attributesFail;     // fileAttributes gives INVALID, setFileAttributes false

// Runs at profileEnd before the batch's writes are checked against the file: a test's
// chance to save the file "while the load runs". Cleared by resetProfile.
extern std::function<void()> beforeProfileEnd;

extern int profileReads;        // profileGet calls
extern int profileWrites;       // profilePut calls that succeeded
extern int attributeSets;       // setFileAttributes calls that succeeded
// The successful profilePut calls; those of a batch once it reached the file.
extern std::vector<ProfileWrite> profileWriteLog;

// A path named `name` in this test process's own temp folder; no file is there yet.
std::string tempFilePath(const char* name);
// Replaces the file's content as an editor would: the archive flag is set.
void writeFile(const std::string& path, const std::string& text);
// The file's content; "" when it is missing.
std::string readFile(const std::string& path);
// Marks the file as saved again without changing it (its fileStamp changes too).
void touchFile(const std::string& path);
bool archiveSet(const std::string& path);

// Switches, counters, the log and every archive flag back to their start (files stay).
void resetProfile();

}  // namespace fake
