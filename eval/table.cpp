// The evaluation's side of the item table: every item's run-time state beside its line,
// its condition references looked up, and the plan of the first pass's reads. All of it
// is built once per load, in one block of memory, so that a scan walks compact records
// and copies prepared requests instead of queueing each read again.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "devices/devices.h"
#include "eval/internal.h"

// What a tick walks per item: one cache line.
static_assert(sizeof(ItemState) == 64, "an item's state fills one cache line");

namespace {

EvalTable table = {};

uint32_t keyOf(const ItemRecord& line) {
    const uint32_t type =
        line.deviceType < 0 ? KEY_CONDITION_TYPE : static_cast<uint32_t>(line.deviceType) & 0xFF;
    return type | static_cast<uint32_t>(line.unit) << 8 | static_cast<uint32_t>(line.kind) << 16 |
           static_cast<uint32_t>(line.index & 0xFF) << 24;
}

// The status reads of the first exchange, of those a table's `set` makes.
uint32_t statusReadCount(uint32_t set) {
    uint32_t count = 0;
    for (int r = 0; r < STATUS_READ_COUNT; ++r) count += (set >> r) & 1;
    return count;
}

uint32_t statusBytes(uint32_t set) {
    uint32_t bytes = 0;
    for (int r = 0; r < STATUS_READ_COUNT; ++r)
        if ((set >> r) & 1) bytes += LINK_READ_HEADER + statusReads()[r].size;
    return bytes;
}

bool readsThroughOffset(uint32_t flags) {
    return (flags & (FLAG_HAS_OFFSET | FLAG_INDIRECT_OFFSET)) ==
           (FLAG_HAS_OFFSET | FLAG_INDIRECT_OFFSET);
}

// An item whose value read is sized by the type byte the simulator gives it.
bool sizedBySimulator(uint32_t flags) {
    return (flags & (FLAG_HAS_OFFSET | FLAG_INDIRECT_OFFSET | FLAG_TYPE_FROM_SIM)) ==
           (FLAG_HAS_OFFSET | FLAG_TYPE_FROM_SIM);
}

// Bytes of requests a line adds to the first pass, as many as any type byte from the
// simulator can make them, so that a batch never outgrows the room planned for it.
uint32_t firstPassRoom(const ItemRecord& line) {
    uint32_t bytes = 0;
    if (line.flags & FLAG_HAS_OFFSET) {
        uint32_t size = valueTypeSize(static_cast<uint8_t>(line.valueType));
        if (line.flags & FLAG_INDIRECT_OFFSET) size = 2;
        else if (line.flags & FLAG_TYPE_FROM_SIM) size = 8;
        bytes += LINK_READ_HEADER + size;
        if (radioExtraOffset(line.offset)) bytes += LINK_READ_HEADER + 2;
    }
    if (line.flags & FLAG_TYPE_FROM_SIM) bytes += LINK_READ_HEADER + 1;
    return bytes;
}

uint32_t readCountOf(const ItemRecord& line) {
    uint32_t reads = 0;
    if (line.flags & FLAG_HAS_OFFSET) reads += radioExtraOffset(line.offset) ? 2 : 1;
    if (line.flags & FLAG_TYPE_FROM_SIM) ++reads;
    return reads;
}

// How the first pass splits into exchanges, from the lines as loaded.
struct Layout {
    int32_t batches;
    uint32_t room;   // bytes of records over all batches, at their widest
    uint32_t reads;
    int32_t indirect;
    int32_t sized;
};

// One walk over the lines: counts what the plan needs and, once its memory is there
// (t.batches set), marks where each batch begins and ends with the room and reads it
// takes, and lists the items read through an offset and those whose size follows a type
// byte.
Layout layOut(EvalTable& t) {
    const ItemRecord* lines = itemTable();
    Layout l = {1, statusBytes(t.statusSet), statusReadCount(t.statusSet), 0, 0};
    ReadBatch* batches = t.batches;
    if (batches) batches[0] = ReadBatch{nullptr, 0, l.room, nullptr, l.reads, 0, 0, 0, 0, 0};
    uint32_t used = l.room;
    for (int32_t i = 0; i < t.count; ++i) {
        const ItemRecord& line = lines[i];
        const uint32_t bytes = firstPassRoom(line);
        const uint32_t reads = readCountOf(line);
        if (used + bytes > LINK_BLOCK_CAPACITY) {
            if (batches) {
                batches[l.batches - 1].endItem = i;
                batches[l.batches] = ReadBatch{nullptr, 0, 0, nullptr, 0, 0, i, i, l.sized, l.sized};
            }
            ++l.batches;
            used = 0;
        }
        if (batches) {
            batches[l.batches - 1].room += bytes;
            batches[l.batches - 1].readCount += reads;
        }
        used += bytes;
        l.room += bytes;
        l.reads += reads;
        if (readsThroughOffset(line.flags)) {
            if (batches) t.indirect[l.indirect] = i;
            ++l.indirect;
        }
        if (sizedBySimulator(line.flags)) {
            if (batches) {
                t.sized[l.sized] = i;
                batches[l.batches - 1].endSized = l.sized + 1;
            }
            ++l.sized;
        }
    }
    if (batches) batches[l.batches - 1].endItem = t.count;
    return l;
}

void resolveReferences(EvalTable& t, int32_t i) {
    const ItemRecord& line = itemTable()[i];
    ItemReferences& refs = t.references[i];
    for (int slot = 0; slot < 8; ++slot) {
        const uint8_t required = line.requiredConditions[slot];
        const uint8_t excluded = line.excludedConditions[slot];
        const int32_t r = required ? findCondition(required, i) : -1;
        const int32_t e = excluded ? findCondition(excluded, i) : -1;
        refs.required[slot] =
            !required ? REFERENCE_NONE : r < 0 ? REFERENCE_MISSING : static_cast<uint16_t>(r);
        refs.excluded[slot] = e < 0 ? REFERENCE_NONE : static_cast<uint16_t>(e);
    }
}

size_t roundUp(size_t bytes) { return (bytes + 7) & ~static_cast<size_t>(7); }

// The one block everything lives in: each part's offset, and the whole size.
struct Parts {
    size_t states, references, batches, reads, indirect, sized, records, total;
};

Parts partsOf(int32_t count, const Layout& l) {
    Parts p;
    const size_t n = static_cast<size_t>(count);
    p.states = 0;
    p.references = roundUp(p.states + n * sizeof(ItemState));
    p.batches = roundUp(p.references + n * sizeof(ItemReferences));
    p.reads = roundUp(p.batches + static_cast<size_t>(l.batches) * sizeof(ReadBatch));
    p.indirect = roundUp(p.reads + l.reads * sizeof(LinkPendingRead));
    p.sized = roundUp(p.indirect + static_cast<size_t>(l.indirect) * sizeof(int32_t));
    p.records = roundUp(p.sized + static_cast<size_t>(l.sized) * sizeof(int32_t));
    p.total = p.records + l.room;
    return p;
}

// The parts start at the block's first cache-line boundary, so that each item's state is
// one line and not two: a large block comes from the system a page plus a header in.
constexpr uintptr_t LINE = 64;

uint8_t* partsBase(void* block) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(block);
    return static_cast<uint8_t*>(block) + ((LINE - at % LINE) % LINE);
}

