// The configuration loader: walks the settings file in the item table's fixed order,
// hands every line to the line parser, writes verdicts and the [GF Connections] report
// back, and reloads when the file's archive attribute says it was saved again.
#include "config/loader.h"

#include <cstdio>
#include <cstring>

#include "config/items.h"
#include "config/line_parser.h"
#include "config/profile_text.h"
#include "devices/models.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t READ_LIMIT = 255;    // a value is parsed as at most 254 characters
constexpr uint32_t WIDE_LIMIT = 16384;  // the larger read that finds a value's true length
constexpr uint32_t VALUE_ROOM = WIDE_LIMIT + 128;  // a wide value plus an error text
constexpr int CONDITION_KEYS = 255;     // keys "0" to "254"
constexpr int LIGHTS_PER_UNIT = 24;
constexpr uint32_t MAX_UNITS = 256;     // unit numbers are 8-bit; more would alias unit 0

const char CONDITIONS_SECTION[] = "Conditions";
const char REPORT_SECTION[] = "GF Connections";

// Static because the loader runs on the loop thread only and is never re-entered.
char wideValue[VALUE_ROOM];
char lineValue[LINE_BUFFER_SIZE];
char needsValue[LINE_BUFFER_SIZE];
char longText[VALUE_ROOM];
char quotedText[VALUE_ROOM + 2];

// Set when the file changed while the last load was running, so the next tick loads it.
bool changedDuringLoad = false;

// One pass over every key the configuration is made of. A load pass parses and writes
// back; a verify pass only reads. Both fold what the file holds afterwards into a
// fingerprint, so a verify pass run after a load tells whether someone else saved the
// file while the load ran.
struct Walk {
    bool verify;
    const LoadInputs* in;
    const LoadObserver* observer;
    uint64_t fingerprint;
};

struct ItemContext {
    int32_t deviceType;
    uint8_t kind;
    uint16_t index;
    uint8_t unit;
    uint16_t minVoltage;
    uint16_t needsFlags;
};

constexpr uint64_t FNV_OFFSET = 1469598103934665603ull;
constexpr uint64_t FNV_PRIME = 1099511628211ull;

void foldBytes(Walk& walk, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        walk.fingerprint ^= static_cast<unsigned char>(text[i]);
        walk.fingerprint *= FNV_PRIME;
    }
    // A separator that no value holds keeps "ab"+"c" apart from "a"+"bc".
    walk.fingerprint ^= 0x100;
    walk.fingerprint *= FNV_PRIME;
}

// Folds a key and its value as the next read will see it: trimmed at both ends. Quotes
// stay: a value read has lost its pair already, and putLine protects a written one.
void foldKey(Walk& walk, const char* section, const char* key, const char* value) {
    ReadBack read = readBack(value, std::strlen(value));
    foldBytes(walk, section, std::strlen(section));
    foldBytes(walk, key, std::strlen(key));
    foldBytes(walk, value + read.begin, read.end - read.begin);
}

bool putKey(const Walk& walk, const char* section, const char* key, const char* value) {
    if (walk.observer && walk.observer->fileChange) walk.observer->fileChange(section, key, value);
    if (walk.observer && walk.observer->dryRun) return false;
    return platform::profilePut(walk.in->path, section, key, value);
}

// Writes a line so that the next read gives it back unchanged. A value that begins and
// ends with the same quote character loses that pair when read, which would silently
// change the user's line (and its meaning) on every load; one more pair protects it.
bool putLine(const Walk& walk, const char* section, const char* key, const char* text) {
    size_t length = std::strlen(text);
    ReadBack read = readBack(text, length);
    if (read.quoted && length + 3 <= sizeof quotedText) {
        char first = text[read.begin];
        quotedText[0] = first;
        std::memcpy(quotedText + 1, text, length);
        quotedText[length + 1] = first;
        quotedText[length + 2] = '\0';
        return putKey(walk, section, key, quotedText);
    }
    return putKey(walk, section, key, text);
}

// The error text the parser appended to a rejected line. The parser cuts any older
// annotation before it parses, so the first "<<<" left in the line is the new one.
const char* appendedError(const char* line) {
    const char* mark = std::strstr(line, "<<<");
    if (!mark) return "";
    return mark > line && mark[-1] == ' ' ? mark - 1 : mark;
}

// Drops the blanks that stood before an old annotation, which the parser leaves in front
// of the new one: otherwise a line that stays wrong gains one blank at every load.
void closeUpError(char* line) {
    char* error = const_cast<char*>(appendedError(line));
    if (!*error) return;
    char* p = error;
    while (p > line && (p[-1] == ' ' || p[-1] == '\t')) --p;
    if (p != error) std::memmove(p, error, std::strlen(error) + 1);
}

