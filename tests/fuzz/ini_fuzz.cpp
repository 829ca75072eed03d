// Fuzz target for the INI engine's text functions, getValue and applyPut, through ini.h
// alone. The input is a settings text followed by reads and writes against it:
//   2 bytes      the text's length, little-endian (cut to what the input holds)
//   text         the file's bytes as they are, NULs and all
//   operations   each an operation byte, then what the operation takes (readOperation)
// Each operation runs on the text that the writes before it left. Properties:
// - a read touches no byte outside the text or the caller's buffer (heap blocks of
//   exactly their size), always terminates, and a smaller buffer gets the same value cut
//   to its size;
// - REFUSED and UNCHANGED leave `out` untouched, and every write that applyPut says it
//   refuses (a line break anywhere, '=' in the key, a key line that would read as a
//   section header) is REFUSED;
// - UNCHANGED means the text already says so: the value reads back, a deleted key or
//   section reads as missing;
// - after CHANGED the text differs, the written key reads back as written (for values
//   that the reading rules return as they are: no blanks at the ends, no surrounding
//   quotes), a value write loses no line break, and every other key of every section
//   reads exactly as before.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/common/ini.h"

namespace {

constexpr size_t MAX_OPERATIONS = 6;
constexpr size_t MAX_NAMES = 16;  // names taken from the text, per kind

// The blanks the engine trims around names and values.
bool isBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' ||
           c == 0x1A;
}

