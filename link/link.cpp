// Link client: the request block in named shared memory, opening with its handshake,
// queueing reads and writes and having the interface module carry them out in one
// message. The reply is written by another process, so the walk over it trusts nothing.
#include "link/link.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

uint32_t interfaceVersion = 0;
uint32_t simulatorVersion = 0;

namespace {

constexpr char MESSAGE_NAME[] = "FsasmLib:IPC";
constexpr uint16_t CLIENT_VERSION = 1004;
constexpr uint32_t OFFSET_INTERFACE_VERSION = 0x3304;
constexpr uint32_t OFFSET_SIM_VERSION = 0x3308;
constexpr uint32_t OFFSET_CLIENT_VERSION = 0x330A;
constexpr uint32_t VALID_INTERFACE_WORD = 0x19980005;
constexpr uint32_t SIM_SIGNATURE = 0xFADE;
constexpr int HANDSHAKE_ATTEMPTS = 5;
constexpr int SEND_ATTEMPTS = 9;
constexpr uint32_t SEND_TIMEOUT_MS = 2000;
constexpr uint32_t PAUSE_MS = 100;
constexpr uint32_t READ_HEADER = 16;
constexpr uint32_t WRITE_HEADER = 12;
constexpr uint32_t TYPE_READ = 1;
constexpr uint32_t TYPE_WRITE = 2;

// Every read record costs at least its 16-byte header, so this many always suffice.
constexpr uint32_t MAX_READS = LINK_BLOCK_CAPACITY / READ_HEADER;

// Where each queued read's data goes. The record's `destination` holds the index + 1,
// never an address: the module could rewrite the field, and a 64-bit address does not
// fit. `position` and `size` are what we queued, so a changed reply cannot redirect
// or lengthen a copy.
struct PendingRead {
    void* buffer;
    uint32_t position;
    uint32_t size;
};

platform::WindowRef interfaceWindow = 0;
uint32_t ipcMessage = 0;
uint16_t blockAtom = 0;
platform::MappingRef blockMapping = 0;
uint8_t* blockView = nullptr;
uint32_t blockUsed = 0;  // bytes taken by queued records; the cursor is blockView + this
uint32_t openCounter = 0;
PendingRead pendingReads[MAX_READS];
uint32_t pendingCount = 0;

uint32_t getLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void putLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

bool fail(LinkError* error, LinkError code) {
    *error = code;
    return false;
}

// The same test for both kinds of record, although a write's header is 4 bytes shorter.
// Counted in 64 bits so that a huge size cannot wrap round into "fits".
bool fits(uint32_t size) { return uint64_t(blockUsed) + size + READ_HEADER <= LINK_BLOCK_CAPACITY; }

bool sendBlock(uint32_t* answer, LinkError* error) {
    uint32_t lastError = 0;
    for (int attempt = 0; attempt < SEND_ATTEMPTS; attempt++) {
        if (platform::sendMessageTimeout(interfaceWindow, ipcMessage, blockAtom, 0,
                                         SEND_TIMEOUT_MS, answer))
            return true;
        lastError = platform::lastErrorCode();  // before the pause can disturb it
        platform::sleepMs(PAUSE_MS);
    }
    *error = lastError ? LINK_SEND_FAILED : LINK_SEND_TIMED_OUT;
    return false;
}

// Copies the reply's read data to the callers' buffers. Whatever the module left in the
// headers, nothing is read or written outside the block, and a record is copied only
// when it is exactly the read we queued at that place.
void copyReplies() {
    uint64_t pos = 0;
    while (pos + 4 <= LINK_BLOCK_SIZE) {
        uint8_t* rec = blockView + pos;
        uint32_t type = getLe32(rec);
        if (type == 0) return;
        if (type != TYPE_READ && type != TYPE_WRITE) {
            putLe32(rec, 0);
            return;
        }
        uint32_t header = type == TYPE_READ ? READ_HEADER : WRITE_HEADER;
        if (pos + header > LINK_BLOCK_SIZE) return;
        uint32_t size = getLe32(rec + 8);
        if (type == TYPE_READ) {
            uint32_t destination = getLe32(rec + 12);
            if (destination != 0 && size != 0 && destination - 1 < pendingCount) {
                const PendingRead& read = pendingReads[destination - 1];
                if (read.position == pos && read.size == size && read.buffer &&
                    pos + header + size <= LINK_BLOCK_SIZE)
                    std::memcpy(read.buffer, rec + header, size);
            }
        }
        pos += uint64_t(header) + size;
    }
}

bool handshake(LinkError* error) {
    for (int attempt = 0; attempt < HANDSHAKE_ATTEMPTS; attempt++) {
        // Non-zero is enough to stop asking; whether the words are valid is judged after.
        if (attempt > 0 && interfaceVersion != 0 && simulatorVersion != 0) break;
        // Ask the module: fresh reads of the two words, and our version once per open.
        if (!linkRead(OFFSET_INTERFACE_VERSION, 4, &interfaceVersion, error)) return false;
        if (!linkRead(OFFSET_SIM_VERSION, 4, &simulatorVersion, error)) return false;
        if (attempt == 0) {
            uint8_t version[2] = {uint8_t(CLIENT_VERSION), uint8_t(CLIENT_VERSION >> 8)};
            if (!linkWrite(OFFSET_CLIENT_VERSION, 2, version, error)) return false;
        }
        if (!linkProcess(error)) return false;
        platform::sleepMs(PAUSE_MS);
    }
    return true;
}

}  // namespace

