// IPC with the interface module on Windows: a thin pass-through to the window, atom and
// file-mapping functions. The module finds our block by the atom's name and answers the
// registered message synchronously.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

// Windows keeps each session's windows apart itself.
bool prepareIpc(char* why, uint32_t size) {
    if (size > 0) why[0] = '\0';
    return true;
}

WindowRef findWindowByClass(const char* className) {
    return WindowRef(FindWindowExA(nullptr, nullptr, className, nullptr));
}

uint32_t registerMessage(const char* name) { return RegisterWindowMessageA(name); }

uint16_t addAtom(const char* name) { return GlobalAddAtomA(name); }

void deleteAtom(uint16_t atom) { GlobalDeleteAtom(atom); }

MappingRef createSharedMemory(const char* name, uint32_t size, bool* existed) {
    HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
    // Must be read straight after the call: it is the only sign the name was taken.
    if (existed) *existed = h != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    return MappingRef(h);
}

void* mapSharedMemory(MappingRef mapping, uint32_t) {
    return MapViewOfFile(HANDLE(mapping), FILE_MAP_WRITE, 0, 0, 0);
}

void unmapSharedMemory(void* view, uint32_t) {
    if (view) UnmapViewOfFile(view);
}

void closeSharedMemory(MappingRef mapping) {
    if (mapping) CloseHandle(HANDLE(mapping));
}

void removeOrphanedSharedMemory() {}

bool sendMessageTimeout(WindowRef window, uint32_t message, uintptr_t wParam,
                        intptr_t lParam, uint32_t timeoutMs, uint32_t* result) {
    DWORD_PTR answer = 0;
    // A failed send need not set an error code; a stale one must not pass for it.
    SetLastError(0);
    LRESULT delivered = SendMessageTimeoutA(HWND(window), message, WPARAM(wParam),
                                            LPARAM(lParam), SMTO_BLOCK, timeoutMs, &answer);
    if (!delivered) return false;
    *result = uint32_t(answer);
    return true;
}

uint32_t lastErrorCode() { return GetLastError(); }

// What a send across rights (User Interface Privilege Isolation) fails with.
bool accessDenied(uint32_t errorCode) { return errorCode == ERROR_ACCESS_DENIED; }

uint32_t processId() { return GetCurrentProcessId(); }

}  // namespace platform
