// Change marks kept by the program itself, beside or instead of the archive attribute: a
// slot per file whose mark was cleared, with what the file looked like then.
#include "platform/common/change_mark.h"

#include "platform/common/file_access.h"

namespace changemark {

namespace {

// The program keeps one settings file; a handful of slots is plenty, the oldest is reused.
constexpr int SLOTS = 8;
struct Slot {
    bool used;
    std::string path;
    Mark mark;
};
Slot slots[SLOTS];
int nextSlot = 0;

Slot* find(const char* path) {
    for (Slot& s : slots)
        if (s.used && s.path == path) return &s;
    return nullptr;
}

bool bytesDigest(const char* path, uint64_t* out) {
    std::string bytes;
    if (!ini::readFile(path, &bytes)) return false;
    *out = ini::digest(bytes);
    return true;
}

}  // namespace

bool withinGrain(int64_t modified, int64_t clock) { return clock - modified < TIME_GRAIN_NS; }

Verdict judge(const Mark& mark, const ini::FileState& now) {
    if (!now.exists || !ini::sameFileState(mark.state, now)) return Verdict::CHANGED;
    return mark.compareBytes ? Verdict::COMPARE_BYTES : Verdict::SAME;
}

bool clear(const char* path) {
    ini::FileState now;
    if (!path || !ini::glanceAt(path, &now)) return false;
    Mark mark{now, withinGrain(now.modified, ini::clockNow()), 0};
    // Unreadable now, the digest matches nothing: the next check takes the file as saved.
    if (mark.compareBytes) bytesDigest(path, &mark.digest);
    Slot* slot = find(path);
    if (!slot) {
        slot = &slots[nextSlot];
        nextSlot = (nextSlot + 1) % SLOTS;
        slot->used = true;
        slot->path = path;
    }
    slot->mark = mark;
    return true;
}

bool changed(const char* path, bool* known) {
    Slot* slot = path ? find(path) : nullptr;
    if (known) *known = slot != nullptr;
    if (!slot) return true;
    ini::FileState now;
    if (!ini::glanceAt(path, &now)) return true;
    switch (judge(slot->mark, now)) {
        case Verdict::CHANGED: return true;
        case Verdict::SAME: return false;
        case Verdict::COMPARE_BYTES: break;
    }
    uint64_t bytes = 0;
    if (!bytesDigest(path, &bytes) || bytes != slot->mark.digest) return true;
    // Past the grain a new save can no longer carry this write time: no need to read again.
    if (!withinGrain(now.modified, ini::clockNow())) slot->mark.compareBytes = false;
    return false;
}

void forget(const char* path) {
    Slot* slot = path ? find(path) : nullptr;
    if (slot) slot->used = false;
}

}  // namespace changemark
