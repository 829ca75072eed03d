// Link client: the request block in named shared memory, opening with its handshake,
// queueing reads and writes and having the interface module carry them out in one
// message. The reply is written by another process, so the walk over it trusts nothing.
#include "link/link.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

// The handshake words of the last open attempt.
uint32_t interfaceVersion = 0;
uint32_t simulatorVersion = 0;

constexpr uint16_t CLIENT_VERSION = 1004;
constexpr int HANDSHAKE_ATTEMPTS = 5;
constexpr int SEND_ATTEMPTS = 9;
constexpr uint32_t SEND_TIMEOUT_MS = 2000;
constexpr uint32_t PAUSE_MS = 100;

// Every read record costs at least its 16-byte header, so this many always suffice.
constexpr uint32_t MAX_READS = LINK_BLOCK_CAPACITY / LINK_READ_HEADER;
constexpr uint32_t SHORT_READ = 8;
static_assert(LINK_BLOCK_SIZE - LINK_BLOCK_CAPACITY >= SHORT_READ,
              "a short read's clearing store stays inside the block");

platform::WindowRef interfaceWindow = 0;
uint32_t ipcMessage = 0;
uint16_t blockAtom = 0;
platform::MappingRef blockMapping = 0;
uint8_t* blockView = nullptr;
uint32_t blockUsed = 0;  // bytes taken by queued records; the cursor is blockView + this
uint32_t openCounter = 0;
LinkPendingRead pendingReads[MAX_READS];
uint32_t pendingOffsets[MAX_READS];  // what each read asked for, for the read observer
uint32_t pendingCount = 0;
// The batch the block holds exactly as built (its last reply came back whole and every
// data area was zeroed again), so that sending it again needs no copy; nullptr when the
// block holds anything else.
const uint8_t* residentRecords = nullptr;
uint32_t residentEdition = 0;
bool (*waitHook)() = nullptr;
bool sendRefused = false;  // the last exchange's sends were refused for want of rights
LinkReadObserver readObserver = nullptr;

bool fail(LinkError* error, LinkError code) {
    *error = code;
    return false;
}

// The same test for both kinds of record, although a write's header is 4 bytes shorter.
// Counted in 64 bits so that a huge size cannot wrap round into "fits".
bool fits(uint32_t size) {
    return uint64_t(blockUsed) + size + LINK_READ_HEADER <= LINK_BLOCK_CAPACITY;
}

bool sendBlock(uint32_t* answer, LinkError* error) {
    uint32_t lastError = 0;
    sendRefused = false;
    for (int attempt = 0; attempt < SEND_ATTEMPTS; attempt++) {
        if (platform::sendMessageTimeout(interfaceWindow, ipcMessage, blockAtom, 0,
                                         SEND_TIMEOUT_MS, answer))
            return true;
        lastError = platform::lastErrorCode();  // before the pause can disturb it
        if (waitHook && !waitHook()) {
            *error = LINK_GIVEN_UP;
            return false;
        }
        platform::sleepMs(PAUSE_MS);
    }
    *error = lastError ? LINK_SEND_FAILED : LINK_SEND_TIMED_OUT;
    sendRefused = lastError && platform::accessDenied(lastError);
    return false;
}

// The checked walk over the reply's records from `pos`, with `copied` reads already back.
bool copyRepliesFrom(uint8_t* block, const LinkPendingRead* reads, uint32_t readCount,
                     uint64_t pos, uint32_t copied) {
    while (pos + 4 <= LINK_BLOCK_SIZE) {
        uint8_t* rec = block + pos;
        uint32_t type = readLe32(rec + LINK_RECORD_TYPE_AT);
        if (type == LINK_RECORD_END) return copied == readCount;
        uint32_t header = linkRecordHeader(type);
        if (header == 0) {
            writeLe32(rec + LINK_RECORD_TYPE_AT, LINK_RECORD_END);
            return false;
        }
        if (pos + header > LINK_BLOCK_SIZE) return false;
        uint32_t size = readLe32(rec + LINK_RECORD_SIZE_AT);
        if (type == LINK_RECORD_READ) {
            uint32_t destination = readLe32(rec + LINK_RECORD_DESTINATION_AT);
            if (destination != 0 && destination - 1 < readCount) {
                const LinkPendingRead& read = reads[destination - 1];
                if (read.position == pos && read.size == size && read.buffer &&
                    pos + header + size <= LINK_BLOCK_SIZE) {
                    copyReadData(read.buffer, rec + header, size);
                    ++copied;
                }
            }
        }
        pos += uint64_t(header) + size;
    }
    return false;
}

}  // namespace

