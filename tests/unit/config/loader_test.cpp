// The loader against the real INI engine on temp files: which keys it reads, in which
// order the records land, what it writes back, the report, and when it loads at all.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/items.h"
#include "config/line_parser.h"
#include "config/loader.h"
#include "devices/devices.h"
#include "eval/eval.h"
#include "fake_platform/fake_dl.h"
#include "fake_platform/fake_ipc.h"
#include "fake_platform/fake_loop.h"
#include "fake_platform/fake_memory.h"
#include "fake_platform/fake_profile.h"
#include "fake_platform/fake_time.h"
#include "link/link.h"
#include "platform/platform.h"
#include "shell/shell.h"

namespace {

class Loader : public ::testing::Test {
protected:
    std::string path;

    void SetUp() override {
        fake::resetProfile();
        fake::resetLoop();
        path = fake::tempFilePath("loader.ini");
        fake::installFakeLibrary();
        resetDevices();
        ASSERT_TRUE(bindDeviceLibrary(nullptr));
        fake::resetIpc();
        resetLinkStatus();
        resetScanState();
        resetShell();
        resetLoader();
        // The settings file lies beside the program, as the shell derives its path.
        std::snprintf(fake::programPathText, sizeof fake::programPathText, "%s",
                      fake::tempFilePath("loader.exe").c_str());
        readShellSettings();
        freeItemTable();
    }
    void TearDown() override {
        fake::ipcBlockObserver = nullptr;
        resetLinkStatus();
        resetScanState();
        freeItemTable();
        unbindDeviceLibrary();
    }

    // The units the panel library reports, counted as after a plug event.
    static void setUnits(int32_t type, uint32_t count) {
        fake::setFakeUnits(type, count);
        countDevices();
    }

    void write(const std::string& text) { fake::writeFile(path, text); }

    // The names in the settings file's folder that start with its own, sorted.
    std::string filesBeside() const {
        const size_t slash = path.rfind('/');
        const std::string folder = path.substr(0, slash), name = path.substr(slash + 1);
        std::vector<std::string> names;
        if (DIR* dir = opendir(folder.c_str())) {
            while (const dirent* entry = readdir(dir))
                if (std::string(entry->d_name).compare(0, name.size(), name) == 0)
                    names.push_back(entry->d_name);
            closedir(dir);
        }
        std::sort(names.begin(), names.end());
        std::string out;
        for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
        return out;
    }

    // The reload ticks after a save: the first only sees the file settle, the next loads.
    void reloadSettled() {
        const int reads = fake::profileReads;
        loadConfiguration(LOAD_IF_CHANGED);
        EXPECT_EQ(fake::profileReads, reads) << "a file not yet seen settled was loaded";
        loadConfiguration(LOAD_IF_CHANGED);
    }

    LoadInputs inputs() const {
        return LoadInputs{path.c_str(), deviceCounts(), connectCallbackRefused(),
                          linkStatus().versionTooOld, linkStatus().accessDenied};
    }

    // A load asked for while a scan runs: from inside the scan's exchange with the
    // simulator, which must be connected and have a table to read.
    static void loadWhileScanning(LoadRequest request) {
        static LoadRequest duringScan;
        duringScan = request;
        fake::ipcBlockObserver = [](const uint8_t*, uint32_t) {
            fake::ipcBlockObserver = nullptr;
            loadConfiguration(duringScan);
        };
        scanTick();
        ASSERT_EQ(fake::ipcBlockObserver, nullptr) << "the scan made no exchange";
    }

    std::string get(const char* section, const char* key) {
        char buf[LINE_BUFFER_SIZE];
        platform::profileGet(shellSettings().iniPath, section, key, buf, sizeof buf);
        return buf;
    }