bool interfaceVersionAccepted(uint32_t interfaceWord) {
    return interfaceWord >= MIN_INTERFACE_VERSION_WORD;
}

bool linkOpen(uint32_t requiredSimVersion, LinkError* error) {
    if (blockView) return fail(error, LINK_ALREADY_OPEN);
    interfaceVersion = 0;
    simulatorVersion = 0;

    bool simWindow = false;
    interfaceWindow = platform::findWindowByClass("OMBXMAIN");
    if (!interfaceWindow) {
        interfaceWindow = platform::findWindowByClass("FS98MAIN");
        simWindow = true;
    }
    if (!interfaceWindow) return fail(error, LINK_NO_INTERFACE_WINDOW);

    ipcMessage = platform::registerMessage(MESSAGE_NAME);
    if (!ipcMessage) {
        interfaceWindow = 0;
        return fail(error, LINK_MESSAGE_NOT_REGISTERED);
    }

    openCounter++;
    char name[64];
    std::snprintf(name, sizeof name, "%s:%X:%X", MESSAGE_NAME, unsigned(platform::processId()),
                  unsigned(openCounter));

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
    if (interfaceVersion < VALID_INTERFACE_WORD || simulatorVersion >> 16 != SIM_SIGNATURE) {
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
    uint8_t* rec = blockView + blockUsed;
    uint32_t reference = 0;
    if (destination) {
        pendingReads[pendingCount] = PendingRead{destination, blockUsed, size};
        reference = ++pendingCount;
    }
    putLe32(rec, TYPE_READ);
    putLe32(rec + 4, offset);
    putLe32(rec + 8, size);
    putLe32(rec + 12, reference);
    std::memset(rec + READ_HEADER, 0, size);
    blockUsed += READ_HEADER + size;
    *error = LINK_OK;
    return true;
}

bool linkWrite(uint32_t offset, uint32_t size, const void* source, LinkError* error) {
    if (!blockView) return fail(error, LINK_NOT_OPEN);
    if (!fits(size)) return fail(error, LINK_BLOCK_FULL);
    uint8_t* rec = blockView + blockUsed;
    putLe32(rec, TYPE_WRITE);
    putLe32(rec + 4, offset);
    putLe32(rec + 8, size);
    if (source)
        std::memcpy(rec + WRITE_HEADER, source, size);
    else
        std::memset(rec + WRITE_HEADER, 0, size);
    blockUsed += WRITE_HEADER + size;
    *error = LINK_OK;
    return true;
}

bool linkProcess(LinkError* error) {
    if (!blockView) return fail(error, LINK_NOT_OPEN);
    if (blockUsed == 0) return fail(error, LINK_NOTHING_QUEUED);
    putLe32(blockView + blockUsed, 0);
    // From here the block counts as empty whatever happens: nothing is ever sent twice.
    blockUsed = 0;

    uint32_t answer = 0;
    bool sent = sendBlock(&answer, error);
    if (sent && answer != 1) {
        *error = LINK_NOT_PROCESSED;
        sent = false;
    }
    if (sent) copyReplies();
    pendingCount = 0;
    if (!sent) return false;
    *error = LINK_OK;
    return true;
}
