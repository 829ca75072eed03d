// norvalume-profile: runs a file of settings-file calls and prints one result line per
// call. Every argument is hexadecimal bytes after an 'x' ("x" alone is the empty text) or
// '-' for a null pointer, so names and values may hold blanks, tabs and quotes.
//
//   get PATH SECTION KEY SIZE   ->  COUNT TEXT   (TEXT: the buffer up to its first zero,
//                                                  in the same encoding)
//   put PATH SECTION KEY VALUE  ->  1 or 0
//   begin PATH / end            ->  -            (a load's batch; only --ours has them)
//
// --ours runs the calls through the program's own settings-file services instead of the
// build's reference (Windows' functions in the Windows build), batches included.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/common/common.h"
#include "tools/profile/profile.h"

namespace {

constexpr uint32_t MAX_SIZE = 1 << 16;
constexpr char USAGE[] =
    "usage: norvalume-profile [--ours] COMMANDS | --help | --version\n"
    "  runs the settings-file calls of the file COMMANDS, one result line each:\n"
    "    get PATH SECTION KEY SIZE   ->  COUNT TEXT\n"
    "    put PATH SECTION KEY VALUE  ->  1 or 0\n"
    "    begin PATH, end             ->  -   (a batch, as a load makes one)\n"
    "  arguments are x and hexadecimal bytes, or - for a null pointer\n"
    "  --ours: through the program's own settings-file engine, not the system's\n"
    "exit status: 0 ran, 2 no commands or a malformed one\n";

struct Argument {
    bool null;
    std::string text;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool decode(const std::string& field, Argument* out) {
    if (field == "-") {
        *out = Argument{true, ""};
        return true;
    }
    if (field.empty() || field[0] != 'x' || field.size() % 2 != 1) return false;
    out->null = false;
    out->text.clear();
    for (size_t i = 1; i < field.size(); i += 2) {
        int high = hexDigit(field[i]);
        int low = hexDigit(field[i + 1]);
        if (high < 0 || low < 0) return false;
        out->text.push_back(static_cast<char>(high * 16 + low));
    }
    return true;
}

const char* pointer(const Argument& a) { return a.null ? nullptr : a.text.c_str(); }

void printHex(const char* bytes, size_t n) {
    std::putchar('x');
    for (size_t i = 0; i < n; ++i) std::printf("%02x", static_cast<unsigned char>(bytes[i]));
}

// Through the program's own services rather than the reference ones.
bool ours = false;

uint32_t get(const char* path, const char* section, const char* key, char* buf, uint32_t size) {
    if (ours) return platform::profileGet(path, section, key, buf, size);
    return profileToolGet(path, section, key, buf, size);
}

bool put(const char* path, const char* section, const char* key, const char* value) {
    if (ours) return platform::profilePut(path, section, key, value);
    return profileToolPut(path, section, key, value);
}

// A batch: the reference functions have none, so there it changes nothing.
bool batch(const std::vector<std::string>& fields) {
    static std::string begun;  // the file of the batch "end" ends
    Argument path;
    if (fields[0] == "begin") {
        if (fields.size() != 2 || !decode(fields[1], &path) || path.null) return false;
        begun = path.text;
        if (ours) platform::profileBegin(begun.c_str());
    } else {
        if (fields.size() != 1) return false;
        if (ours) platform::profileEnd(begun.c_str());
    }
    std::puts("-");
    return true;
}

// One command line; false when it is malformed.
bool run(const std::vector<std::string>& fields) {
    if (fields[0] == "begin" || fields[0] == "end") return batch(fields);
    if (fields.size() != 5) return false;
    Argument args[4];
    for (int i = 0; i < 3; ++i)
        if (!decode(fields[i + 1], &args[i])) return false;
    if (fields[0] == "put") {
        if (!decode(fields[4], &args[3])) return false;
        bool ok = put(pointer(args[0]), pointer(args[1]), pointer(args[2]), pointer(args[3]));
        std::printf("%d\n", ok ? 1 : 0);
        return true;
    }
    if (fields[0] != "get") return false;
    unsigned long size = std::strtoul(fields[4].c_str(), nullptr, 10);
    if (size == 0 || size > MAX_SIZE) return false;
    // A filled buffer shows whether the call terminated what it copied.
    std::vector<char> buf(size + 1, '\x55');
    buf[size] = '\0';
    uint32_t n = get(pointer(args[0]), pointer(args[1]), pointer(args[2]), buf.data(),
                     static_cast<uint32_t>(size));
    std::printf("%u ", n);
    printHex(buf.data(), std::strlen(buf.data()));
    std::putchar('\n');
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && tools::answerInfoOption(argv[1], "norvalume-profile", USAGE)) return 0;
    ours = argc == 3 && std::strcmp(argv[1], "--ours") == 0;
    std::string text = argc == 2 + (ours ? 1 : 0) ? tools::readFile(argv[argc - 1]) : std::string();
    if (text.empty()) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::vector<std::string> fields;
        size_t at = start;
        while (at < end) {
            size_t blank = text.find(' ', at);
            if (blank == std::string::npos || blank > end) blank = end;
            fields.emplace_back(text, at, blank - at);
            at = blank + 1;
        }
        if (!fields.empty() && !run(fields)) {
            std::fprintf(stderr, "norvalume-profile: malformed command: %s\n",
                         text.substr(start, end - start).c_str());
            return 2;
        }
        start = end + 1;
    }
    return 0;
}