    // Every stored record as "<section> <kind letter><index>:<offset>", in table order.
    std::string records() {
        std::string out;
        for (int i = 0; i < itemCount(); ++i) {
            const ItemRecord& r = itemTable()[i];
            char one[64];
            if (r.kind == KIND_CONDITION)
                std::snprintf(one, sizeof one, "C%u:%x ", r.index, r.offset);
            else
                std::snprintf(one, sizeof one, "%s.%u %c%u:%x ", deviceTypeName(r.deviceType),
                              r.unit, "CBLD"[r.kind], r.index, r.offset);
            out += one;
        }
        return out;
    }
};

// Which keys are read, and where their records land.
TEST_F(Loader, KeysReadAndTheirOrderInTheTable) {
    struct Case {
        const char* what;
        const char* settings;
        uint16_t gf45, gfp8, gf166;
        const char* expected;
    } cases[] = {
        {"condition keys above 254 and with leading zeros are not read",
         "[Conditions]\n0=X0100\n007=X0200\n254=X0300\n255=X0400\n", 0, 0, 0,
         "C1:100 C255:300 "},
        {"table order whatever the file order",
         "[GFP8.0]\nL1=X2\nB=X3\nL0=X1\n[GF45.0]\nD1=X11\nD0=X10\n[Conditions]\n3=X31\n1=X30\n",
         1, 1, 0, "C2:30 C4:31 GF45.0 D0:10 GF45.0 D1:11 GFP8.0 B0:3 GFP8.0 L0:1 GFP8.0 L1:2 "},
        {"a second unit's section is not read while one unit is counted",
         "[GF45.0]\nD0=X10\n[GF45.1]\nD0=X20\n", 1, 0, 0, "GF45.0 D0:10 "},
        {"and is read once two are (what the connect callback does)",
         "[GF45.0]\nD0=X10\n[GF45.1]\nD0=X20\n", 2, 0, 0, "GF45.0 D0:10 GF45.1 D0:20 "},
        {"D2 is not read for a model with two displays",
         "[GF166.0]\nD1=X11\nD1.1=X12\nD2=X20\nD2.1=X21\n", 0, 0, 1,
         "GF166.0 D1:11 GF166.0 D1:12 "},
        {"a run goes past a missing base key but ends at a missing continuation",
         "[GFP8.0]\nL5.1=X51\nL5.2=X52\nL6=X60\nL6.2=X62\nL23.1=X231\n", 0, 1, 0,
         "GFP8.0 L5:51 GFP8.0 L5:52 GFP8.0 L6:60 GFP8.0 L23:231 "},
        {"an empty value counts as missing and ends a run",
         "[GFP8.0]\nL0=\nL0.1=X1\nL0.2=\nL0.3=X3\n", 0, 1, 0, "GFP8.0 L0:1 "},
    };
    for (const Case& c : cases) {
        write(c.settings);
        setUnits(DEV_GF45, c.gf45);
        setUnits(DEV_GFP8, c.gfp8);
        setUnits(DEV_GF166, c.gf166);
        loadConfiguration(LOAD_FORCED);
        EXPECT_EQ(records(), c.expected) << c.what;
    }
}

TEST(Needs, FirstLetterOfEachWordCounts) {
    struct Case {
        const char* value;
        uint16_t flags;
        uint16_t minVoltage;
    } cases[] = {
        {"AB", FLAG_NEEDS_A, 0},
        {"Avionics Battery", FLAG_NEEDS_A | FLAG_NEEDS_B, 0},
        {"V24 E", FLAG_NEEDS_V | FLAG_NEEDS_E, 24},
        {"e\tb\x01v12x", FLAG_NEEDS_E | FLAG_NEEDS_B | FLAG_NEEDS_V, 12},
        {"Volts", FLAG_NEEDS_V, 0},
        {"  ", 0, 0},
        {"Gear Lights", 0, 0},
        {"V70000", FLAG_NEEDS_V, 65535},  // clamped, not wrapped to 4464
        {"V-5", FLAG_NEEDS_V, 0},         // not wrapped to 65531
        {"V99999999999999999999", FLAG_NEEDS_V, 65535},
        // The number is read as a decimal conversion does: blanks before it are skipped.
        {"V 24", FLAG_NEEDS_V, 24},
        {"V\t12 E", FLAG_NEEDS_V | FLAG_NEEDS_E, 12},
        {"V E", FLAG_NEEDS_V | FLAG_NEEDS_E, 0},
    };
    for (const Case& c : cases) {
        uint16_t flags = 0xFFFF, voltage = 0xFFFF;
        parseNeeds(c.value, &flags, &voltage);
        EXPECT_EQ(flags, c.flags) << c.value;
        EXPECT_EQ(voltage, c.minVoltage) << c.value;
    }
}

TEST_F(Loader, NeedsOfASectionGateEveryItemOfItAndNoCondition) {
    write("[Conditions]\n0=X0100\n[GF166.0]\nNeeds=V24 E\nB=X0001\nL0.1=X0002\nD1=X0003\n"
          "[GF166.1]\nL0=X0004\n");
    setUnits(DEV_GF166, 2);
    loadConfiguration(LOAD_FORCED);
    ASSERT_EQ(itemCount(), 5);
    EXPECT_EQ(itemTable()[0].flags & 0x1E00, 0u);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(itemTable()[i].flags & 0x1E00, uint32_t(FLAG_NEEDS_V | FLAG_NEEDS_E)) << i;
        EXPECT_EQ(itemTable()[i].minVoltage, 24) << i;
    }
    EXPECT_EQ(itemTable()[4].flags & 0x1E00, 0u);  // the next section starts afresh
    EXPECT_EQ(itemTable()[4].minVoltage, 0);
}

TEST_F(Loader, ReportWritesCountsAndDeletesWhatDoesNotApply) {
    write("[GF Connections]\nGFP8=7\nOmbrex=old\nGFMCP=1\n");
    setUnits(DEV_GFP8, 3);
    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(get("GF Connections", "GFDev"), "DLL found");
    EXPECT_EQ(get("GF Connections", "GFP8"), "3");
    EXPECT_EQ(get("GF Connections", "GFMCP"), "");
    EXPECT_EQ(get("GF Connections", "Ombrex"), "");
    EXPECT_EQ(fake::readFile(path).find("GFMCP"), std::string::npos);

    fake::setFakeRegisterResult(0);
    fake::setFakeUnits(DEV_GFP8, 0);
    ASSERT_TRUE(bindDeviceLibrary(nullptr));  // started anew: the library refuses the callback
    fake::installModule("FS98MAIN");
    fake::setFault(sim::FAULT_OLD, sim::DEFAULT_OLD_INTERFACE_WORD);
    linkSupervisionTick();  // an interface module older than 3.465 is refused
    ASSERT_TRUE(linkStatus().versionTooOld);
    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(get("GF Connections", "GFDev"), "DLL found, but no Connect callback!");
    EXPECT_EQ(get("GF Connections", "Ombrex"), "incorrect version, needs >= 3.465");
    EXPECT_EQ(get("GF Connections", "GFP8"), "");
}