// What to write back for a value longer than the read limit: the parser saw only its
// first 254 characters, but the rest is still the user's text and is never cut off.
// Only an old annotation is removed and, for a rejected line, the new one appended.
// nullptr when the file is to stay as it is.
const char* longLineReplacement(uint32_t length, ParseResult result) {
    // Filled the wide read too: its true end is unknown, so it cannot be rewritten safely.
    if (length >= WIDE_LIMIT - 1) return nullptr;
    const char* mark = std::strstr(wideValue, "<<<");
    if (result != PARSE_REJECTED && !mark) return nullptr;
    size_t keep = mark ? static_cast<size_t>(mark - wideValue) : length;
    while (keep > 0 && (wideValue[keep - 1] == ' ' || wideValue[keep - 1] == '\t')) --keep;
    std::memcpy(longText, wideValue, keep);
    longText[keep] = '\0';
    if (result == PARSE_REJECTED) {
        const char* error = appendedError(lineValue);
        size_t room = sizeof longText - keep - 1;
        size_t add = std::strlen(error);
        if (add > room) add = room;
        std::memcpy(longText + keep, error, add);
        longText[keep + add] = '\0';
    }
    return longText;
}

// Reads one item key and, in a load pass, parses it and applies the write-back rule.
// Returns whether the key is present (an empty value counts as missing).
bool visitItem(Walk& walk, const char* section, const char* key, const ItemContext& ctx) {
    uint32_t length = platform::profileGet(walk.in->path, section, key, wideValue, WIDE_LIMIT);
    if (length == 0) return false;
    if (length > WIDE_LIMIT - 1) length = WIDE_LIMIT - 1;
    wideValue[length] = '\0';
    if (walk.verify) {
        foldKey(walk, section, key, wideValue);
        return true;
    }

    // The parser sees what the read limit leaves: at most READ_LIMIT - 1 characters.
    uint32_t cut = length < READ_LIMIT - 1 ? length : READ_LIMIT - 1;
    // When the limit ends inside the "<<<" of an old annotation, the parser would take the
    // stray "<" for a comparison and reject a good line: end its view before the mark.
    if (length > cut) {
        const char* mark = std::strstr(wideValue, "<<<");
        uint32_t at = mark ? static_cast<uint32_t>(mark - wideValue) : length;
        if (at < cut && at + 3 > cut) cut = at;
    }
    std::memcpy(lineValue, wideValue, cut);
    lineValue[cut] = '\0';
    ParseResult result = parseItemLine(itemCount, ctx.deviceType, ctx.kind, ctx.index,
                                       ctx.unit, lineValue, ctx.minVoltage, ctx.needsFlags);
    if (result != PARSE_REJECTED) acceptItem();
    if (result == PARSE_REJECTED) closeUpError(lineValue);
    // The blanks that stood before a cut-off annotation would be trimmed by the next read
    // anyway; leaving them out keeps the file as tidy as the user wrote it.
    if (result == PARSE_STORED_CUT) {
        size_t end = std::strlen(lineValue);
        while (end > 0 && (lineValue[end - 1] == ' ' || lineValue[end - 1] == '\t')) --end;
        lineValue[end] = '\0';
    }
    if (result == PARSE_REJECTED && walk.observer && walk.observer->lineRejected)
        walk.observer->lineRejected(section, key, appendedError(lineValue));
    if (result != PARSE_REJECTED && walk.observer && walk.observer->lineAccepted)
        walk.observer->lineAccepted(section, key, lineValue, itemCount - 1);

    const char* replacement = nullptr;
    if (length <= READ_LIMIT - 1) {
        if (result != PARSE_STORED) replacement = lineValue;
    } else {
        replacement = longLineReplacement(length, result);
    }
    bool written = replacement && putLine(walk, section, key, replacement);
    foldKey(walk, section, key, written ? replacement : wideValue);
    return true;
}

// A base key and its continuations: the run goes on past a missing base key but ends
// at the first missing continuation.
void visitRun(Walk& walk, const char* section, char letter, int number, ItemContext ctx) {
    char key[32];
    ctx.index = static_cast<uint16_t>(number);
    std::snprintf(key, sizeof key, "%c%d", letter, number);
    visitItem(walk, section, key, ctx);
    for (int m = 1;; ++m) {
        std::snprintf(key, sizeof key, "%c%d.%d", letter, number, m);
        if (!visitItem(walk, section, key, ctx)) break;
    }
}

void writeReportHead(const Walk& walk) {
    putKey(walk, REPORT_SECTION, "GFDev",
           walk.in->callbackRefused ? "DLL found, but no Connect callback!" : "DLL found");
    putKey(walk, REPORT_SECTION, "Ombrex",
           walk.in->versionTooOld ? "incorrect version, needs >= 3.465" : nullptr);
}

void walkConditions(Walk& walk) {
    char key[16];
    for (int n = 0; n < CONDITION_KEYS; ++n) {
        std::snprintf(key, sizeof key, "%d", n);
        ItemContext ctx{DEV_CONDITION, KIND_CONDITION, static_cast<uint16_t>(n + 1), 0, 0, 0};
        visitItem(walk, CONDITIONS_SECTION, key, ctx);
    }
}

