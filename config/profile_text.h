// What a private-profile read gives back of a value that was written: the loader writes
// lines so that they read back unchanged, and norvalume-check's dry run compares what
// would be written with what is there; both need the same rule, so it lives here once.
#pragma once

#include <cstddef>

// The part of a written text that a read gives back. text[begin, end) is the text with
// blanks, tabs, CR, LF, VT, FF and the end-of-file mark 0x1A trimmed off both ends; when
// its first and last characters are the same quote, " or ', the read drops that one
// pair as well.
struct ReadBack {
    size_t begin;
    size_t end;
    bool quoted;

    size_t valueBegin() const { return quoted ? begin + 1 : begin; }
    size_t valueEnd() const { return quoted ? end - 1 : end; }
};

ReadBack readBack(const char* text, size_t length);
