// Bounded random input for the line grammar: lines built from the grammar's own
// characters, in buffers sized exactly, so the sanitizer build catches any stray access.
// The longer fuzzing run lives in tests/fuzz; this one runs with every unit test.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "config/line_parser.h"

namespace {

uint32_t nextRandom(uint32_t& state) {
    // xorshift32: deterministic, so a failure reproduces from the iteration number.
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
// overrides and of options a line makes no use of come up.
const char* const OPTIONS[] = {
    "X0BC4", "x10", "IX1F0", "I3000", "M00FF", "M0", "M1FFFFFFFF", "*0.5", "/2", "*0", "/1e3",
    "=1", "=-2", "!=5", "<5", "<=.5", ">7", ">=3", "=X1F", "5", "1", "-1", "5.5.5", "\"TEXT\"",
    "'IT''S'", "\"HELLO WORLD\"", "'AB", "A\"GEAR\"", "AA\"STALL\"", "C0", "C1", "!C2", "C3",
    "!C0", "C3.5", "D3", "D012", "DX", "D-", "D-12", "D3.2", "D00", "F32", "F64", "Fslow",
    "Ffast", "Fs5off", "Ff59on", "FS1ON", "St5off", "S8", "S16", "S32", "STR", "U8", "U16",
    "U32", "R0", "R1", "R2", "Q", "!", ",", "G", ";", " ; c", "<<<", "\t", "X0BC4C1",
    "M00G4", ">-", "*1e-99", "Ff5of", "St5on", "1e40",
};

// `spaced`: a blank after most pieces, as options are written.
template <size_t N>
std::string randomLine(uint32_t& state, const char* const (&pieces)[N], size_t maxLength,
                       bool spaced = false) {
    std::string line;
    size_t target = nextRandom(state) % maxLength;  // sometimes beyond what the buffer takes
    while (line.size() < target) {
        if (nextRandom(state) % 16 == 0) {
            line += static_cast<char>(1 + nextRandom(state) % 255);  // any byte but NUL
        } else {
            line += pieces[nextRandom(state) % N];
            if (spaced && nextRandom(state) % 3) line += ' ';
        }
    }
    return line;
}

// Every note must point into the part of the line that was parsed.
size_t parsedLength = 0;
bool notesInside = true;
void checkNote(const LineNote& n) {
    const auto inside = [](int at, int length) {
        return at >= 0 && length >= 0 && static_cast<size_t>(at + length) <= parsedLength;
    };
    if (!inside(n.at, n.length) || (n.other >= 0 && !inside(n.other, n.otherLength)) ||
        n.read < 0 || n.read > n.length)
        notesInside = false;
}

TEST(LineParserRandom, AnyLineGivesAVerdictAndStaysInsideItsBuffer) {
    resetItemTable();
    for (int key = 0; key < 6; ++key) {
        ItemRecord r{};
        r.deviceType = DEV_CONDITION;
        r.index = static_cast<uint16_t>(key + 1);
        ASSERT_TRUE(storeItem(itemCount(), r));
        acceptItem();
    }
    uint32_t state = 0x2545F491u;
    for (int i = 0; i < 20000; ++i) {
        std::string text = randomLine(state, PIECES, 600);
        char* buffer = new char[LINE_BUFFER_SIZE];
        size_t length = text.size() < LINE_BUFFER_SIZE - 1 ? text.size() : LINE_BUFFER_SIZE - 1;
        std::memcpy(buffer, text.data(), length);
        buffer[length] = '\0';
        uint8_t kind = static_cast<uint8_t>(i & 3);
        // The same line once more with an observer: it must change nothing.
        char* observed = new char[LINE_BUFFER_SIZE];
        std::memcpy(observed, buffer, length + 1);
        parsedLength = std::string(buffer, length).find("<<<");
        if (parsedLength > length) parsedLength = strnlen(buffer, length);
        const LineObserver observer{checkNote};
        int withNotes = parseItemLine(itemCount(), kind == 0 ? DEV_CONDITION : DEV_GF166, kind,
                                      0, 0, observed, 0, 0, &observer);
        ASSERT_TRUE(notesInside) << "iteration " << i;
        const ItemRecord noted = itemTable()[itemCount()];
        int result = parseItemLine(itemCount(), kind == 0 ? DEV_CONDITION : DEV_GF166, kind, 0,
                                   0, buffer, 0, 0);
        ASSERT_EQ(result, withNotes) << "iteration " << i;
        ASSERT_STREQ(buffer, observed) << "iteration " << i;
        ASSERT_EQ(std::memcmp(&noted, &itemTable()[itemCount()], sizeof noted), 0) << "iteration " << i;
        delete[] observed;
        size_t after = strnlen(buffer, LINE_BUFFER_SIZE);
        ASSERT_LT(after, static_cast<size_t>(LINE_BUFFER_SIZE)) << "iteration " << i;
        if (result == 0) {
            // Whatever the line held up to its first "<<<" is kept in front of the verdict.
            std::string before(text, 0, length);
            size_t cut = before.find("<<<");
            if (cut != std::string::npos) before.resize(cut);
            before.resize(strnlen(before.c_str(), before.size()));
            ASSERT_EQ(std::string(buffer, before.size()), before) << "iteration " << i;
        } else {
            ASSERT_TRUE(result == 1 || result == -1) << "iteration " << i;
            ASSERT_EQ(std::strstr(buffer, "<<<"), nullptr) << "iteration " << i;
            const ItemRecord& r = itemTable()[itemCount()];
            uint32_t literals = r.flags & (FLAG_HAS_NUMBER | FLAG_HAS_STRING | FLAG_TEXT_MATCH);
            ASSERT_EQ(literals & (literals - 1), 0u) << "iteration " << i;  // at most one
        }
        delete[] buffer;
    }
    freeItemTable();
}

// What the grammar made of each line, folded: the verdict, the line as left, the fields of
// the stored record and every note. A deliberate change of the grammar records the
// digests anew (the failure prints the ones it got); any other change is a fault.
struct Fold {
    uint64_t value = 1469598103934665603ull;
    void bytes(const void* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            value ^= static_cast<const uint8_t*>(data)[i];
            value *= 1099511628211ull;
        }
    }
    template <typename T>
    void add(T v) {
        bytes(&v, sizeof v);
    }
};

void foldRecord(Fold& f, const ItemRecord& r) {
    f.add(r.deviceType), f.add(r.unit), f.add(r.kind), f.add(r.index), f.add(r.flags);
    f.add(r.offset), f.add(r.displayFormat), f.add(r.compareOp), f.add(r.valueType);
    f.bytes(r.requiredConditions, sizeof r.requiredConditions);
    f.bytes(r.excludedConditions, sizeof r.excludedConditions);
    f.add(r.mask), f.add(r.multiplier), f.add(r.divisor);
    f.bytes(r.literal, sizeof r.literal);
    f.add(r.typeOffset), f.add(r.minVoltage), f.add(r.timerPeriodMs);
}

Fold* noteFold = nullptr;
void foldNote(const LineNote& n) {
    noteFold->add(n.kind), noteFold->add(n.reason), noteFold->add(n.at), noteFold->add(n.length);
    noteFold->add(n.other), noteFold->add(n.otherLength), noteFold->add(n.read);
}

TEST(LineParserRandom, VerdictsRecordsAndNotesAreThoseRecorded) {
    const uint64_t RECORDED[] = {
        0xc29c2329ecba5188ull, 0xd7d9f0e734eac1faull, 0xa189d44b03a59d6dull, 0xff8fa54f830b8455ull,
        0x13c5690851e91a15ull, 0x813a600ae7f6b6adull, 0x9902e725f6070a8aull, 0x8bfa49d51b98998cull,
    };
    constexpr int BLOCK = 2500;
    resetItemTable();
    for (int key = 0; key < 6; ++key) {
        ItemRecord r{};
        r.deviceType = DEV_CONDITION;
        r.index = static_cast<uint16_t>(key * 2 + 1);  // keys 0, 2, 4, ...
        ASSERT_TRUE(storeItem(itemCount(), r));
        acceptItem();
    }
    const LineObserver observer{foldNote};
    std::string got;
    bool same = true;
    uint32_t state = 0x9E3779B9u;
    for (const uint64_t recorded : RECORDED) {
        Fold f;
        noteFold = &f;
        for (int i = 0; i < BLOCK; ++i) {
            std::string text = i % 2 ? randomLine(state, OPTIONS, 90, true) : randomLine(state, PIECES, 600);
            char buffer[LINE_BUFFER_SIZE] = {};
            text.copy(buffer, LINE_BUFFER_SIZE - 1);
            const uint8_t kind = static_cast<uint8_t>(nextRandom(state) % 4);
            const uint16_t needs = static_cast<uint16_t>((nextRandom(state) % 16) << 9);
            const int result = parseItemLine(itemCount(), kind == 0 ? DEV_CONDITION : DEV_GF166,
                                             kind, 7, 1, buffer, 24, needs, &observer);
            f.add(result);
            f.bytes(buffer, sizeof buffer);
            if (result != 0) foldRecord(f, itemTable()[itemCount()]);
        }
        char hex[24];
        std::snprintf(hex, sizeof hex, "0x%016llxull, ", static_cast<unsigned long long>(f.value));
        got += hex;
        same = same && f.value == recorded;
    }
    EXPECT_TRUE(same) << "digests now: " << got;
    freeItemTable();
}

}  // namespace
