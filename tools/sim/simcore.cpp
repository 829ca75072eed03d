// The emulated interface module: offset space, block processing and command language.
// The block comes from another process, so every record is checked against the block's
// end before it is touched; a record that does not fit ends the walk.
#include "tools/sim/simcore.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

uint8_t readByte(const SimModule* m, uint32_t a) {
    if (a >= SPACE_SIZE) return 0;
    if (m->fault == FAULT_HANDSHAKE && a >= LINK_OFFSET_INTERFACE_VERSION &&
        a < LINK_OFFSET_SIM_VERSION + 4u)
        return 0;
    if (m->fault == FAULT_OLD && a >= LINK_OFFSET_INTERFACE_VERSION &&
        a < LINK_OFFSET_SIM_VERSION) {
        uint32_t word = m->faultArg ? m->faultArg : DEFAULT_OLD_INTERFACE_WORD;
        return uint8_t(word >> (8 * (a - LINK_OFFSET_INTERFACE_VERSION)));
    }
    return m->space[a];
}

// The position of record `index` in a processed block, or -1 when there is none.
long recordAt(const uint8_t* block, uint32_t blockSize, uint32_t index, bool readsOnly) {
    uint64_t pos = 0;
    uint32_t n = 0;
    while (pos + LINK_WRITE_HEADER <= blockSize) {  // the shorter header, up to the size
        uint32_t type = readLe32(block + pos + LINK_RECORD_TYPE_AT);
        uint32_t size = readLe32(block + pos + LINK_RECORD_SIZE_AT);
        uint64_t header = linkRecordHeader(type);
        if (header == 0 || pos + header + size > blockSize) return -1;
        if (!readsOnly || type == LINK_RECORD_READ) {
            if (n == index) return long(pos);
            n++;
        }
        pos += header + size;
    }
    return -1;
}

void applyReplyFault(const SimModule* m, uint8_t* block, uint32_t blockSize) {
    if (m->fault != FAULT_TYPE && m->fault != FAULT_SIZE && m->fault != FAULT_DESTINATION)
        return;
    long pos = recordAt(block, blockSize, m->faultArg, m->fault == FAULT_DESTINATION);
    if (pos < 0) return;
    uint8_t* rec = block + pos;
    if (m->fault == FAULT_TYPE) writeLe32(rec + LINK_RECORD_TYPE_AT, 7);
    if (m->fault == FAULT_SIZE)
        writeLe32(rec + LINK_RECORD_SIZE_AT, readLe32(rec + LINK_RECORD_SIZE_AT) + 1);
    if (m->fault == FAULT_DESTINATION)
        writeLe32(rec + LINK_RECORD_DESTINATION_AT,
                  readLe32(rec + LINK_RECORD_DESTINATION_AT) + 1);
}

// --- command language ---------------------------------------------------------

const char* skipBlanks(const char* s) {
    while (*s == ' ' || *s == '\t') s++;
    return s;
}

// Copies the next blank-separated word into `out`. A word too long for it becomes one
// that no parser here accepts, so that its cut-off beginning ("0x0000" of a long run of
// zeros) is never taken for the value.
const char* nextWord(const char* s, char* out, size_t outSize) {
    s = skipBlanks(s);
    size_t n = 0;
    bool cut = false;
    while (*s && *s != ' ' && *s != '\t') {
        if (n + 1 < outSize)
            out[n++] = *s;
        else
            cut = true;
        s++;
    }
    if (cut && outSize > 1) {
        out[0] = '\x01';
        n = 1;
    }
    out[n] = '\0';
    return s;
}

bool parseHexOffset(const char* text, uint32_t* out) {
    const char* p = text;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
    if (!*p) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(p, &end, 16);
    if (errno || *end || v >= SPACE_SIZE || *p == '-' || *p == '+') return false;
    *out = uint32_t(v);
    return true;
}

