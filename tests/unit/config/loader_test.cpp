// The loader against the real INI engine on temp files: which keys it reads, in which
// order the records land, what it writes back, the report, and when it loads at all.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/items.h"
#include "config/line_parser.h"
#include "config/loader.h"
#include "devices/devices.h"
#include "eval/eval.h"
#include "fake_platform/fake_loop.h"
#include "fake_platform/fake_profile.h"
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
        std::strcpy(iniPath, path.c_str());
        std::memset(deviceCounts, 0, sizeof deviceCounts);
        connectCallbackRefused = false;
        versionTooOld = false;
        scanBusy = false;
        loadBusy = false;
        reloadPending = false;
        revisionPeriod = 2500;
        freeItemTable();
    }
    void TearDown() override { freeItemTable(); }

    void write(const std::string& text) { fake::writeFile(path, text); }

    std::string get(const char* section, const char* key) {
        char buf[LINE_BUFFER_SIZE];
        platform::profileGet(iniPath, section, key, buf, sizeof buf);
        return buf;
    }

    // Position of the first record with this identity, -1 when there is none.
    int find(int32_t type, uint8_t unit, uint8_t kind, uint16_t index, int from = 0) {
        for (int i = from; i < itemCount; ++i) {
            const ItemRecord& r = itemTable[i];
            if (r.deviceType == type && r.unit == unit && r.kind == kind && r.index == index)
                return i;
        }
        return -1;
    }
    int countOf(int32_t type, uint8_t unit, uint8_t kind, uint16_t index) {
        int n = 0;
        for (int i = 0; i < itemCount; ++i) {
            const ItemRecord& r = itemTable[i];
            if (r.deviceType == type && r.unit == unit && r.kind == kind && r.index == index)
                ++n;
        }
        return n;
    }
};

TEST_F(Loader, ConditionKeysAbove254AndWithLeadingZerosAreNotRead) {
    write("[Conditions]\n0=X0100\n007=X0200\n254=X0300\n255=X0400\n");
    loadConfiguration(1);
    ASSERT_EQ(itemCount, 2);
    EXPECT_EQ(itemTable[0].index, 1);  // key 0
    EXPECT_EQ(itemTable[0].offset, 0x0100);
    EXPECT_EQ(itemTable[1].index, 255);  // key 254
    EXPECT_EQ(itemTable[1].offset, 0x0300);
    EXPECT_EQ(find(DEV_CONDITION, 0, KIND_CONDITION, 8), -1);
}

TEST_F(Loader, RecordsFollowTheTableOrderWhateverTheFileOrder) {
    write("[GFP8.0]\nL1=X0002\nB=X0003\nL0=X0001\n"
          "[GF45.0]\nD1=X0011\nD0=X0010\n"
          "[Conditions]\n3=X0031\n1=X0030\n");
    deviceCounts[DEV_GF45] = 1;
    deviceCounts[DEV_GFP8] = 1;
    loadConfiguration(1);
    const uint16_t expected[] = {0x30, 0x31, 0x10, 0x11, 0x03, 0x01, 0x02};
    ASSERT_EQ(itemCount, 7);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(itemTable[i].offset, expected[i]) << "record " << i;
    EXPECT_EQ(itemTable[4].kind, KIND_BRIGHTNESS);
    EXPECT_EQ(itemTable[4].deviceType, DEV_GFP8);
}

TEST_F(Loader, SecondUnitSectionIsReadOnlyOnceItIsCounted) {
    write("[GF45.0]\nD0=X0010\n[GF45.1]\nD0=X0020\n");
    deviceCounts[DEV_GF45] = 1;
    loadConfiguration(1);
    EXPECT_EQ(itemCount, 1);
    EXPECT_EQ(find(DEV_GF45, 1, KIND_DISPLAY, 0), -1);

    deviceCounts[DEV_GF45] = 2;  // what the connect callback does before it forces a load
    loadConfiguration(1);
    int i = find(DEV_GF45, 1, KIND_DISPLAY, 0);
    ASSERT_GE(i, 0);
    EXPECT_EQ(itemTable[i].offset, 0x20);
    EXPECT_EQ(get("GF Connections", "GF45"), "2");
}