// The module runs as administrator and the program does not: Windows refuses the send
// with "access denied". The report says so until a link is made; other send failures
// are not blamed on rights.
TEST_F(Loader, ReportSaysWhenTheModuleRefusedUsForRightsUntilALinkIsMade) {
    const struct {
        uint32_t sendError;
        const char* report;
    } cases[] = {
        {5, "cannot reach the interface module: it runs as administrator and Norvalume "
            "does not; start both the same way"},
        {1460, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sendError);
        fake::resetIpc();
        resetLinkStatus();
        fake::installModule("UIPCMAIN");
        fake::ipcFail.sendError = c.sendError;
        linkSupervisionTick();
        loadConfiguration(LOAD_FORCED);
        EXPECT_EQ(get("GF Connections", "Ombrex"), c.report);
        fake::ipcFail.sendError = 0;
        linkSupervisionTick();
        ASSERT_TRUE(linkStatus().connected);
        loadConfiguration(LOAD_FORCED);
        EXPECT_EQ(get("GF Connections", "Ombrex"), "");
        resetLinkStatus();
    }
}

TEST_F(Loader, RejectedLineGetsItsErrorAndACorrectedLineLosesIt) {
    write("[GFP8.0]\nL0=X0BC4 ; gear\n");
    setUnits(DEV_GFP8, 1);
    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(itemCount(), 1);
    EXPECT_TRUE(fake::profileWriteLog.size() > 0);
    for (const fake::ProfileWrite& w : fake::profileWriteLog)
        EXPECT_EQ(w.section, "GF Connections") << "an accepted line was rewritten";

    write("[GFP8.0]\nL0=X0BC4 D7 ; gear\n");
    reloadSettled();
    EXPECT_EQ(itemCount(), 0);
    EXPECT_EQ(get("GFP8.0", "L0"), "X0BC4 D7 ; gear <<< Bad Display format");

    fake::profileWrites = 0;
    loadConfiguration(LOAD_FORCED);  // still wrong: the error is not repeated
    EXPECT_EQ(get("GFP8.0", "L0"), "X0BC4 D7 ; gear <<< Bad Display format");
    EXPECT_EQ(fake::profileWrites, 0) << "a load that changes nothing wrote to the file";

    write("[GFP8.0]\nL0=X0BC4 D5 ; gear <<< Bad Display format\n");
    reloadSettled();
    EXPECT_EQ(itemCount(), 1);
    EXPECT_EQ(get("GFP8.0", "L0"), "X0BC4 D5 ; gear");
}

// Out of memory during a load: without its first storage the table obtains room at the
// first line and loads everything; a growth that fails rejects that line and every later
// one with the memory error, written back, and leaves no record to scan. With memory back,
// the next load takes every line and the errors go.
TEST_F(Loader, LoadOutOfMemoryRejectsWhatItCannotStoreAndLeavesNoRecords) {
    std::string text = "[GFP8.0]\nL0=X0100\n";
    for (int m = 1; m <= 1100; ++m) text += "L0." + std::to_string(m) + "=X0100\n";
    write(text);
    setUnits(DEV_GFP8, 1);
    const char memoryError[] = "X0100 <<< cannot obtain enough memory!";

    fake::failItemMemoryAt(1);  // the initial 1024 records
    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(itemCount(), 1101);
    EXPECT_EQ(get("GFP8.0", "L0.1100"), "X0100");

    fake::failItemMemoryAt(2);  // the growth for the 1025th record
    loadConfiguration(LOAD_FORCED);
    fake::restoreItemMemory();
    EXPECT_EQ(itemCount(), 0);
    EXPECT_EQ(itemStateCount(), 0);
    EXPECT_EQ(get("GFP8.0", "L0.1023"), "X0100");
    EXPECT_EQ(get("GFP8.0", "L0.1024"), memoryError);
    EXPECT_EQ(get("GFP8.0", "L0.1100"), memoryError);

    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(itemCount(), 1101);
    EXPECT_EQ(itemStateCount(), 1101);
    EXPECT_EQ(fake::readFile(path).find("<<<"), std::string::npos);
}

TEST_F(Loader, LongValueIsParsedCutButNeverCutInTheFile) {
    std::string tail(300, 'Z');
    std::string value = "X0BC4 =" + tail;  // the cut leaves "=ZZZ..." : a bad literal
    write("[GFP8.0]\nL0=" + value + "\n");
    setUnits(DEV_GFP8, 1);
    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(itemCount(), 0);
    const std::string annotated = value + " <<< Bad literal value";
    char buf[1024];
    platform::profileGet(shellSettings().iniPath, "GFP8.0", "L0", buf, sizeof buf);
    EXPECT_EQ(std::string(buf), annotated);

    loadConfiguration(LOAD_FORCED);  // the annotation beyond the read limit does not pile up
    platform::profileGet(shellSettings().iniPath, "GFP8.0", "L0", buf, sizeof buf);
    EXPECT_EQ(std::string(buf), annotated);

    // Accepted as cut: the file keeps all of it, an old annotation far out is dropped.
    std::string good = "X0BC4 ;" + tail;
    write("[GFP8.0]\nL0=" + good + " <<< Bad literal value\n");
    reloadSettled();
    EXPECT_EQ(itemCount(), 1);
    platform::profileGet(shellSettings().iniPath, "GFP8.0", "L0", buf, sizeof buf);
    EXPECT_EQ(std::string(buf), good);
}

