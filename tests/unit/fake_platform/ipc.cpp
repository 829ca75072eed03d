// Fake platform, IPC: windows, atoms and shared memory live in small tables here, and a
// send hands the named block to the in-process module. Each mapping is its own heap
// buffer of exactly the requested size, so AddressSanitizer sees any access past it.
#include <cstdio>
#include <cstring>

#include "fake_ipc.h"
#include "fake_time.h"
#include "platform/platform.h"

namespace fake {

IpcFailures ipcFail;
uint32_t ipcSends = 0;
uint32_t ipcDelivered = 0;
uint32_t ipcWindowLookups = 0;
uint32_t ipcMappingsCreated = 0;
uint32_t ipcAtomsLive = 0;
uint32_t ipcMappingsLive = 0;
uint32_t ipcViewsLive = 0;
char ipcLastAtomName[64] = "";
void (*ipcBlockObserver)(const uint8_t*, uint32_t) = nullptr;
void (*ipcReplyTamper)(uint8_t*, uint32_t) = nullptr;
uint32_t ipcProcessId = FAKE_PROCESS_ID;
const char* ipcLastSendClass = "";

namespace {

constexpr uint32_t MESSAGE_ID = 0xC0DE;
constexpr uint16_t FIRST_ATOM = 0xC000;
constexpr int MAX_ATOMS = 16;
constexpr int MAX_MAPPINGS = 8;

constexpr int WINDOW_COUNT = LINK_WINDOW_CLASS_COUNT;
bool windowPresent[WINDOW_COUNT];

sim::SimModule theModule;
uint32_t lastError = 0;

struct Atom {
    bool used;
    char name[64];
};
Atom atoms[MAX_ATOMS];

struct Mapping {
    bool used;
    bool mapped;
    char name[64];
    uint8_t* memory;
    uint32_t size;
};
Mapping mappings[MAX_MAPPINGS];

int windowIndex(const char* className) {
    for (int i = 0; i < WINDOW_COUNT; i++)
        if (className && std::strcmp(className, LINK_WINDOW_CLASSES[i]) == 0) return i;
    return -1;
}

void freeMapping(Mapping& m) {
    delete[] m.memory;
    m = Mapping{};
}

}  // namespace

void resetIpc() {
    for (bool& present : windowPresent) present = false;
    ipcLastSendClass = "";
    sim::resetModule(&theModule);
    ipcFail = IpcFailures{};
    ipcSends = ipcDelivered = ipcWindowLookups = ipcMappingsCreated = 0;
    ipcAtomsLive = ipcMappingsLive = ipcViewsLive = 0;
    ipcLastAtomName[0] = '\0';
    ipcBlockObserver = nullptr;
    ipcReplyTamper = nullptr;
    ipcProcessId = FAKE_PROCESS_ID;
    lastError = 0;
    for (Atom& a : atoms) a = Atom{};
    for (Mapping& m : mappings) freeMapping(m);
}

void installModule(const char* className) {
    int i = windowIndex(className);
    if (i >= 0) windowPresent[i] = true;
}

void removeModule(const char* className) {
    int i = windowIndex(className);
    if (i >= 0) windowPresent[i] = false;
}

sim::SimModule& module() { return theModule; }

void setFault(sim::Fault fault, uint32_t arg) {
    theModule.fault = fault;
    theModule.faultArg = arg;
}

void setBytes(uint32_t offset, const void* data, uint32_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (uint32_t i = 0; i < size && offset + i < sim::SPACE_SIZE; i++)
        theModule.space[offset + i] = p[i];
}

void getBytes(uint32_t offset, void* out, uint32_t size) {
    sim::readSpace(&theModule, offset, static_cast<uint8_t*>(out), size);
}

void setU8(uint32_t offset, uint8_t value) { setBytes(offset, &value, 1); }

void setU16(uint32_t offset, uint16_t value) {
    uint8_t b[2];
    writeLe16(b, value);
    setBytes(offset, b, 2);
}

void setU32(uint32_t offset, uint32_t value) {
    uint8_t b[4];
    writeLe32(b, value);
    setBytes(offset, b, 4);
}

void setF32(uint32_t offset, float value) { setBytes(offset, &value, 4); }
void setF64(uint32_t offset, double value) { setBytes(offset, &value, 8); }

void setText(uint32_t offset, const char* text) {
    setBytes(offset, text, uint32_t(std::strlen(text) + 1));
}

uint8_t getU8(uint32_t offset) {
    uint8_t v = 0;
    getBytes(offset, &v, 1);
    return v;
}

uint16_t getU16(uint32_t offset) {
    uint8_t b[2] = {};
    getBytes(offset, b, 2);
    return readLe16(b);
}

uint32_t getU32(uint32_t offset) {
    uint8_t b[4] = {};
    getBytes(offset, b, 4);
    return readLe32(b);
}

}  // namespace fake

