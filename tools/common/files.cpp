// Files named on a tool's command line; see files.h.
#include "tools/common/files.h"

#include <cstdio>

#include "platform/platform.h"

namespace tools {

namespace {
// Longer than any path the systems take, so a path is refused by the system, not here.
constexpr uint32_t PATH_ROOM = 4096;
}  // namespace

bool fullPathOf(const char* program, const char* typed, std::string* out) {
    char full[PATH_ROOM];
    if (platform::fullPath(typed, full, sizeof full) == 0) {
        std::fprintf(stderr, "%s: %s: not a file name this system can open\n", program,
                     typed && *typed ? typed : "\"\"");
        return false;
    }
    *out = full;
    return true;
}

bool existingFile(const char* program, const char* typed, std::string* out) {
    if (!fullPathOf(program, typed, out)) return false;
    if (platform::fileAttributes(out->c_str()) != platform::FILE_ATTR_INVALID) return true;
    std::fprintf(stderr, "%s: %s: no such file\n", program, out->c_str());
    return false;
}

}  // namespace tools