TEST_F(Loader, OldAnnotationCutInTwoByTheReadLimitIsNotParsed) {
    // 251 and 252 characters of a good light line: the read limit then ends inside the
    // "<<<" of the old annotation, and a stray "<" or "<<" must not be taken as a
    // comparison without a number.
    setUnits(DEV_GFP8, 1);
    for (size_t length : {251u, 252u}) {
        std::string good = "X0BC4" + std::string(length - 5, ',');
        write("[GFP8.0]\nL0=" + good + " <<< Bad Display format\n");
        loadConfiguration(LOAD_FORCED);
        EXPECT_EQ(itemCount(), 1) << length;
        EXPECT_EQ(get("GFP8.0", "L0"), good) << length;

        std::string bad = "X0BC4 D7" + std::string(length - 8, ',');
        write("[GFP8.0]\nL0=" + bad + " <<< Bad literal value\n");
        loadConfiguration(LOAD_FORCED);
        EXPECT_EQ(itemCount(), 0) << length;
        EXPECT_EQ(get("GFP8.0", "L0"), bad + " <<< Bad Display format") << length;
    }
}

TEST_F(Loader, WrittenBackLineReadsBackUnchangedEvenWhenQuoted) {
    // Annotated, this display line begins and ends with a double quote; a plain write
    // would lose that pair on the next read and turn the line into something else.
    write("[GF45.0]\nD0=\"HI\" A\n");
    setUnits(DEV_GF45, 1);
    loadConfiguration(LOAD_FORCED);
    const std::string annotated = "\"HI\" A <<< Bad A: needs literal string \"\"";
    EXPECT_EQ(get("GF45.0", "D0"), annotated);
    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(get("GF45.0", "D0"), annotated);
}

TEST_F(Loader, FailingFileCallsLoseOnlyWhatTheyFailedOn) {
    const std::string text = "[Conditions]\n0=X0100\n1=X0200 D7\n2=X0300\n";
    write(text);
    fake::profileWriteFails = true;  // the verdict cannot be written: the file stays
    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(itemCount(), 2);
    EXPECT_EQ(fake::readFile(path), text);

    fake::profileWriteFails = false;
    // After the report's five reads (GFDev, Ombrex, Aircraft, Profile, Units), condition 0
    // reads as missing, once.
    fake::failNthCall(fake::profileReadFails, 6);
    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(itemCount(), 1);
    EXPECT_NE(fake::readFile(path).find("1=X0200 D7 <<< Bad Display format"), std::string::npos);
    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(itemCount(), 2);

    // A file whose attributes cannot be read is not taken for a saved one.
    fake::touchFile(path);
    fake::attributesFail = true;
    fake::profileReads = 0;
    loadConfiguration(LOAD_IF_CHANGED);
    EXPECT_EQ(fake::profileReads, 0);
}

TEST_F(Loader, ArchiveAttributeIsClearAfterALoadThatWroteTheFile) {
    write("[Conditions]\n0=X01 D7\n");
    reloadSettled();
    EXPECT_GT(fake::profileWrites, 0);
    EXPECT_FALSE(fake::archiveSet(path));

    fake::profileReads = 0;
    fake::profileWrites = 0;
    loadConfiguration(LOAD_IF_CHANGED);  // unchanged: nothing read, nothing written
    EXPECT_EQ(fake::profileReads, 0);
    EXPECT_EQ(fake::profileWrites, 0);

    fake::touchFile(path);
    reloadSettled();
    EXPECT_GT(fake::profileReads, 0);
}

TEST_F(Loader, BusyScanPostponesTheLoadAndAForcedRequestIsCarried) {
    write("[Conditions]\n0=X0100\n");
    loadConfiguration(LOAD_FORCED);
    fake::installModule("FS98MAIN");
    linkSupervisionTick();
    ASSERT_TRUE(linkStatus().connected);

    write("[Conditions]\n0=X0100\n1=X0200\n");
    platform::setFileAttributes(path.c_str(), platform::FILE_ATTR_NORMAL);
    fake::resetProfile();
    fake::resetLoop();
    loadWhileScanning(LOAD_FORCED);
    EXPECT_EQ(fake::profileReads, 0);
    EXPECT_EQ(itemCount(), 1);
    ASSERT_EQ(fake::timerOps.size(), 2u);  // stopped on entry, retried soon
    EXPECT_FALSE(fake::timerOps[0].set);
    EXPECT_EQ(fake::timerOps[0].id, RELOAD_TIMER_ID);
    EXPECT_EQ(fake::armedTimers[RELOAD_TIMER_ID].period, 100u);

    loadConfiguration(LOAD_IF_CHANGED);  // the unchanged file is still loaded: the force was carried
    EXPECT_EQ(itemCount(), 2);
    EXPECT_EQ(fake::armedTimers[RELOAD_TIMER_ID].period, 2500u);

    // An unforced request postponed by a busy scan carries nothing over.
    write("[Conditions]\n0=X0100\n1=X0200\n2=X0300\n");
    platform::setFileAttributes(path.c_str(), platform::FILE_ATTR_NORMAL);
    loadWhileScanning(LOAD_IF_CHANGED);
    loadConfiguration(LOAD_IF_CHANGED);
    EXPECT_EQ(itemCount(), 2);
}

TEST_F(Loader, MissingFileKeepsTheTableWithOneBeepUnlessForcedThenTheReportCreatesIt) {
    write("[Conditions]\n0=X0100\n");
    loadConfiguration(LOAD_FORCED);
    ASSERT_EQ(itemCount(), 1);
    fake::beeps.clear();
    // Gone for a moment, as while an editor replaces it: no beep.
    std::remove(path.c_str());
    loadConfiguration(LOAD_IF_CHANGED);
    write("[Conditions]\n0=X0100\n");
    loadConfiguration(LOAD_IF_CHANGED);
    EXPECT_TRUE(fake::beeps.empty());

    std::remove(path.c_str());
    for (int tick = 0; tick < 3; ++tick) loadConfiguration(LOAD_IF_CHANGED);
    EXPECT_EQ(itemCount(), 1);
    EXPECT_EQ(fake::readFile(path), "");
    EXPECT_EQ(fake::beeps, std::vector<uint32_t>{platform::BEEP_EXCLAMATION});

    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(itemCount(), 0);
    EXPECT_EQ(get("GF Connections", "GFDev"), "DLL found");
    EXPECT_EQ(filesBeside(), "loader.ini") << "a load left a file behind";

    // Nor does a load that rewrites the file, or one that changes nothing in it.
    write("[Conditions]\n0=X0100 D7\n");
    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(get("Conditions", "0"), "X0100 D7 <<< Bad Display format");
    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(filesBeside(), "loader.ini");
}

