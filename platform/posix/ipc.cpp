// IPC services (placeholder until the link lands).
#include "platform/platform.h"

namespace platform {
WindowRef findWindowByClass(const char*) { return 0; }
uint32_t registerMessage(const char*) { return 0; }
uint16_t addAtom(const char*) { return 0; }
void deleteAtom(uint16_t) {}
MappingRef createSharedMemory(const char*, uint32_t, bool* existed) {
    if (existed) *existed = false;
    return 0;
}
void* mapSharedMemory(MappingRef, uint32_t) { return nullptr; }
void unmapSharedMemory(void*, uint32_t) {}
void closeSharedMemory(MappingRef) {}
bool sendMessageTimeout(WindowRef, uint32_t, uintptr_t, intptr_t, uint32_t, uint32_t*) {
    return false;
}
uint32_t lastErrorCode() { return 0; }
uint32_t processId() { return 1; }
}  // namespace platform