namespace platform {

using namespace fake;

bool prepareIpc(char* why, uint32_t size) {
    const char* refused = ipcFail.prepareRefused;
    if (size > 0) std::snprintf(why, size, "%s", refused ? refused : "");
    return !refused;
}

WindowRef findWindowByClass(const char* className) {
    ipcWindowLookups++;
    int i = windowIndex(className);
    return i >= 0 && windowPresent[i] ? WindowRef(i + 1) : 0;
}

uint32_t registerMessage(const char* name) {
    if (trips(ipcFail.registerFails) || !name || std::strcmp(name, LINK_MESSAGE_NAME) != 0) return 0;
    return MESSAGE_ID;
}

uint16_t addAtom(const char* name) {
    if (trips(ipcFail.atomFails) || !name) return 0;
    for (int i = 0; i < MAX_ATOMS; i++) {
        if (atoms[i].used) continue;
        atoms[i].used = true;
        std::strncpy(atoms[i].name, name, sizeof atoms[i].name - 1);
        std::strncpy(ipcLastAtomName, name, sizeof ipcLastAtomName - 1);
        ipcAtomsLive++;
        return uint16_t(FIRST_ATOM + i);
    }
    return 0;
}

void deleteAtom(uint16_t atom) {
    int i = atom - FIRST_ATOM;
    if (i < 0 || i >= MAX_ATOMS || !atoms[i].used) return;
    atoms[i] = Atom{};
    ipcAtomsLive--;
}

MappingRef createSharedMemory(const char* name, uint32_t size, bool* existed) {
    if (existed) *existed = false;
    if (trips(ipcFail.mappingFails) || !name || size == 0) return 0;
    bool nameTaken = false;
    for (const Mapping& m : mappings)
        if (m.used && std::strcmp(m.name, name) == 0) nameTaken = true;
    for (int i = 0; i < MAX_MAPPINGS; i++) {
        if (mappings[i].used) continue;
        Mapping& m = mappings[i];
        m.used = true;
        std::strncpy(m.name, name, sizeof m.name - 1);
        m.memory = new uint8_t[size]();
        m.size = size;
        if (existed) *existed = nameTaken || trips(ipcFail.mappingExists);
        ipcMappingsCreated++;
        ipcMappingsLive++;
        return MappingRef(i + 1);
    }
    return 0;
}

void* mapSharedMemory(MappingRef ref, uint32_t size) {
    if (trips(ipcFail.viewFails) || ref == 0 || ref > MAX_MAPPINGS) return nullptr;
    Mapping& m = mappings[ref - 1];
    if (!m.used || m.mapped || size > m.size) return nullptr;
    m.mapped = true;
    ipcViewsLive++;
    return m.memory;
}

void unmapSharedMemory(void* view, uint32_t) {
    for (Mapping& m : mappings)
        if (m.used && m.mapped && m.memory == view) {
            m.mapped = false;
            ipcViewsLive--;
        }
}

void closeSharedMemory(MappingRef ref) {
    if (ref == 0 || ref > MAX_MAPPINGS || !mappings[ref - 1].used) return;
    if (mappings[ref - 1].mapped) ipcViewsLive--;
    freeMapping(mappings[ref - 1]);
    ipcMappingsLive--;
}

void removeOrphanedSharedMemory() {}

bool sendMessageTimeout(WindowRef window, uint32_t message, uintptr_t wParam, intptr_t,
                        uint32_t timeoutMs, uint32_t* result) {
    ipcSends++;
    if (window >= 1 && window <= WINDOW_COUNT) ipcLastSendClass = LINK_WINDOW_CLASSES[window - 1];
    if (trips(ipcFail.sendTimesOut)) {
        fake::nowMs += timeoutMs;  // a time-out takes its whole time
        lastError = 0;
        return false;
    }
    if (ipcFail.sendError) {
        lastError = ipcFail.sendError;
        return false;
    }
    if (window == 0 || window > WINDOW_COUNT || !windowPresent[window - 1]) {
        lastError = 1400;  // ERROR_INVALID_WINDOW_HANDLE
        return false;
    }
    if (message != MESSAGE_ID) {
        *result = 0;  // a window answers messages it does not know with 0
        return true;
    }
    // The module finds the block through the atom's name, as the real one does.
    int a = int(wParam) - FIRST_ATOM;
    Mapping* block = nullptr;
    if (a >= 0 && a < MAX_ATOMS && atoms[a].used)
        for (Mapping& m : mappings)
            if (m.used && std::strcmp(m.name, atoms[a].name) == 0) block = &m;
    if (!block || block->size < LINK_BLOCK_SIZE) {
        *result = 0;
        return true;
    }
    ipcDelivered++;
    if (ipcBlockObserver) ipcBlockObserver(block->memory, LINK_BLOCK_SIZE);
    if (ipcFail.answer) {
        *result = ipcFail.answer;
        return true;
    }
    uint32_t answer = 0;
    if (!sim::processBlock(&theModule, block->memory, LINK_BLOCK_SIZE, &answer)) {
        lastError = 0;  // a module that hangs: the send times out
        return false;
    }
    if (ipcReplyTamper) ipcReplyTamper(block->memory, LINK_BLOCK_SIZE);
    *result = answer;
    return true;
}

uint32_t lastErrorCode() { return lastError; }

// The fake speaks Windows' error codes: 5 is ERROR_ACCESS_DENIED.
bool accessDenied(uint32_t errorCode) { return errorCode == 5; }

uint32_t processId() { return ipcProcessId; }

}  // namespace platform