std::string trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && isBlank(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && isBlank(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether two names address the same section or key: blanks around them and ASCII case
// do not count.
bool sameName(const std::string& a, const std::string& b) {
    std::string x = trimmed(a), y = trimmed(b);
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i)
        if (lower(x[i]) != lower(y[i])) return false;
    return true;
}

bool hasLineBreak(const std::string* s) {
    return s && s->find_first_of("\r\n") != std::string::npos;
}

// Sections, keys and values as the text spells them, found by a rough reading of its
// lines, so that the operations can hit what is there; and the (section, key) pairs
// whose reads must survive a write elsewhere.
struct Names {
    std::vector<std::string> sections, keys, values;
    std::vector<std::pair<std::string, std::string>> pairs;
};

// Takes one line (without its line break) into `n`; `section` is the header in force.
void noteLine(std::string line, Names& n, std::string* section, bool* inSection) {
    line = trimmed(line.substr(0, line.find('\0')));
    const size_t close = line.rfind(']');
    const size_t eq = line.find('=');
    if (!line.empty() && line[0] == '[' && close != std::string::npos) {
        *section = line.substr(1, close - 1);
        *inSection = true;
        if (n.sections.size() < MAX_NAMES) n.sections.push_back(*section);
    } else if (eq != std::string::npos) {
        const std::string key = line.substr(0, eq);
        if (n.keys.size() < MAX_NAMES) n.keys.push_back(key);
        if (n.values.size() < MAX_NAMES) n.values.push_back(line.substr(eq + 1));
        if (*inSection && n.pairs.size() < MAX_NAMES) n.pairs.emplace_back(*section, key);
    }
}

Names namesIn(const std::string& text) {
    Names n;
    std::string section, line;
    bool inSection = false;
    static const std::string BYTE_ORDER_MARK = "\xEF\xBB\xBF";
    const size_t start = text.compare(0, 3, BYTE_ORDER_MARK) == 0 ? 3 : 0;
    for (char c : text.substr(start)) {
        if (c == '\r' || c == '\n') {
            noteLine(line, n, &section, &inSection);
            line.clear();
        } else {
            line += c;
        }
    }
    noteLine(line, n, &section, &inSection);
    return n;
}

// The input, consumed from the front.
struct Reader {
    const uint8_t* data;
    size_t size;
    bool empty() const { return size == 0; }
    uint8_t byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    // Bytes up to a NUL (consumed) or the end.
    std::string string() {
        size_t n = 0;
        while (n < size && data[n] != 0) ++n;
        std::string s(reinterpret_cast<const char*>(data), n);
        data += n;
        size -= n;
        if (size > 0) byte();
        return s;
    }
};

// A name or value: 0x80 and above, a literal string follows; 0x7F, none (a null
// pointer); below, one of those the text holds (empty when it holds none).
bool readName(Reader& in, const std::vector<std::string>& known, std::string* out) {
    uint8_t selector = in.byte();
    if (selector >= 0x80) {
        *out = in.string();
        return true;
    }
    if (selector == 0x7F) return false;
    *out = known.empty() ? std::string() : known[selector % known.size()];
    return true;
}

// A text as getValue gets it: a heap block of exactly its size, so that reading past
// its end is caught.
class ExactText {
public:
    explicit ExactText(const std::string& text) : bytes_(new char[text.size()]), text_(text) {
        std::memcpy(bytes_.get(), text.data(), text.size());
    }
    const char* data() const { return bytes_.get(); }
    const std::string& text() const { return text_; }
    bool unchanged() const { return std::memcmp(bytes_.get(), text_.data(), text_.size()) == 0; }

private:
    std::unique_ptr<char[]> bytes_;
    const std::string& text_;
};

// getValue into a heap buffer of exactly `size` bytes; checks what every read promises
// and returns the value.
std::string readValue(const ExactText& text, const std::string* section,
                      const std::string* key, uint32_t size) {
    std::unique_ptr<char[]> buf(new char[size == 0 ? 1 : size]);
    buf[0] = '\x7F';
    uint32_t n = ini::getValue(text.data(), text.text().size(),
                               section ? section->c_str() : nullptr, key ? key->c_str() : nullptr,
                               buf.get(), size);
    FUZZ_CHECK(text.unchanged());  // reads change nothing
    if (size == 0) {
        FUZZ_CHECK(n == 0 && buf[0] == '\x7F');  // no room, nothing written
        return std::string();
    }
    FUZZ_CHECK(n < size);
    FUZZ_CHECK(buf[n] == '\0');
    return std::string(buf.get(), n);
}

// The value of a key, with room for any value the text can hold.
std::string valueOf(const ExactText& text, const std::string* section, const std::string* key) {
    return readValue(text, section, key, static_cast<uint32_t>(text.text().size() + 2));
}

std::vector<std::string> readPairs(const ExactText& text, const Names& names) {
    std::vector<std::string> values;
    for (const auto& p : names.pairs) values.push_back(valueOf(text, &p.first, &p.second));
    return values;
}

void checkRead(const ExactText& text, const std::string* section, const std::string* key,
               uint8_t sizeByte) {
    const std::string full = valueOf(text, section, key);
    FUZZ_CHECK(valueOf(text, section, key) == full);  // deterministic
    const uint32_t size = sizeByte < 0xC0 ? sizeByte % 24 : static_cast<uint32_t>(full.size() + 1);
    const std::string cut = readValue(text, section, key, size);
    FUZZ_CHECK(cut == full.substr(0, size == 0 ? 0 : size - 1));
}

// What the written value reads back as, when the reading rules return it unchanged:
// applyPut drops the blanks and tabs in front of it, and a read trims blanks at both
// ends and strips one pair of surrounding quotes.
bool readsBackAsWritten(const std::string& value, std::string* expected) {
    size_t start = value.find_first_not_of(" \t");
    std::string v = start == std::string::npos ? std::string() : value.substr(start);
    if (trimmed(v) != v) return false;
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) return false;
    *expected = v;
    return true;
}

// What applyPut promises to refuse.
bool mustRefuse(const std::string* section, const std::string* key, const std::string* value) {
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value)) return true;
    if (key && key->find('=') != std::string::npos) return true;
    if (key && value) {
        std::string line = trimmed(*key) + "=" + trimmed(*value);
        if (line[0] == '[' && line.find(']') != std::string::npos) return true;
    }
    return false;
}

size_t countOf(const std::string& s, char c) {
    size_t n = 0;
    for (char x : s) n += x == c;
    return n;
}

enum Operation { PUT = 0, DELETE_KEY = 1, DELETE_SECTION = 2, READ = 3 };