// Saves the file as an editor would, once, while the load is writing back a device line:
// condition 1 is added after the conditions have been read.
std::string* editedPath = nullptr;
void editDuringLoad(const char*, const char* section, const char*, const char*) {
    if (!editedPath || std::strcmp(section, "GFP8.0") != 0) return;
    std::string text = fake::readFile(*editedPath);
    text.insert(text.find("[GFP8.0]"), "1=X0200\n");
    fake::writeFile(*editedPath, text);
    editedPath = nullptr;
}

TEST_F(Loader, FileSavedWhileALoadRunsWinsAndIsLoadedOnceSettled) {
    write("[Conditions]\n0=X0100\n[GFP8.0]\nL0=X01 D7\n");
    setUnits(DEV_GFP8, 1);
    editedPath = &path;
    LoadObserver observer{nullptr, editDuringLoad, false, nullptr};
    EXPECT_TRUE(loadConfigurationOnce(inputs(), &observer));
    EXPECT_EQ(itemCount(), 1);
    // The user's save is kept whole; the load's verdicts, made for the older text, are not.
    std::string text = fake::readFile(path);
    EXPECT_EQ(text, "[Conditions]\n0=X0100\n1=X0200\n[GFP8.0]\nL0=X01 D7\n");
    EXPECT_TRUE(fake::archiveSet(path));

    reloadSettled();
    EXPECT_EQ(itemCount(), 2);
    EXPECT_NE(fake::readFile(path).find("L0=X01 D7 <<< Bad Display format"), std::string::npos);
    fake::profileReads = 0;
    loadConfiguration(LOAD_IF_CHANGED);  // and only once
    EXPECT_EQ(fake::profileReads, 0);
    EXPECT_FALSE(fake::archiveSet(path));
}

// An editor that saves by writing a new file and renaming it over the old one can leave
// a file of the same size and write time as the last tick saw: it is still another file,
// and it is loaded only once it has looked the same at two ticks.
TEST_F(Loader, SaveByRenameOfTheSameSizeAndTimeIsLoadedOnceSettled) {
    write("[Conditions]\n0=X0100\n");
    loadConfiguration(LOAD_FORCED);
    write("[Conditions]\n0=X0200\n1=X0300\n");
    loadConfiguration(LOAD_IF_CHANGED);  // seen changed for the first time
    fake::writeFile(path + ".new", "[Conditions]\n0=X0200\n1=X0400\n");
    ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
    const int reads = fake::profileReads;
    loadConfiguration(LOAD_IF_CHANGED);
    EXPECT_EQ(fake::profileReads, reads) << "a file not yet seen settled was loaded";
    loadConfiguration(LOAD_IF_CHANGED);
    ASSERT_EQ(itemCount(), 2);
    EXPECT_EQ(itemTable()[1].offset, 0x400);
}

std::string rejected;
void noteRejected(const char*, const char* section, const char* key, const char* error) {
    rejected += std::string("[") + section + "] " + key + ":" + error + "\n";
}

std::string accepted;
void noteAccepted(const char*, const char* section, const char* key, const char* line, int32_t item) {
    accepted += std::to_string(item) + " [" + section + "] " + key + "=" + line + "\n";
}

TEST_F(Loader, DryRunReportsEverythingAndLeavesTheFileAlone) {
    const std::string text =
        "[Conditions]\n0=X0100 D7\n1=X0200 =1 ; one\n"
        "[GFP8.0]\nL0=1 <<< Bad literal value\nL0.1=X01 D7\nL0.2=X0300\n";
    write(text);
    setUnits(DEV_GFP8, 1);
    rejected.clear();
    accepted.clear();
    LoadObserver observer{noteRejected, nullptr, true, noteAccepted};
    loadConfigurationOnce(inputs(), &observer);
    EXPECT_EQ(rejected, "[Conditions] 0: <<< Bad Display format\n"
                        "[GFP8.0] L0.1: <<< Bad Display format\n");
    // Each accepted line names its record; an old annotation is not part of the line.
    EXPECT_EQ(accepted, "0 [Conditions] 1=X0200 =1 ; one\n1 [GFP8.0] L0=1\n"
                        "2 [GFP8.0] L0.2=X0300\n");
    ASSERT_EQ(itemCount(), 3);
    EXPECT_EQ(itemTable()[2].offset, 0x300);
    EXPECT_EQ(fake::readFile(path), text);
    EXPECT_TRUE(fake::archiveSet(path));
}

std::string changes;
void noteChange(const char*, const char* section, const char* key, const char* value) {
    changes += std::string("[") + section + "] " + key + "=" + (value ? value : "(deleted)") + "\n";
}

