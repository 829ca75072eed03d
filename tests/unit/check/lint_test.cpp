// norvalume-check's warnings, run as the tool runs them: the program's loader over a
// real file, with the lint listening. Each case is a line or a section and every warning
// it must give, or none.
#include <gtest/gtest.h>

#include <string>

#include "config/items.h"
#include "config/loader.h"
#include "fake_platform/fake_profile.h"
#include "tools/check/lint.h"

namespace {

std::string lint(const std::string& settings) {
    static const std::string path = fake::tempFilePath("lint.ini");
    uint16_t units[DEVICE_TYPE_COUNT + 1] = {};
    units[DEV_GF45] = units[DEV_GFP8] = units[DEV_GF166] = units[DEV_GFMCP] = 1;
    units[DEV_GFATC] = 1;
    units[DEV_GFMCPPRO] = 2;
    fake::writeFile(path, settings);
    check::lintStart(path.c_str());
    LoadObserver observer{nullptr, nullptr, true};
    check::lintAttach(observer);
    loadConfigurationOnce(LoadInputs{path.c_str(), units, false, false}, &observer);
    std::string out;
    for (const check::Warning& w : check::lintFinish(units))
        out += check::formatWarning("s.ini", w) + "\n";
    freeItemTable();
    return out;
}

struct Case {
    const char* settings;
    const char* warnings;
};

// s.ini:1 is the section header of every case that has one, the line under test is 2.
const Case LINES[] = {
    // What must not warn.
    {"[GFP8.0]\nNeeds=V 24 Avionics\nB=15\nL3=X0D0C U16 M0002 ; beacon\n", ""},
    {"[GFMCP.0]\nD2=X07CC U16 *360 /65536 D3\nD4=X07F2 S16 D-3\nB=X0D0C U16 M0020 /4\n", ""},
    {"[GFP8.0]\nL0=X10 !=7\nL1=AA\"STALL\" Ffast\nL2=X10 U8 =1,Fs5off\n", ""},
    {"[GF45.0]\nD0=\"XPDR\" ; label\nD1=X0354 R0 Ffast\n", ""},
    // A section whose serial an earlier one named is not read; the verdict says so.
    {"[GFMCPPRO.0]\nSerial=GF0042 ; left\n[GFMCPPRO.1]\nSerial=gf0042\nD0=X10\n",
     "s.ini:5: warning: [GFMCPPRO.1] D0: never read: the section's Serial= names an earlier "
     "section's serial\n"},
    {"[Config]\nScanInterval=220\n[Conditions]\n0=X0BC4 U8 =1\n1=X10 C0\n"
     "[GFP8.0]\nL0=1 C0\nL0.1=X0BEC U32 >0 Ffast\nL5=1 C0 C1\nL5.1=1 C0 Fslow\n", ""},
    // Skipped, overridden, cut.
    {"[Conditions]\n0=X10 Q7\n",
     "s.ini:2:7: warning: [Conditions] 0: `Q` is skipped: no option starts with it\n"
     "s.ini:2:8: warning: [Conditions] 0: `7` has no sign, so it compares as `!=7`: write the "
     "sign you mean\n"},
    {"[GFP8.0]\nL0=XBC8G\n", "s.ini:2:8: warning: [GFP8.0] L0: `G` is skipped: no option "
                             "starts with it\n"},
    {"[GFP8.0]\nL0=X10 M00G4 ! ;\n",
     "s.ini:2:8: warning: [GFP8.0] L0: `M00` keeps every bit: 0 stands for no mask\n"
     "s.ini:2:11: warning: [GFP8.0] L0: `G` is skipped: no option starts with it\n"
     "s.ini:2:12: warning: [GFP8.0] L0: `4` has no sign, so it compares as `!=4`: write the "
     "sign you mean\n"
     "s.ini:2:14: warning: [GFP8.0] L0: `!` is skipped: no option starts with it\n"},
    {"[GFP8.0]\nL0=X10 Fslow Ffast\n",
     "s.ini:2:14: warning: [GFP8.0] L0: `Ffast` and `Fslow` (column 8) are both set: it "
     "flashes fast\n"},
    {"[GFP8.0]\nL0=X10 Fs5on St5off\n",
     "s.ini:2:14: warning: [GFP8.0] L0: `St5off` and `Fs5on` (column 8) are both set: it stays "
     "on when the time is up\n"},
    {"[GFP8.0]\nL0=X10 Ffast Fs5off =1 =2\tU8\nL1=X10 Fslow Fs5off\n",
     "s.ini:2:14: warning: [GFP8.0] L0: `Fs5off` and `Ffast` (column 8) are both set: it "
     "flashes fast\n"
     "s.ini:2:24: warning: [GFP8.0] L0: `=2` overrides `=1` (column 21)\n"},
    {"[GFP8.0]\nL0=X10 U16 U32 X10\n",
     "s.ini:2:12: warning: [GFP8.0] L0: `U32` overrides `U16` (column 8)\n"
     "s.ini:2:16: warning: [GFP8.0] L0: `X10` is given twice (column 4)\n"},
    {"[GFP8.0]\nL0=X10 STR D3\nL1=X10 R2\n",
     "s.ini:2:8: warning: [GFP8.0] L0: `STR` is a display type; a light cannot show it\n"
     "s.ini:2:12: warning: [GFP8.0] L0: `D3` does nothing: display formats are for displays\n"
     "s.ini:3:8: warning: [GFP8.0] L1: `R2` is a display type; a light cannot show it\n"},
    {"[GFMCP.0]\nD0=X10 /0 *1e-99 D3.2\n",
     "s.ini:2:8: warning: [GFMCP.0] D0: `/0` does nothing: 0 stands for no scaling\n"
     "s.ini:2:11: warning: [GFMCP.0] D0: `*1e-99` does nothing: 0 stands for no scaling\n"
     "s.ini:2:18: warning: [GFMCP.0] D0: `D3.2` reads as `D3`\n"},
    {"[GFP8.0]\nL0=X10 =5.5.5\nL1=X10 >-\n",
     "s.ini:2:8: warning: [GFP8.0] L0: `=5.5.5` reads as `=5.5`\n"
     "s.ini:3:8: warning: [GFP8.0] L1: `>-` reads as `>0`\n"},
    {"[GF45.0]\nD0=\"HELLO WORLD\" ; label\nD1=\"1\"\n",
     "s.ini:2:4: warning: [GF45.0] D0: `\"HELLO WORLD\"` keeps only its first 8 characters\n"
     "s.ini:3:4: warning: [GF45.0] D1: the quotes around the whole value are dropped when it "
     "is read: the program reads `1`\n"},
    {"[GF45.0]\nD0='AB ; label\n", "s.ini:2:4: warning: [GF45.0] D0: `'AB ; label` has no "
                                   "closing quote: the text runs to the end of the line\n"},
    {"[Conditions]\n0=X10\n1=X10 C0 !C0 M1FFFFFFFF\n",
     "s.ini:3:10: warning: [Conditions] 1: `!C0` with the same condition required: the line "
     "never applies\n"
     "s.ini:3:14: warning: [Conditions] 1: `M1FFFFFFFF` is over 32 bits and reads as FFFFFFFF\n"},
    // Options the kind of line has no use for.
    {"[GFMCP.0]\nB=X10 Ffast\nL0=>5\nD0=X10 F64 M0F D-\nD1=5 *2\nD2=X10 I20 U8 St5off\n",
     "s.ini:2:7: warning: [GFMCP.0] B: `Ffast` does nothing: a brightness does not flash\n"
     "s.ini:3:4: warning: [GFMCP.0] L0: `>5` compares nothing without an offset: the number "
     "alone decides\n"
     "s.ini:4:12: warning: [GFMCP.0] D0: `M0F` does nothing: a mask takes integer types only\n"
     "s.ini:5:6: warning: [GFMCP.0] D1: `*2` does nothing without an offset (X or IX)\n"
     "s.ini:6:12: warning: [GFMCP.0] D2: `U8` does nothing: the I option reads the type from "
     "the simulator\n"
     "s.ini:6:15: warning: [GFMCP.0] D2: `St5off` does nothing: the timed forms are for "
     "lights\n"},
    {"[GF166.0]\nD0=\"AB\" D3\nD1==5\n",
     "s.ini:2:9: warning: [GF166.0] D0: `D3` does nothing on a text or radio display\n"},
    {"[GF166.0]\nD0=X10 R2 D3 Fs5off\nL0=X10 A\"GEAR\"\n",
     "s.ini:2:11: warning: [GF166.0] D0: `D3` does nothing on a text or radio display\n"
     "s.ini:2:14: warning: [GF166.0] D0: `Fs5off` only flashes here: its time is for lights\n"
     "s.ini:3:4: warning: [GF166.0] L0: `X10` does nothing: a text match reads the "
     "simulator's message line\n"},
    {"[GFP8.0]\nNeeds=AB Volts Radio ; battery\n",
     "s.ini:2:7: warning: [GFP8.0] Needs: `AB` sets A only: just the first letter of a word "
     "counts (write them apart)\n"
     "s.ini:2:10: warning: [GFP8.0] Needs: `Volts` has no number: it asks for at least 0 V, "
     "which always holds\n"
     "s.ini:2:16: warning: [GFP8.0] Needs: `Radio` is ignored: only words starting with A, B, "
     "E or V count\n"
     "s.ini:2:22: warning: [GFP8.0] Needs: `;` starts no comment here: every word after it "
     "counts\n"},
    // A number that can be negative, shown without the sign column.
    {"[GFMCP.0]\nD0=X07F2 S16 D3\nD1=X10 F64\nD2=X10 U16 /-2\nD3=-5\nD4=X10 S8 DX\n",
     "s.ini:2: warning: [GFMCP.0] D0: negative values show without their minus: add the sign "
     "column `D-` (`D-3` for `D3`)\n"
     "s.ini:3: warning: [GFMCP.0] D1: negative values show without their minus: add the sign "
     "column `D-` (`D-3` for `D3`)\n"
     "s.ini:4: warning: [GFMCP.0] D2: negative values show without their minus: add the sign "
     "column `D-` (`D-3` for `D3`)\n"
     "s.ini:5: warning: [GFMCP.0] D3: negative values show without their minus: add the sign "
     "column `D-` (`D-3` for `D3`)\n"},
    {"[GFMCP.0]\nD0=X10 S32 D-\nD1=X10 I20\nD2=X10 U32 *2 /3\nD3=5\nD4=X10 F32 D-52\n", ""},
    // The first line of an output that always applies.
    {"[Conditions]\n0=X07BC U32 =1\n[GFMCP.0]\nL5=X0800 U32 C0\nL5.1=X0804 U32 C0 Fslow\n"
     "D0=X10\nD0.1=X20 C0\n",
     "s.ini:5: warning: [GFMCP.0] L5.1: never used: L5 (line 4) applies whenever this line "
     "does, and the first line that applies owns the light, lit or not\n"
     "s.ini:7: warning: [GFMCP.0] D0.1: never used: D0 (line 6) applies whenever this line "
     "does, and the first line that applies owns the display, shown or blank\n"},
    {"[GFMCP.0]\nL3=1\n[GF45.0]\nL0=1\n",
     "s.ini:2: warning: [GFMCP.0] L3: the GFMCP has no light L3: the line is read, but nothing "
     "lights\n"
     "s.ini:4: warning: [GF45.0] L0: the GF45 has no light L0: the line is read, but nothing "
     "lights\n"},
    // Keys and sections never read.
    {"[Conditions]\n0=X10\n02=X10\n007=X10\n255=X10\nA=X10\n",
     "s.ini:3: warning: [Conditions] 02: never read: the program reads `2`, not `02`\n"
     "s.ini:4: warning: [Conditions] 007: never read: the program reads `7`, not `007`\n"
     "s.ini:5: warning: [Conditions] 255: never read: conditions are numbered 0 to 254\n"
     "s.ini:6: warning: [Conditions] A: never read: the keys of [Conditions] are the numbers 0 "
     "to 254\n"},
    {"[GFP8.0]\nX=1\nD0=1\n[GFATC.0]\nD1=1\nY=1\n",
     "s.ini:2: warning: [GFP8.0] X: never read: a panel section holds Needs, B and L0 to L23 "
     "(and L0.1, ...)\n"
     "s.ini:3: warning: [GFP8.0] D0: never read: the GFP8 has no displays\n"
     "s.ini:5: warning: [GFATC.0] D1: never read: the GFATC has one display, D0\n"
     "s.ini:6: warning: [GFATC.0] Y: never read: a panel section holds Needs, B, L0 to L23 "
     "and D0 (and L0.1, ...)\n"},
    {"[GF166.0]\nD2=X10\nL24=1\nL0=1\nL0.2=1\nL1=1\nL1.1=\nL1.2=1\nL1=X1\nnot a key\n",
     "s.ini:2: warning: [GF166.0] D2: never read: the GF166 has displays D0 to D1\n"
     "s.ini:3: warning: [GF166.0] L24: never read: lights are L0 to L23\n"
     "s.ini:5: warning: [GF166.0] L0.2: never read: the run of L0 lines ends at the missing "
     "L0.1\n"
     "s.ini:8: warning: [GF166.0] L1.2: never read: the run of L1 lines ends at L1.1, which is "
     "empty\n"
     "s.ini:9: warning: [GF166.0] L1: never read: only the first L1 of [GF166.0] (line 6) is "
     "read\n"
     "s.ini:10: warning: [GF166.0]: not a key (no \"=\"): the line is never read\n"},
    {"top=1\n[GFP8.0]\nL0=1\n[gfp8.0]\nL0=X10 Q\n[Config]\nScan=1\n[GF Connections]\nX=1\n",
     "s.ini:1: warning: top: never read: it stands above the first section\n"
     "s.ini:4: warning: [gfp8.0]: never read: only the first [gfp8.0] (line 2) is read\n"
     "s.ini:7: warning: [Config] Scan: never read: [Config] holds ScanInterval and "
     "RevisionTime\n"},
    {"[GFTQ6.0]\nL0=1\n[GF45.1]\nD0=1\n[GF45.01]\nD0=1\n[GFX.0]\nB=1\n",
     "s.ini:1: warning: [GFTQ6.0]: never read: the program never counts GFTQ6 units\n"
     "s.ini:3: warning: [GF45.1]: not read: it is read while 2 or more GF45 units are "
     "connected; checked with 1\n"
     "s.ini:5: warning: [GF45.01]: never read: units are numbered 0, 1, 2, ... as in "
     "[GF45.1]\n"
     "s.ini:7: warning: [GFX.0]: never read: the program reads [Config], [Conditions] and "
     "panel sections such as [GF45.0]\n"},
};

TEST(Lint, EachLineOrSectionGivesExactlyItsWarnings) {
    for (const Case& c : LINES) {
        SCOPED_TRACE(c.settings);
        EXPECT_EQ(lint(c.settings), c.warnings);
    }
}

TEST(Lint, OnlyWhatTheReadLimitLeavesIsParsedAndARejectedLineHasItsVerdictOnly) {
    const std::string tail(260, 'Q');
    EXPECT_EQ(lint("[GFP8.0]\nL0=X10 " + tail + "\n"),
              "s.ini:2:8: warning: [GFP8.0] L0: `" + tail.substr(0, 250) +
                  "` is skipped: no option starts with it\n"
                  "s.ini:2:258: warning: [GFP8.0] L0: only the first 254 characters of a line "
                  "are read: the rest is ignored\n");
    EXPECT_EQ(lint("[GFP8.0]\nL0=X10 Q D7\n"), "");  // rejected: the verdict says it
}

}  // namespace
