// Linux event loop standing in for the main window: one thread, poll() on a self-pipe
// with the nearest timer as time-out, so an idle program sleeps. Titles go to stdout,
// one line per change. Every signal that asks a program to end (SIGINT, SIGTERM, SIGHUP
// when the terminal closes, SIGQUIT) closes the "window" for an orderly shutdown, and a
// reader of stdout that went away (SIGPIPE) is no reason to end at all.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "platform/platform.h"

namespace {

// Windows clamps timer periods into this range; so do we, so a period of 0 does not
// spin and a huge one does not overflow the signed comparison of due times.
constexpr uint32_t TIMER_MINIMUM_MS = 10;
constexpr uint32_t TIMER_MAXIMUM_MS = 0x7FFFFFFF;

// The program has three timers; a linear scan over a few slots is cheaper than any
// ordered structure at this size.
constexpr int TIMER_SLOTS = 16;
struct Timer {
    bool armed;
    uint32_t id;
    uint32_t period;
    uint32_t due;
    uint32_t generation;  // changes on every set or kill, so a stale firing is dropped
};
Timer timers[TIMER_SLOTS];
uint32_t timerGeneration = 0;

const platform::WindowHandlers* windowHandlers = nullptr;
bool classRegistered = false;
bool windowOpen = false;
bool closeRequested = false;
// Set by the signal handler itself, so a loop thread busy in a long wait sees it.
volatile sig_atomic_t signalled = 0;
char currentTitle[256] = "";

// Work posted from any thread travels as a function pointer through this pipe; a write
// of one pointer is atomic, so no lock is needed. A null pointer means "close".
int wakeRead = -1;
int wakeWrite = -1;

bool dueBy(uint32_t due, uint32_t now) { return static_cast<int32_t>(now - due) >= 0; }

Timer* findTimer(uint32_t id) {
    for (Timer& t : timers) {
        if (t.armed && t.id == id) return &t;
    }
    return nullptr;
}

void onSignal(int) {
    int saved = errno;
    signalled = 1;
    void (*close)() = nullptr;
    if (wakeWrite >= 0) {
        ssize_t n = write(wakeWrite, &close, sizeof close);
        (void)n;  // a full pipe already holds a wake-up; nothing else can be done here
    }
    errno = saved;
}

bool openWakePipe() {
    if (wakeRead >= 0) return true;
    int fds[2];
    if (pipe(fds) != 0) return false;
    for (int fd : fds) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    wakeRead = fds[0];
    wakeWrite = fds[1];

    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return true;
}

void destroyWindow() {
    windowOpen = false;
    for (Timer& t : timers) t.armed = false;
}

// Runs whatever arrived through the pipe. Returns after the pipe is empty.
void drainWakePipe() {
    void (*work[64])();
    for (;;) {
        ssize_t n = read(wakeRead, work, sizeof work);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        size_t count = static_cast<size_t>(n) / sizeof work[0];
        for (size_t i = 0; i < count; ++i) {
            if (!work[i]) {
                closeRequested = true;
            } else if (windowOpen) {
                work[i]();
            }
        }
    }
}

// Fires every timer that is due at `now`. They are collected first and fired after, so
// a timer re-armed (or killed) by a handler of this pass does not fire again in it.
void fireDueTimers(uint32_t now) {
    struct Due {
        uint32_t id;
        uint32_t due;
        uint32_t generation;
    } due[TIMER_SLOTS];
    int count = 0;
    for (const Timer& t : timers) {
        if (t.armed && dueBy(t.due, now)) due[count++] = Due{t.id, t.due, t.generation};
    }
    // The longest overdue first; equal due times by id. Insertion sort over a few entries.
    for (int i = 1; i < count; ++i) {
        Due d = due[i];
        int j = i - 1;
        while (j >= 0 && (static_cast<int32_t>(due[j].due - d.due) > 0 ||
                          (due[j].due == d.due && due[j].id > d.id))) {
            due[j + 1] = due[j];
            --j;
        }
        due[j + 1] = d;
    }
    for (int i = 0; i < count && windowOpen && !closeRequested; ++i) {
        Timer* t = findTimer(due[i].id);
        if (!t || t->generation != due[i].generation) continue;
        // Periodic until killed, as on Windows; our handlers kill and re-arm themselves.
        t->due = now + t->period;
        if (windowHandlers && windowHandlers->onTimer) windowHandlers->onTimer(due[i].id);
    }
}

int pollTimeout(uint32_t now) {
    int timeout = -1;
    for (const Timer& t : timers) {
        if (!t.armed) continue;
        int32_t left = static_cast<int32_t>(t.due - now);
        if (left < 0) left = 0;
        if (timeout < 0 || left < timeout) timeout = left;
    }
    return timeout;
}

}  // namespace