TEST_F(Loader, VerdictsOnlyLeaveTheReportAndTheSaveMarkAlone) {
    // A report of panels the caller never saw, and a stale count it must not correct.
    const std::string report = "[GF Connections]\nGFDev=DLL not found\nGFMCP=2\n";
    setUnits(DEV_GFP8, 1);
    for (bool dryRun : {true, false}) {
        write(report + "[GFP8.0]\nL0=X01 D7\nL1=1\n");
        changes.clear();
        LoadObserver observer{nullptr, noteChange, dryRun};
        observer.verdictsOnly = true;
        EXPECT_FALSE(loadConfigurationOnce(inputs(), &observer));
        EXPECT_EQ(changes, "[GFP8.0] L0=X01 D7 <<< Bad Display format\n") << dryRun;
        EXPECT_EQ(fake::readFile(path),
                  report + "[GFP8.0]\nL0=X01 D7" + (dryRun ? "" : " <<< Bad Display format") +
                      "\nL1=1\n");
        // The program, which reloads on this mark, still sees the user's save.
        EXPECT_TRUE(fake::archiveSet(path)) << dryRun;
    }
}

TEST_F(Loader, UnitsBeyondWhatAUnitNumberHoldsAreNotAliasedToUnitZero) {
    write("[GFP8.255]\nL0=X0255\n[GFP8.256]\nL0=X0256\n");
    // More than the devices layer ever counts: the loader must hold on its own.
    uint16_t counts[DEVICE_COUNT_SLOTS] = {};
    counts[DEV_GFP8] = 300;
    loadConfigurationOnce(LoadInputs{path.c_str(), counts, false, false}, nullptr);
    ASSERT_EQ(itemCount(), 1);
    EXPECT_EQ(itemTable()[0].unit, 255);
    EXPECT_EQ(get("GF Connections", "GFP8"), "300");
}

// A section that names a unit's serial drives that unit wherever the library numbers it;
// the others take the remaining units in order, and the report lists who is where.
TEST_F(Loader, SectionsFollowTheirUnitsBySerialAcrossReplugging) {
    write("[GF166.0]\nSerial=B ; NAV1\nD0=X10\n[GF166.1]\nD0=X20\n");
    const struct {
        std::vector<const char*> units;  // serials in USB order, each at port 1-4.<n + 1>
        const char* records;
        const char* section0;
        const char* section1;
    } plugs[] = {
        {{"A", "B"}, "GF166.1 D0:10 GF166.0 D0:20 ", "serial B, USB 1-4.2",
         "serial A, USB 1-4.1"},
        {{"B", "A"}, "GF166.0 D0:10 GF166.1 D0:20 ", "serial B, USB 1-4.1",
         "serial A, USB 1-4.2"},
        // B unplugged: its section is not read, and the other still drives A.
        {{"A"}, "GF166.0 D0:20 ", "serial B not connected", "serial A, USB 1-4.1"},
        {{"B"}, "GF166.0 D0:10 ", "serial B, USB 1-4.1", ""},
    };
    for (const auto& plug : plugs) {
        for (size_t u = 0; u < plug.units.size(); ++u)
            fake::setFakeSerial(DEV_GF166, int(u), plug.units[u],
                                ("1-4." + std::to_string(u + 1)).c_str());
        setUnits(DEV_GF166, uint32_t(plug.units.size()));
        loadConfiguration(LOAD_FORCED);
        EXPECT_EQ(records(), plug.records) << plug.units[0];
        EXPECT_EQ(get("GF Connections", "GF166.0"), plug.section0);
        EXPECT_EQ(get("GF Connections", "GF166.1"), plug.section1);
        EXPECT_EQ(get("GF Connections", "Units"), "");
        EXPECT_FALSE(configurationChanged(path.c_str())) << "the load's own writes look like a save";
    }
}

TEST_F(Loader, ASerialClaimedTwiceGetsAVerdictUntilItIsMended) {
    write("[GF166.0]\nSerial=B\nD0=X10\n[GF166.1]\nSerial=b ; spare\nD0=X20\n");
    fake::setFakeSerial(DEV_GF166, 0, "A");
    fake::setFakeSerial(DEV_GF166, 1, "B");
    setUnits(DEV_GF166, 2);

    rejected.clear();
    LoadObserver observer{noteRejected, nullptr, true};  // what norvalume-check is told
    LoadInputs in = inputs();
    in.identity = unitIdentity;
    loadConfigurationOnce(in, &observer);
    EXPECT_EQ(rejected, "[GF166.1] Serial: <<< serial already claimed by [GF166.0]\n");

    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(get("GF166.1", "Serial"), "b ; spare <<< serial already claimed by [GF166.0]");
    // Not read; the unit nobody claimed goes to the first section without a serial.
    EXPECT_EQ(records(), "GF166.1 D0:10 ");
    EXPECT_EQ(get("GF Connections", "GF166.1"), "");
    EXPECT_EQ(get("GF Connections", "GF166.2"), "serial A");
    EXPECT_FALSE(configurationChanged(path.c_str()));
    fake::profileWrites = 0;
    loadConfiguration(LOAD_FORCED);  // still wrong: nothing to write
    EXPECT_EQ(fake::profileWrites, 0);

    write(fake::readFile(path).replace(fake::readFile(path).find("Serial=b"), 8, "Serial=A"));
    reloadSettled();
    EXPECT_EQ(get("GF166.1", "Serial"), "A ; spare");
    EXPECT_EQ(records(), "GF166.1 D0:10 GF166.0 D0:20 ");
    EXPECT_EQ(get("GF Connections", "GF166.2"), "");
}

