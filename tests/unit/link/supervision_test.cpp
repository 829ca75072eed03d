// Link supervision ticks against the in-process module: connecting, staying connected,
// refusing an old interface on every tick, and reconnecting after the scan dropped it.
#include <gtest/gtest.h>

#include <string>

#include "fake_platform/fake_ipc.h"
#include "fake_platform/fake_time.h"
#include "link/link.h"

namespace {

class SupervisionTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetLinkStatus();
        fake::resetIpc();
        fake::resetTime();
    }
    void TearDown() override { resetLinkStatus(); }
};

TEST_F(SupervisionTest, NoModuleLeavesBothFlagsClearOnEveryTick) {
    for (int i = 0; i < 3; i++) {
        linkSupervisionTick();
        EXPECT_FALSE(linkStatus().connected);
        EXPECT_FALSE(linkStatus().versionTooOld);
    }
    EXPECT_EQ(fake::ipcWindowLookups, 9u);  // all three classes tried each time
    EXPECT_EQ(fake::ipcMappingsCreated, 0u);
}

TEST_F(SupervisionTest, AcceptedModuleConnectsOnceAndLaterTicksDoNotOpen) {
    fake::installModule("FS98MAIN");
    linkSupervisionTick();
    EXPECT_TRUE(linkStatus().connected);
    EXPECT_FALSE(linkStatus().versionTooOld);
    uint32_t lookups = fake::ipcWindowLookups, sends = fake::ipcSends;
    linkSupervisionTick();
    linkSupervisionTick();
    EXPECT_TRUE(linkStatus().connected);
    EXPECT_EQ(fake::ipcWindowLookups, lookups);
    EXPECT_EQ(fake::ipcSends, sends);
    EXPECT_EQ(fake::ipcMappingsLive, 1u);
}

TEST_F(SupervisionTest, VersionBoundaryIsThreeFourSixFive) {
    struct Case {
        uint32_t word;
        bool accepted;
    } cases[] = {{0x34650000, true}, {0x3464FFFF, false}, {0x34640000, false},
                 {0x19980005, false}, {0x50000000, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(interfaceVersionAccepted(c.word), c.accepted);
    }
}

TEST_F(SupervisionTest, OldInterfaceIsRefusedOnEveryTickUnderANewName) {
    fake::installModule("OMBXMAIN");
    fake::setFault(sim::FAULT_OLD, 0x34640000);
    std::string previous;
    for (int i = 0; i < 3; i++) {
        linkSupervisionTick();
        EXPECT_FALSE(linkStatus().connected);
        EXPECT_TRUE(linkStatus().versionTooOld);
        EXPECT_EQ(fake::ipcMappingsLive, 0u);  // closed again
        EXPECT_NE(previous, fake::ipcLastAtomName);
        previous = fake::ipcLastAtomName;
    }
    // The module is upgraded: the next tick connects and clears the flag.
    fake::setFault(sim::FAULT_NONE);
    linkSupervisionTick();
    EXPECT_TRUE(linkStatus().connected);
    EXPECT_FALSE(linkStatus().versionTooOld);
}

// A window that exists but does not take the message: the attempt fails, says whether
// rights were the reason, and the next tick tries again; the reason is the last
// attempt's only.
TEST_F(SupervisionTest, AWindowThatDoesNotAnswerIsTriedAgainAtTheNextTick) {
    struct Case {
        const char* name;
        sim::Fault fault;
        uint32_t sendError;
        bool accessDenied;
    } cases[] = {
        {"never answers", sim::FAULT_SILENT, 0, false},
        {"refused for rights", sim::FAULT_NONE, 5, true},
        {"send fails otherwise", sim::FAULT_NONE, 1460, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        fake::installModule("UIPCMAIN");
        fake::setFault(c.fault);
        fake::ipcFail.sendError = c.sendError;
        linkSupervisionTick();
        EXPECT_FALSE(linkStatus().connected);
        EXPECT_EQ(linkStatus().accessDenied, c.accessDenied);
        EXPECT_EQ(fake::ipcSends, 9u);
        EXPECT_EQ(fake::ipcMappingsLive, 0u);
        // Still failing, but for another reason: no window at all.
        fake::removeModule("UIPCMAIN");
        linkSupervisionTick();
        EXPECT_FALSE(linkStatus().accessDenied);
        fake::installModule("UIPCMAIN");  // and back to the first reason
        linkSupervisionTick();
        EXPECT_EQ(linkStatus().accessDenied, c.accessDenied);
        // The module answers again: the next tick connects and the reason is gone.
        fake::setFault(sim::FAULT_NONE);
        fake::ipcFail.sendError = 0;
        linkSupervisionTick();
        EXPECT_TRUE(linkStatus().connected);
        EXPECT_FALSE(linkStatus().accessDenied);
        EXPECT_STREQ(fake::ipcLastSendClass, "UIPCMAIN");
    }
}

TEST_F(SupervisionTest, ReconnectsAfterTheScanDroppedTheLink) {
    fake::installModule("FS98MAIN");
    linkSupervisionTick();
    ASSERT_TRUE(linkStatus().connected);
    std::string first = fake::ipcLastAtomName;
    // What the scan cycle does when an exchange fails.
    linkDrop();
    EXPECT_FALSE(linkStatus().connected);
    EXPECT_EQ(fake::ipcMappingsLive, 0u);
    linkSupervisionTick();
    EXPECT_TRUE(linkStatus().connected);
    EXPECT_NE(first, fake::ipcLastAtomName);
}

}  // namespace
