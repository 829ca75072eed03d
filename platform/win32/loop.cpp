// Windows event loop: the real main window of class "NORVALUME", created minimised and
// never drawn, owning the timers (WM_TIMER) and the title. Work from other threads
// arrives as a posted message and runs on the loop's thread. At log-off the system ends
// the process right after WM_ENDSESSION, without a WM_CLOSE: that message is the last
// chance to put things away.
#include <windows.h>

#include <atomic>

#include "platform/platform.h"

namespace {

constexpr UINT WM_RUN_WORK = WM_APP + 1;  // lParam: the function to run
constexpr int ICON_RESOURCE_ID = 102;

const platform::WindowHandlers* windowHandlers = nullptr;
const char* registeredClass = nullptr;
std::atomic<HWND> mainWindow{nullptr};
std::atomic<DWORD> loopThread{0};

// Set by the console's control handler, which runs on a thread of its own.
std::atomic<bool> consoleStop{false};
// The session is ending: a wait of the loop thread gives up.
std::atomic<bool> sessionEnding{false};

// Every handler stops its timer on entry and arms it again at its end. Under Wine each
// timer call is a request to the server, several times a second, so both are kept here
// where they can be: a stop only marks the timer (a WM_TIMER of a stopped timer is
// dropped, and a timer still stopped when its next WM_TIMER comes is killed for real),
// and arming it again with the same period soon after the stop leaves the system's timer
// running: its next WM_TIMER comes a period after the last, late by no more than the
// handler took. After a longer handler (a silent interface module) the timer is armed
// anew so that a whole period follows it. Ids beyond the table go straight to the system.
constexpr uint32_t LAZY_TIMER_IDS = 8;
constexpr DWORD REARM_SLACK_MS = 20;
struct LazyTimer {
    bool stopped;
    uint32_t period;  // of the system's timer; 0 when it is not running
    DWORD stoppedAt;  // GetTickCount() of the stop
};
LazyTimer lazyTimers[LAZY_TIMER_IDS] = {};

// True when the timer's WM_TIMER is to be handled; a stopped timer is killed instead.
bool timerRunning(HWND hwnd, uint32_t id) {
    if (id >= LAZY_TIMER_IDS || !lazyTimers[id].stopped) return true;
    KillTimer(hwnd, id);
    lazyTimers[id].period = 0;
    return false;
}

// Ctrl-C, Ctrl-Break and the console closing become a stop request; the handler returns
// at once, and the tool ends on its own thread (for a close, within the system's grace).
BOOL WINAPI onConsoleControl(DWORD) {
    consoleStop.store(true);
    return TRUE;
}

// Everything is put away before returning; should the system let the process live on,
// the window closes and the loop ends as after a close.
void endSession(HWND hwnd) {
    sessionEnding.store(true);
    if (windowHandlers && windowHandlers->onSessionEnd) windowHandlers->onSessionEnd();
    DestroyWindow(hwnd);
}

void runWork(LPARAM lParam) {
    void (*work)() = reinterpret_cast<void (*)()>(lParam);
    if (work) work();
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            // The creation handlers already set the title and timers on this window.
            mainWindow = hwnd;
            if (windowHandlers && windowHandlers->onCreate) windowHandlers->onCreate();
            return 0;
        case WM_TIMER:
            if (windowHandlers && windowHandlers->onTimer &&
                timerRunning(hwnd, static_cast<uint32_t>(wParam))) {
                windowHandlers->onTimer(static_cast<uint32_t>(wParam));
            }
            return 0;
        case WM_RUN_WORK:
            runWork(lParam);
            return 0;
        case WM_CLOSE:
            DestroyWindow(hwnd);
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;  // nothing to save: the session may end
        case WM_ENDSESSION:
            if (wParam) endSession(hwnd);
            return 0;
        case WM_DESTROY:
            mainWindow = nullptr;
            PostQuitMessage(0);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(hwnd, &ps);
            EndPaint(hwnd, &ps);
            break;
        }
        default:
            break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

namespace platform {

bool registerMainClass(const char* className, const WindowHandlers* handlers) {
    if (!className || !handlers) return false;
    HINSTANCE instance = static_cast<HINSTANCE>(programInstance());
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(ICON_RESOURCE_ID));
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = className;
    windowHandlers = handlers;
    if (!RegisterClassA(&wc)) return false;
    registeredClass = className;
    loopThread = GetCurrentThreadId();
    return true;
}

bool createMainWindow(const char* title) {
    if (!registeredClass) return false;
    HWND hwnd = CreateWindowExA(0, registeredClass, title, WS_MINIMIZE | WS_CAPTION | WS_SYSMENU,
                                0, 0, 0, 0, nullptr, nullptr,
                                static_cast<HINSTANCE>(programInstance()), nullptr);
    if (!hwnd) return false;
    mainWindow = hwnd;
    return true;
}

void showMainMinimised() {
    HWND hwnd = mainWindow;
    if (hwnd) ShowWindow(hwnd, SW_MINIMIZE);
}

void setTitle(const char* title) {
    HWND hwnd = mainWindow;
    if (hwnd && title) SetWindowTextA(hwnd, title);
}

void setTimer(uint32_t id, uint32_t ms) {
    HWND hwnd = mainWindow;
    if (!hwnd) return;
    if (id >= LAZY_TIMER_IDS) {
        SetTimer(hwnd, id, ms, nullptr);
        return;
    }
    LazyTimer& timer = lazyTimers[id];
    const bool keepsRunning = timer.stopped && timer.period == ms && ms != 0 &&
                              GetTickCount() - timer.stoppedAt <= REARM_SLACK_MS;
    if (!keepsRunning) {
        if (!SetTimer(hwnd, id, ms, nullptr)) return;
        timer.period = ms;
    }
    timer.stopped = false;
}

void killTimer(uint32_t id) {
    HWND hwnd = mainWindow;
    if (!hwnd) return;
    if (id >= LAZY_TIMER_IDS) {
        KillTimer(hwnd, id);
        return;
    }
    if (!lazyTimers[id].stopped) lazyTimers[id].stoppedAt = GetTickCount();
    lazyTimers[id].stopped = true;
}

int runMainLoop() {
    MSG msg = {};
    for (;;) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        // Work posted before the window existed arrives as a thread message.
        if (msg.hwnd == nullptr && msg.message == WM_RUN_WORK) {
            runWork(msg.lParam);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

bool stopRequested() {
    if (consoleStop.load() || sessionEnding.load()) return true;
    // Looked at, not taken: the loop still handles the message when it gets to it.
    MSG msg;
    return PeekMessageA(&msg, nullptr, WM_CLOSE, WM_CLOSE, PM_NOREMOVE) ||
           PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE);
}

bool startConsole() {
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !out || !GetConsoleMode(out, &mode)) return false;
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

bool postToLoop(void (*work)()) {
    if (!work) return false;
    LPARAM lParam = reinterpret_cast<LPARAM>(work);
    HWND hwnd = mainWindow;
    if (hwnd) return PostMessageA(hwnd, WM_RUN_WORK, 0, lParam) != 0;
    DWORD thread = loopThread;
    return thread != 0 && PostThreadMessageA(thread, WM_RUN_WORK, 0, lParam) != 0;
}

}  // namespace platform