// Decimal or 0x-hexadecimal, optionally negative.
bool parseInteger(const char* text, long long* out) {
    if (!*text) return false;
    const char* p = text;
    bool negative = false;
    if (*p == '-') {
        negative = true;
        p++;
    }
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (!*p || *p == '-' || *p == '+') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(p, &end, base);
    if (errno || *end || v > 0xFFFFFFFFull) return false;
    *out = negative ? -(long long)v : (long long)v;
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

CommandResult fail(const char* message) {
    CommandResult r{};
    r.kind = COMMAND_ERROR;
    std::snprintf(r.message, sizeof r.message, "%s", message);
    return r;
}

CommandResult done() {
    CommandResult r{};
    r.kind = COMMAND_DONE;
    return r;
}

bool storeChecked(SimModule* m, uint32_t offset, const uint8_t* data, uint32_t size) {
    if (uint64_t(offset) + size > SPACE_SIZE) return false;
    std::memcpy(m->space + offset, data, size);
    return true;
}

CommandResult runSet(SimModule* m, const char* rest) {
    char offsetText[32], type[8];
    rest = nextWord(rest, offsetText, sizeof offsetText);
    rest = nextWord(rest, type, sizeof type);
    uint32_t offset;
    if (!parseHexOffset(offsetText, &offset)) return fail("bad offset");
    const char* valueText = skipBlanks(rest);

    uint8_t bytes[SPACE_SIZE];
    uint32_t size = 0;
    if (std::strcmp(type, "str") == 0) {
        size_t n = std::strlen(valueText);
        if (n + 1 > SPACE_SIZE) return fail("text too long");
        std::memcpy(bytes, valueText, n + 1);
        size = uint32_t(n + 1);
    } else if (std::strcmp(type, "hex") == 0) {
        char run[2 * 4096 + 2];
        const char* after = nextWord(valueText, run, sizeof run);
        size_t n = std::strlen(run);
        if (n == 0 || n % 2 || n >= sizeof run - 1 || *skipBlanks(after))
            return fail("bad hex bytes");
        for (size_t i = 0; i < n; i += 2) {
            int hi = hexDigit(run[i]), lo = hexDigit(run[i + 1]);
            if (hi < 0 || lo < 0) return fail("bad hex bytes");
            bytes[size++] = uint8_t(hi << 4 | lo);
        }
    } else if (std::strcmp(type, "f32") == 0 || std::strcmp(type, "f64") == 0) {
        char word[64];
        const char* after = nextWord(valueText, word, sizeof word);
        char* end = nullptr;
        double v = std::strtod(word, &end);
        if (!word[0] || *end || *skipBlanks(after)) return fail("bad number");
        if (type[1] == '3') {
            float f = float(v);
            std::memcpy(bytes, &f, 4);
            size = 4;
        } else {
            std::memcpy(bytes, &v, 8);
            size = 8;
        }
    } else {
        struct IntType {
            const char* name;
            uint32_t size;
            long long min, max;
        };
        static const IntType types[] = {
            {"u8", 1, 0, 0xFF},          {"s8", 1, -0x80, 0x7F},
            {"u16", 2, 0, 0xFFFF},       {"s16", 2, -0x8000, 0x7FFF},
            {"u32", 4, 0, 0xFFFFFFFFll}, {"s32", 4, -0x80000000ll, 0x7FFFFFFF},
        };
        const IntType* t = nullptr;
        for (const IntType& candidate : types)
            if (std::strcmp(type, candidate.name) == 0) t = &candidate;
        if (!t) return fail("unknown type");
        char word[64];
        const char* after = nextWord(valueText, word, sizeof word);
        long long v;
        if (!parseInteger(word, &v) || *skipBlanks(after)) return fail("bad number");
        if (v < t->min || v > t->max) return fail("value out of range");
        uint32_t u = uint32_t(v);
        for (uint32_t i = 0; i < t->size; i++) bytes[i] = uint8_t(u >> (8 * i));
        size = t->size;
    }
    if (!storeChecked(m, offset, bytes, size)) return fail("past the end of the offset space");
    return done();
}

CommandResult runDump(SimModule* m, const char* rest, PrintLine print) {
    char offsetText[32], lengthText[32];
    rest = nextWord(rest, offsetText, sizeof offsetText);
    rest = nextWord(rest, lengthText, sizeof lengthText);
    uint32_t offset;
    long long length;
    if (!parseHexOffset(offsetText, &offset)) return fail("bad offset");
    if (!parseInteger(lengthText, &length) || length <= 0 ||
        uint64_t(offset) + uint64_t(length) > SPACE_SIZE || *skipBlanks(rest))
        return fail("bad length");
    // One line per 16 bytes: "OFFSET: XX XX ...", as the block would read them.
    for (uint32_t at = offset; at < offset + uint32_t(length); at += 16) {
        char line[8 + 16 * 3 + 1];
        int n = std::snprintf(line, sizeof line, "%04X:", unsigned(at));
        for (uint32_t i = at; i < at + 16 && i < offset + uint32_t(length); i++)
            n += std::snprintf(line + n, sizeof line - n, " %02X", unsigned(readByte(m, i)));
        if (print) print(line);
    }
    return done();
}

CommandResult runFault(SimModule* m, const char* rest) {
    char name[32], argText[32];
    rest = nextWord(rest, name, sizeof name);
    rest = nextWord(rest, argText, sizeof argText);
    Fault f;
    if (!faultFromName(name, &f)) return fail("unknown fault");
    long long arg = 0;
    if (argText[0] && (!parseInteger(argText, &arg) || arg < 0)) return fail("bad fault argument");
    if (*skipBlanks(rest)) return fail("bad fault argument");
    m->fault = f;
    m->faultArg = uint32_t(arg);
    return done();
}

}  // namespace