namespace platform {

bool registerMainClass(const char* className, const WindowHandlers* handlers) {
    if (!className || !handlers || !openWakePipe()) return false;
    windowHandlers = handlers;
    classRegistered = true;
    return true;
}

bool stopRequested() { return signalled != 0 || closeRequested; }

bool startConsole() {
    openWakePipe();
    return isatty(STDOUT_FILENO) == 1;
}

bool createMainWindow(const char* title) {
    if (!classRegistered || windowOpen) return false;
    // Whatever a previous window left in the pipe was meant for that window.
    void (*stale[64])();
    while (read(wakeRead, stale, sizeof stale) > 0) {
    }
    windowOpen = true;
    closeRequested = false;
    signalled = 0;
    currentTitle[0] = '\0';
    setTitle(title ? title : "");
    if (windowHandlers->onCreate) windowHandlers->onCreate();
    return true;
}

void showMainMinimised() {}

void setTitle(const char* title) {
    if (!windowOpen || !title) return;
    if (std::strncmp(currentTitle, title, sizeof currentTitle - 1) == 0) return;
    std::snprintf(currentTitle, sizeof currentTitle, "%s", title);
    std::printf("title: %s\n", currentTitle);
    std::fflush(stdout);
}

void setTimer(uint32_t id, uint32_t ms) {
    if (!windowOpen) return;
    if (ms < TIMER_MINIMUM_MS) ms = TIMER_MINIMUM_MS;
    if (ms > TIMER_MAXIMUM_MS) ms = TIMER_MAXIMUM_MS;
    Timer* t = findTimer(id);
    if (!t) {
        for (Timer& slot : timers) {
            if (!slot.armed) {
                t = &slot;
                break;
            }
        }
        if (!t) return;
    }
    // The period runs from now, not from the loop's last clock reading: a handler that
    // blocked for seconds still gets its full period after it re-arms.
    *t = Timer{true, id, ms, tickCount() + ms, ++timerGeneration};
}

void killTimer(uint32_t id) {
    Timer* t = findTimer(id);
    if (t) {
        t->armed = false;
        t->generation = ++timerGeneration;
    }
}

int runMainLoop() {
    while (windowOpen) {
        if (closeRequested) {
            destroyWindow();
            break;
        }
        uint32_t now = tickCount();
        fireDueTimers(now);
        if (closeRequested || !windowOpen) continue;

        pollfd pfd{wakeRead, POLLIN, 0};
        int ready = poll(&pfd, 1, pollTimeout(tickCount()));
        if (ready < 0 && errno != EINTR) {
            // Without the pipe nothing could ever wake us again; end like a lost window.
            destroyWindow();
            break;
        }
        if (ready > 0) drainWakePipe();
    }
    return 0;
}

bool postToLoop(void (*work)()) {
    if (!work || wakeWrite < 0 || !classRegistered) return false;
    for (;;) {
        ssize_t n = write(wakeWrite, &work, sizeof work);
        if (n == static_cast<ssize_t>(sizeof work)) return true;
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

}  // namespace platform