// Whatever the module left in the headers, nothing is read or written outside the block,
// and a record is copied only when it is exactly the read we queued at that place. A
// shortcut takes the walk's usual course: while the records are the pending reads back to
// back, each with the type, size and destination we wrote, the walk would visit exactly
// them and copy each. At the first record that is anything else the walk takes over.
bool linkCopyReplies(uint8_t* block, const LinkPendingRead* reads, uint32_t readCount) {
    uint64_t pos = 0;
    uint32_t k = 0;
    for (; k < readCount; ++k) {
        const LinkPendingRead& read = reads[k];
        const uint8_t* rec = block + pos;
        if (read.position != pos || pos + LINK_READ_HEADER + read.size > LINK_BLOCK_SIZE ||
            readLe32(rec + LINK_RECORD_TYPE_AT) != LINK_RECORD_READ ||
            readLe32(rec + LINK_RECORD_SIZE_AT) != read.size ||
            readLe32(rec + LINK_RECORD_DESTINATION_AT) != k + 1)
            break;
        copyReadData(read.buffer, rec + LINK_READ_HEADER, read.size);
        pos += LINK_READ_HEADER + read.size;
    }
    return copyRepliesFrom(block, reads, readCount, pos, k);
}

namespace {

uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// A batch's records into the block, in 32-byte pieces the compiler keeps as a few vector
// moves: a scan of a table too large for one block copies every batch on every tick,
// and the library's copy of that size costs it an instruction a byte.
void copyRecords(uint8_t* to, const uint8_t* from, uint32_t bytes) {
    uint32_t i = 0;
    for (; i + 32 <= bytes; i += 32) std::memcpy(to + i, from + i, 32);
    for (; i < bytes; ++i) to[i] = from[i];
}

// Gives the caller its data and leaves the data area zeroed, as the batch was built.
void takeData(void* to, uint8_t* from, uint32_t size) {
    const uint64_t zero = 0;
    switch (size) {
        case 1: std::memcpy(to, from, 1); std::memcpy(from, &zero, 1); break;
        case 2: std::memcpy(to, from, 2); std::memcpy(from, &zero, 2); break;
        case 4: std::memcpy(to, from, 4); std::memcpy(from, &zero, 4); break;
        case 8: std::memcpy(to, from, 8); std::memcpy(from, &zero, 8); break;
        default: std::memcpy(to, from, size); std::memset(from, 0, size); break;
    }
}

// The reply to a batch: while each record's header is still byte for byte the one we
// built, the walk would visit exactly that record and copy it, so it is copied here and
// its data area zeroed again. The places of the reads are the caller's, which the module
// cannot change. True when the reply was whole and the block is the batch once more;
// false leaves the rest to the checked walk, whose verdict `*whole` takes.
bool takeBatchReplies(const LinkBatch& batch, bool* whole) {
    uint32_t k = 0;
    uint32_t pos = 0;
    for (; k < batch.readCount; ++k) {
        const LinkPendingRead& read = batch.reads[k];
        pos = read.position;
        const uint8_t* built = batch.records + pos;
        uint8_t* rec = blockView + pos;
        if (load64(rec) != load64(built) || load64(rec + 8) != load64(built + 8)) break;
        takeData(read.buffer, rec + LINK_READ_HEADER, read.size);
    }
    if (k == batch.readCount) {
        pos = batch.bytes;
        if (readLe32(blockView + pos) == LINK_RECORD_END) {
            *whole = true;
            return true;
        }
    }
    *whole = copyRepliesFrom(blockView, batch.reads, batch.readCount, pos, k);
    return false;
}

// The offsets the reads asked for, taken from our own records before the module can
// touch them; only for a read observer, so the program's queueing pays nothing.
void noteAskedOffsets(const LinkPendingRead* reads, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        pendingOffsets[i] = reads[i].position + LINK_READ_HEADER <= LINK_BLOCK_SIZE
                                ? readLe32(blockView + reads[i].position + LINK_RECORD_OFFSET_AT)
                                : 0;
}

// After a good exchange every read's data is in its caller's buffer.
void tellReads(const LinkPendingRead* reads, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        readObserver(pendingOffsets[i], static_cast<const uint8_t*>(reads[i].buffer),
                     reads[i].size);
}

// Ends the block's records at `used` and has the module carry them out; then the reply is
// checked and copied to `reads`. From here on the block counts as empty whatever the
// outcome: nothing queued is ever sent twice.
bool exchange(uint32_t used, const LinkPendingRead* reads, uint32_t count, LinkError* error,
              const LinkBatch* batch = nullptr) {
    writeLe32(blockView + used, LINK_RECORD_END);
    blockUsed = 0;
    pendingCount = 0;
    residentRecords = nullptr;
    if (readObserver) noteAskedOffsets(reads, count);
    uint32_t answer = 0;
    bool sent = sendBlock(&answer, error);
    if (sent && answer != 1) {
        *error = LINK_NOT_PROCESSED;
        sent = false;
    }
    bool whole = false;
    if (sent && batch) {
        if (takeBatchReplies(*batch, &whole)) {
            residentRecords = batch->records;
            residentEdition = batch->edition;
        }
    } else if (sent) {
        whole = linkCopyReplies(blockView, reads, count);
    }
    if (sent && !whole) {
        *error = LINK_REPLY_DAMAGED;
        sent = false;
    }
    if (!sent) return false;
    if (readObserver) tellReads(reads, count);
    *error = LINK_OK;
    return true;
}

bool handshake(LinkError* error) {
    for (int attempt = 0; attempt < HANDSHAKE_ATTEMPTS; attempt++) {
        // Non-zero is enough to stop asking; whether the words are valid is judged after.
        if (attempt > 0 && interfaceVersion != 0 && simulatorVersion != 0) break;
        // Ask the module: fresh reads of the two words, and our version once per open.
        if (!linkRead(LINK_OFFSET_INTERFACE_VERSION, 4, &interfaceVersion, error)) return false;
        if (!linkRead(LINK_OFFSET_SIM_VERSION, 4, &simulatorVersion, error)) return false;
        if (attempt == 0) {
            uint8_t version[2];
            writeLe16(version, CLIENT_VERSION);
            if (!linkWrite(LINK_OFFSET_CLIENT_VERSION, 2, version, error)) return false;
        }
        if (!linkProcess(error)) return false;
        platform::sleepMs(PAUSE_MS);
    }
    return true;
}

}  // namespace