void resetModule(SimModule* m, uint32_t interfaceWord, uint16_t simVersion) {
    std::memset(m, 0, sizeof *m);
    writeLe32(m->space + LINK_OFFSET_INTERFACE_VERSION, interfaceWord);
    writeLe32(m->space + LINK_OFFSET_SIM_VERSION, LINK_SIM_SIGNATURE << 16 | simVersion);
}

void readSpace(const SimModule* m, uint32_t offset, uint8_t* out, uint32_t size) {
    // Nearly every read lies inside the space and clear of the handshake words a fault
    // may change: one copy, where a byte at a time costs the walk most of its time.
    const uint64_t end = uint64_t(offset) + size;
    const bool handshakeFault = m->fault == FAULT_HANDSHAKE || m->fault == FAULT_OLD;
    if (end <= SPACE_SIZE && (!handshakeFault || end <= LINK_OFFSET_INTERFACE_VERSION ||
                              offset >= LINK_OFFSET_SIM_VERSION + 4u)) {
        copyReadData(out, m->space + offset, size);
        return;
    }
    for (uint32_t i = 0; i < size; i++) {
        uint64_t a = uint64_t(offset) + i;
        out[i] = a < SPACE_SIZE ? readByte(m, uint32_t(a)) : 0;
    }
}

void writeSpace(SimModule* m, uint32_t offset, const uint8_t* data, uint32_t size) {
    bool reachedClientVersion = false;
    for (uint32_t i = 0; i < size; i++) {
        uint64_t a = uint64_t(offset) + i;
        if (a >= SPACE_SIZE) break;
        // The client's version goes to the module itself, not into the space: the
        // handshake word at 0x3308 that contains these bytes must keep reading 0xFADE.
        if (a == LINK_OFFSET_CLIENT_VERSION || a == LINK_OFFSET_CLIENT_VERSION + 1u) {
            unsigned shift = a == LINK_OFFSET_CLIENT_VERSION ? 0 : 8;
            m->clientVersion = uint16_t((m->clientVersion & ~(0xFFu << shift)) | data[i] << shift);
            reachedClientVersion = true;
            continue;
        }
        m->space[a] = data[i];
    }
    if (reachedClientVersion) m->clientVersionWrites++;
}

bool processBlock(SimModule* m, uint8_t* block, uint32_t blockSize, uint32_t* result) {
    m->exchanges++;
    if (m->fault == FAULT_SILENT) return false;
    if (m->fault == FAULT_RESULT) {
        *result = m->faultArg;
        return true;
    }
    m->lastStop = BlockStop{};
    uint64_t pos = 0;
    while (pos + 4 <= blockSize) {
        uint8_t* rec = block + pos;
        uint32_t type = readLe32(rec + LINK_RECORD_TYPE_AT);
        if (type == LINK_RECORD_END) break;
        uint64_t header = linkServedRecordHeader(type);
        uint32_t size = header && pos + header <= blockSize
                            ? readLe32(rec + LINK_RECORD_SIZE_AT) : 0;
        if (header == 0 || pos + header + size > blockSize) {
            m->lastStop = BlockStop{true, uint32_t(pos), type};
            break;
        }
        uint32_t offset = readLe32(rec + LINK_RECORD_OFFSET_AT);
        if (type == LINK_RECORD_WRITE)
            writeSpace(m, offset, rec + header, size);
        else
            readSpace(m, offset, rec + header, size);
        pos += header + size;
    }
    applyReplyFault(m, block, blockSize);
    *result = 1;
    return true;
}

