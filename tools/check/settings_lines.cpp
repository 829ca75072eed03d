// The settings file as lines, by the rules of the settings-file reads (see settings_lines.h):
// lines end at CR, LF or CR LF; a NUL hides the rest of its line; names and values are
// trimmed; a header is a "[" with a "]" after it; a key is a line with an "=".
#include "tools/check/settings_lines.h"

#include <cstring>
#include <map>

#include "config/profile_text.h"

namespace check {

namespace {

bool isTrim(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' ||
           c == 0x1A;
}

void trim(const std::string& text, size_t& begin, size_t& end) {
    while (begin < end && isTrim(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && isTrim(static_cast<unsigned char>(text[end - 1]))) --end;
}

// Fills the parts of a key line: `eq` is the first "=" in [begin, end).
void readKey(const std::string& text, size_t lineStart, size_t begin, size_t eq, size_t end,
             SettingsLine& line) {
    size_t nameEnd = eq;
    trim(text, begin, nameEnd);
    line.key = text.substr(begin, nameEnd - begin);
    size_t valueBegin = eq + 1;
    trim(text, valueBegin, end);
    const std::string raw = text.substr(valueBegin, end - valueBegin);
    ReadBack read = readBack(raw.c_str(), raw.size());
    line.quotePair = read.quoted;
    line.value = raw.substr(read.valueBegin(), read.valueEnd() - read.valueBegin());
    line.valueColumn = static_cast<int>(valueBegin - lineStart + read.valueBegin()) + 1;
}

// Classifies the line text[start, end).
SettingsLine classify(const std::string& text, size_t start, size_t end, int number) {
    SettingsLine line{LineKind::BLANK, number, "", 0, "", "", 0, false, 0};
    const void* nul = std::memchr(text.data() + start, '\0', end - start);
    if (nul) end = static_cast<size_t>(static_cast<const char*>(nul) - text.data());
    size_t begin = start;
    trim(text, begin, end);
    if (begin == end) return line;
    if (text[begin] == '[') {
        size_t close = text.rfind(']', end - 1);
        if (close != std::string::npos && close > begin) {
            size_t nameBegin = begin + 1;
            size_t nameEnd = close;
            trim(text, nameBegin, nameEnd);
            line.kind = LineKind::HEADER;
            line.section = text.substr(nameBegin, nameEnd - nameBegin);
            return line;
        }
    }
    if (text[begin] == ';' || text[begin] == '#') {
        line.kind = LineKind::COMMENT;
        return line;
    }
    size_t eq = text.find('=', begin);
    if (eq == std::string::npos || eq >= end) {
        line.kind = LineKind::OTHER;
        return line;
    }
    line.kind = LineKind::KEY;
    readKey(text, start, begin, eq, end, line);
    return line;
}

}  // namespace

std::string lowerName(const std::string& name) {
    std::string lower = name;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

std::vector<SettingsLine> readSettingsLines(const std::string& text) {
    std::vector<SettingsLine> lines;
    std::map<std::string, int> firstSection;
    std::map<std::string, int> firstKey;
    std::string section;
    int sectionLine = 0;
    bool firstOfName = false;
    size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (int number = 1; pos < text.size(); ++number) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        size_t next = end < text.size() ? end + 1 : end;
        if (end < text.size() && text[end] == '\r' && next < text.size() && text[next] == '\n')
            ++next;
        SettingsLine line = classify(text, pos, end, number);
        pos = next;
        if (line.kind == LineKind::HEADER) {
            auto found = firstSection.emplace(lowerName(line.section), number);
            line.firstLine = found.first->second;
            firstOfName = found.second;
            section = line.section;
            sectionLine = number;
        } else {
            line.section = section;
            line.sectionLine = sectionLine;
        }
        if (line.kind == LineKind::KEY && firstOfName) {
            std::string name = lowerName(section) + '\0' + lowerName(line.key);
            line.firstLine = firstKey.emplace(name, number).first->second;
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace check
