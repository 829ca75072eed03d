// Fuzz target for parseItemLine. The first input byte picks the item kind (its low two
// bits), the rest is the line, in a heap buffer of exactly the line-buffer size so the
// address sanitizer sees any access beyond it. A few conditions are stored up front so
// that condition references reach the lookup.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "config/line_parser.h"
#include "fuzz_check.h"

namespace {

constexpr int32_t STORED_CONDITIONS = 6;

void prepareTable() {
    resetItemTable();
    for (int32_t key = 0; key < STORED_CONDITIONS; ++key) {
        ItemRecord r{};
        r.deviceType = DEV_CONDITION;
        r.kind = KIND_CONDITION;
        r.index = static_cast<uint16_t>(key * 2 + 1);  // keys 0, 2, 4, ... with gaps
        storeItem(key, r);
    }
    for (int32_t key = 0; key < STORED_CONDITIONS; ++key) acceptItem();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool prepared = false;
    if (!prepared) {
        prepareTable();
        prepared = true;
    }
    if (size == 0) return 0;
    const uint8_t kind = data[0] & 3;
    ++data;
    --size;

    char* line = new char[LINE_BUFFER_SIZE];
    size_t length = size < LINE_BUFFER_SIZE - 1 ? size : LINE_BUFFER_SIZE - 1;
    std::memcpy(line, data, length);
    line[length] = '\0';
    // What must survive a verdict: the line up to an old "<<<" (the input may also hold
    // a NUL of its own, which ends the line).
    char* original = new char[LINE_BUFFER_SIZE];
    std::memcpy(original, line, length + 1);
    if (char* old = std::strstr(original, "<<<")) *old = '\0';
    const size_t keptLength = std::strlen(original);

    int32_t deviceType = kind == KIND_CONDITION ? DEV_CONDITION : DEV_GFMCPPRO;
    int result = parseItemLine(itemCount(), deviceType, kind, 5, 2, line, 0, 0);

    const size_t after = strnlen(line, LINE_BUFFER_SIZE);
    FUZZ_CHECK(after < LINE_BUFFER_SIZE);
    FUZZ_CHECK(result == 1 || result == -1 || result == 0);
    if (result == 0) {
        // The verdict goes at the end; nothing of the line before it is lost.
        FUZZ_CHECK(after >= keptLength && std::memcmp(line, original, keptLength) == 0);
        FUZZ_CHECK(after == LINE_BUFFER_SIZE - 1 || std::strstr(line + keptLength, " <<< ") != nullptr);
    } else {
        FUZZ_CHECK(std::strstr(line, "<<<") == nullptr);
        const ItemRecord& r = itemTable()[itemCount()];
        uint32_t literals = r.flags & (FLAG_HAS_NUMBER | FLAG_HAS_STRING | FLAG_TEXT_MATCH);
        FUZZ_CHECK((literals & (literals - 1)) == 0);
        FUZZ_CHECK(r.kind == kind && r.index == 5 && r.unit == 2);
        for (uint8_t ref : r.requiredConditions) FUZZ_CHECK(ref == 0 || (ref & 1) == 1);
        for (uint8_t ref : r.excludedConditions) FUZZ_CHECK(ref == 0 || (ref & 1) == 1);
    }
    delete[] original;
    delete[] line;
    return 0;
}
