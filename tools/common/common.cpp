// The tools' shared helpers; see common.h.
#include "tools/common/common.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "version.h"

namespace tools {

std::vector<UnitsEntry> splitUnitsList(const char* list) {
    std::vector<UnitsEntry> entries;
    if (!list) return entries;
    const char* p = list;
    while (*p) {
        const char* from = p;
        while (*p && *p != '=' && *p != ',') ++p;
        UnitsEntry entry{std::string_view(from, static_cast<size_t>(p - from)), *p == '=', {},
                         from};
        if (entry.hasCount) {
            const char* count = ++p;
            // A list of serials in brackets keeps its commas.
            bool inList = false;
            while (*p && (inList || *p != ',')) {
                if (*p == '[') inList = true;
                if (*p == ']') inList = false;
                ++p;
            }
            entry.count = std::string_view(count, static_cast<size_t>(p - count));
        }
        entries.push_back(entry);
        if (*p == ',') ++p;
    }
    return entries;
}

bool wholeUnitCount(std::string_view text, unsigned long* count) {
    const std::string digits(text);
    char* end = nullptr;
    unsigned long value = std::strtoul(digits.c_str(), &end, 10);
    if (end == digits.c_str() || value > 65535 || *end) return false;
    *count = value;
    return true;
}

int leadingUnitCount(std::string_view text) {
    const std::string digits(text);
    char* end = nullptr;
    long value = std::strtol(digits.c_str(), &end, 10);
    return end != digits.c_str() && value >= 0 && value <= 65535 ? static_cast<int>(value) : 0;
}

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

bool unitSerialList(std::string_view count, std::vector<std::string>* serials) {
    serials->clear();
    std::string_view list = trimmed(count);
    if (list.empty() || list.front() != '[') return false;
    list.remove_prefix(1);
    const size_t close = list.find(']');
    if (close != std::string_view::npos) list = list.substr(0, close);
    if (trimmed(list).empty()) return true;  // "[]": no unit
    for (;;) {
        const size_t comma = list.find(',');
        serials->emplace_back(trimmed(list.substr(0, comma)));
        if (comma == std::string_view::npos) return true;
        list.remove_prefix(comma + 1);
    }
}

std::string readFile(const char* path) {
    std::string content;
    FILE* f = std::fopen(path, "rb");
    if (!f) return content;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) content.append(buf, n);
    std::fclose(f);
    return content;
}

void appendHexBytes(std::string& out, const unsigned char* bytes, size_t count) {
    char buf[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, " %02X", bytes[i]);
        out += buf;
    }
}

bool parseHexBytes(const char* text, unsigned char* out, size_t count) {
    const char* p = text;
    for (size_t i = 0; i < count; ++i) {
        char* end = nullptr;
        unsigned long v = std::strtoul(p, &end, 16);
        if (end == p || v > 0xFF) return false;
        out[i] = static_cast<unsigned char>(v);
        p = end;
    }
    return true;
}

bool standardOutputWritten(const char* program) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout)) return true;
    std::fprintf(stderr, "%s: writing to standard output failed%s%s\n", program,
                 error ? ": " : "", error ? std::strerror(error) : "");
    return false;
}

bool answerInfoOption(const char* arg, const char* program, const char* usage) {
    if (std::strcmp(arg, "--help") == 0)
        std::fputs(usage, stdout);
    else if (std::strcmp(arg, "--version") == 0)
        std::printf("%s %s\n", program, NORVALUME_VERSION);
    else
        return false;
    std::fflush(stdout);
    return true;
}

}  // namespace tools
