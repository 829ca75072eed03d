// The 64-bit-layout test client: its own block, window lookup and handshake through the
// platform seam, type-4 reads and type-2 writes. The reply is checked record by record
// at the places we queued them, the 8-byte destination included.
#include "tools/sim/probe64.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

uint32_t probe64InterfaceWord = 0;
uint32_t probe64SimulatorWord = 0;

namespace {

constexpr uint16_t CLIENT_VERSION = 1004;
constexpr int SEND_ATTEMPTS = 9;
constexpr uint32_t SEND_TIMEOUT_MS = 2000;
constexpr uint32_t PAUSE_MS = 100;
constexpr uint32_t MAX_READS = LINK_BLOCK_CAPACITY / LINK_READ64_HEADER;
// Those clients put their buffer's address in the destination. Ours is a token whose
// high half is never zero, so a module that kept only the low 4 bytes is caught.
constexpr uint64_t TOKEN_HIGH = 0x5AFEC0DEull << 32;

// The two classes that clients of that SDK look for, in their order.
const char* const WINDOW_CLASSES[] = {LINK_MODULE_WINDOW_CLASS, LINK_SIM_WINDOW_CLASS};

struct PendingRead {
    void* buffer;
    uint32_t position;
    uint32_t size;
};

platform::WindowRef window = 0;
uint32_t message = 0;
uint16_t atom = 0;
platform::MappingRef mapping = 0;
uint8_t* view = nullptr;
uint32_t used = 0;
uint32_t opens = 0;
PendingRead reads[MAX_READS];
uint32_t readCount = 0;
bool queuedOther = false;  // a record of another type is queued

bool fail(LinkError* error, LinkError code) {
    *error = code;
    return false;
}

// Counted in 64 bits so that a huge size cannot wrap round into "fits".
bool fits(uint64_t bytes) { return used + bytes <= LINK_BLOCK_CAPACITY; }

void writeLe64(uint8_t* p, uint64_t v) {
    writeLe32(p, uint32_t(v));
    writeLe32(p + 4, uint32_t(v >> 32));
}

uint64_t readLe64(const uint8_t* p) { return readLe32(p) | uint64_t(readLe32(p + 4)) << 32; }

// Whether the reply holds read `k` exactly as queued; then its data goes to its buffer.
bool copyRead(uint32_t k) {
    const PendingRead& read = reads[k];
    const uint8_t* rec = view + read.position;
    if (readLe32(rec + LINK_RECORD_TYPE_AT) != LINK_RECORD_READ64 ||
        readLe32(rec + LINK_RECORD_SIZE_AT) != read.size ||
        readLe64(rec + LINK_RECORD_DESTINATION_AT) != (TOKEN_HIGH | (k + 1)))
        return false;
    std::memcpy(read.buffer, rec + LINK_READ64_HEADER, read.size);
    return true;
}

bool send(uint32_t* answer, LinkError* error) {
    uint32_t lastError = 0;
    for (int attempt = 0; attempt < SEND_ATTEMPTS; attempt++) {
        if (platform::sendMessageTimeout(window, message, atom, 0, SEND_TIMEOUT_MS, answer))
            return true;
        lastError = platform::lastErrorCode();
        platform::sleepMs(PAUSE_MS);
    }
    *error = lastError ? LINK_SEND_FAILED : LINK_SEND_TIMED_OUT;
    return false;
}

}  // namespace

