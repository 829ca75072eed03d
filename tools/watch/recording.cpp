// A recording as a norvalume-sim script; see recording.h.
#include "tools/watch/recording.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>

#include "config/items.h"
#include "tools/common/common.h"

namespace watch {

namespace {

// The bytes as one run of hex digits, as the command takes them.
std::string hexRun(const std::vector<uint8_t>& bytes) {
    std::string spaced;
    tools::appendHexBytes(spaced, bytes.data(), bytes.size());
    spaced.erase(std::remove(spaced.begin(), spaced.end(), ' '), spaced.end());
    return spaced;
}

uint64_t littleEndian(const std::vector<uint8_t>& bytes, size_t n) {
    uint64_t v = 0;
    for (size_t b = 0; b < n && b < bytes.size(); ++b) v |= uint64_t(bytes[b]) << (8 * b);
    return v;
}

// A text the command takes as it is: printable, not starting with a blank (the command
// skips those), ended by a zero within the read.
bool plainText(const std::vector<uint8_t>& bytes, size_t* length) {
    size_t n = 0;
    while (n < bytes.size() && bytes[n] != 0) {
        if (bytes[n] < 0x20 || bytes[n] > 0x7E) return false;
        ++n;
    }
    if (n == bytes.size() || (n > 0 && (bytes[0] == ' ' || bytes[0] == '\t'))) return false;
    *length = n;
    return true;
}

// The value in `form`, or "" where the form cannot say it.
std::string valueIn(ValueForm form, const std::vector<uint8_t>& bytes) {
    static const struct {
        ValueForm form;
        const char* name;
        size_t size;
        bool isSigned;
    } integers[] = {{ValueForm::U8, "u8", 1, false},   {ValueForm::S8, "s8", 1, true},
                    {ValueForm::U16, "u16", 2, false}, {ValueForm::S16, "s16", 2, true},
                    {ValueForm::U32, "u32", 4, false}, {ValueForm::S32, "s32", 4, true}};
    char text[64];
    for (const auto& t : integers) {
        if (t.form != form || bytes.size() != t.size) continue;
        const uint64_t u = littleEndian(bytes, t.size);
        const int64_t s = int64_t(u << (64 - 8 * t.size)) >> (64 - 8 * t.size);
        std::snprintf(text, sizeof text, "%s %lld", t.name,
                      t.isSigned ? static_cast<long long>(s) : static_cast<long long>(u));
        return text;
    }
    if (form == ValueForm::PACKED && bytes.size() == 2) {
        std::snprintf(text, sizeof text, "u16 0x%04X", unsigned(littleEndian(bytes, 2)));
        return text;
    }
    if (form == ValueForm::F32 && bytes.size() == 4) {
        float f;
        std::memcpy(&f, bytes.data(), 4);
        if (!std::isfinite(f)) return "";
        std::snprintf(text, sizeof text, "f32 %.9g", double(f));
        return text;
    }
    if (form == ValueForm::F64 && bytes.size() == 8) {
        double d;
        std::memcpy(&d, bytes.data(), 8);
        if (!std::isfinite(d)) return "";
        std::snprintf(text, sizeof text, "f64 %.17g", d);
        return text;
    }
    size_t length = 0;
    if (form == ValueForm::TEXT && plainText(bytes, &length))
        return "str " + std::string(bytes.begin(), bytes.begin() + long(length));
    return "";
}

std::string setText(uint32_t offset, const std::string& value) {
    char head[16];
    std::snprintf(head, sizeof head, "set %04X ", unsigned(offset));
    return head + value;
}

bool holds(const sim::SimModule* module, uint32_t offset, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> now(bytes.size());
    sim::readSpace(module, offset, now.data(), uint32_t(now.size()));
    return now == bytes;
}

// Gives up the recording after a failed open, write, flush or close (`errorNumber` from
// it): a file still open is closed and cut back to its whole lines, and the failure says
// what failed and where.
void fail(Recording& r, const char* what, int errorNumber) {
    char where[160];
    std::snprintf(where, sizeof where, "%s failed at line %llu (byte %llu): %s", what,
                  static_cast<unsigned long long>(r.keptLines + 1),
                  static_cast<unsigned long long>(r.keptBytes + 1),
                  errorNumber ? std::strerror(errorNumber) : "unknown error");
    if (r.file) {
        std::fclose(r.file);  // may still write part of what it holds: cut after it
        r.file = nullptr;
        std::error_code ignored;  // a device such as /dev/full has no size to cut
        std::filesystem::resize_file(r.path, r.keptBytes, ignored);
    }
    char kept[96];
    std::snprintf(kept, sizeof kept, "; it keeps the first %llu lines (%llu bytes)",
                  static_cast<unsigned long long>(r.keptLines),
                  static_cast<unsigned long long>(r.keptBytes));
    r.failed = true;
    r.failure = "recording " + r.path + ": " + where + kept;
    r.block.clear();
}

// Writes the block's lines and flushes them, as one piece that ends on a whole line.
void writeBlock(Recording& r) {
    if (!r.file || r.block.empty()) return;
    errno = 0;
    if (std::fwrite(r.block.data(), 1, r.block.size(), r.file) != r.block.size())
        return fail(r, "writing", errno);
    if (std::fflush(r.file) != 0) return fail(r, "flushing", errno);
    r.keptBytes += r.block.size();
    r.keptLines += uint64_t(std::count(r.block.begin(), r.block.end(), '\n'));
    r.block.clear();
}

void addLine(Recording& r, const std::string& line) {
    r.block += line;
    r.block += '\n';
}

std::string waitLine(uint32_t ms) { return "wait " + std::to_string(ms); }

}  // namespace

ValueForm formFor(uint32_t size, int valueType) {
    if (valueType >= 0 && valueType < VALUE_TYPE_COUNT && valueTypeBytes[valueType] == size) {
        static const ValueForm byType[VALUE_TYPE_COUNT] = {
            ValueForm::U16, ValueForm::S8,  ValueForm::U8,   ValueForm::S16,    ValueForm::U16,
            ValueForm::S32, ValueForm::U32, ValueForm::F32,  ValueForm::F64,    ValueForm::TEXT,
            ValueForm::PACKED, ValueForm::PACKED, ValueForm::PACKED};
        return byType[valueType];
    }
    switch (size) {
    case 1: return ValueForm::U8;
    case 2: return ValueForm::U16;
    case 4: return ValueForm::U32;
    case 8: return ValueForm::F64;
    default: return size > 8 ? ValueForm::TEXT : ValueForm::HEX;
    }
}

std::string setLine(sim::SimModule* module, uint32_t offset, const std::vector<uint8_t>& bytes,
                    ValueForm form) {
    const std::string value = valueIn(form, bytes);
    if (!value.empty()) {
        const std::string line = setText(offset, value);
        sim::runCommand(module, line.c_str(), nullptr);
        if (holds(module, offset, bytes)) return line;
    }
    const std::string line = setText(offset, "hex " + hexRun(bytes));
    sim::runCommand(module, line.c_str(), nullptr);
    return line;
}

bool startRecording(Recording& r, const char* path, const std::string& settings,
                    const std::string& date) {
    r.path = path;
    errno = 0;
    r.file = std::fopen(path, "wb");
    if (!r.file) {
        fail(r, "opening", errno);
        return false;
    }
    static sim::SimModule replay;
    sim::resetModule(&replay);
    r.replay = &replay;
    addLine(r, "# norvalume-watch recording: the values " + settings +
                   " reads, as norvalume-sim commands");
    addLine(r, "# recorded " + date);
    addLine(r, "# replay: norvalume-sim --script FILE [--loop] [--speed FACTOR]");
    writeBlock(r);
    return !r.failed;
}

// The first block sets every value, zeros too, so that a replay starts from the whole
// state whatever the module held before (a looping replay holds the last pass's).
void recordScan(Recording& r, const std::vector<RecordedRead>& reads, uint32_t now) {
    if (!r.file || reads.empty()) return;
    const bool first = !r.anyBlock;
    std::set<std::pair<uint32_t, size_t>> setNow;
    bool any = false;
    for (const RecordedRead& read : reads) {
        const bool again = !setNow.insert({read.offset, read.bytes->size()}).second;
        if (first ? again : holds(r.replay, read.offset, *read.bytes)) continue;
        if (!any && !first && now != r.lastBlockMs) addLine(r, waitLine(now - r.lastBlockMs));
        any = true;
        addLine(r, setLine(r.replay, read.offset, *read.bytes, read.form));
    }
    if (!any) return;
    r.anyBlock = true;
    r.lastBlockMs = now;
    writeBlock(r);
}

bool finishRecording(Recording& r, uint32_t now) {
    if (!r.file) return !r.failed;
    if (r.anyBlock && now != r.lastBlockMs) addLine(r, waitLine(now - r.lastBlockMs));
    writeBlock(r);
    if (!r.file) return false;
    errno = 0;
    FILE* file = r.file;
    r.file = nullptr;
    if (std::fclose(file) != 0) {
        fail(r, "closing", errno);
        return false;
    }
    return true;
}

}  // namespace watch
