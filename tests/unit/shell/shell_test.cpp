// The shell: the settings path, the [Config] keys, the start-up failures with their exit
// codes and beeps, the creation handlers' order, timer dispatch and the shutdown order,
// with the whole program running on the fake platform.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/items.h"
#include "config/loader.h"
#include "devices/devices.h"
#include "eval/eval.h"
#include "fake_platform/fake_dl.h"
#include "fake_platform/fake_ipc.h"
#include "fake_platform/fake_loop.h"
#include "fake_platform/fake_profile.h"
#include "fake_platform/fake_time.h"
#include "link/link.h"
#include "platform/platform.h"
#include "shell/shell.h"

namespace {

TEST(IniPath, LastDotOfTheWholePathIsReplaced) {
    struct Case {
        const char* program;
        const char* expected;
    } cases[] = {
        {"C:\\tools\\panel.exe", "C:\\tools\\panel.ini"},
        {"C:\\a.b\\panel", "C:\\a.ini"},
        {"C:\\tools\\panel", "ini"},
        {"", "ini"},
        {"/opt/norvalume/norvalume.", "/opt/norvalume/norvalume.ini"},
        {"panel.tar.gz", "panel.tar.ini"},
    };
    for (const Case& c : cases) {
        char out[INI_PATH_SIZE];
        deriveIniPath(c.program, out, sizeof out);
        EXPECT_STREQ(out, c.expected) << c.program;
    }
}

TEST(IniPath, LongestProgramPathStaysInsideTheBuffer) {
    // 258 characters, then ".x": "ini" would need 261 characters plus the zero.
    std::string program(258, 'p');
    program += ".x";
    char out[INI_PATH_SIZE + 8];
    std::memset(out, '#', sizeof out);
    deriveIniPath(program.c_str(), out, INI_PATH_SIZE);
    EXPECT_EQ(std::strlen(out), static_cast<size_t>(INI_PATH_SIZE - 1));
    EXPECT_EQ(std::string(out).substr(0, 259), program.substr(0, 259));
    EXPECT_EQ(out[INI_PATH_SIZE], '#');
}

TEST(CommandLine, IdentifySwitchInEitherFormAndItsSeconds) {
    struct Case {
        std::vector<const char*> args;
        StartMode mode;
        uint32_t seconds;
    } cases[] = {
        {{}, START_NORMAL, 10},
        {{"--identify"}, START_IDENTIFY, 10},
        {{"/IDENTIFY=3"}, START_IDENTIFY, 3},
        {{"other", "--Identify=3600", "more"}, START_IDENTIFY, 3600},
        {{"--identify=0"}, START_BAD_SWITCH, 0},
        {{"/identify=3601"}, START_BAD_SWITCH, 0},
        {{"/identify=99999999999"}, START_BAD_SWITCH, 0},
        {{"/identify="}, START_BAD_SWITCH, 0},
        {{"--identify=5s"}, START_BAD_SWITCH, 0},
        {{"-identify", "--identity", "/identifyx", "identify"}, START_NORMAL, 10},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"norvalume.exe"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        StartRequest r = readCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(r.mode, c.mode) << (c.args.empty() ? "" : c.args[0]);
        if (c.mode == START_IDENTIFY) {
            EXPECT_EQ(r.seconds, c.seconds);
        }
    }
}

// Resets every subsystem the program touches, and puts the program at a temp path.
class Program : public ::testing::Test {
protected:
    std::string ini;

    void SetUp() override {
        fake::resetTime();
        fake::resetProfile();
        fake::resetLoop();
        fake::resetIpc();
        fake::installFakeLibrary();
        fake::dlOnFree = nullptr;
        fake::nowMs = 10000;  // the system has been up a while
        std::string program = fake::tempFilePath("norvalume.exe");
        ini = fake::tempFilePath("norvalume.ini");
        std::snprintf(fake::programPathText, sizeof fake::programPathText, "%s", program.c_str());
        resetLinkStatus();
        resetShell();
        resetLoader();
        resetDevices();
        resetScanState();
        resetSimStatus();
        freeItemTable();
    }
    void TearDown() override {
        shutdownNorvalume();
        fake::dlOnFree = nullptr;
    }

