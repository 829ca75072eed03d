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
        if (!serveBlock(static_cast<uint8_t*>(view), &result)) {
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

// Runs one line; a wait sleeps for `speed` of it. False after a quit.
bool runLine(std::string line, double speed = 1.0, bool* waited = nullptr) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    EnterCriticalSection(&moduleLock);
    sim::CommandResult r = runSimLine(line);
    LeaveCriticalSection(&moduleLock);
    if (r.kind == sim::COMMAND_WAIT) {
        const uint32_t ms = sim::scaledWaitMs(r.waitMs, speed);
        Sleep(ms);
        if (waited && ms) *waited = true;
    }
    return r.kind != sim::COMMAND_QUIT;
}

// The script once, or over and over with --loop; a pass that never waited sleeps a
// millisecond before the next. False after a quit.
bool playScript() {
    const std::vector<std::string>& lines = runOptions->scriptLines;
    bool go = true;
    do {
        bool waited = false;
        for (size_t i = 0; go && i < lines.size(); i++)
            go = runLine(lines[i], runOptions->speed, &waited);
        if (go && runOptions->loop && !waited) Sleep(1);
    } while (go && runOptions->loop && !lines.empty() && !quitting);
    return go;
}

void endServing() {
    InterlockedExchange(&quitting, 1);
    PostMessageA(window, WM_CLOSE, 0, 0);
}

// Standard input to its end. False after a quit.
bool playInput() {
    bool go = true;
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
    return go;
}

// Without quit, the serving goes on after the script and the input end.
DWORD WINAPI commandThread(LPVOID) {
    if (!playScript() || !playInput()) endServing();
    return 0;
}

// A looping script never ends: standard input gets a thread of its own.
DWORD WINAPI scriptThread(LPVOID) {
    if (!playScript()) endServing();
    return 0;
}

DWORD WINAPI inputThread(LPVOID) {
    if (!playInput()) endServing();
    return 0;
}

void startThread(LPTHREAD_START_ROUTINE routine) {
    HANDLE thread = CreateThread(nullptr, 0, routine, nullptr, 0, nullptr);
    if (thread) CloseHandle(thread);
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
    if (options.loop) {
        startThread(scriptThread);
        startThread(inputThread);
    } else {
        startThread(commandThread);
    }
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    InterlockedExchange(&quitting, 1);
    return 0;
}
