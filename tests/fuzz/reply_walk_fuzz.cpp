// Fuzz target for the link's reply walk, linkCopyReplies: the block is what the simulator
// interface module hands back, written by another process, so it may hold anything. The
// input says what the client queued, then how the reply differs from the request:
//   1 byte    the number of requests (up to 63)
//   2 bytes   per request: its kind (low two bits: 0 a read into a buffer, 1 a read
//             without one, 2 a write, 3 a table entry the client never makes, for a read
//             whose data would run past the block's end) and its size (below 0x80 as it
//             is, from 0x80 on in steps of 64)
//   the rest  the module's changes, each 2 bytes of block position (little-endian,
//             wrapped), 1 byte of length, and that many bytes XORed onto the block there
// The block is first laid out as the client lays it (the records in order, each read's
// data holding the module's answer, the end word), so an empty rest is a faithful reply.
// Properties:
// - nothing outside the block is touched (a heap block of exactly its size), and nothing
//   outside a read's buffer: each buffer sits between canary-filled guards that must come
//   back intact;
// - a buffer changes only when the chain of records from the block's start reaches its
//   record at the place it was queued, as a read of the queued size that names this
//   buffer, with its data inside the block; it then holds exactly that data. Such a read
//   is never left out, so a faithful reply delivers every read;
// - the walk says the reply is good exactly when the chain reaches an end word and every
//   queued read came back, so a walk that ends early or misses a read is reported;
// - the block comes back as it was, except where the chain meets a record of no known
//   type: the walk ends there and marks it as the end of the block.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_check.h"
#include "link/link.h"

