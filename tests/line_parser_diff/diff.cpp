// Differential check: the previous line parser (legacy.cpp, namespace legacy) against the
// current one, over generated lines, seed files and (with -DFUZZ) libFuzzer inputs.
// Compares the result, the whole 512-byte buffer, the stored record, textMatchUsed and
// every observer note, with and without an observer.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/line_parser.h"

namespace legacy {
ParseResult parseItemLine(int32_t position, int32_t deviceType, uint8_t kind, uint16_t index,
                          uint8_t unit, char* line, uint16_t minVoltage, uint16_t needsFlags,
                          const LineObserver* observer);
}

namespace {

std::vector<LineNote> heard;
void hear(const LineNote& n) { heard.push_back(n); }
const LineObserver observer{hear};

bool sameNote(const LineNote& a, const LineNote& b) {
    return a.kind == b.kind && a.reason == b.reason && a.at == b.at && a.length == b.length &&
           a.other == b.other && a.otherLength == b.otherLength && a.read == b.read;
}

void prepareTable() {
    if (itemCapacity == 0) resetItemTable();
    for (int32_t key = 0; key < 6; ++key) {
        ItemRecord r{};
        r.deviceType = DEV_CONDITION;
        r.kind = KIND_CONDITION;
        r.index = static_cast<uint16_t>(key * 2 + 1);
        storeItem(key, r);
    }
    itemCount = 6;
}

struct Outcome {
    int result;
    char buffer[LINE_BUFFER_SIZE];
    ItemRecord record;
    bool textMatch;
    std::vector<LineNote> notes;
};

struct Call {
    int32_t position;
    int32_t deviceType;
    uint8_t kind;
    uint16_t index;
    uint8_t unit;
    uint16_t minVoltage;
    uint16_t needsFlags;
};

template <typename Parse>
void run(Parse parse, const Call& c, const char* input, bool withObserver, Outcome& o) {
    prepareTable();
    textMatchUsed = false;
    std::memcpy(o.buffer, input, LINE_BUFFER_SIZE);
    heard.clear();
    o.result = parse(c.position, c.deviceType, c.kind, c.index, c.unit, o.buffer, c.minVoltage,
                     c.needsFlags, withObserver ? &observer : nullptr);
    std::memset(&o.record, 0, sizeof o.record);
    if (o.result != 0 && c.position >= 0 && c.position < itemCapacity) o.record = itemTable[c.position];
    o.textMatch = textMatchUsed;
    o.notes = heard;
}

long compared = 0, accepted = 0, noted = 0;

void fail(const char* what, const char* input, const Call& c) {
    std::fprintf(stderr, "MISMATCH (%s) kind %d position %d: [%s]\n", what, c.kind, c.position,
                 input);
    std::abort();
}

// `input` is a full buffer of LINE_BUFFER_SIZE bytes (may hold no terminator).
void compare(const char* input, const Call& c) {
    static Outcome a, b;
    for (bool withObserver : {true, false}) {
        run(legacy::parseItemLine, c, input, withObserver, a);
        run(parseItemLine, c, input, withObserver, b);
        if (a.result != b.result) fail("result", input, c);
        if (std::memcmp(a.buffer, b.buffer, LINE_BUFFER_SIZE) != 0) fail("buffer", input, c);
        if (std::memcmp(&a.record, &b.record, sizeof a.record) != 0) fail("record", input, c);
        if (a.textMatch != b.textMatch) fail("textMatchUsed", input, c);
        if (a.notes.size() != b.notes.size()) fail("note count", input, c);
        for (size_t i = 0; i < a.notes.size(); ++i)
            if (!sameNote(a.notes[i], b.notes[i])) fail("note", input, c);
        if (withObserver) {
            noted += static_cast<long>(a.notes.size());
            if (a.result != 0) ++accepted;
        }
    }
    ++compared;
}

uint32_t nextRandom(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

const char* const PIECES[] = {
    "X", "IX", "I", "M", "*", "/", "=", "!=", "!", "<", "<=", ">", ">=", "C", "!C", "A",
    "AA", "D", "DX", "D-", "F", "Fs", "Ff", "St", "S", "U", "R", "32", "64", "16", "8",
    "slow", "FAST", "on", "off", "'", "\"", "''", ";", " ", " ", "<<<", "0", "1", "5",
    "9", "59", "60", "255", "256", "FFFF", "10000", ".", "+", "-", "e", "E5", "TR",
    "x", "0BC4", "99999999999999999999",
};
// Whole options, mostly well formed, so that many lines are accepted and the notes of
// overrides and unused options come up.
const char* const OPTIONS[] = {
    "X0BC4", "x10", "IX1F0", "I3000", "M00FF", "M0", "M1FFFFFFFF", "*0.5", "/2", "*0", "/1e3",
    "=1", "=-2", "!=5", "<5", "<=.5", ">7", ">=3", "=X1F", "5", "1", "-1", "5.5.5", "\"TEXT\"",
    "'IT''S'", "\"HELLO WORLD\"", "'AB", "A\"GEAR\"", "AA\"STALL\"", "C0", "C1", "!C2", "C3",
    "!C0", "C3.5", "D3", "D012", "DX", "D-", "D-12", "D3.2", "D00", "F32", "F64", "Fslow",
    "Ffast", "Fs5off", "Ff59on", "FS1ON", "St5off", "S8", "S16", "S32", "STR", "U8", "U16",
    "U32", "R0", "R1", "R2", "Q", "!", ",", "G", ";", " ; c", "<<<", " <<< Bad literal value",
    "\t", "X0BC4C1", "M00G4", "=5.5e3", ">-", "*1e-99", "Ff5of", "St5on", "Ffa", "1e40",
};

std::string randomLine(uint32_t& state, size_t maxLength, bool options) {
    std::string line;
    size_t target = nextRandom(state) % maxLength;
    while (line.size() < target) {
        uint32_t pick = nextRandom(state);
        if (pick % 16 == 0) {
            line += static_cast<char>(1 + nextRandom(state) % 255);
        } else if (options) {
            line += OPTIONS[nextRandom(state) % (sizeof OPTIONS / sizeof OPTIONS[0])];
            if (nextRandom(state) % 3) line += ' ';
        } else {
            line += PIECES[nextRandom(state) % (sizeof PIECES / sizeof PIECES[0])];
        }
    }
    return line;
}

Call randomCall(uint32_t& state) {
    Call c{};
    c.kind = static_cast<uint8_t>(nextRandom(state) % 4);
    static const int32_t POSITIONS[] = {6, 6, 6, 6, 0, 1, 3, 5};
    c.position = POSITIONS[nextRandom(state) % 8];
    if (nextRandom(state) % 97 == 0) c.position = itemCapacity + 5;  // cannot be stored
    c.deviceType = c.kind == KIND_CONDITION ? DEV_CONDITION : 1 + nextRandom(state) % 13;
    c.index = static_cast<uint16_t>(nextRandom(state) % 30);
    c.unit = static_cast<uint8_t>(nextRandom(state) % 4);
    c.minVoltage = static_cast<uint16_t>(nextRandom(state) % 30);
    c.needsFlags = static_cast<uint16_t>((nextRandom(state) % 16) << 9);
    return c;
}

void compareText(const std::string& text, const Call& c, bool fill) {
    static char buffer[LINE_BUFFER_SIZE];
    // The rest of the buffer holds junk, as a reused buffer would; `fill` leaves no NUL.
    std::memset(buffer, fill ? 'Q' : 0x5A, LINE_BUFFER_SIZE);
    size_t n = text.size() < LINE_BUFFER_SIZE - 1 ? text.size() : LINE_BUFFER_SIZE - 1;
    std::memcpy(buffer, text.data(), n);
    if (!fill) buffer[n] = '\0';
    compare(buffer, c);
}

}  // namespace

#ifdef FUZZ
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    uint32_t state = 0x9E3779B9u ^ (data[0] * 0x01000193u) ^ data[1];
    if (state == 0) state = 1;
    Call c = randomCall(state);
    c.kind = data[0] & 3;
    compareText(std::string(reinterpret_cast<const char*>(data + 2), size - 2), c, false);
    return 0;
}
#else
int main(int argc, char** argv) {
    long lines = argc > 1 ? std::atol(argv[1]) : 100000;
    for (int i = 2; i < argc; ++i) {  // seed files: first byte the kind, as the fuzz target
        FILE* f = std::fopen(argv[i], "rb");
        if (!f) continue;
        std::string text;
        int ch;
        while ((ch = std::fgetc(f)) != EOF) text += static_cast<char>(ch);
        std::fclose(f);
        if (text.empty()) continue;
        for (uint8_t kind = 0; kind < 4; ++kind) {
            Call c{6, kind == 0 ? DEV_CONDITION : DEV_GFMCPPRO, kind, 5, 2, 0, 0};
            compareText(text.substr(1), c, false);
        }
    }
    uint32_t state = 0x2545F491u;
    for (long i = 0; i < lines; ++i) {
        const int mode = static_cast<int>(i % 4);
        const size_t maxLength = mode == 0 ? 600 : mode == 1 ? 60 : mode == 2 ? 120 : 700;
        std::string text = randomLine(state, maxLength, mode == 2 || mode == 1);
        Call c = randomCall(state);
        compareText(text, c, mode == 3 && nextRandom(state) % 8 == 0);
    }
    std::printf("compared %ld lines (each with and without an observer): %ld accepted, %ld notes\n",
                compared, accepted, noted);
    return 0;
}
#endif