void checkUnchanged(const ExactText& text, Operation op, const std::string& section,
                    const std::string* key, const std::string* value, const Names& names) {
    std::string expected;
    if (op == PUT && readsBackAsWritten(*value, &expected))
        FUZZ_CHECK(valueOf(text, &section, key) == expected);
    if (op == DELETE_KEY) FUZZ_CHECK(valueOf(text, &section, key).empty());
    if (op == DELETE_SECTION) {
        for (const std::string& k : names.keys) FUZZ_CHECK(valueOf(text, &section, &k).empty());
    }
}

void checkChanged(const std::string& before, const ExactText& after, Operation op,
                  const std::string& section, const std::string* key, const std::string* value,
                  const Names& names, const std::vector<std::string>& valuesBefore) {
    std::string expected;
    FUZZ_CHECK(after.text() != before);  // CHANGED never leaves the text as it was
    if (op == PUT) {
        if (readsBackAsWritten(*value, &expected))
            FUZZ_CHECK(valueOf(after, &section, key) == expected);
        else
            FUZZ_CHECK(value->find(valueOf(after, &section, key)) != std::string::npos);
        FUZZ_CHECK(countOf(after.text(), '\n') >= countOf(before, '\n'));
        FUZZ_CHECK(countOf(after.text(), '\r') >= countOf(before, '\r'));
    }
    for (size_t i = 0; i < names.pairs.size(); ++i) {
        const auto& p = names.pairs[i];
        // What the write was about reads as it says (a duplicate may show through now).
        if (sameName(p.first, section) && (op == DELETE_SECTION || sameName(p.second, *key)))
            continue;
        FUZZ_CHECK(valueOf(after, &p.first, &p.second) == valuesBefore[i]);
    }
}

// One operation on `text`; a write that changes it leaves the new text there.
void runOperation(Reader& in, std::string& text) {
    const uint8_t code = in.byte();
    const Operation op = static_cast<Operation>(code & 3);
    const Names names = namesIn(text);
    std::string section, key, value;
    const bool hasSection = readName(in, names.sections, &section);
    const bool hasKey = op == DELETE_SECTION ? false : readName(in, names.keys, &key);
    const bool hasValue = op == PUT ? readName(in, names.values, &value) : false;
    const std::string* s = hasSection ? &section : nullptr;
    const std::string* k = hasKey ? &key : nullptr;
    const std::string* v = hasValue ? &value : nullptr;

    const ExactText exact(text);
    if (op == READ) {
        checkRead(exact, s, k, in.byte());
        return;
    }
    // A missing key or value turns the write into the matching delete, as in applyPut.
    const Operation effective = !k ? DELETE_SECTION : !v ? DELETE_KEY : PUT;
    const std::vector<std::string> valuesBefore = readPairs(exact, names);
    const std::string untouched = "\x7Funtouched";
    std::string out = untouched;
    const ini::Edit result = ini::applyPut(text, s ? s->c_str() : nullptr, k ? k->c_str() : nullptr,
                                           v ? v->c_str() : nullptr, &out);
    if (mustRefuse(s, k, v)) FUZZ_CHECK(result == ini::Edit::REFUSED);
    if (result != ini::Edit::CHANGED) FUZZ_CHECK(out == untouched);
    if (!s) {
        FUZZ_CHECK(result != ini::Edit::CHANGED);  // no section, nothing to write into
        return;
    }
    if (result == ini::Edit::UNCHANGED) checkUnchanged(exact, effective, section, k, v, names);
    if (result == ini::Edit::CHANGED) {
        checkChanged(text, ExactText(out), effective, section, k, v, names, valuesBefore);
        text = out;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    size_t length = in.byte();
    length |= size_t(in.byte()) << 8;
    if (length > in.size) length = in.size;
    std::string text(reinterpret_cast<const char*>(in.data), length);
    in.data += length;
    in.size -= length;
    for (size_t i = 0; i < MAX_OPERATIONS && !in.empty(); ++i) runOperation(in, text);
    return 0;
}
