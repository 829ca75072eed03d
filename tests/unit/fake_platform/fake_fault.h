// A named failure switch of the fake platform: off, on for every call, or on for just the
// Nth call from now, so a test can fail one step in the middle of a sequence.
#pragma once

#include <cstdint>

namespace fake {

struct Fault {
    bool always;
    uint32_t countdown;  // non-zero: the call that brings it to zero fails

    // `fault = true` / `fault = false` switch it for every call, or off.
    Fault& operator=(bool on) {
        always = on;
        countdown = 0;
        return *this;
    }
};

// The Nth call from now fails, once (n >= 1).
inline void failNthCall(Fault& f, uint32_t n) {
    f.always = false;
    f.countdown = n;
}

// Asked by the fake call itself: whether this call fails.
inline bool trips(Fault& f) {
    if (f.always) return true;
    if (f.countdown == 0) return false;
    return --f.countdown == 0;
}

}  // namespace fake