TEST_F(Loader, DisplaysBeyondTheModelsCountAreNotRead) {
    write("[GF166.0]\nD1=X0011\nD1.1=X0012\nD2=X0020\nD2.1=X0021\n");
    deviceCounts[DEV_GF166] = 1;
    loadConfiguration(1);
    EXPECT_EQ(itemCount, 2);
    EXPECT_EQ(find(DEV_GF166, 0, KIND_DISPLAY, 2), -1);
}

TEST_F(Loader, ContinuationRunGoesPastAMissingBaseButStopsAtAMissingContinuation) {
    write("[GFP8.0]\nL5.1=X0051\nL5.2=X0052\nL6=X0060\nL6.2=X0062\nL23.1=X0231\n");
    deviceCounts[DEV_GFP8] = 1;
    loadConfiguration(1);
    EXPECT_EQ(countOf(DEV_GFP8, 0, KIND_LIGHT, 5), 2);
    int i = find(DEV_GFP8, 0, KIND_LIGHT, 5);
    ASSERT_GE(i, 0);
    EXPECT_EQ(itemTable[i].offset, 0x51);
    EXPECT_EQ(itemTable[i + 1].offset, 0x52);
    EXPECT_EQ(countOf(DEV_GFP8, 0, KIND_LIGHT, 6), 1);  // L6.2 needs L6.1
    EXPECT_EQ(countOf(DEV_GFP8, 0, KIND_LIGHT, 23), 1);
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
    deviceCounts[DEV_GF166] = 2;
    loadConfiguration(1);
    ASSERT_EQ(itemCount, 5);
    EXPECT_EQ(itemTable[0].flags & 0x1E00, 0u);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(itemTable[i].flags & 0x1E00, uint32_t(FLAG_NEEDS_V | FLAG_NEEDS_E)) << i;
        EXPECT_EQ(itemTable[i].minVoltage, 24) << i;
    }
    EXPECT_EQ(itemTable[4].flags & 0x1E00, 0u);  // the next section starts afresh
    EXPECT_EQ(itemTable[4].minVoltage, 0);
}

TEST_F(Loader, ReportWritesCountsAndDeletesWhatDoesNotApply) {
    write("[GF Connections]\nGFP8=7\nOmbrex=old\nGFMCP=1\n");
    deviceCounts[DEV_GFP8] = 3;
    loadConfiguration(1);
    EXPECT_EQ(get("GF Connections", "GFDev"), "DLL found");
    EXPECT_EQ(get("GF Connections", "GFP8"), "3");
    EXPECT_EQ(get("GF Connections", "GFMCP"), "");
    EXPECT_EQ(get("GF Connections", "Ombrex"), "");
    EXPECT_EQ(fake::readFile(path).find("GFMCP"), std::string::npos);

    connectCallbackRefused = true;
    versionTooOld = true;
    deviceCounts[DEV_GFP8] = 0;
    loadConfiguration(1);
    EXPECT_EQ(get("GF Connections", "GFDev"), "DLL found, but no Connect callback!");
    EXPECT_EQ(get("GF Connections", "Ombrex"), "incorrect version, needs >= 3.465");
    EXPECT_EQ(get("GF Connections", "GFP8"), "");
}