bool probe64Open(uint32_t requiredSimVersion, LinkError* error) {
    if (view) return fail(error, LINK_ALREADY_OPEN);
    probe64InterfaceWord = probe64SimulatorWord = 0;
    const char* windowClass = nullptr;
    for (const char* candidate : WINDOW_CLASSES) {
        window = platform::findWindowByClass(candidate);
        if (window) {
            windowClass = candidate;
            break;
        }
    }
    if (!window) return fail(error, LINK_NO_INTERFACE_WINDOW);
    message = platform::registerMessage(LINK_MESSAGE_NAME);
    if (!message) {
        probe64Close();
        return fail(error, LINK_MESSAGE_NOT_REGISTERED);
    }
    char name[64];
    std::snprintf(name, sizeof name, "%s:%X:%X", LINK_MESSAGE_NAME,
                  unsigned(platform::processId()), unsigned(++opens));
    atom = platform::addAtom(name);
    bool existed = false;
    if (atom) mapping = platform::createSharedMemory(name, LINK_BLOCK_SIZE, &existed);
    if (mapping && !existed)
        view = static_cast<uint8_t*>(platform::mapSharedMemory(mapping, LINK_BLOCK_SIZE));
    if (!view) {
        probe64Close();
        return fail(error, atom ? LINK_MAPPING_FAILED : LINK_ATOM_FAILED);
    }
    used = readCount = 0;
    queuedOther = false;

    uint8_t version[2];
    writeLe16(version, CLIENT_VERSION);
    if (!probe64Read(LINK_OFFSET_INTERFACE_VERSION, 4, &probe64InterfaceWord, error) ||
        !probe64Read(LINK_OFFSET_SIM_VERSION, 4, &probe64SimulatorWord, error) ||
        !probe64Write(LINK_OFFSET_CLIENT_VERSION, 2, version, error) || !probe64Process(error)) {
        probe64Close();
        return false;
    }
    if (probe64InterfaceWord < LINK_VALID_INTERFACE_WORD ||
        probe64SimulatorWord >> 16 != LINK_SIM_SIGNATURE) {
        probe64Close();
        const bool simWindow = windowClass == LINK_SIM_WINDOW_CLASS;
        return fail(error, simWindow ? LINK_SIM_WINDOW_HANDSHAKE_FAILED : LINK_HANDSHAKE_FAILED);
    }
    probe64SimulatorWord &= 0xFFFF;
    if (requiredSimVersion && requiredSimVersion != probe64SimulatorWord) {
        probe64Close();
        return fail(error, LINK_WRONG_SIMULATOR);
    }
    *error = LINK_OK;
    return true;
}

void probe64Close() {
    window = 0;
    message = 0;
    if (atom) platform::deleteAtom(atom);
    atom = 0;
    if (view) platform::unmapSharedMemory(view, LINK_BLOCK_SIZE);
    view = nullptr;
    if (mapping) platform::closeSharedMemory(mapping);
    mapping = 0;
    readCount = 0;
}

namespace {

// Writes a record's first three words at the cursor and moves the cursor past its header
// and `size` data bytes; nullptr (and the error) when the link is closed or it does not fit.
uint8_t* startRecord(uint32_t type, uint32_t offset, uint32_t size, uint32_t header,
                     LinkError* error) {
    if (!view || !fits(uint64_t(header) + size)) {
        *error = view ? LINK_BLOCK_FULL : LINK_NOT_OPEN;
        return nullptr;
    }
    uint8_t* rec = view + used;
    writeLe32(rec + LINK_RECORD_TYPE_AT, type);
    writeLe32(rec + LINK_RECORD_OFFSET_AT, offset);
    writeLe32(rec + LINK_RECORD_SIZE_AT, size);
    used += header + size;
    *error = LINK_OK;
    return rec;
}

}  // namespace

bool probe64Read(uint32_t offset, uint32_t size, void* destination, LinkError* error) {
    const uint32_t at = used;
    uint8_t* rec = startRecord(LINK_RECORD_READ64, offset, size, LINK_READ64_HEADER, error);
    if (!rec) return false;
    writeLe64(rec + LINK_RECORD_DESTINATION_AT, TOKEN_HIGH | (readCount + 1));
    std::memset(rec + LINK_READ64_HEADER, 0, size);
    reads[readCount++] = PendingRead{destination, at, size};
    return true;
}

bool probe64Write(uint32_t offset, uint32_t size, const void* source, LinkError* error) {
    uint8_t* rec = startRecord(LINK_RECORD_WRITE, offset, size, LINK_WRITE_HEADER, error);
    if (rec) std::memcpy(rec + LINK_WRITE_HEADER, source, size);
    return rec != nullptr;
}

bool probe64Queue(uint32_t type, LinkError* error) {
    if (!startRecord(type, 0, 0, LINK_WRITE_HEADER, error)) return false;
    queuedOther = true;
    return true;
}

bool probe64Process(LinkError* error) {
    if (!view) return fail(error, LINK_NOT_OPEN);
    if (used == 0) return fail(error, LINK_NOTHING_QUEUED);
    writeLe32(view + used, LINK_RECORD_END);
    used = 0;
    const uint32_t count = readCount;
    readCount = 0;
    const bool other = queuedOther;
    queuedOther = false;
    uint32_t answer = 0;
    if (!send(&answer, error)) return false;
    if (answer != 1) return fail(error, LINK_NOT_PROCESSED);
    bool whole = !other;
    for (uint32_t k = 0; k < count; k++)
        if (!copyRead(k)) whole = false;
    if (!whole) return fail(error, LINK_REPLY_DAMAGED);
    *error = LINK_OK;
    return true;
}
