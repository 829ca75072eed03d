// The Linux event loop: timer order and re-arming within one pass, clamped periods,
// work posted from another thread, the ending signals as a close (and SIGPIPE as
// nothing), titles on stdout, idle cost.
#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

struct Fired {
    uint32_t id;
    uint32_t at;
};
std::vector<Fired> fired;
void (*timerScript)(uint32_t id) = nullptr;
void (*createScript)() = nullptr;

void onCreate() {
    if (createScript) createScript();
}
void onTimer(uint32_t id) {
    fired.push_back(Fired{id, platform::tickCount()});
    if (timerScript) timerScript(id);
}
const platform::WindowHandlers handlers{onCreate, onTimer, nullptr};

class Loop : public ::testing::Test {
protected:
    void SetUp() override {
        fired.clear();
        timerScript = nullptr;
        createScript = nullptr;
        ASSERT_TRUE(platform::registerMainClass("NORVALUME", &handlers));
    }
    void create() {
        testing::internal::CaptureStdout();
        bool ok = platform::createMainWindow("Norvalume");
        output = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(ok);
    }
    // Runs the loop until a timer script closes the window, or 2 s as a safety net.
    int run() {
        platform::setTimer(99, 2000);
        testing::internal::CaptureStdout();
        int code = platform::runMainLoop();
        output += testing::internal::GetCapturedStdout();
        return code;
    }
    // run(), and the process's CPU time it took, in milliseconds.
    double runCpuMs() {
        timespec before, after;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
        run();
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
        return (after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6;
    }
    std::vector<uint32_t> ids() const {
        std::vector<uint32_t> out;
        for (const Fired& f : fired) out.push_back(f.id);
        return out;
    }
    std::string output;
};

void closeOnSafetyNet(uint32_t id) {
    if (id == 99) raise(SIGTERM);
}

TEST_F(Loop, CreateRunsTheHandlerAndPrintsTheTitleOncePerChange) {
    createScript = [] {
        platform::setTitle("Norvalume: waiting");
        platform::setTitle("Norvalume: waiting");
        platform::setTitle("Norvalume: connected");
        raise(SIGTERM);
    };
    create();
    EXPECT_EQ(output,
              "title: Norvalume\ntitle: Norvalume: waiting\ntitle: Norvalume: connected\n");
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(fired.empty());
}

TEST_F(Loop, TimerKilledOrRearmedByAnotherHandlerOfThePassDoesNotFireInIt) {
    create();
    // Both fall due in the same pass; 1 is older, so it runs first and disturbs 2 and 3.
    platform::setTimer(1, 20);
    platform::setTimer(2, 30);
    platform::setTimer(3, 30);
    timerScript = [](uint32_t id) {
        if (id == 1) {
            platform::killTimer(1);
            platform::killTimer(2);
            platform::setTimer(3, 100);
        }
        if (id == 3) raise(SIGTERM);
        closeOnSafetyNet(id);
    };
    // Let every timer fall due before the loop first looks at the clock.
    platform::sleepMs(40);
    EXPECT_EQ(run(), 0);
    ASSERT_EQ(ids(), (std::vector<uint32_t>{1, 3}));
    EXPECT_GE(fired[1].at - fired[0].at, 100u);
}

TEST_F(Loop, TimerRearmedInItsOwnHandlerWaitsAFullPeriodFromTheEndOfTheRun) {
    create();
    platform::setTimer(1, 20);
    timerScript = [](uint32_t id) {
        if (id == 1) {
            platform::killTimer(1);
            platform::sleepMs(50);  // a slow handler, like a blocking link exchange
            platform::setTimer(1, 20);
            if (fired.size() == 3) raise(SIGTERM);
        }
        closeOnSafetyNet(id);
    };
    run();
    ASSERT_EQ(ids(), (std::vector<uint32_t>{1, 1, 1}));
    // Each run took 50 ms and re-armed 20 ms: runs start 70 ms apart, never piled up.
    EXPECT_GE(fired[1].at - fired[0].at, 70u);
    EXPECT_GE(fired[2].at - fired[1].at, 70u);
}

TEST_F(Loop, SettingARunningTimerRestartsItsPeriod) {
    create();
    platform::setTimer(1, 60);
    platform::sleepMs(40);
    uint32_t restarted = platform::tickCount();
    platform::setTimer(1, 60);
    timerScript = [](uint32_t id) {
        if (id == 1) raise(SIGTERM);
        closeOnSafetyNet(id);
    };
    run();
    ASSERT_EQ(ids(), (std::vector<uint32_t>{1}));
    EXPECT_GE(fired[0].at - restarted, 60u);
}

TEST_F(Loop, ZeroPeriodIsClampedInsteadOfSpinning) {
    create();
    platform::setTimer(1, 0);
    platform::setTimer(2, 100);
    timerScript = [](uint32_t id) {
        if (id == 2) raise(SIGTERM);
        closeOnSafetyNet(id);
    };
    run();
    size_t ones = fired.size() - 1;
    EXPECT_GE(ones, 3u);
    EXPECT_LE(ones, 11u);
}

std::atomic<bool> postedOnLoopThread{false};
std::thread::id loopThread;
void postedWork() {
    postedOnLoopThread = std::this_thread::get_id() == loopThread;
    raise(SIGTERM);
}

TEST_F(Loop, WorkPostedFromAnotherThreadRunsOnTheLoopThread) {
    create();
    loopThread = std::this_thread::get_id();
    postedOnLoopThread = false;
    timerScript = closeOnSafetyNet;
    std::thread other([] {
        platform::sleepMs(30);
        EXPECT_TRUE(platform::postToLoop(postedWork));
    });
    run();
    other.join();
    EXPECT_TRUE(postedOnLoopThread);
    EXPECT_TRUE(fired.empty()) << "closed by the safety net, not by the posted work";
}

int stopSignal = SIGTERM;

// Every signal that asks a program to end closes the window in order: a terminal that
// closes sends SIGHUP, Ctrl-\\ SIGQUIT. A reader of stdout that went away (SIGPIPE) ends
// nothing: the timers keep firing until the signal that does.
TEST_F(Loop, EndingSignalsCloseTheWindowAndBrokenPipesChangeNothing) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(sig);
        fired.clear();
        create();
        platform::setTimer(1, 20);
        platform::setTimer(2, 40);
        stopSignal = sig;
        timerScript = [](uint32_t id) {
            if (id == 1) raise(SIGPIPE);
            if (id == 2) {
                platform::killTimer(1);
                platform::killTimer(2);
                raise(stopSignal);
            }
            closeOnSafetyNet(id);
        };
        EXPECT_EQ(run(), 0);
        ASSERT_GE(fired.size(), 2u);
        EXPECT_EQ(fired.back().id, 2u);
        EXPECT_FALSE(platform::postToLoop(nullptr));
    }
}

TEST_F(Loop, IdleLoopSleepsInsteadOfPolling) {
    create();
    platform::setTimer(1, 300);
    timerScript = [](uint32_t id) {
        if (id == 1) raise(SIGTERM);
        closeOnSafetyNet(id);
    };
    const double cpuMs = runCpuMs();
    EXPECT_EQ(ids(), (std::vector<uint32_t>{1}));
    EXPECT_LT(cpuMs, 50.0);
}

int expiries = 0;

// A timer falls due in the very tick its period ends: the loop fires it then, instead of
// polling without a pause until the next tick comes round, at every expiry.
TEST_F(Loop, TimerFiresInItsDueTickWithoutSpinningUntilTheNext) {
    create();
    platform::setTimer(1, 10);
    expiries = 0;
    timerScript = [](uint32_t id) {
        if (id == 1 && ++expiries == 60) raise(SIGTERM);
        closeOnSafetyNet(id);
    };
    const double cpuMs = runCpuMs();
    EXPECT_EQ(expiries, 60);
    EXPECT_LT(cpuMs, 15.0) << "the loop polled without pausing between expiries";
}

}  // namespace
