// Fake platform, event loop: an in-process window that keeps records for the tests and
// plays timers on the fake clock.
#include "fake_loop.h"

#include "fake_time.h"

namespace fake {
Fault registerClassFails = {};
Fault createWindowFails = {};
Fault postFails = {};
std::string registeredClass;
bool windowOpen = false;
int createCalls = 0;
int showCalls = 0;
std::vector<std::string> titles;
std::vector<TimerOp> timerOps;
std::map<uint32_t, ArmedTimer> armedTimers;
std::vector<void (*)()> posted;
void (*loopHook)() = nullptr;
uint32_t loopBudgetMs = 0;
int loopExitCode = 0;
int loopRuns = 0;

namespace {
const platform::WindowHandlers* handlers = nullptr;
}

void fireTimer(uint32_t id) {
    if (handlers && handlers->onTimer) handlers->onTimer(id);
}

size_t drainPosted() {
    size_t ran = 0;
    while (!posted.empty()) {
        void (*work)() = posted.front();
        posted.erase(posted.begin());
        work();
        ++ran;
    }
    return ran;
}

bool stopPending = false;
void (*stopAskedHook)() = nullptr;

void endSession() {
    if (handlers && handlers->onSessionEnd) handlers->onSessionEnd();
    closeWindow();
}

void resetLoop() {
    stopPending = false;
    stopAskedHook = nullptr;
    registerClassFails = false;
    createWindowFails = false;
    postFails = false;
    registeredClass.clear();
    windowOpen = false;
    createCalls = 0;
    showCalls = 0;
    titles.clear();
    timerOps.clear();
    armedTimers.clear();
    posted.clear();
    loopHook = nullptr;
    loopBudgetMs = 0;
    loopExitCode = 0;
    loopRuns = 0;
    handlers = nullptr;
}

void closeWindow() {
    windowOpen = false;
    armedTimers.clear();
}
}  // namespace fake

namespace platform {

bool registerMainClass(const char* className, const WindowHandlers* h) {
    if (trips(fake::registerClassFails) || !className || !h) return false;
    fake::registeredClass = className;
    fake::handlers = h;
    return true;
}

bool createMainWindow(const char* title) {
    ++fake::createCalls;
    if (trips(fake::createWindowFails) || fake::registeredClass.empty()) return false;
    fake::windowOpen = true;
    fake::titles.push_back(title ? title : "");
    if (fake::handlers->onCreate) fake::handlers->onCreate();
    return true;
}

void showMainMinimised() { ++fake::showCalls; }

void setTitle(const char* title) { fake::titles.push_back(title ? title : ""); }

void setTimer(uint32_t id, uint32_t ms) {
    fake::timerOps.push_back(fake::TimerOp{true, id, ms, fake::nowMs});
    fake::armedTimers[id] = fake::ArmedTimer{ms, fake::nowMs + ms};
}

void killTimer(uint32_t id) {
    fake::timerOps.push_back(fake::TimerOp{false, id, 0, fake::nowMs});
    fake::armedTimers.erase(id);
}

int runMainLoop() {
    ++fake::loopRuns;
    if (fake::loopHook) fake::loopHook();
    uint32_t start = fake::nowMs;
    while (fake::windowOpen) {
        fake::drainPosted();
        if (!fake::windowOpen || fake::armedTimers.empty()) break;
        auto next = fake::armedTimers.begin();
        for (auto it = fake::armedTimers.begin(); it != fake::armedTimers.end(); ++it) {
            if (static_cast<int32_t>(it->second.due - next->second.due) < 0) next = it;
        }
        uint32_t due = next->second.due;
        if (static_cast<int32_t>(due - fake::nowMs) > 0) {
            if (due - start > fake::loopBudgetMs) break;
            fake::nowMs = due;
        }
        // Periodic until killed, as on Windows.
        uint32_t id = next->first;
        next->second.due = fake::nowMs + (next->second.period ? next->second.period : 10);
        fake::fireTimer(id);
    }
    return fake::loopExitCode;
}

bool stopRequested() {
    if (fake::stopAskedHook) fake::stopAskedHook();
    return fake::stopPending;
}

bool startConsole() { return false; }

bool postToLoop(void (*work)()) {
    if (trips(fake::postFails) || !work || fake::registeredClass.empty()) return false;
    fake::posted.push_back(work);
    return true;
}

}  // namespace platform
