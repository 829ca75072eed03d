// The INI engine's text half: lookup and in-place editing of settings text with the
// behaviour of the Windows private-profile functions. A single call scans the lines
// afresh; an index (a whole load) finds every key in one pass.
#include <cstring>

#include "platform/common/ini.h"

namespace ini {

namespace {

bool isTrim(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' ||
           c == 0x1A;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

struct Span {
    size_t begin;
    size_t end;  // exclusive
};

Span trimSpan(const char* text, Span s) {
    while (s.begin < s.end && isTrim(static_cast<unsigned char>(text[s.begin]))) ++s.begin;
    while (s.end > s.begin && isTrim(static_cast<unsigned char>(text[s.end - 1]))) --s.end;
    return s;
}

// A name as the caller asked for it, without surrounding blanks.
Span trimmedName(const char* name) { return trimSpan(name, Span{0, std::strlen(name)}); }

bool sameName(const char* text, Span a, const char* name, Span b) {
    if (a.end - a.begin != b.end - b.begin) return false;
    for (size_t i = 0; i < a.end - a.begin; ++i) {
        if (lower(text[a.begin + i]) != lower(name[b.begin + i])) return false;
    }
    return true;
}

enum class LineKind { OTHER, HEADER, KEY };

// One physical line and what it says. `content` excludes the line ending; `next` is where
// the following line starts.
struct Line {
    size_t start;
    size_t contentEnd;
    size_t next;
    size_t visibleEnd;  // the first NUL of the line, or contentEnd
    LineKind kind;
    Span trimmed;  // the whole line, trimmed (up to a NUL)
    Span name;     // section name or key
    Span value;    // KEY only
};

// Parses the line starting at `pos`; false at the end of the text.
bool nextLine(const char* text, size_t length, size_t pos, Line* line) {
    if (pos >= length) return false;
    size_t end = pos;
    while (end < length && text[end] != '\r' && text[end] != '\n') ++end;
    size_t next = end;
    if (next < length && text[next] == '\r') ++next;
    if (next < length && text[next] == '\n' && (next == end || text[end] == '\r')) ++next;
    line->start = pos;
    line->contentEnd = end;
    line->next = next;
    line->kind = LineKind::OTHER;

    // Whatever follows a NUL on its line is invisible to lookups.
    size_t visibleEnd = pos;
    while (visibleEnd < end && text[visibleEnd] != '\0') ++visibleEnd;
    line->visibleEnd = visibleEnd;
    Span t = trimSpan(text, Span{pos, visibleEnd});
    line->trimmed = t;
    if (t.begin == t.end) return true;

    if (text[t.begin] == '[') {
        size_t close = t.end;
        while (close > t.begin && text[close - 1] != ']') --close;
        if (close > t.begin) {
            line->kind = LineKind::HEADER;
            line->name = trimSpan(text, Span{t.begin + 1, close - 1});
            return true;
        }
    }
    const void* eq = std::memchr(text + t.begin, '=', t.end - t.begin);
    if (eq) {
        size_t at = static_cast<size_t>(static_cast<const char*>(eq) - text);
        line->kind = LineKind::KEY;
        line->name = trimSpan(text, Span{t.begin, at});
        line->value = trimSpan(text, Span{at + 1, t.end});
    }
    return true;
}

// Where a section and one of its keys sit in the text.
struct Place {
    bool sectionFound = false;
    Line header{};
    size_t sectionEnd = 0;  // start of the next header, or the end of the text
    bool keyFound = false;
    Line keyLine{};
    bool anyKey = false;
    Line lastKey{};
};

// A UTF-8 byte-order mark is not part of the first line, as Windows reads it.
size_t bodyStart(const char* text, size_t length) {
    return length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
}

Place locate(const char* text, size_t length, const char* section, const char* key) {
    Place place;
    Span sect = trimmedName(section);
    Span k = key ? trimmedName(key) : Span{0, 0};
    Line line;
    size_t pos = bodyStart(text, length);
    while (nextLine(text, length, pos, &line)) {
        pos = line.next;
        if (!place.sectionFound) {
            if (line.kind == LineKind::HEADER && sameName(text, line.name, section, sect)) {
                place.sectionFound = true;
                place.header = line;
                place.sectionEnd = length;
            }
            continue;
        }
        // Only the first matching section counts; a lookup never goes past its end.
        if (line.kind == LineKind::HEADER) {
            place.sectionEnd = line.start;
            break;
        }
        if (line.kind != LineKind::KEY) continue;
        place.anyKey = true;
        place.lastKey = line;
        if (key && !place.keyFound && sameName(text, line.name, key, k)) {
            place.keyFound = true;
            place.keyLine = line;
        }
    }
    return place;
}

bool hasLineBreak(const char* s) { return s && std::strpbrk(s, "\r\n") != nullptr; }

// The line ending the file already uses; CRLF for a file that has none yet.
const char* lineEnding(const std::string& text) {
    size_t at = text.find_first_of("\r\n");
    if (at == std::string::npos) return "\r\n";
    if (text[at] == '\n') return "\n";
    if (at + 1 < text.size() && text[at + 1] == '\n') return "\r\n";
    return "\r";
}

bool endsWithLineEnding(const std::string& text) {
    return text.empty() || text.back() == '\n' || text.back() == '\r';
}

// Copies a value found in the text: one pair of surrounding quotes removed, cut to fit.
uint32_t copyValue(const char* text, Span v, char* buf, uint32_t size) {
    size_t n = v.end - v.begin;
    if (n >= 2) {
        char first = text[v.begin];
        if ((first == '"' || first == '\'') && text[v.end - 1] == first) {
            ++v.begin;
            --v.end;
            n -= 2;
        }
    }
    if (n > size - 1) n = size - 1;
    std::memcpy(buf, text + v.begin, n);
    buf[n] = '\0';
    return static_cast<uint32_t>(n);
}

void appendLowered(std::string* out, const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i) *out += lower(s[i]);
}

std::string indexKey(const char* section, const char* key) {
    Span s = trimmedName(section);
    Span k = trimmedName(key);
    std::string name;
    appendLowered(&name, section + s.begin, s.end - s.begin);
    name += '\0';
    appendLowered(&name, key + k.begin, k.end - k.begin);
    return name;
}

}  // namespace

uint32_t getValue(const char* text, size_t length, const char* section, const char* key,
                  char* buf, uint32_t size) {
    if (!buf || size == 0) return 0;
    buf[0] = '\0';
    if (!text || !section || !key) return 0;
    Place place = locate(text, length, section, key);
    if (!place.keyFound) return 0;
    return copyValue(text, place.keyLine.value, buf, size);
}

void buildIndex(const char* text, size_t length, Index* index) {
    index->values.clear();
    index->sections.clear();
    std::unordered_set<std::string>& sections = index->sections;
    std::string current;
    bool inSection = false;  // under the first header of its name
    Line line;
    size_t pos = bodyStart(text, length);
    while (nextLine(text, length, pos, &line)) {
        pos = line.next;
        if (line.kind == LineKind::HEADER) {
            current.clear();
            appendLowered(&current, text + line.name.begin, line.name.end - line.name.begin);
            // Only the first section of a name is ever looked in.
            inSection = sections.insert(current).second;
            current += '\0';
            continue;
        }
        if (line.kind != LineKind::KEY || !inSection) continue;
        std::string name = current;
        appendLowered(&name, text + line.name.begin, line.name.end - line.name.begin);
        index->values.emplace(std::move(name), std::make_pair(line.value.begin, line.value.end));
    }
}

bool indexedSection(const Index& index, const char* section) {
    if (!section) return false;
    std::string name = indexKey(section, "");
    name.pop_back();  // the NUL that would come before a key
    return index.sections.count(name) != 0;
}

uint32_t indexedValue(const Index& index, const char* text, const char* section,
                      const char* key, char* buf, uint32_t size) {
    if (!buf || size == 0) return 0;
    buf[0] = '\0';
    if (!text || !section || !key) return 0;
    auto found = index.values.find(indexKey(section, key));
    if (found == index.values.end()) return 0;
    return copyValue(text, Span{found->second.first, found->second.second}, buf, size);
}

namespace {

Edit planFor(const std::string& text, size_t at, size_t removed, std::string inserted,
             Splice* splice) {
    splice->at = at;
    splice->removed = removed;
    splice->inserted = std::move(inserted);
    return Edit::CHANGED;
}

// A new value for a key the section has: the key keeps its spelling and indentation, the
// rest of the line is rewritten. UNCHANGED when the line says it already.
Edit replaceValue(const std::string& text, const Line& line, const char* v, Splice* splice) {
    const char* data = text.data();
    size_t oldLen = line.value.end - line.value.begin;
    if (std::strlen(v) == oldLen && std::memcmp(data + line.value.begin, v, oldLen) == 0)
        return Edit::UNCHANGED;
    std::string replacement(data + line.name.begin, line.name.end - line.name.begin);
    replacement += '=';
    replacement += v;
    // Blanks at the end of a value are not compared above: the line may say it already.
    const size_t oldLength = line.visibleEnd - line.trimmed.begin;
    if (replacement.size() == oldLength &&
        std::memcmp(data + line.trimmed.begin, replacement.data(), oldLength) == 0)
        return Edit::UNCHANGED;
    // Bytes after a NUL are invisible to reads but still the user's: they stay.
    return planFor(text, line.trimmed.begin, oldLength, std::move(replacement), splice);
}

// A key the section lacks goes after its last key; a section the text lacks goes at the end.
Edit addKey(const std::string& text, const Place& place, const char* section,
            const std::string& keyText, const char* v, Splice* splice) {
    const char* eol = lineEnding(text);
    std::string newLine = keyText + "=" + v + eol;
    if (place.sectionFound) {
        const Line& after = place.anyKey ? place.lastKey : place.header;
        if (after.next == after.contentEnd) newLine = eol + newLine;  // last line, unterminated
        return planFor(text, after.next, 0, std::move(newLine), splice);
    }
    std::string added = endsWithLineEnding(text) ? "" : eol;
    Span s = trimmedName(section);
    added += '[';
    added.append(section + s.begin, s.end - s.begin);
    added += ']';
    added += eol;
    added += newLine;
    return planFor(text, text.size(), 0, std::move(added), splice);
}

}  // namespace

Edit planPut(const std::string& text, const char* section, const char* key, const char* value,
             Splice* splice) {
    if (!section || !splice) return Edit::REFUSED;
    // Anything that would split the line, or not read back under the same name, would
    // silently corrupt the file: refuse it rather than write it.
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value)) return Edit::REFUSED;
    Span k{0, 0};
    if (key) {
        k = trimmedName(key);
        if (k.begin == k.end || std::strchr(key, '=') || key[k.begin] == '[') return Edit::REFUSED;
    }
    Place place = locate(text.data(), text.size(), section, key);
    if (!key) {
        if (!place.sectionFound) return Edit::UNCHANGED;
        return planFor(text, place.header.start, place.sectionEnd - place.header.start, "",
                       splice);
    }
    if (!value) {
        if (!place.keyFound) return Edit::UNCHANGED;
        const Line& line = place.keyLine;
        return planFor(text, line.start, line.next - line.start, "", splice);
    }
    const char* v = value;
    while (*v == ' ' || *v == '\t') ++v;
    if (place.keyFound) return replaceValue(text, place.keyLine, v, splice);
    return addKey(text, place, section, std::string(key + k.begin, k.end - k.begin), v, splice);
}

Edit applyPut(const std::string& text, const char* section, const char* key,
              const char* value, std::string* out) {
    if (!out) return Edit::REFUSED;
    Splice splice;
    Edit edit = planPut(text, section, key, value, &splice);
    if (edit != Edit::CHANGED) return edit;
    *out = text;
    out->replace(splice.at, splice.removed, splice.inserted);
    return edit;
}

}  // namespace ini