TEST_F(Loader, RejectedLineGetsItsErrorAndACorrectedLineLosesIt) {
    write("[GFP8.0]\nL0=X0BC4 ; gear\n");
    deviceCounts[DEV_GFP8] = 1;
    loadConfiguration(1);
    EXPECT_EQ(itemCount, 1);
    EXPECT_TRUE(fake::profileWriteLog.size() > 0);
    for (const fake::ProfileWrite& w : fake::profileWriteLog)
        EXPECT_EQ(w.section, "GF Connections") << "an accepted line was rewritten";

    write("[GFP8.0]\nL0=X0BC4 D7 ; gear\n");
    loadConfiguration(0);
    EXPECT_EQ(itemCount, 0);
    EXPECT_EQ(get("GFP8.0", "L0"), "X0BC4 D7 ; gear <<< Bad Display format");

    loadConfiguration(1);  // still wrong: the error is not repeated
    EXPECT_EQ(get("GFP8.0", "L0"), "X0BC4 D7 ; gear <<< Bad Display format");

    write("[GFP8.0]\nL0=X0BC4 D5 ; gear <<< Bad Display format\n");
    loadConfiguration(0);
    EXPECT_EQ(itemCount, 1);
    EXPECT_EQ(get("GFP8.0", "L0"), "X0BC4 D5 ; gear");
}

TEST_F(Loader, LongValueIsParsedCutButNeverCutInTheFile) {
    std::string tail(300, 'Z');
    std::string value = "X0BC4 =" + tail;  // the cut leaves "=ZZZ..." : a bad literal
    write("[GFP8.0]\nL0=" + value + "\n");
    deviceCounts[DEV_GFP8] = 1;
    loadConfiguration(1);
    EXPECT_EQ(itemCount, 0);
    const std::string annotated = value + " <<< Bad literal value";
    char buf[1024];
    platform::profileGet(iniPath, "GFP8.0", "L0", buf, sizeof buf);
    EXPECT_EQ(std::string(buf), annotated);

    loadConfiguration(1);  // the annotation beyond the read limit does not pile up
    platform::profileGet(iniPath, "GFP8.0", "L0", buf, sizeof buf);
    EXPECT_EQ(std::string(buf), annotated);

    // Accepted as cut: the file keeps all of it, an old annotation far out is dropped.
    std::string good = "X0BC4 ;" + tail;
    write("[GFP8.0]\nL0=" + good + " <<< Bad literal value\n");
    loadConfiguration(0);
    EXPECT_EQ(itemCount, 1);
    platform::profileGet(iniPath, "GFP8.0", "L0", buf, sizeof buf);
    EXPECT_EQ(std::string(buf), good);
}

TEST_F(Loader, WrittenBackLineReadsBackUnchangedEvenWhenQuoted) {
    // Annotated, this display line begins and ends with a double quote; a plain write
    // would lose that pair on the next read and turn the line into something else.
    write("[GF45.0]\nD0=\"HI\" A\n");
    deviceCounts[DEV_GF45] = 1;
    loadConfiguration(1);
    const std::string annotated = "\"HI\" A <<< Bad A: needs literal string \"\"";
    EXPECT_EQ(get("GF45.0", "D0"), annotated);
    loadConfiguration(1);
    EXPECT_EQ(get("GF45.0", "D0"), annotated);
}

TEST_F(Loader, ArchiveAttributeIsClearAfterALoadThatWroteTheFile) {
    write("[Conditions]\n0=X01 D7\n");
    loadConfiguration(0);
    EXPECT_GT(fake::profileWrites, 0);
    EXPECT_FALSE(fake::archiveSet(path));

    fake::profileReads = 0;
    fake::profileWrites = 0;
    loadConfiguration(0);  // unchanged: nothing read, nothing written
    EXPECT_EQ(fake::profileReads, 0);
    EXPECT_EQ(fake::profileWrites, 0);

    fake::touchFile(path);
    loadConfiguration(0);
    EXPECT_GT(fake::profileReads, 0);
}

