"""The program against the virtual GoFlight library: units counted from GFDEV_UNITS,
lights, brightness and a display reaching the call log and the panel viewer, a panel
plugged in through GFDEV_PLUG reaching the program's loop, two radios that swap ports
keeping their frequencies by serial, and the release at exit."""
import os
import signal
import unittest

import harness

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")

SETTINGS = (
    "[GFMCP.0]\r\n"
    "D3=X0100 U16\r\n"
    "L0=X0104 U8 =1\r\n"
    "L1=X0104 U8 =2\r\n"
    "[GFP8.0]\r\n"
    "L2=X0104 U8 =1\r\n"
    "B=X0106 U8\r\n"
)

DISPLAY_42 = "GFMCP_SetDDisplaySegments 0 00 00 00 00 66 5B" + " 00" * 10

# Two radios bound by serial: COM1 123.45 and NAV1 110.80 (packed decimal).
RADIOS = (
    "[GF166.0]\r\nSerial=COM1RADIO ; the radio on the left\r\nD0=X034E R2\r\n"
    "[GF166.1]\r\nSerial=NAV1RADIO\r\nD0=X0350 R2\r\n"
)
SHOWS_123_45 = "00 06 5B CF 66 6D" + " 00" * 10
SHOWS_110_80 = "00 06 06 BF 7F 3F" + " 00" * 10


def radios(state):
    """[(serial, USB location, left display's segments)] of the GF166 units, in USB order."""
    units = []
    for line in state.splitlines():
        words = line.split(" ", 3)
        if words[0] == "unit":
            units.append({"model": words[1]})
        elif units and words[0] in ("serial", "usb"):
            units[-1][words[0]] = line[len(words[0]) + 1:]
        elif units and words[:3] == ["display", "L", "segments"]:
            units[-1]["L"] = words[3]
    return [(u.get("serial"), u.get("usb"), u.get("L")) for u in units if u["model"] == "GF166"]


