// A countdown allocator for the item table and what the evaluation builds beside it:
// the Nth allocation from now fails, and with `persistent` every one after it too, so a
// test can run a load out of memory at any step. Header only, as it plugs into the
// configuration layer rather than the OS.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "config/items.h"

namespace fake {

struct MemoryCountdown {
    long untilFailure;  // allocations left before the one that fails; -1: none fails
    bool persistent;    // and every later one fails as well
    long calls;         // allocations asked for since the countdown was set
};
inline MemoryCountdown memoryCountdown = {-1, false, 0};

inline bool allocationFails() {
    ++memoryCountdown.calls;
    if (memoryCountdown.untilFailure < 0) return false;
    if (memoryCountdown.untilFailure > 0) {
        --memoryCountdown.untilFailure;
        return false;
    }
    if (!memoryCountdown.persistent) memoryCountdown.untilFailure = -1;
    return true;
}

inline void* countdownObtain(size_t count, size_t size) {
    return allocationFails() ? nullptr : std::calloc(count, size);
}
inline void* countdownResize(void* block, size_t bytes) {
    return allocationFails() ? nullptr : std::realloc(block, bytes);
}
inline void countdownRelease(void* block) { std::free(block); }

inline const ItemMemory COUNTDOWN_MEMORY = {countdownObtain, countdownResize, countdownRelease};

// The `nth` allocation from now (1: the next) fails. The same C library memory is used
// either way, so a table may be obtained before and released after.
inline void failItemMemoryAt(long nth, bool persistent = false) {
    memoryCountdown = MemoryCountdown{nth - 1, persistent, 0};
    setItemMemory(&COUNTDOWN_MEMORY);
}

inline void restoreItemMemory() {
    memoryCountdown = MemoryCountdown{-1, false, 0};
    setItemMemory(nullptr);
}

}  // namespace fake
