// Fake platform, IPC: an in-process interface module (the same sim::SimModule that
// norvalume-sim serves) behind scriptable windows, atoms and shared memory, with named
// failure switches. Tests call resetIpc() in SetUp; the default is "no window at all".
#pragma once

#include <cstdint>

#include "fake_platform/fake_fault.h"

#include "tools/sim/simcore.h"

namespace fake {

constexpr uint32_t FAKE_PROCESS_ID = 0x1A2C;  // what processId() returns by default

// Back to the start: no windows, a fresh module, every switch off, counters zero.
void resetIpc();

// Puts the module on a top-level window of `className` (one of LINK_WINDOW_CLASSES).
// Several may be installed at once; they share the one module. The module starts fresh
// (resetModule) only at resetIpc() or when resetModule is called on module().
void installModule(const char* className);
void removeModule(const char* className);

// The module itself: offset space, fault (sim::FAULT_*), counters.
sim::SimModule& module();
void setFault(sim::Fault fault, uint32_t arg = 0);

// The module's offset space, little-endian, as a test sets up the simulator.
void setBytes(uint32_t offset, const void* data, uint32_t size);
void getBytes(uint32_t offset, void* out, uint32_t size);
void setU8(uint32_t offset, uint8_t value);
void setU16(uint32_t offset, uint16_t value);
void setU32(uint32_t offset, uint32_t value);
void setF32(uint32_t offset, float value);
void setF64(uint32_t offset, double value);
void setText(uint32_t offset, const char* text);  // with its terminating zero
uint8_t getU8(uint32_t offset);
uint16_t getU16(uint32_t offset);
uint32_t getU32(uint32_t offset);

// Named failure switches, all off after resetIpc().
struct IpcFailures {
    Fault registerFails;    // registerMessage returns 0
    Fault atomFails;        // addAtom returns 0
    Fault mappingFails;     // createSharedMemory returns 0
    Fault mappingExists;    // createSharedMemory reports that the name existed
    Fault viewFails;        // mapSharedMemory returns nullptr
    Fault sendTimesOut;     // the send fails after its whole time-out, no error code
    uint32_t sendError;     // non-zero: every send fails with this error code
    // Non-zero: the module answers this instead of 1, without touching the block.
    // (Same as setFault(sim::FAULT_RESULT, n) but independent of the module's fault.)
    uint32_t answer;
    // Non-null: prepareIpc refuses with this message, as a run folder of another user is.
    const char* prepareRefused;
};
extern IpcFailures ipcFail;

// Counters since resetIpc().
extern uint32_t ipcSends;             // sendMessageTimeout calls
extern uint32_t ipcDelivered;         // sends that reached the module's block processing
extern uint32_t ipcWindowLookups;     // findWindowByClass calls
extern uint32_t ipcMappingsCreated;   // createSharedMemory calls that returned a mapping
extern uint32_t ipcAtomsLive;         // atoms added and not yet deleted
extern uint32_t ipcMappingsLive;      // mappings created and not yet closed
extern uint32_t ipcViewsLive;         // views mapped and not yet unmapped
extern char ipcLastAtomName[64];      // name of the last atom added ("" if none)

// Called with the block (LINK_BLOCK_SIZE bytes) of each delivered send, before the module
// processes it, so a test can look at what the client queued. Null = none.
extern void (*ipcBlockObserver)(const uint8_t* block, uint32_t size);
// Called after the module processed the block and before the answer goes back, so a
// test can tamper with the reply as another process could. Null = none.
extern void (*ipcReplyTamper)(uint8_t* block, uint32_t size);

// The class of the window the last send went to ("" before any), whether it was
// answered or not.
extern const char* ipcLastSendClass;

// What processId() returns; FAKE_PROCESS_ID after resetIpc().
extern uint32_t ipcProcessId;

}  // namespace fake