TEST_F(Loader, BusyScanPostponesTheLoadAndAForcedRequestIsCarried) {
    write("[Conditions]\n0=X0100\n");
    platform::setFileAttributes(iniPath, platform::FILE_ATTR_NORMAL);
    scanBusy = true;
    fake::resetProfile();
    loadConfiguration(1);
    EXPECT_EQ(fake::profileReads, 0);
    EXPECT_EQ(itemCount, 0);
    EXPECT_TRUE(reloadPending);
    ASSERT_EQ(fake::timerOps.size(), 2u);  // stopped on entry, retried soon
    EXPECT_FALSE(fake::timerOps[0].set);
    EXPECT_EQ(fake::timerOps[0].id, RELOAD_TIMER_ID);
    EXPECT_EQ(fake::armedTimers[RELOAD_TIMER_ID].period, 100u);

    scanBusy = false;
    loadConfiguration(0);  // the unchanged file is still loaded: the force was carried
    EXPECT_EQ(itemCount, 1);
    EXPECT_FALSE(reloadPending);
    EXPECT_FALSE(loadBusy);
    EXPECT_EQ(fake::armedTimers[RELOAD_TIMER_ID].period, 2500u);

    loadBusy = true;  // a load in progress refuses as well, and an unforced call carries nothing
    loadConfiguration(0);
    EXPECT_FALSE(reloadPending);
    loadBusy = false;
}

TEST_F(Loader, MissingFileKeepsTheTableUnlessForcedThenTheReportCreatesIt) {
    write("[Conditions]\n0=X0100\n");
    loadConfiguration(1);
    ASSERT_EQ(itemCount, 1);
    std::remove(path.c_str());

    loadConfiguration(0);
    EXPECT_EQ(itemCount, 1);
    EXPECT_EQ(fake::readFile(path), "");

    loadConfiguration(1);
    EXPECT_EQ(itemCount, 0);
    EXPECT_EQ(get("GF Connections", "GFDev"), "DLL found");
}

// Saves the file as an editor would, once, while the load is writing back a device line:
// condition 1 is added after the conditions have been read.
std::string* editedPath = nullptr;
void editDuringLoad(const char* section, const char*, const char*) {
    if (!editedPath || std::strcmp(section, "GFP8.0") != 0) return;
    std::string text = fake::readFile(*editedPath);
    text.insert(text.find("[GFP8.0]"), "1=X0200\n");
    fake::writeFile(*editedPath, text);
    editedPath = nullptr;
}

TEST_F(Loader, FileSavedWhileALoadRunsIsLoadedAtTheNextTick) {
    write("[Conditions]\n0=X0100\n[GFP8.0]\nL0=X01 D7\n");
    deviceCounts[DEV_GFP8] = 1;
    editedPath = &path;
    LoadObserver observer{nullptr, editDuringLoad, false};
    EXPECT_TRUE(loadConfigurationOnce(&observer));
    EXPECT_EQ(itemCount, 1);
    EXPECT_FALSE(fake::archiveSet(path));  // the marker alone would have lost the edit
    std::string text = fake::readFile(path);
    EXPECT_NE(text.find("1=X0200"), std::string::npos);
    EXPECT_NE(text.find("L0=X01 D7 <<< Bad Display format"), std::string::npos);

    loadConfiguration(0);
    EXPECT_EQ(itemCount, 2);
    loadConfiguration(0);  // and only once
    EXPECT_FALSE(fake::archiveSet(path));
}

std::string rejected;
void noteRejected(const char* section, const char* key, const char* error) {
    rejected += std::string("[") + section + "] " + key + ":" + error + "\n";
}

TEST_F(Loader, DryRunReportsEverythingAndLeavesTheFileAlone) {
    const std::string text = "[Conditions]\n0=X0100 D7\n";
    write(text);
    rejected.clear();
    LoadObserver observer{noteRejected, nullptr, true};
    loadConfigurationOnce(&observer);
    EXPECT_EQ(rejected, "[Conditions] 0: <<< Bad Display format\n");
    EXPECT_EQ(fake::readFile(path), text);
    EXPECT_TRUE(fake::archiveSet(path));
}

TEST_F(Loader, UnitsBeyondWhatAUnitNumberHoldsAreNotAliasedToUnitZero) {
    write("[GFP8.255]\nL0=X0255\n[GFP8.256]\nL0=X0256\n");
    deviceCounts[DEV_GFP8] = 300;
    loadConfiguration(1);
    ASSERT_EQ(itemCount, 1);
    EXPECT_EQ(itemTable[0].unit, 255);
    EXPECT_EQ(get("GF Connections", "GFP8"), "300");
}

}  // namespace
