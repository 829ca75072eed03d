// Bounded random input for the line grammar: lines built from the grammar's own
// characters, in buffers sized exactly, so the sanitizer build catches any stray access.
// The longer fuzzing run lives in tests/fuzz; this one runs with every unit test.
#include <gtest/gtest.h>

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

std::string randomLine(uint32_t& state) {
    static const char* const PIECES[] = {
        "X", "IX", "I", "M", "*", "/", "=", "!=", "!", "<", "<=", ">", ">=", "C", "!C", "A",
        "AA", "D", "DX", "D-", "F", "Fs", "Ff", "St", "S", "U", "R", "32", "64", "16", "8",
        "slow", "FAST", "on", "off", "'", "\"", "''", ";", " ", " ", "<<<", "0", "1", "5",
        "9", "59", "60", "255", "256", "FFFF", "10000", ".", "+", "-", "e", "E5", "TR",
        "x", "0BC4", "99999999999999999999",
    };
    const size_t pieceCount = sizeof PIECES / sizeof PIECES[0];
    std::string line;
    size_t target = nextRandom(state) % 600;  // sometimes beyond what the buffer can take
    while (line.size() < target) {
        if (nextRandom(state) % 16 == 0) {
            line += static_cast<char>(1 + nextRandom(state) % 255);  // any byte but NUL
        } else {
            line += PIECES[nextRandom(state) % pieceCount];
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
        std::string text = randomLine(state);
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

}  // namespace
