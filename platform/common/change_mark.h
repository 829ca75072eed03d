// A change marker kept by the program: what a file looked like when the program last
// cleared its mark, and whether it has been saved since. Linux has no archive attribute at
// all; Wine never clears it. Size, write time and file identity tell almost every save;
// only a save of the same size within the clock grain of the last write keeps them, and
// while that can still happen the bytes are compared too.
#pragma once

#include <cstdint>
#include <string>

#include "platform/common/ini.h"

namespace changemark {

// Write times on some file systems (FAT) have a grain of 2 s.
constexpr int64_t TIME_GRAIN_NS = 2000000000;

struct Mark {
    ini::FileState state;  // as glanced at when the mark was cleared
    bool compareBytes;     // a save could still keep the state: compare `digest`
    uint64_t digest;       // of the bytes when the mark was cleared
};

enum class Verdict { SAME, CHANGED, COMPARE_BYTES };

// Whether a save made after `modified` could still carry the same write time at `clock`.
bool withinGrain(int64_t modified, int64_t clock);

// What the file's state `now` says against `mark`: CHANGED when it differs, SAME when it is
// equal and no save could hide behind it, COMPARE_BYTES when only the bytes can tell.
Verdict judge(const Mark& mark, const ini::FileState& now);

// Records the file at `path` as it is now: its mark is clear. False when it is missing.
bool clear(const char* path);
// True when the file was saved since its mark was cleared, or its mark never was.
// `known`, when given, tells whether there is a mark for `path` at all.
bool changed(const char* path, bool* known = nullptr);
// The mark is set again: the next `changed` is true until the next `clear`.
void forget(const char* path);

}  // namespace changemark