namespace {

constexpr size_t GUARD = 16;
constexpr uint8_t CANARY = 0xA5;
constexpr uint8_t UNWRITTEN = 0x5C;  // a buffer's content before the walk
constexpr uint32_t MAX_REQUESTS = 63;

// A read's buffer with a guard on either side, in one heap block of exactly that size.
struct GuardedBuffer {
    std::unique_ptr<uint8_t[]> storage;
    uint32_t size;
    explicit GuardedBuffer(uint32_t n) : storage(new uint8_t[n + 2 * GUARD]), size(n) {
        std::memset(storage.get(), CANARY, n + 2 * GUARD);
        std::memset(data(), UNWRITTEN, n);
    }
    uint8_t* data() { return storage.get() + GUARD; }
    bool guardsIntact() const {
        for (size_t i = 0; i < GUARD; ++i) {
            if (storage[i] != CANARY || storage[GUARD + size + i] != CANARY) return false;
        }
        return true;
    }
};

uint8_t answerByte(uint32_t at) { return static_cast<uint8_t>(at * 131u + 7u); }

// Queues the requests as the client does: records one after the other while they fit,
// a read with a buffer gets a table entry and names it by index + 1.
uint32_t layOut(const uint8_t*& data, size_t& size, uint8_t* block,
                std::vector<GuardedBuffer>& buffers, std::vector<LinkPendingRead>& reads) {
    uint32_t used = 0;
    uint32_t count = size > 0 ? data[0] % (MAX_REQUESTS + 1) : 0;
    if (size > 0) ++data, --size;
    buffers.reserve(count);
    for (uint32_t i = 0; i < count && size >= 2; ++i, data += 2, size -= 2) {
        const uint8_t kind = data[0] & 3;
        const uint32_t n = data[1] < 0x80 ? data[1] : (data[1] & 0x7F) * 64u;
        if (kind == 3) {
            // The walk takes any table: this entry's record, if the chain reaches it,
            // would hold data past the block's end.
            buffers.emplace_back(n);
            reads.push_back(LinkPendingRead{buffers.back().data(),
                                            LINK_BLOCK_SIZE - LINK_READ_HEADER - n / 2, n});
            continue;
        }
        if (uint64_t(used) + n + LINK_READ_HEADER > LINK_BLOCK_CAPACITY) continue;
        uint8_t* rec = block + used;
        const bool read = kind < 2;
        uint32_t reference = 0;
        if (kind == 0) {
            buffers.emplace_back(n);
            reads.push_back(LinkPendingRead{buffers.back().data(), used, n});
            reference = static_cast<uint32_t>(reads.size());
        }
        writeLe32(rec + LINK_RECORD_TYPE_AT, read ? LINK_RECORD_READ : LINK_RECORD_WRITE);
        writeLe32(rec + LINK_RECORD_OFFSET_AT, 0x0100 + 4 * i);
        writeLe32(rec + LINK_RECORD_SIZE_AT, n);
        if (read) writeLe32(rec + LINK_RECORD_DESTINATION_AT, reference);
        const uint32_t header = read ? LINK_READ_HEADER : LINK_WRITE_HEADER;
        for (uint32_t b = 0; b < n; ++b) rec[header + b] = answerByte(used + header + b);
        used += header + n;
    }
    writeLe32(block + used, LINK_RECORD_END);
    return used;
}

// What the walk must do with `reply`, told from the protocol's record chain: which table
// entries get their data, whether the chain reaches an end word, and where (if anywhere)
// an unknown type ends it.
struct Expected {
    std::vector<bool> copied;
    bool reachedEnd = false;
    int64_t endMarkAt = -1;
};

Expected expectedWalk(const uint8_t* reply, const std::vector<LinkPendingRead>& reads) {
    Expected e;
    e.copied.assign(reads.size(), false);
    uint64_t pos = 0;
    while (pos + 4 <= LINK_BLOCK_SIZE) {
        const uint32_t type = readLe32(reply + pos);
        if (type == LINK_RECORD_END) {
            e.reachedEnd = true;
            break;
        }
        if (type != LINK_RECORD_READ && type != LINK_RECORD_WRITE) {
            e.endMarkAt = static_cast<int64_t>(pos);
            break;
        }
        const uint32_t header = type == LINK_RECORD_READ ? LINK_READ_HEADER : LINK_WRITE_HEADER;
        if (pos + header > LINK_BLOCK_SIZE) break;
        const uint32_t size = readLe32(reply + pos + LINK_RECORD_SIZE_AT);
        if (type == LINK_RECORD_READ) {
            const uint32_t reference = readLe32(reply + pos + LINK_RECORD_DESTINATION_AT);
            if (reference >= 1 && reference <= reads.size()) {
                const LinkPendingRead& r = reads[reference - 1];
                if (r.position == pos && r.size == size && pos + header + size <= LINK_BLOCK_SIZE)
                    e.copied[reference - 1] = true;
            }
        }
        pos += uint64_t(header) + size;
    }
    return e;
}

// The module's reply: whatever it changed in the block.
void applyChanges(const uint8_t* data, size_t size, uint8_t* block) {
    while (size >= 3) {
        const uint32_t at = readLe16(data) % LINK_BLOCK_SIZE;
        size_t n = data[2];
        data += 3;
        size -= 3;
        if (n > size) n = size;
        for (size_t i = 0; i < n && at + i < LINK_BLOCK_SIZE; ++i) block[at + i] ^= data[i];
        data += n;
        size -= n;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[LINK_BLOCK_SIZE]());
    std::vector<GuardedBuffer> buffers;
    std::vector<LinkPendingRead> reads;
    layOut(data, size, block.get(), buffers, reads);
    applyChanges(data, size, block.get());

    std::unique_ptr<uint8_t[]> reply(new uint8_t[LINK_BLOCK_SIZE]);
    std::memcpy(reply.get(), block.get(), LINK_BLOCK_SIZE);
    const Expected expected = expectedWalk(reply.get(), reads);

    const bool good = linkCopyReplies(block.get(), reads.data(), static_cast<uint32_t>(reads.size()));

    bool allCopied = true;
    for (bool c : expected.copied) allCopied = allCopied && c;
    FUZZ_CHECK(good == (expected.reachedEnd && allCopied));

    for (size_t k = 0; k < reads.size(); ++k) {
        FUZZ_CHECK(buffers[k].guardsIntact());
        const uint8_t* got = buffers[k].data();
        if (expected.copied[k]) {
            FUZZ_CHECK(std::memcmp(got, reply.get() + reads[k].position + LINK_READ_HEADER,
                                   reads[k].size) == 0);
        } else {
            for (uint32_t b = 0; b < reads[k].size; ++b) FUZZ_CHECK(got[b] == UNWRITTEN);
        }
    }
    if (expected.endMarkAt >= 0) {
        FUZZ_CHECK(readLe32(block.get() + expected.endMarkAt) == LINK_RECORD_END);
        writeLe32(reply.get() + expected.endMarkAt, LINK_RECORD_END);
    }
    FUZZ_CHECK(std::memcmp(block.get(), reply.get(), LINK_BLOCK_SIZE) == 0);
    return 0;
}
