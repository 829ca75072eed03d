// The shell: the settings path, the [Config] keys, the start-up failures with their exit
// codes and beeps, the creation handlers' order, timer dispatch and the shutdown order,
// with the whole program running on the fake platform.
#include <gtest/gtest.h>

#include <cstdio>
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
#include "version.h"

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

TEST(CommandLine, SwitchesInEitherFormAnythingElseIsNotUnderstood) {
    struct Case {
        std::vector<const char*> args;
        StartMode mode;
        uint32_t seconds;
        const char* argument;  // the one not understood
    } cases[] = {
        {{}, START_NORMAL, 10, nullptr},
        {{"--identify"}, START_IDENTIFY, 10, nullptr},
        {{"/IDENTIFY=3"}, START_IDENTIFY, 3, nullptr},
        {{"--identify=5", "--Identify=3600"}, START_IDENTIFY, 3600, nullptr},
        {{"--identify=0"}, START_BAD_SWITCH, 0, "--identify=0"},
        {{"/identify=3601"}, START_BAD_SWITCH, 0, "/identify=3601"},
        {{"/identify=99999999999"}, START_BAD_SWITCH, 0, "/identify=99999999999"},
        {{"/identify="}, START_BAD_SWITCH, 0, "/identify="},
        {{"--identify=5s"}, START_BAD_SWITCH, 0, "--identify=5s"},
        {{"--help"}, START_HELP, 0, nullptr},
        {{"/?"}, START_HELP, 0, nullptr},
        {{"--identify", "/HELP", "--bogus"}, START_HELP, 0, nullptr},
        {{"--Version"}, START_VERSION, 0, nullptr},
        {{"--identfy=3"}, START_UNKNOWN, 0, "--identfy=3"},
        {{"--bogus", "--help"}, START_UNKNOWN, 0, "--bogus"},
        {{"-identify"}, START_UNKNOWN, 0, "-identify"},
        {{"identify"}, START_UNKNOWN, 0, "identify"},
        {{"--identity"}, START_UNKNOWN, 0, "--identity"},
        {{"/identifyx"}, START_UNKNOWN, 0, "/identifyx"},
        {{"--helpme"}, START_UNKNOWN, 0, "--helpme"},
        {{"-?"}, START_UNKNOWN, 0, "-?"},
        {{""}, START_UNKNOWN, 0, ""},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"norvalume.exe"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const std::string name = c.args.empty() ? "(none)" : c.args[0];
        StartRequest r = readCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(r.mode, c.mode) << name;
        if (c.mode == START_IDENTIFY) {
            EXPECT_EQ(r.seconds, c.seconds) << name;
        }
        EXPECT_STREQ(r.argument ? r.argument : "(null)", c.argument ? c.argument : "(null)")
            << name;
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
        bool ipcRefused;
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
        {"run folder refused", true, false, false, false, 0, 6, platform::BEEP_ASTERISK, 0, 0,
         "DLL found"},
        {"class refused", false, true, false, false, 0, 1, platform::BEEP_EXCLAMATION, 0, 0,
         "DLL found"},
        {"library missing", false, false, true, false, 0, 2, platform::BEEP_ASTERISK, 0, 0,
         "DLL not found"},
        {"library refuses init", false, false, false, false, 1, 2, platform::BEEP_ASTERISK, 0,
         1, "initialisation failed"},
        {"window refused", false, false, false, true, 0, 3, platform::BEEP_ASTERISK, 1, 1,
         "DLL found"},
    };
    for (const Case& c : cases) {
        SetUp();
        // An earlier start's report, which a failed binding must not leave standing.
        fake::writeFile(ini, "[GF Connections]\r\nGFDev=DLL found\r\nGFMCP=1\r\n"
                             "Ombrex=incorrect version, needs >= 3.465\r\n"
                             "[GFMCP.0]\r\nD0=1\r\n");
        fake::ipcFail.prepareRefused = c.ipcRefused ? "run folder /tmp/x refused: mode" : nullptr;
        fake::registerClassFails = c.classFails;
        fake::createWindowFails = c.windowFails;
        if (c.noLibrary) fake::removeFakeLibrary();
        fake::setFakeInitResult(c.initResult);
        EXPECT_EQ(runNorvalume(), c.code) << c.name;
        EXPECT_EQ(fake::beeps, std::vector<uint32_t>{c.beep}) << c.name;
        EXPECT_EQ(fake::createCalls, c.windowsCreated) << c.name;
        EXPECT_EQ(fake::loopRuns, 0) << c.name;
        EXPECT_EQ(fake::dlFreeCount, c.libraryFrees) << c.name;
        if (c.classFails || c.ipcRefused) {
            EXPECT_TRUE(fake::dlLoadAttempts.empty()) << "bound before the checks";
        }
        if (c.ipcRefused) {
            EXPECT_TRUE(fake::registeredClass.empty()) << "started before the run folder";
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
    EXPECT_EQ(fake::profileWrites, 0);  // the settings file is only read, for Serial=
}

// A light lit from the simulator by the creation handlers and one scan; at a session's
// end Windows ends the process as soon as the handler returns, so what is put away must
// be put away by then.
struct AtSessionEnd {
    std::string log;  // the device library's calls from the end's start to its return
    uint32_t views;
    int32_t items;
};
AtSessionEnd atSessionEnd;

void lightTheLampThenEndTheSession(bool whileWaiting) {
    fake::fireTimer(SCAN_TIMER_ID);
    ASSERT_EQ(fake::fakeIndicators(DEV_GF166, 0), 1u);
    fake::clearDlLog();
    if (!whileWaiting) {
        fake::endSession();
    } else {
        // The message comes in while the scan waits on a simulator that stopped answering.
        fake::ipcFail.sendTimesOut = true;
        fake::stopAskedHook = [] {
            fake::stopAskedHook = nullptr;
            fake::endSession();
            fake::stopPending = true;  // what the ending session makes of the wait
            atSessionEnd = AtSessionEnd{fake::dlLogText(), fake::ipcViewsLive, itemCount()};
        };
        fake::fireTimer(SCAN_TIMER_ID);
        return;
    }
    atSessionEnd = AtSessionEnd{fake::dlLogText(), fake::ipcViewsLive, itemCount()};
}

TEST_F(Program, SessionEndLeavesEveryOutputDarkBeforeItReturnsAlsoDuringAScan) {
    for (bool whileWaiting : {false, true}) {
        SCOPED_TRACE(whileWaiting ? "while a scan waits" : "between handlers");
        SetUp();
        fake::installModule("FS98MAIN");
        fake::setFakeUnits(DEV_GF166, 1);
        fake::setU8(0x0104, 1);
        fake::writeFile(ini, "[GF166.0]\r\nL0=X0104 U8 =1\r\n");
        fake::loopHook = whileWaiting ? [] { lightTheLampThenEndTheSession(true); }
                                      : [] { lightTheLampThenEndTheSession(false); };
        atSessionEnd = AtSessionEnd{"", 99, -1};
        EXPECT_EQ(runNorvalume(), 0);
        const std::string& log = atSessionEnd.log;
        const size_t dark = log.find("GF166_SetIndicators 0 0x0");
        EXPECT_NE(dark, std::string::npos) << log;
        EXPECT_LT(dark, log.find("GFDev_Terminate")) << log;
        EXPECT_EQ(fake::dlFreeCount, 1);
        // Between handlers everything goes at once; inside the scan the link and the table
        // it still walks stay until the scan and the loop are over.
        EXPECT_EQ(atSessionEnd.views, whileWaiting ? 1u : 0u);
        EXPECT_EQ(atSessionEnd.items == 0, !whileWaiting);
        EXPECT_EQ(fake::ipcViewsLive, 0u);
        EXPECT_EQ(itemCount(), 0);
    }
}

TEST_F(Program, HelpVersionAndWhatIsNotUnderstoodStartNothing) {
    struct Case {
        std::vector<const char*> args;
        int code;
        std::string out;  // standard output holds it ("" for nothing there)
        std::string err;  // standard error holds it
        bool beeps;
    } cases[] = {
        {{"--help"}, 0, "usage: norvalume [--identify[=SECONDS]]", "", false},
        {{"/?"}, 0, "norvalume.ini", "", false},
        {{"--version"}, 0, std::string("norvalume ") + NORVALUME_VERSION + "\n", "", false},
        {{"--identfy=3"}, EXIT_BAD_COMMAND_LINE, "", "not understood: --identfy=3\nusage:",
         true},
        {{"--identify=0"}, EXIT_BAD_COMMAND_LINE, "", "1 to 3600\nusage:", true},
    };
    for (const Case& c : cases) {
        SetUp();
        std::remove(ini.c_str());
        std::vector<const char*> argv{"norvalume.exe"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(runFromCommandLine(static_cast<int>(argv.size()), argv.data()), c.code);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        SCOPED_TRACE(c.args[0]);
        EXPECT_EQ(out.empty(), c.out.empty()) << out;
        EXPECT_NE(out.find(c.out), std::string::npos) << out;
        EXPECT_NE(err.find(c.err), std::string::npos) << err;
        EXPECT_EQ(fake::beeps.size(), c.beeps ? 1u : 0u);
        EXPECT_EQ(fake::consoleAttaches, 1);
        // Nothing started: no library, no window class, no claim, no settings file.
        EXPECT_TRUE(fake::dlLoadAttempts.empty());
        EXPECT_TRUE(fake::registeredClass.empty());
        EXPECT_TRUE(fake::claimedPath.empty());
        EXPECT_EQ(fake::profileReads + fake::profileWrites, 0);
        std::FILE* created = std::fopen(ini.c_str(), "rb");
        EXPECT_EQ(created, nullptr);
        if (created) std::fclose(created);
    }
}

TEST_F(Program, ASecondCopyAndIdentifyEndBeforeTouchingThePanelsOrTheFile) {
    const std::string text = "[GF Connections]\r\nGFDev=DLL found\r\n[GFMCP.0]\r\nD0=1\r\n";
    for (bool identify : {false, true}) {
        SetUp();
        fake::writeFile(ini, text);
        fake::profileWrites = 0;
        fake::claimAnswer = platform::CLAIM_HELD;
        testing::internal::CaptureStderr();
        EXPECT_EQ(identify ? runIdentify(3) : runNorvalume(), EXIT_ALREADY_RUNNING);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(fake::claimedPath, ini);
        EXPECT_NE(err.find("Norvalume already runs for " + ini), std::string::npos) << err;
        EXPECT_EQ(err.find("close Norvalume first") != std::string::npos, identify) << err;
        EXPECT_EQ(fake::beeps, std::vector<uint32_t>{platform::BEEP_EXCLAMATION});
        EXPECT_EQ(fake::consoleAttaches, 1);
        EXPECT_TRUE(fake::dlLoadAttempts.empty());
        EXPECT_EQ(fake::createCalls, 0);
        EXPECT_EQ(fake::profileWrites, 0);
        EXPECT_EQ(fake::readFile(ini), text);
    }

    // A system that cannot tell starts as it always did; the claim goes with the end.
    for (platform::SettingsClaim claim : {platform::CLAIM_UNAVAILABLE, platform::CLAIM_TAKEN}) {
        SetUp();
        fake::claimAnswer = claim;
        fake::loopHook = [] {
            EXPECT_EQ(fake::claimHeld, fake::claimAnswer == platform::CLAIM_TAKEN);
            fake::closeWindow();
        };
        testing::internal::CaptureStderr();
        EXPECT_EQ(runNorvalume(), 0);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.find("cannot tell") != std::string::npos,
                  claim == platform::CLAIM_UNAVAILABLE) << err;
        EXPECT_EQ(fake::loopRuns, 1);
        EXPECT_FALSE(fake::claimHeld);
    }
}

TEST_F(Program, ExitCodeIsWhatTheLoopEndedWith) {
    fake::loopExitCode = 7;
    fake::loopHook = [] { fake::closeWindow(); };
    EXPECT_EQ(runNorvalume(), 7);
    EXPECT_TRUE(fake::beeps.empty());
}

}  // namespace