void describeStop(const BlockStop& stop, char* out, size_t size) {
    if (!stop.stopped) {
        if (size) out[0] = '\0';
        return;
    }
    const bool known = linkServedRecordHeader(stop.type) != 0;
    std::snprintf(out, size, "block walk stopped at byte %u: %s %u%s", unsigned(stop.position),
                  known ? "a record of type" : "unknown record type", unsigned(stop.type),
                  known ? " runs past the block's end" : "");
}

const char COMMAND_HELP[] =
    "\n"
    "Commands, one a line: the script's, then those typed on standard input.\n"
    "  set OFFSET TYPE VALUE  put VALUE at OFFSET (hexadecimal, 0x optional) as TYPE:\n"
    "                         u8 s8 u16 s16 u32 s32: a whole number, decimal or 0x-hex\n"
    "                         f32 f64: a decimal number\n"
    "                         str: the rest of the line, then a zero byte\n"
    "                         hex: bytes as pairs of hex digits, 0A1B2C\n"
    "  wait MS                run the next line MS milliseconds later\n"
    "  dump OFFSET LENGTH     print LENGTH bytes from OFFSET, 16 to a line\n"
    "  fault NAME [N]         answer wrongly until `fault none`:\n"
    "                         silent: never answer; result [N]: answer N (default 0)\n"
    "                         instead of 1; type, size or destination [N]: spoil the\n"
    "                         type, the size or (reads only) the destination of\n"
    "                         record N of each reply (from 0); handshake: the version\n"
    "                         words at 3304 read as zero; old [WORD]: 3304 reads WORD\n"
    "                         (default 0x34640000, version 3.464: too old)\n"
    "  quit                   end norvalume-sim\n"
    "  # text                 a comment; blank lines are skipped too\n"
    "Besides the offsets of its settings file the program reads: 3102 battery and 3103\n"
    "avionics (u8, Needs B and A), 2834 the bus volts (f64, Needs V), 0B6A failure (u8,\n"
    "Needs E), 3380 the message line (str, A\"...\" matches) and 330C (u8; bit 3 blanks\n"
    "every panel).\n"
    "A script:\n"
    "  # power on: battery, avionics, 28 V, no failure\n"
    "  set 3102 u8 1\n"
    "  set 3103 u8 1\n"
    "  set 2834 f64 28.0\n"
    "  set 0B6A u8 0\n"
    "  set 034E u16 0x2345\n"
    "  set 3380 str ** STALL **\n"
    "  wait 1500\n"
    "  set 0BEC u32 16383\n";

bool faultFromName(const char* name, Fault* fault) {
    static const struct {
        const char* name;
        Fault fault;
    } names[] = {
        {"none", FAULT_NONE},         {"silent", FAULT_SILENT}, {"result", FAULT_RESULT},
        {"type", FAULT_TYPE},         {"size", FAULT_SIZE},     {"destination", FAULT_DESTINATION},
        {"handshake", FAULT_HANDSHAKE}, {"old", FAULT_OLD},
    };
    for (const auto& n : names)
        if (std::strcmp(name, n.name) == 0) {
            *fault = n.fault;
            return true;
        }
    return false;
}

uint32_t scaledWaitMs(uint32_t ms, double speed) {
    const double scaled = ms / speed + 0.5;
    return scaled >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(scaled);
}

CommandResult runCommand(SimModule* m, const char* line, PrintLine print) {
    // Comments first: their first word may be of any length.
    if (*skipBlanks(line) == '#') return done();
    char verb[16];
    const char* rest = nextWord(line, verb, sizeof verb);
    if (verb[0] == '\0') return done();
    if (std::strcmp(verb, "set") == 0) return runSet(m, rest);
    if (std::strcmp(verb, "dump") == 0) return runDump(m, rest, print);
    if (std::strcmp(verb, "fault") == 0) return runFault(m, rest);
    if (std::strcmp(verb, "wait") == 0) {
        char word[32];
        rest = nextWord(rest, word, sizeof word);
        long long ms;
        if (!parseInteger(word, &ms) || ms < 0 || *skipBlanks(rest)) return fail("bad wait");
        CommandResult r{};
        r.kind = COMMAND_WAIT;
        r.waitMs = uint32_t(ms);
        return r;
    }
    if (std::strcmp(verb, "quit") == 0) {
        CommandResult r{};
        r.kind = COMMAND_QUIT;
        return r;
    }
    return fail("unknown command");
}

}  // namespace sim