void walkDevices(Walk& walk) {
    char section[48];
    char count[16];
    for (int32_t type = 1; type <= DEVICE_TYPE_COUNT; ++type) {
        const char* name = deviceTypeName(type);
        uint32_t units = walk.in->unitCounts ? walk.in->unitCounts[type] : 0;
        if (!walk.verify) {
            std::snprintf(count, sizeof count, "%u", static_cast<unsigned>(units));
            putKey(walk, REPORT_SECTION, name, units ? count : nullptr);
        }
        if (units > MAX_UNITS) units = MAX_UNITS;
        int displays = deviceDisplayCount(type);
        for (uint32_t u = 0; u < units; ++u) {
            std::snprintf(section, sizeof section, "%s.%u", name, static_cast<unsigned>(u));
            ItemContext ctx{type, KIND_BRIGHTNESS, 0, static_cast<uint8_t>(u), 0, 0};
            uint32_t n =
                platform::profileGet(walk.in->path, section, "Needs", needsValue, READ_LIMIT);
            if (n >= sizeof needsValue) n = sizeof needsValue - 1;
            needsValue[n] = '\0';
            if (n) foldKey(walk, section, "Needs", needsValue);
            parseNeeds(needsValue, &ctx.needsFlags, &ctx.minVoltage);

            visitItem(walk, section, "B", ctx);
            ctx.kind = KIND_LIGHT;
            for (int light = 0; light < LIGHTS_PER_UNIT; ++light)
                visitRun(walk, section, 'L', light, ctx);
            ctx.kind = KIND_DISPLAY;
            for (int display = 0; display < displays; ++display)
                visitRun(walk, section, 'D', display, ctx);
        }
    }
}

// One walk inside one batch of settings-file calls: the file is read once for it, and
// its writes reach the file only if nobody saved it meanwhile.
platform::ProfileOutcome walkFile(Walk& walk) {
    platform::profileBegin(walk.in->path);
    if (!walk.verify) writeReportHead(walk);
    walkConditions(walk);
    walkDevices(walk);
    return platform::profileEnd();
}

// The body of a load, from the table reset to the attribute clear. Returns true when the
// file was saved by someone else while it ran: then none of its verdicts were written.
bool runLoad(const LoadInputs& in, const LoadObserver* observer) {
    Walk walk{false, &in, observer, FNV_OFFSET};
    resetItemTable();
    platform::ProfileOutcome outcome = walkFile(walk);
    if (observer && observer->dryRun) return false;
    if (outcome == platform::PROFILE_FILE_CHANGED) return true;

    // Clearing the marker also hides an edit saved during the walk, so the file is read
    // once more afterwards; an edit saved after the clear sets the marker again itself.
    platform::setFileAttributes(in.path, platform::FILE_ATTR_NORMAL);
    // Verdicts that could not be written (the file is as it was read): nothing to compare
    // with, and loading again would not write them either.
    if (outcome == platform::PROFILE_WRITE_FAILED) return false;
    Walk check{true, &in, nullptr, FNV_OFFSET};
    walkFile(check);
    return check.fingerprint != walk.fingerprint;
}

// minVoltage follows the V as a leading decimal number, read as atoi reads it (blanks
// before it skipped, so "V 24" is 24); clamped to the field instead of wrapping, so
// V70000 does not become 4464 and V-5 does not become 65531.
uint16_t voltageAfter(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    uint32_t value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value < 65535) value = value * 10 + static_cast<uint32_t>(*p - '0');
        ++p;
    }
    if (negative) return 0;
    return static_cast<uint16_t>(value > 65535 ? 65535 : value);
}

}  // namespace

void parseNeeds(const char* value, uint16_t* needsFlags, uint16_t* minVoltage) {
    uint16_t flags = 0;
    uint16_t voltage = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(value);
    while (*p) {
        while (*p && *p <= 32) ++p;
        if (!*p) break;
        switch (*p) {
            case 'A': case 'a': flags |= FLAG_NEEDS_A; break;
            case 'B': case 'b': flags |= FLAG_NEEDS_B; break;
            case 'E': case 'e': flags |= FLAG_NEEDS_E; break;
            case 'V': case 'v':
                flags |= FLAG_NEEDS_V;
                voltage = voltageAfter(reinterpret_cast<const char*>(p + 1));
                break;
            default: break;
        }
        while (*p > 32) ++p;
    }
    *needsFlags = flags;
    *minVoltage = voltage;
}

bool configurationChanged(const char* path) {
    if (changedDuringLoad) return true;
    uint32_t attributes = platform::fileAttributes(path);
    // A missing file reports every bit set; it has not been saved, it is gone.
    return attributes != platform::FILE_ATTR_INVALID &&
           (attributes & platform::FILE_ATTR_ARCHIVE) != 0;
}

bool loadConfigurationOnce(const LoadInputs& inputs, const LoadObserver* observer) {
    changedDuringLoad = runLoad(inputs, observer);
    finishItemTable();
    return changedDuringLoad;
}

void resetLoader() { changedDuringLoad = false; }