void setLinkWaitHook(bool (*stillWaiting)()) { waitHook = stillWaiting; }

uint32_t linkInterfaceVersion() { return interfaceVersion; }
uint32_t linkSimulatorVersion() { return simulatorVersion; }

bool linkSendRefused() { return sendRefused; }

void setLinkReadObserver(LinkReadObserver observer) { readObserver = observer; }

bool interfaceVersionAccepted(uint32_t interfaceWord) {
    return interfaceWord >= MIN_INTERFACE_VERSION_WORD;
}

bool linkOpen(uint32_t requiredSimVersion, LinkError* error) {
    if (blockView) return fail(error, LINK_ALREADY_OPEN);
    interfaceVersion = 0;
    simulatorVersion = 0;

    // The first class found is the one used; a failure there is not tried again under the
    // next class, since where the module's own window exists it is the module.
    const char* windowClass = nullptr;
    for (const char* candidate : LINK_WINDOW_CLASSES) {
        interfaceWindow = platform::findWindowByClass(candidate);
        if (interfaceWindow) {
            windowClass = candidate;
            break;
        }
    }
    if (!interfaceWindow) return fail(error, LINK_NO_INTERFACE_WINDOW);
    const bool simWindow = windowClass == LINK_SIM_WINDOW_CLASS;

    ipcMessage = platform::registerMessage(LINK_MESSAGE_NAME);
    if (!ipcMessage) {
        interfaceWindow = 0;
        return fail(error, LINK_MESSAGE_NOT_REGISTERED);
    }

    openCounter++;
    char name[64];
    std::snprintf(name, sizeof name, "%s:%X:%X", LINK_MESSAGE_NAME,
                  unsigned(platform::processId()), unsigned(openCounter));

    blockAtom = platform::addAtom(name);
    if (!blockAtom) {
        linkClose();
        return fail(error, LINK_ATOM_FAILED);
    }
    bool existed = false;
    blockMapping = platform::createSharedMemory(name, LINK_BLOCK_SIZE, &existed);
    if (!blockMapping || existed) {
        // Memory of our name that someone else made is not ours to trust.
        linkClose();
        return fail(error, LINK_MAPPING_FAILED);
    }
    blockView = static_cast<uint8_t*>(platform::mapSharedMemory(blockMapping, LINK_BLOCK_SIZE));
    if (!blockView) {
        linkClose();
        return fail(error, LINK_VIEW_FAILED);
    }
    blockUsed = 0;
    pendingCount = 0;

    if (!handshake(error)) {
        linkClose();
        return false;
    }
    if (interfaceVersion < LINK_VALID_INTERFACE_WORD ||
        simulatorVersion >> 16 != LINK_SIM_SIGNATURE) {
        linkClose();
        return fail(error, simWindow ? LINK_SIM_WINDOW_HANDSHAKE_FAILED : LINK_HANDSHAKE_FAILED);
    }
    simulatorVersion &= 0xFFFF;
    if (requiredSimVersion != 0 && requiredSimVersion != simulatorVersion) {
        linkClose();
        return fail(error, LINK_WRONG_SIMULATOR);
    }
    *error = LINK_OK;
    return true;
}