// An older library tells no serials: sections keep the numbers' order, the report says
// why once, and the keys of an earlier start's units go.
TEST_F(Loader, WithoutSerialsFromTheLibrarySectionsKeepTheirOrder) {
    fake::withholdEntryPoint("GFDev_GetDeviceInfo2");
    ASSERT_TRUE(bindDeviceLibrary(nullptr));
    write("[GF Connections]\nGF166.5=serial X, USB 1-1\nGFP8.0=serial Y\n"
          "[GF166.0]\nSerial=B\nD0=X10\n[GF166.1]\nD0=X20\n");
    setUnits(DEV_GF166, 2);
    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(records(), "GF166.0 D0:10 GF166.1 D0:20 ");
    EXPECT_EQ(get("GF Connections", "Units"), "serials not available");
    for (const char* key : {"GF166.0", "GF166.5", "GFP8.0"})
        EXPECT_EQ(get("GF Connections", key), "") << key;
    EXPECT_EQ(fake::readFile(path).find("serials not available"),
              fake::readFile(path).rfind("serials not available"));

    fake::installFakeLibrary();
    ASSERT_TRUE(bindDeviceLibrary(nullptr));
    setUnits(DEV_GF166, 2);
    loadConfiguration(LOAD_FORCED);
    EXPECT_EQ(get("GF Connections", "Units"), "");
    EXPECT_EQ(get("GF Connections", "GF166.1"), "serial GF1660001, USB 1-5.1");
}

// A profile overlays the settings file: its unit section replaces the one of that name
// whole, its condition replaces the one of that number, everything else of the settings
// file stays. Each verdict goes into the file its line is in; the report says which
// profile is in force, and a rule whose file is missing gets its verdict on its line.
TEST_F(Loader, ProfileOverlaysTheSettingsFileAndEachVerdictGoesIntoItsOwnFile) {
    const std::string main =
        "[Profiles]\n1=loader-a.ini | Boeing* | path:*\\B737\\*\n2=loader-missing.ini | Cessna*\n"
        "[Conditions]\n0=X0100\n1=X0200\n[GF45.0]\nD0=X0400\n[GFP8.0]\nL0=X0300\n";
    const std::string profile =
        "[Conditions]\n1=X0210\n2=X0220 D7\n[GFP8.0]\nL1=X0310\n[GFP8.1]\nL0=X0320\n";
    const struct {
        const char* what;
        const char* title;
        const char* aircraftPath;
        const char* records;
        const char* report;
    } cases[] = {
        {"no title yet: the settings file alone", "", "",
         "C1:100 C2:200 GF45.0 D0:400 GFP8.0 L0:300 ", "none (no aircraft title yet)"},
        {"rule 1 by title", "Boeing 737-800", "",
         "C1:100 C2:210 GF45.0 D0:400 GFP8.0 L1:310 ", "loader-a.ini (rule 1)"},
        {"rule 1 by path", "Mod", "C:\\Sim\\B737\\aircraft.cfg",
         "C1:100 C2:210 GF45.0 D0:400 GFP8.0 L1:310 ", "loader-a.ini (rule 1)"},
        {"no rule matches", "Airbus", "", "C1:100 C2:200 GF45.0 D0:400 GFP8.0 L0:300 ",
         "none (no rule matches)"},
        {"its file is missing", "Cessna 172", "", "C1:100 C2:200 GF45.0 D0:400 GFP8.0 L0:300 ",
         "loader-missing.ini (rule 2): not found, the main sections apply"},
    };
    const std::string profilePath = fake::tempFilePath("loader-a.ini");
    fake::tempFilePath("loader-missing.ini");
    setUnits(DEV_GF45, 1);
    setUnits(DEV_GFP8, 1);  // [GFP8.1] of the profile is not read
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write(main);
        fake::writeFile(profilePath, profile);
        LoadInputs in = inputs();
        in.aircraftTitle = c.title;
        in.aircraftPath = c.aircraftPath;
        loadConfigurationOnce(in, nullptr);
        EXPECT_EQ(records(), c.records);
        EXPECT_EQ(get("GF Connections", "Profile"), c.report);
        EXPECT_EQ(get("GF Connections", "Aircraft"), c.title);
        EXPECT_EQ(get("Profiles", "2"), "loader-missing.ini | Cessna* <<< Profile file not found");
        const bool inForce = std::strstr(c.report, "loader-a.ini") != nullptr;
        // A profile not in force is not read, so its verdicts wait until it is.
        EXPECT_EQ(fake::readFile(profilePath).find("2=X0220 D7 <<< Bad Display format") !=
                      std::string::npos,
                  inForce);
        EXPECT_EQ(fake::readFile(path).find("X0220"), std::string::npos);
        EXPECT_EQ(fake::readFile(profilePath).find("GF Connections"), std::string::npos);
    }
    // Without rules, the report says nothing of aircraft and profiles, as before them.
    write("[GFP8.0]\nL0=X0300\n");
    loadConfigurationOnce(inputs(), nullptr);
    EXPECT_EQ(get("GF Connections", "Profile"), "");
    EXPECT_EQ(get("GF Connections", "Aircraft"), "");
}