    // The first time each timer was armed, in order.
    std::vector<uint32_t> firstArmOrder() const {
        std::vector<uint32_t> order;
        for (const fake::TimerOp& op : fake::timerOps) {
            bool seen = false;
            for (uint32_t id : order) seen = seen || id == op.id;
            if (op.set && !seen) order.push_back(op.id);
        }
        return order;
    }
    uint32_t lastPeriod(uint32_t id) const {
        uint32_t ms = 0;
        for (const fake::TimerOp& op : fake::timerOps) {
            if (op.set && op.id == id) ms = op.ms;
        }
        return ms;
    }
    std::string report(const char* key) {
        char buf[256];
        platform::profileGet(ini.c_str(), "GF Connections", key, buf, sizeof buf);
        return buf;
    }
};

TEST_F(Program, ConfigKeysParsedFromTheSettingsFile) {
    struct Case {
        const char* file;
        uint32_t scan;
        uint32_t revision;
    } cases[] = {
        {"[Config]\r\nScanInterval=100\r\nRevisionTime=5\r\n", 100, 5000},
        {"[Config]\r\nScanInterval=abc\r\nRevisionTime=abc\r\n", 0, 1000},
        {"[Config]\r\nRevisionTime=0\r\n", 220, 1000},
        {"[Config]\r\nScanInterval=-50\r\nRevisionTime=-3\r\n", 0, 1000},
        {"[Config]\r\nScanInterval=  150 ms\r\nRevisionTime=2.9\r\n", 150, 2000},
        {"[Config]\r\nScanInterval=\r\nRevisionTime=\r\n", 220, 2500},
        {"[Config]\r\nRevisionTime=99999999\r\n", 220, 0x7FFFFFFF},
        {"[Other]\r\nScanInterval=100\r\n", 220, 2500},
        {nullptr, 220, 2500},
    };
    for (const Case& c : cases) {
        if (c.file) {
            fake::writeFile(ini, c.file);
        } else {
            std::remove(ini.c_str());
        }
        // Each case reads over what the one before left, so a default must be put back.
        readShellSettings();
        EXPECT_EQ(std::string(shellSettings().iniPath), ini);
        EXPECT_EQ(shellSettings().scanPeriod, c.scan) << (c.file ? c.file : "no file");
        EXPECT_EQ(shellSettings().revisionPeriod, c.revision) << (c.file ? c.file : "no file");
    }
}

TEST_F(Program, FailedStartsEndWithTheirCodeAndBeep) {
    struct Case {
        const char* name;
        bool classFails;
        bool noLibrary;
        bool windowFails;
        int initResult;
        int code;
        uint32_t beep;
        int windowsCreated;
        int libraryFrees;
        const char* report;  // GFDev afterwards; the earlier start's report when untouched
    } cases[] = {
        {"class refused", true, false, false, 0, 1, platform::BEEP_EXCLAMATION, 0, 0,
         "DLL found"},
        {"library missing", false, true, false, 0, 2, platform::BEEP_ASTERISK, 0, 0,
         "DLL not found"},
        {"library refuses init", false, false, false, 1, 2, platform::BEEP_ASTERISK, 0, 1,
         "initialisation failed"},
        {"window refused", false, false, true, 0, 3, platform::BEEP_ASTERISK, 1, 1,
         "DLL found"},
    };
    for (const Case& c : cases) {
        SetUp();
        // An earlier start's report, which a failed binding must not leave standing.
        fake::writeFile(ini, "[GF Connections]\r\nGFDev=DLL found\r\nGFMCP=1\r\n"
                             "Ombrex=incorrect version, needs >= 3.465\r\n"
                             "[GFMCP.0]\r\nD0=1\r\n");
        fake::registerClassFails = c.classFails;
        fake::createWindowFails = c.windowFails;
        if (c.noLibrary) fake::removeFakeLibrary();
        fake::setFakeInitResult(c.initResult);
        EXPECT_EQ(runNorvalume(), c.code) << c.name;
        EXPECT_EQ(fake::beeps, std::vector<uint32_t>{c.beep}) << c.name;
        EXPECT_EQ(fake::createCalls, c.windowsCreated) << c.name;
        EXPECT_EQ(fake::loopRuns, 0) << c.name;
        EXPECT_EQ(fake::dlFreeCount, c.libraryFrees) << c.name;
        if (c.classFails) {
            EXPECT_TRUE(fake::dlLoadAttempts.empty()) << "bound before the class";
        }
        EXPECT_EQ(report("GFDev"), c.report) << c.name;
        bool bindingFailed = c.code == EXIT_NO_DEVICE_LIBRARY;
        EXPECT_EQ(report("GFMCP"), bindingFailed ? "" : "1") << c.name;
        EXPECT_EQ(report("Ombrex").empty(), bindingFailed) << c.name;
        EXPECT_NE(fake::readFile(ini).find("[GFMCP.0]\r\nD0=1\r\n"), std::string::npos);
    }
}

TEST_F(Program, CreationScansThenLoadsForcedThenTriesTheLink) {
    fake::writeFile(ini, "[Config]\r\nScanInterval=150\r\nRevisionTime=4\r\n");
    fake::loopHook = [] { fake::closeWindow(); };
    EXPECT_EQ(runNorvalume(), 0);

    EXPECT_EQ(fake::registeredClass, "NORVALUME");
    EXPECT_EQ(fake::showCalls, 1);
    EXPECT_EQ(firstArmOrder(), (std::vector<uint32_t>{SCAN_TIMER_ID, RELOAD_TIMER_ID, LINK_TIMER_ID}));
    EXPECT_EQ(lastPeriod(SCAN_TIMER_ID), 150u);
    EXPECT_EQ(lastPeriod(RELOAD_TIMER_ID), 4000u);
    EXPECT_EQ(lastPeriod(LINK_TIMER_ID), LINK_TIMER_PERIOD_MS);
    // The first scan ran before anything else and set the title; the forced load wrote
    // the report although the file had not changed since the program read it.
    ASSERT_GE(fake::titles.size(), 2u);
    EXPECT_EQ(fake::titles[0], "Norvalume");
    EXPECT_EQ(fake::titles[1], "Norvalume: waiting");
    EXPECT_EQ(report("GFDev"), "DLL found");
}

TEST_F(Program, TitleTurnsConnectedAtTheFirstScanAfterTheLinkCameUp) {
    fake::installModule("FS98MAIN");
    fake::loopBudgetMs = 1000;
    EXPECT_EQ(runNorvalume(), 0);
    EXPECT_EQ(fake::titles,
              (std::vector<std::string>{"Norvalume", "Norvalume: waiting", "Norvalume: connected"}));
}

TEST_F(Program, TimerIdsReachTheirHandlers) {
    struct Case {
        uint32_t id;
        uint32_t rearmedId;  // 0: nothing may run
    } cases[] = {{LINK_TIMER_ID, LINK_TIMER_ID},
                 {SCAN_TIMER_ID, SCAN_TIMER_ID},
                 {RELOAD_TIMER_ID, RELOAD_TIMER_ID},
                 {0, 0},
                 {4, 0}};
    fake::loopHook = [] { fake::closeWindow(); };
    ASSERT_EQ(runNorvalume(), 0);
    ASSERT_TRUE(bindDeviceLibrary(nullptr));
    for (const Case& c : cases) {
        fake::timerOps.clear();
        onMainWindowTimer(c.id);
        if (c.rearmedId == 0) {
            EXPECT_TRUE(fake::timerOps.empty()) << c.id;
            continue;
        }
        // Each handler stops its own timer on entry and arms it again at its end.
        ASSERT_EQ(fake::timerOps.size(), 2u) << c.id;
        EXPECT_FALSE(fake::timerOps[0].set);
        EXPECT_EQ(fake::timerOps[0].id, c.rearmedId);
        EXPECT_TRUE(fake::timerOps[1].set);
        EXPECT_EQ(fake::timerOps[1].id, c.rearmedId);
    }
}

bool linkUpAtRelease = true;
uint32_t viewsAtRelease = 99;

TEST_F(Program, ShutdownClosesTheLinkBeforeReleasingTheLibrary) {
    fake::installModule("FS98MAIN");
    fake::writeFile(ini, "[Conditions]\r\n0=0x3304,U8\r\n");
    fake::loopHook = [] {
        // The creation handlers opened the link; the user closes the window.
        EXPECT_TRUE(linkStatus().connected);
        EXPECT_EQ(fake::ipcViewsLive, 1u);
        fake::closeWindow();
    };
    fake::dlOnFree = [] {
        linkUpAtRelease = linkStatus().connected;
        viewsAtRelease = fake::ipcViewsLive;
    };
    fake::loopExitCode = 0;
    EXPECT_EQ(runNorvalume(), 0);
    EXPECT_FALSE(linkUpAtRelease);
    EXPECT_EQ(viewsAtRelease, 0u);
    EXPECT_EQ(fake::ipcAtomsLive, 0u);
    EXPECT_EQ(fake::dlFreeCount, 1);
    ASSERT_FALSE(fake::dlLog.empty());
    EXPECT_EQ(fake::dlLog.back(), "GFDev_Terminate");
    EXPECT_EQ(itemCount(), 0);
    EXPECT_EQ(itemCapacity(), 0);

    // A second shutdown finds everything released and does nothing.
    shutdownNorvalume();
    EXPECT_EQ(fake::dlFreeCount, 1);
}

TEST_F(Program, IdentifyLightsEveryUnitForItsTimeThenGoesDarkAlsoWhenStopped) {
    fake::setFakeUnits(DEV_GF166, 2);
    for (bool stop : {false, true}) {
        fake::clearDlLog();
        fake::stopPending = stop;
        const uint32_t slept = fake::totalSleptMs;
        EXPECT_EQ(runIdentify(3), 0);
        EXPECT_EQ(fake::totalSleptMs - slept, stop ? 0u : 3000u);
        const std::string log = fake::dlLogText();
        const size_t lit = log.find("GF166_SetIndicators 1 0x7");
        const size_t dark = log.find("GF166_SetIndicators 1 0x0");
        EXPECT_NE(lit, std::string::npos) << log;
        EXPECT_LT(lit, dark) << log;
        EXPECT_LT(dark, log.find("GFDev_Terminate")) << log;
    }
    EXPECT_EQ(fake::profileReads, 0);  // no settings file involved
}

TEST_F(Program, ExitCodeIsWhatTheLoopEndedWith) {
    fake::loopExitCode = 7;
    fake::loopHook = [] { fake::closeWindow(); };
    EXPECT_EQ(runNorvalume(), 7);
    EXPECT_TRUE(fake::beeps.empty());
}

}  // namespace
