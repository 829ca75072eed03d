// A recording as a norvalume-sim script; see recording.h.
#include "tools/watch/recording.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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
    r.file = std::fopen(path, "wb");
    if (!r.file) return false;
    static sim::SimModule replay;
    sim::resetModule(&replay);
    r.replay = &replay;
    std::fprintf(r.file,
                 "# norvalume-watch recording: the values %s reads, as norvalume-sim commands\n"
                 "# recorded %s\n"
                 "# replay: norvalume-sim --script FILE [--loop] [--speed FACTOR]\n",
                 settings.c_str(), date.c_str());
    std::fflush(r.file);
    return true;
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
        if (!any && !first && now != r.lastBlockMs)
            std::fprintf(r.file, "wait %u\n", unsigned(now - r.lastBlockMs));
        any = true;
        const std::string line = setLine(r.replay, read.offset, *read.bytes, read.form);
        std::fprintf(r.file, "%s\n", line.c_str());
    }
    if (!any) return;
    r.anyBlock = true;
    r.lastBlockMs = now;
    std::fflush(r.file);
}

void finishRecording(Recording& r, uint32_t now) {
    if (!r.file) return;
    if (r.anyBlock && now != r.lastBlockMs)
        std::fprintf(r.file, "wait %u\n", unsigned(now - r.lastBlockMs));
    std::fclose(r.file);
    r.file = nullptr;
}

}  // namespace watch