// Rules that cannot be used get their verdict and never pick an aircraft; a corrected
// rule loses it.
TEST_F(Loader, BadRuleLinesGetTheirVerdictAndLoseItOnceCorrected) {
    fake::writeFile(fake::tempFilePath("loader-b.ini"), "[GFP8.0]\nL1=X0310\n");
    setUnits(DEV_GFP8, 1);
    write("[Profiles]\n0=loader-b.ini\n1=../loader-b.ini | B*\n2=loader.ini | B*\n"
          "3=loader-b.ini | B*\n[GFP8.0]\nL0=X0300\n");
    LoadInputs in = inputs();
    in.aircraftTitle = "B";
    loadConfigurationOnce(in, nullptr);
    EXPECT_EQ(get("Profiles", "0"), "loader-b.ini <<< Bad profile rule: FILE | PATTERN expected");
    EXPECT_EQ(get("Profiles", "1"),
              "../loader-b.ini | B* <<< Profile file must be a file name in this folder");
    EXPECT_EQ(get("Profiles", "2"), "loader.ini | B* <<< Profile file is this settings file");
    EXPECT_EQ(get("Profiles", "3"), "loader-b.ini | B*");
    EXPECT_EQ(get("GF Connections", "Profile"), "loader-b.ini (rule 3)");
    EXPECT_EQ(records(), "GFP8.0 L1:310 ");
    write("[Profiles]\n0=loader-b.ini | B* <<< Bad profile rule: FILE | PATTERN expected\n");
    loadConfigurationOnce(in, nullptr);
    EXPECT_EQ(get("Profiles", "0"), "loader-b.ini | B*");
    EXPECT_EQ(get("GF Connections", "Profile"), "loader-b.ini (rule 0)");
}

// The aircraft decides, in the running program: a title counts once two scans in a row
// read it, an empty one never; another profile darkens every output at once and loads;
// another livery of the same aircraft changes nothing. (Saves of the profiles: e2e.)
TEST_F(Loader, SettledTitleSwitchesTheProfileWithADarkFrameBetween) {
    const std::string a = fake::tempFilePath("loader-a.ini"), b = fake::tempFilePath("loader-b.ini");
    fake::writeFile(a, "[GFP8.1]\nL1=X0400 U8 =1\n");
    fake::writeFile(b, "[GFP8.1]\nL2=X0400 U8 =1\n");
    setUnits(DEV_GFP8, 2);
    write("[Profiles]\n1=loader-a.ini | A*\n2=loader-b.ini | B*\n"
          "[GFP8.0]\nL0=X0300 U8 =1\n[GFP8.1]\nL7=X0400 U8 =1\n");
    fake::installModule("FS98MAIN");
    fake::setU8(0x0300, 1);
    fake::setU8(0x0400, 1);
    linkSupervisionTick();
    ASSERT_TRUE(linkStatus().connected);
    loadConfiguration(LOAD_FORCED);
    const auto scan = [] { onMainWindowTimer(SCAN_TIMER_ID); };
    const auto lit = [] { return fake::fakeIndicators(DEV_GFP8, 1); };
    scan();
    EXPECT_EQ(lit(), 0x80u);  // no title yet: the settings file's own
    EXPECT_EQ(fake::fakeIndicators(DEV_GFP8, 0), 0x1u);

    const struct {
        const char* title;
        int scans;
        uint32_t lit;      // GFP8.1 after those scans
        bool darkFrame;    // the outputs went dark on the way
        const char* profile;
    } steps[] = {
        {"A 737", 1, 0x80, false, "none (no aircraft title yet)"},  // read once: not yet
        {"A 737", 2, 0x02, true, "loader-a.ini (rule 1)"},
        {"", 3, 0x02, false, "loader-a.ini (rule 1)"},             // loading: nothing
        {"A 737 livery", 3, 0x02, false, "loader-a.ini (rule 1)"},
        {"Z 9", 3, 0x80, true, "none (no rule matches)"},
        {"B 1", 3, 0x04, true, "loader-b.ini (rule 2)"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.title);
        fake::setText(0x3D00, s.title);
        fake::clearDlLog();
        const int loads = fake::profileReads;
        for (int i = 0; i < s.scans; ++i) scan();
        EXPECT_EQ(lit(), s.lit);
        EXPECT_EQ(fake::fakeIndicators(DEV_GFP8, 0), 0x1u);  // shared: lit again
        EXPECT_EQ(fake::dlLogText().find("GFP8_SetIndicators 0 0x0") != std::string::npos,
                  s.darkFrame);
        if (!s.darkFrame) {
            EXPECT_EQ(fake::profileReads, loads) << "loaded without a switch";
        }
        EXPECT_EQ(get("GF Connections", "Profile"), s.profile);
    }
    EXPECT_EQ(get("GF Connections", "Aircraft"), "B 1");
}

// A profile's unit section is a unit section like any: its Serial= binds it to its unit,
// and a serial claimed twice gets its verdict in the file the line is in.
TEST_F(Loader, AProfileSectionFollowsItsUnitBySerial) {
    const std::string a = fake::tempFilePath("loader-a.ini");
    fake::writeFile(a, "[GF166.0]\nSerial=A\nD0=X30\n[GF166.1]\nSerial=a\nD0=X40\n");
    write("[Profiles]\n1=loader-a.ini | A*\n[GF166.0]\nSerial=B\nD0=X10\n[GF166.1]\nD0=X20\n");
    fake::setFakeSerial(DEV_GF166, 0, "B");
    fake::setFakeSerial(DEV_GF166, 1, "A");
    setUnits(DEV_GF166, 2);
    LoadInputs in = inputs();
    in.identity = unitIdentity;
    loadConfigurationOnce(in, nullptr);
    EXPECT_EQ(records(), "GF166.0 D0:10 GF166.1 D0:20 ");
    in.aircraftTitle = "A 1";
    loadConfigurationOnce(in, nullptr);
    EXPECT_EQ(records(), "GF166.1 D0:30 ");
    EXPECT_NE(fake::readFile(a).find("Serial=a <<< serial already claimed by [GF166.0]"),
              std::string::npos);
    EXPECT_EQ(fake::readFile(path).find("claimed"), std::string::npos);
}

}  // namespace
