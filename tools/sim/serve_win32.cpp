// norvalume-sim's Windows front end: a real top-level window of the chosen class that
// answers the registered message, as the interface module does inside the simulator.
// Commands run on a reader thread; the module is shared under one critical section.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tools/sim/sim_app.h"

namespace {

CRITICAL_SECTION moduleLock;
UINT ipcMessage = 0;
HWND window = nullptr;
volatile LONG quitting = 0;
const SimOptions* runOptions = nullptr;

uint32_t processAtomBlock(ATOM atom) {
    char name[256];
    if (!GlobalGetAtomNameA(atom, name, sizeof name)) {
        simModule.exchanges++;
        return 0;
    }
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
    void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0) : nullptr;
    MEMORY_BASIC_INFORMATION info;
    uint32_t result = 0;
    if (view && VirtualQuery(view, &info, sizeof info) && info.RegionSize >= LINK_BLOCK_SIZE) {
        if (!sim::processBlock(&simModule, static_cast<uint8_t*>(view), LINK_BLOCK_SIZE, &result)) {
            // Silent: hold the sender until the fault is lifted, answering nothing.
            while (simModule.fault == sim::FAULT_SILENT && !quitting) {
                LeaveCriticalSection(&moduleLock);
                Sleep(20);
                EnterCriticalSection(&moduleLock);
            }
            result = 0;
        }
    } else {
        simModule.exchanges++;
    }
    if (view) UnmapViewOfFile(view);
    if (mapping) CloseHandle(mapping);
    return result;
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (ipcMessage && msg == ipcMessage) {
        EnterCriticalSection(&moduleLock);
        uint32_t result = processAtomBlock(ATOM(wParam));
        LeaveCriticalSection(&moduleLock);
        return LRESULT(result);
    }
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

bool runLine(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    EnterCriticalSection(&moduleLock);
    sim::CommandResult r = runSimLine(line);
    LeaveCriticalSection(&moduleLock);
    if (r.kind == sim::COMMAND_WAIT) Sleep(r.waitMs);
    return r.kind != sim::COMMAND_QUIT;
}

DWORD WINAPI commandThread(LPVOID) {
    bool go = true;
    for (size_t i = 0; go && i < runOptions->scriptLines.size(); i++)
        go = runLine(runOptions->scriptLines[i]);
    std::string line;
    char buf[4096];
    while (go && std::fgets(buf, sizeof buf, stdin)) {
        line += buf;
        if (line.empty() || line.back() != '\n') continue;  // a longer line goes on
        line.pop_back();
        go = runLine(line);
        line.clear();
    }
    if (go && !line.empty()) go = runLine(line);
    if (!go) {
        InterlockedExchange(&quitting, 1);
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
    return 0;  // without quit, keep serving after the input ends
}

}  // namespace

int serveSim(const SimOptions& options) {
    InitializeCriticalSection(&moduleLock);
    runOptions = &options;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    ipcMessage = RegisterWindowMessageA(LINK_MESSAGE_NAME);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.lpszClassName = options.windowClass.c_str();
    if (!ipcMessage || !RegisterClassA(&wc)) {
        std::fprintf(stderr, "norvalume-sim: cannot register the window class\n");
        return 1;
    }
    // Top-level and never shown: a message-only window would not be found by class.
    window = CreateWindowExA(0, wc.lpszClassName, "norvalume-sim", WS_OVERLAPPED, 0, 0, 0, 0,
                             nullptr, nullptr, instance, nullptr);
    if (!window) {
        std::fprintf(stderr, "norvalume-sim: cannot create the window\n");
        return 1;
    }
    std::printf("ready %s\n", options.windowClass.c_str());
    std::fflush(stdout);
    HANDLE reader = CreateThread(nullptr, 0, commandThread, nullptr, 0, nullptr);
    if (reader) CloseHandle(reader);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    InterlockedExchange(&quitting, 1);
    return 0;
}
