// Fake platform, event loop: records every title and timer operation, queues posted work
// until the test drains it, fires timers on demand, and can play the loop on the fake
// clock (nearest timer first) for a bounded time.
#pragma once

#include "fake_platform/fake_fault.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

extern Fault registerClassFails;  // registerMainClass returns false
extern Fault createWindowFails;   // createMainWindow returns false without running onCreate
extern Fault postFails;           // postToLoop returns false

extern std::string registeredClass;  // "" until registerMainClass succeeded
extern bool windowOpen;              // between createMainWindow and the close
extern int createCalls;              // createMainWindow calls, failed ones included
extern int showCalls;                // showMainMinimised calls
extern std::vector<std::string> titles;  // the creation title, then every setTitle

struct TimerOp {
    bool set;      // false: killTimer
    uint32_t id;
    uint32_t ms;   // 0 for a kill
    uint32_t at;   // fake clock when it happened
};
extern std::vector<TimerOp> timerOps;

struct ArmedTimer {
    uint32_t period;
    uint32_t due;
};
extern std::map<uint32_t, ArmedTimer> armedTimers;  // what is running now

extern std::vector<void (*)()> posted;  // postToLoop queue, oldest first

// Calls the onTimer handler for `id` as WM_TIMER would, armed or not.
void fireTimer(uint32_t id);
// Runs the queued work in order, including work queued meanwhile; returns how many ran.
size_t drainPosted();

// runMainLoop: calls loopHook (when set) first, then, until the window is closed or
// loopBudgetMs of fake time have passed, drains posted work and advances the fake clock
// to the nearest due timer and fires it. Returns loopExitCode.
extern void (*loopHook)();
extern uint32_t loopBudgetMs;
extern int loopExitCode;
extern int loopRuns;

// What stopRequested answers: a close asked for while the loop thread is busy.
extern bool stopPending;
// Called by stopRequested before it answers, as a wait that looks at the message queue
// may run a message sent to the window meanwhile. Null = none.
extern void (*stopAskedHook)();

// The end of the user's session as Windows delivers it: the onSessionEnd handler, then
// the window closes.
void endSession();

// Every switch, record and timer back to the start; no window, no class.
void resetLoop();

// Closes the window as the user would; the loop ends after it.
void closeWindow();

}  // namespace fake