template <typename T>
T* partAt(void* block, size_t offset) {
    return reinterpret_cast<T*>(partsBase(block) + offset);
}

// Gives each batch the room and reads layOut counted for it, end to end in the block,
// and builds it.
void placeBatches(EvalTable& t, const Parts& p) {
    uint8_t* records = partAt<uint8_t>(t.memory, p.records);
    LinkPendingRead* reads = partAt<LinkPendingRead>(t.memory, p.reads);
    for (int32_t b = 0; b < t.batchCount; ++b) {
        ReadBatch& batch = t.batches[b];
        batch.records = records;
        batch.reads = reads;
        records += batch.room;
        reads += batch.readCount;
        buildBatch(t, batch);
    }
}

void releaseTable() {
    releaseItemMemory(table.memory);
    table = EvalTable{};
}

// Builds the state and plan of the present item table; false when there is nothing to
// build or no memory for it.
bool build() {
    releaseTable();
    table.built = true;
    table.generation = itemTableGeneration();
    // A table that lost its storage to a failed growth still counts records until its
    // load ends; there is nothing to build from then.
    table.count = itemTable() && itemCount() <= itemCapacity() ? itemCount() : 0;
    table.statusSet = wantedStatusReads();
    // Without items the scan still reads the aircraft, while a profile may bring some.
    if (table.count < 0 || (table.count == 0 && !(table.statusSet & STATUS_AIRCRAFT_TITLE)))
        return false;
    // Far more than any table the item memory could hold; the sizes below cannot wrap.
    if (static_cast<size_t>(table.count) > SIZE_MAX / 1024) return false;

    const Layout l = layOut(table);
    const Parts p = partsOf(table.count, l);
    table.memory = obtainItemMemory(1, p.total + LINE - 1);
    if (!table.memory) return false;
    table.states = partAt<ItemState>(table.memory, p.states);
    table.references = partAt<ItemReferences>(table.memory, p.references);
    table.batches = partAt<ReadBatch>(table.memory, p.batches);
    table.indirect = partAt<int32_t>(table.memory, p.indirect);
    table.sized = partAt<int32_t>(table.memory, p.sized);
    const ItemRecord* lines = itemTable();
    for (int32_t i = 0; i < table.count; ++i) {
        table.states[i] = freshItemState(lines[i]);
        resolveReferences(table, i);
    }
    layOut(table);
    table.batchCount = l.batches;
    table.indirectCount = l.indirect;
    table.sizedCount = l.sized;
    placeBatches(table, p);
    table.adopted = true;
    return true;
}