void linkClose() {
    residentRecords = nullptr;
    interfaceWindow = 0;
    ipcMessage = 0;
    if (blockAtom) {
        platform::deleteAtom(blockAtom);
        blockAtom = 0;
    }
    if (blockView) {
        platform::unmapSharedMemory(blockView, LINK_BLOCK_SIZE);
        blockView = nullptr;
    }
    if (blockMapping) {
        platform::closeSharedMemory(blockMapping);
        blockMapping = 0;
    }
    pendingCount = 0;
}

bool linkRead(uint32_t offset, uint32_t size, void* destination, LinkError* error) {
    if (!blockView) return fail(error, LINK_NOT_OPEN);
    if (!fits(size)) return fail(error, LINK_BLOCK_FULL);
    residentRecords = nullptr;
    const uint32_t at = blockUsed;
    uint8_t* rec = blockView + at;
    blockUsed = at + LINK_READ_HEADER + size;
    *error = LINK_OK;
    uint32_t reference = 0;
    if (destination) {
        pendingReads[pendingCount] = LinkPendingRead{destination, at, size};
        reference = ++pendingCount;
    }
    writeReadHeader(rec, offset, size, reference);
    // The data area goes out zeroed. A short one is cleared with one 8-byte store; what it
    // clears beyond the data is where the next record or the end word goes, and the block
    // keeps room past its capacity for that. The long case ends the function, so the
    // common path needs no registers saved around a call.
    uint8_t* data = rec + LINK_READ_HEADER;
    if (size > SHORT_READ) {
        std::memset(data, 0, size);
    } else {
        const uint64_t zero = 0;
        std::memcpy(data, &zero, SHORT_READ);
    }
    return true;
}

bool linkWrite(uint32_t offset, uint32_t size, const void* source, LinkError* error) {
    if (!blockView) return fail(error, LINK_NOT_OPEN);
    if (!fits(size)) return fail(error, LINK_BLOCK_FULL);
    residentRecords = nullptr;
    uint8_t* rec = blockView + blockUsed;
    writeLe32(rec + LINK_RECORD_TYPE_AT, LINK_RECORD_WRITE);
    writeLe32(rec + LINK_RECORD_OFFSET_AT, offset);
    writeLe32(rec + LINK_RECORD_SIZE_AT, size);
    if (source)
        std::memcpy(rec + LINK_WRITE_HEADER, source, size);
    else
        std::memset(rec + LINK_WRITE_HEADER, 0, size);
    blockUsed += LINK_WRITE_HEADER + size;
    *error = LINK_OK;
    return true;
}

bool linkProcess(LinkError* error) {
    if (!blockView) return fail(error, LINK_NOT_OPEN);
    if (blockUsed == 0) return fail(error, LINK_NOTHING_QUEUED);
    return exchange(blockUsed, pendingReads, pendingCount, error);
}

bool linkSendBatch(const LinkBatch& batch, LinkError* error) {
    if (!blockView) return fail(error, LINK_NOT_OPEN);
    if (batch.bytes == 0) return fail(error, LINK_NOTHING_QUEUED);
    if (blockUsed != 0 || batch.bytes > LINK_BLOCK_CAPACITY || batch.readCount > MAX_READS)
        return fail(error, LINK_BLOCK_FULL);
    // The block still holds the batch from its last exchange, or gets it anew.
    if (residentRecords != batch.records || residentEdition != batch.edition)
        copyRecords(blockView, batch.records, batch.bytes);
    return exchange(batch.bytes, batch.reads, batch.readCount, error, &batch);
}