class VirtualPanels(harness.ProgramSandbox):
    def setUp(self):
        super().setUp()
        self.install(SETTINGS, "GFMCP=1,GFP8=1", plug=True, state=True)

    def start_simulator(self):
        return super().start_simulator(("set 100 u16 42", "set 104 u8 1", "set 106 u8 5"))

    def panels_frame(self):
        r = self.run_program(harness.exe("norvalume-panels"), "--once", "--state",
                             harness.file_arg(self.state))
        self.assertEqual(r.returncode, 0, r.stdout)
        return r.stdout

    def test_outputs_reach_the_panels_and_a_plugged_panel_is_counted(self):
        self.start_simulator()
        program = self.start(self.program)

        self.assertTrue(harness.wait_for(lambda: DISPLAY_42 in self.log_lines(), 20),
                        harness.read_text(self.log))
        lines = self.log_lines()
        self.assertEqual(lines[:2], ["GFDev_Init", "GFDev_RegisterConnectCallback"])
        self.assertEqual(lines.count("GFMCP_GetNumDevices"), 1)
        self.assertIn("GFP8_SetBrightness 0 5", lines)
        # L0 on, L1 off on the GFMCP; L2 on on the GFP8; each in one read and one write.
        self.assertTrue(harness.wait_for(
            lambda: "GFMCP_SetIndicators 0 0x1" in self.log_lines()
            and "GFP8_SetIndicators 0 0x4" in self.log_lines(), 10), self.log_lines())
        gets = self.log_lines().index("GFMCP_GetIndicators 0")
        self.assertEqual(self.log_lines()[gets + 1], "GFMCP_SetIndicators 0 0x1")

        frame = self.panels_frame()
        self.assertIn("== GFMCP.0 ==", frame)
        self.assertIn("== GFP8.0 ==", frame)
        self.assertIn("brightness 5", frame)
        self.assertIn("  L0-L7     * . .   . . . .\n", frame)  # GFMCP: light 0 (it has no L3)
        self.assertIn("  L0-L7     . . * . . . . .\n", frame)  # GFP8: light 2
        # The 4 and the 2 in the last two of six positions, as segment art.
        rows = [line for line in frame.splitlines() if line.rstrip()]
        d = [i for i, line in enumerate(rows) if line.lstrip().startswith("D3 ")][0]
        art = [row[-8:] for row in rows[d - 1:d + 2]]
        self.assertEqual(art, ["     _  ", "|_|  _| ", "  | |_  "], rows[d - 1:d + 2])

        # A GF45 is plugged in: the library calls back from its own thread, and the
        # recount and the reload of the settings file follow on the program's loop.
        self.replug("GFMCP=1,GFP8=1,GF45=1")
        self.assertTrue(harness.wait_for(lambda: "GF45=1" in harness.read_text(self.ini), 20),
                        harness.read_text(self.ini))
        self.assertEqual(self.log_lines().count("GFMCP_GetNumDevices"), 2)
        self.assertIn("GFDev=DLL found", harness.read_text(self.ini))

        # The reloaded items send their outputs again; only then is there something the
        # exit has to blank.
        def sent_after_recount():
            lines = self.log_lines()
            recount = [i for i, line in enumerate(lines) if line == "GFMCP_GetNumDevices"][1]
            return DISPLAY_42 in lines[recount:]
        self.assertTrue(harness.wait_for(sent_after_recount, 20))
        if harness.WINE:
            return  # an orderly close of the window cannot be asked for from here
        program.send_signal(signal.SIGTERM)
        program.wait(timeout=20)
        lines = self.log_lines()
        self.assertIn("GFP8_SetBrightness 0 8", lines, lines[-20:])
        self.assertEqual(lines[-2:], ["GFDev_UnregisterConnectCallback", "GFDev_Terminate"])
        tail = lines[lines.index("GFP8_SetBrightness 0 8"):-2]  # the blanking at exit
        self.assertIn("GFP8_SetIndicators 0 0x0", tail)
        self.assertIn("GFMCP_SetIndicators 0 0x0", tail)
        self.assertIn("GFMCP_SetDDisplaySegments 0" + " 00" * 16, tail)

    def test_two_radios_swapping_ports_keep_their_frequencies(self):
        self.install(RADIOS, "GF166=[COM1RADIO,NAV1RADIO]", plug=True, state=True)
        sim = super().start_simulator(("set 034E u16 0x2345", "set 0350 u16 0x1080"))
        self.start(self.program)
        plugged = [("COM1RADIO", "1-5.1", SHOWS_123_45), ("NAV1RADIO", "1-5.2", SHOWS_110_80)]
        self.assertTrue(harness.wait_for(
            lambda: radios(harness.read_text(self.state)) == plugged, 20),
            harness.read_text(self.state))
        report = "GF166.0=serial COM1RADIO, USB 1-5.1\r\nGF166.1=serial NAV1RADIO, USB 1-5.2\r\n"
        self.assertTrue(harness.wait_for(lambda: report in harness.read_text(self.ini), 10),
                        harness.read_text(self.ini))

        # Plugged in the other way round: the library numbers NAV1 first now, and each
        # section follows its radio.
        self.replug("GF166=[NAV1RADIO,COM1RADIO]")
        swapped = [("NAV1RADIO", "1-5.1", SHOWS_110_80), ("COM1RADIO", "1-5.2", SHOWS_123_45)]
        self.assertTrue(harness.wait_for(
            lambda: radios(harness.read_text(self.state)) == swapped, 20),
            harness.read_text(self.state))
        report = "GF166.0=serial COM1RADIO, USB 1-5.2\r\nGF166.1=serial NAV1RADIO, USB 1-5.1\r\n"
        self.assertTrue(harness.wait_for(lambda: report in harness.read_text(self.ini), 10),
                        harness.read_text(self.ini))

        # NAV1 unplugged: its section is not read, and the report says so.
        self.replug("GF166=[COM1RADIO]")
        self.assertTrue(harness.wait_for(
            lambda: "GF166.1=serial NAV1RADIO not connected" in harness.read_text(self.ini), 20),
            harness.read_text(self.ini))
        self.assertTrue(harness.wait_for(
            lambda: radios(harness.read_text(self.state)) == [plugged[0]], 10),
            harness.read_text(self.state))
        self.stop_simulator(sim)

    def test_the_demos_gear_lights_the_gf_lgt_ii_lamps_from_the_gear_offsets(self):
        with open(os.path.join(EXAMPLES, "demo.ini"), newline="") as f:
            self.install(f.read(), "GFLGT2=1")
        # Battery on; nose, right and left legs down and locked (16383).
        sim = super().start_simulator(("set 3102 u8 1", "set 0BEC u32 16383",
                                       "set 0BF0 u32 16383", "set 0BF4 u32 16383"))
        self.start(self.program)
        # Greens: right 0x04, nose 0x10, left 0x40.
        self.assertTrue(harness.wait_for(
            lambda: "GFLGT2_SetIndicators 0 0x54" in self.log_lines(), 20), self.log_lines())
        self.assertIn("GFLGT2_SetBrightness 0 15", self.log_lines())
        # The nose leg travels: its red (0x20) instead of its green.
        sim.stdin.write("set 0BEC u32 8000\n")
        sim.stdin.flush()
        self.assertTrue(harness.wait_for(
            lambda: "GFLGT2_SetIndicators 0 0x64" in self.log_lines(), 10),
            self.log_lines()[-5:])
        # All up: dark.
        sim.stdin.write("set 0BEC u32 0\nset 0BF0 u32 0\nset 0BF4 u32 0\n")
        sim.stdin.flush()
        self.assertTrue(harness.wait_for(
            lambda: "GFLGT2_SetIndicators 0 0x0" in self.log_lines(), 10),
            self.log_lines()[-5:])
        self.stop_simulator(sim)

    def test_library_refusing_init_ends_the_start(self):
        self.env["GFDEV_INIT_RESULT"] = "1"
        r = self.run_program(self.program, timeout=30)
        self.assertEqual(r.returncode, 2, r.stdout)
        self.assertEqual(self.log_lines(), ["GFDev_Init"])
        # The beep alone does not say why: the settings file does.
        self.assertIn("GFDev=initialisation failed\r\n", harness.read_text(self.ini))

    @unittest.skipIf(harness.WINE, "under Wine the fallback reads the registry: test_windows")
    def test_library_found_through_the_configuration_programs_folder(self):
        folder = self.path("GoFlight")
        os.makedirs(folder)
        name = os.path.basename(harness.device_library())
        os.replace(self.path(name), os.path.join(folder, name))
        self.env["GFDEV_INIT_RESULT"] = "1"  # ends the start right after the library is found
        self.env.pop("GFCONFIG_PATH", None)
        r = self.run_program(self.program, timeout=30)
        self.assertEqual((r.returncode, self.log_lines()), (2, []))
        self.assertIn("GFDev=DLL not found\r\n", harness.read_text(self.ini))
        self.env["GFCONFIG_PATH"] = folder
        r = self.run_program(self.program, timeout=30)
        self.assertEqual((r.returncode, self.log_lines()), (2, ["GFDev_Init"]))

    def test_viewer_draws_digits_points_text_and_lights(self):
        with open(self.state, "w") as f:
            f.write("unit GF166 0\nserial GF1660042\nusb 1-4.2\nbrightness 3\nlights 8 0x85\n"
                    "display L segments FF 06 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                    "display R text HELLO\nend\n"
                    "unit GFP8 0\nserial \nusb 1-2.1\nbrightness 8\nlights 8 0x0\nend\n"
                    "unit GFMCPPRO 0\nbrightness -\nlights 32 0x200\n"
                    "display A text    \nend\n")
        frame = self.panels_frame()
        # Who the unit is; lights by key, only those the model has; a unit with nothing
        # lit is dark.
        self.assertIn("== GF166.0 ==\n  serial GF1660042, USB 1-4.2\n  brightness 3\n"
                      "  L0-L2     * . *\n", frame)
        self.assertIn("  D1        [HELLO]\n", frame)
        self.assertIn("== GFP8.0 ==\n  no serial, USB 1-2.1\n  dark\n"
                      "  L0-L7     . . . . . . . .\n", frame)
        self.assertIn("== GFMCPPRO.0 ==\n  brightness not set\n"
                      "  L0-L7     . . . . .     .\n  L9-L15    * .       . .\n"
                      "  L16-L23   . . . . . .   .\n  D0        [   ]\n", frame)
        rows = frame.splitlines()
        d = [i for i, line in enumerate(rows) if line.lstrip().startswith("D0 ")][0]
        art = [row[12:20] for row in rows[d - 1:d + 2]]  # after the label column
        self.assertEqual(art, [" _      ", "|_|   | ", "|_|.  | "], rows[d - 1:d + 2])


if __name__ == "__main__":
    unittest.main()