// After a reload: every output written before that no item of the new table drives
// goes dark once.
void darkenWhatNoItemDrives() {
    static DrivenTable driven;
    std::memset(driven, 0, sizeof driven);
    const ItemRecord* lines = itemTable();
    for (int32_t i = 0; lines && i < itemCount() && i < itemCapacity(); ++i) {
        const ItemRecord& item = lines[i];
        if (item.deviceType < 1 || item.deviceType >= DEVICE_COUNT_SLOTS) continue;
        DrivenOutputs& unit = driven[item.deviceType][item.unit];
        if (item.kind == KIND_LIGHT) unit.lights |= 1u << (item.index % 32);
        if (item.kind == KIND_BRIGHTNESS) unit.others |= WRITTEN_BRIGHTNESS;
        if (item.kind == KIND_DISPLAY && item.index < MAX_DISPLAYS)
            unit.others |= static_cast<uint8_t>(WRITTEN_DISPLAY0 << item.index);
    }
    darkenUndrivenOutputs(driven);
}

}  // namespace

EvalTable& evalTable() { return table; }

ItemState freshItemState(const ItemRecord& line) {
    ItemState s = {};
    s.key = keyOf(line);
    s.flags = line.flags;
    s.valueType = static_cast<uint8_t>(line.valueType);
    s.typeSeen = s.valueType;
    s.plannedType = s.valueType;
    s.compareOp = line.compareOp;
    s.referenceSlots = line.referenceSlots;
    s.decimals = static_cast<uint8_t>(decodeDisplayFormat(line.displayFormat).decimals);
    s.minVoltage = line.minVoltage;
    s.mask = line.mask;
    s.multiplier = line.multiplier;
    s.divisor = line.divisor;
    std::memcpy(s.literal, line.literal, sizeof s.literal);
    return s;
}

void buildBatch(EvalTable& t, ReadBatch& batch) {
    const ItemRecord* lines = itemTable();
    uint32_t bytes = 0;
    uint32_t k = 0;
    auto add = [&](uint32_t offset, uint32_t size, void* destination) {
        batch.reads[k] = LinkPendingRead{destination, bytes, size};
        bytes += writeReadRecord(batch.records + bytes, offset, size, k + 1);
        ++k;
    };
    if (&batch == t.batches) {
        for (int r = 0; r < STATUS_READ_COUNT; ++r)
            if ((t.statusSet >> r) & 1)
                add(statusReads()[r].offset, statusReads()[r].size, statusReads()[r].field);
    }
    for (int32_t i = batch.firstItem; i < batch.endItem; ++i) {
        const ItemRecord& line = lines[i];
        ItemState& s = t.states[i];
        if (s.flags & FLAG_HAS_OFFSET) {
            s.plannedType = s.valueType;
            add(line.offset, (s.flags & FLAG_INDIRECT_OFFSET) ? 2 : valueTypeSize(s.valueType), s.raw);
            if (const uint32_t extra = radioExtraOffset(line.offset)) add(extra, 2, s.raw + 2);
        }
        // The type byte lands in valueType, which the next tick's read is sized by.
        if (s.flags & FLAG_TYPE_FROM_SIM) add(line.typeOffset, 1, &s.valueType);
    }
    batch.bytes = bytes;
    batch.readCount = k;
    // Never the edition of another build, also of a batch built at the same address.
    static uint32_t editions = 0;
    batch.edition = ++editions;
}

bool currentTable() {
    // A table that could not be built is not tried again on every scan.
    if (!table.built || table.generation != itemTableGeneration()) build();
    return table.adopted;
}

bool adoptItemTable() {
    const bool built = build();
    darkenWhatNoItemDrives();
    return built;
}

const ItemState* itemStates() { return table.adopted ? table.states : nullptr; }
int32_t itemStateCount() { return table.adopted ? table.count : 0; }

void releaseItemStates() { releaseTable(); }

ScanPlan scanPlan() {
    ScanPlan plan = {0, 0, 0, 0};
    if (!table.adopted) return plan;
    plan.exchanges = table.batchCount;
    plan.indirectItems = table.indirectCount;
    for (int32_t b = 0; b < table.batchCount; ++b) plan.bytes += table.batches[b].bytes;
    uint32_t used = 0;
    for (int32_t n = 0; n < table.indirectCount; ++n) {
        const uint32_t bytes = LINK_READ_HEADER + valueTypeSize(table.states[table.indirect[n]].valueType);
        if (plan.indirectExchanges == 0 || used + bytes > LINK_BLOCK_CAPACITY) {
            ++plan.indirectExchanges;
            used = 0;
        }
        used += bytes;
    }
    return plan;
}
