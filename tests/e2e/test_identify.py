"""Identify mode against the virtual GoFlight library, with no simulator running: every
light of every unit lit at full brightness, every display showing its section and key
(the section the settings file's Serial= keys bind to the unit) and then its serial,
then everything dark and exit status 0."""
import time
import unittest

import harness

UNITS = "GF45=1,GF46=1,GFP8=1,GFT8=1,GFLGT=1,GF166=2,GFMCP=1,GFRP48=1,GFATC=1,GFMCPPRO=1"
SETTINGS = "[GFP8.0]\r\nL0=1\r\n"

# Segment bytes of the characters a label uses (the program's font: d for D).
GLYPHS = {" ": "00", "0": "3F", "1": "06", "2": "5B", "3": "4F", "4": "66", "D": "5E",
          "A": "77", "B": "7C"}


def segments(label, width):
    """The 16 segment bytes of a label right-aligned in `width` positions."""
    text = label.rjust(width)
    return " ".join([GLYPHS[c] for c in text] + ["00"] * (16 - len(text)))


# What each unit shows: (model, light state, [(display entry point, label, width, form)]).
SHOWN = [
    ("GF45", None, [("SetAlpha", "0 D0", 4, "text"), ("SetNumericSegments", "0 D1", 5, "seg")]),
    ("GF46", None, [("SetAlpha", "0 D0", 4, "text"), ("SetNumericSegments", "0 D1", 6, "seg")]),
    ("GFP8", "0xFF", []), ("GFT8", "0xFF", []), ("GFRP48", "0xFF", []), ("GFLGT", "0xFC", []),
    ("GF166", "0x7", [("SetLDisplaySegments", "0 D0", 6, "seg"),
                      ("SetRDisplaySegments", "0 D1", 6, "seg")]),
    ("GFMCP", "0xF7", [("SetADisplaySegments", "0D0", 3, "seg"),
                       ("SetBDisplaySegments", "0D1", 3, "seg"),
                       ("SetCDisplaySegments", "0D2", 3, "seg"),
                       ("SetDDisplaySegments", "0 D3", 6, "seg"),
                       ("SetEDisplaySegments", "0 D4", 6, "seg")]),
    ("GFMCPPro", "0xBFC69F", [("SetADisplayText", "0D0", 3, "text"),
                              ("SetBDisplayText", "0 D1", 5, "text"),
                              ("SetCDisplayText", "0D2", 3, "text"),
                              ("SetDDisplayText", "0 D3", 5, "text"),
                              ("SetEDisplayText", "0 D4", 5, "text"),
                              ("SetFDisplayText", "0D5", 3, "text")]),
    ("GFATC", None, [("SetDigitSegments", "0", 1, "seg")]),
]


def shown_lines():
    """The log lines of what identify mode shows on unit 0 of every model."""
    lines = []
    for model, lights, displays in SHOWN:
        lines.append(f"{model}_SetBrightness 0 15")
        if lights:
            lines.append(f"{model}_SetIndicators 0 {lights}")
        for entry, label, width, form in displays:
            value = segments(label, width) if form == "seg" else '"' + label.rjust(width) + '"'
            lines.append(f"{model}_{entry} 0 {value}")
    return lines


class Identify(harness.ProgramSandbox):
    def test_every_unit_lights_and_shows_its_keys_then_goes_dark(self):
        self.install(SETTINGS, UNITS)
        switch = "/identify=1" if harness.WINE else "--identify=1"
        began = time.monotonic()
        r = self.run_program(self.program, switch, timeout=60)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertGreaterEqual(time.monotonic() - began, 1.0)
        lines = self.log_lines()
        dark = lines.index("GF45_SetBrightness 0 8")  # the first of the blanking
        for line in shown_lines() + ["GF166_SetRDisplaySegments 1 " + segments("1 D1", 6)]:
            self.assertIn(line, lines[:dark])
        # Everything dark, then the library let go.
        for model, lights, displays in SHOWN:
            self.assertIn(f"{model}_SetBrightness 0 8", lines[dark:])
            if lights:
                self.assertIn(f"{model}_SetIndicators 0 0x0", lines[dark:])
            for entry, _, width, form in displays:
                blank = segments("", width) if form == "seg" else '"' + " " * width + '"'
                self.assertIn(f"{model}_{entry} 0 {blank}", lines[dark:])
        self.assertIn("GF166_SetIndicators 1 0x0", lines[dark:])
        self.assertEqual(lines[-2:], ["GFDev_UnregisterConnectCallback", "GFDev_Terminate"])
        # Nothing written in the settings file, and no report.
        self.assertEqual(harness.read_text(self.ini), SETTINGS)

    def test_units_show_the_section_their_serial_binds_then_the_serial(self):
        settings = "[GF166.0]\r\nSerial=BBB2 ; NAV1\r\nD0=1\r\n"
        self.install(settings, "GF166=[AAA1,BBB2],GF45=[XPDR9]")
        switch = "/identify=4" if harness.WINE else "--identify=4"
        r = self.run_program(self.program, switch, timeout=60)
        self.assertEqual(r.returncode, 0, r.stdout)
        lines = self.log_lines()
        dark = lines.index("GF45_SetBrightness 0 8")
        labels = ["GF166_SetLDisplaySegments 1 " + segments("0 D0", 6),  # [GF166.0]: BBB2
                  "GF166_SetLDisplaySegments 0 " + segments("1 D0", 6),
                  'GF45_SetAlpha 0 "0 D0"']
        serials = ["GF166_SetLDisplaySegments 0 " + segments("AAA1", 6),
                   "GF166_SetRDisplaySegments 1 " + segments("BBB2", 6),
                   'GF45_SetAlpha 0 "XPDR"', 'GF45_SetAlpha 0 "PDR9"']
        for line in labels + serials:
            self.assertIn(line, lines[:dark])
        self.assertLess(lines.index(labels[0]), lines.index(serials[0]))
        self.assertEqual(harness.read_text(self.ini), settings)

    def test_while_the_program_runs_identify_leaves_its_panels_as_they_were(self):
        self.install("[GFP8.0]\r\nL0=X0100 U8 =1\r\n[GF166.0]\r\nD0=X0102 S16 D-5\r\n",
                     "GFP8=1,GF166=1", state=True)
        sim = self.start_simulator(("set 100 u8 1", "set 102 s16 -42"))
        program, _ = self.start_program()
        shown = "GF166_SetLDisplaySegments 0 40 3F 3F 3F 66 5B" + " 00" * 10  # "-00042"
        self.assertTrue(harness.wait_for(
            lambda: "GFP8_SetIndicators 0 0x1" in self.log_lines() and shown in self.log_lines(),
            20), self.log_lines()[-20:])
        time.sleep(1.0)
        before = harness.read_text(self.state)
        switch = "/identify=1" if harness.WINE else "--identify=1"
        r = self.run_program(self.program, switch, timeout=60)
        self.assertEqual(r.returncode, 5, r.stdout)
        self.assertIn("identify would leave its panels dark, so it does nothing", r.stdout)
        time.sleep(1.5)  # as long as identify would have run, and a little more
        self.assertEqual(harness.read_text(self.state), before)
        self.assertEqual(self.log_lines().count("GFDev_Init"), 1)  # identify bound nothing
        self.assertIsNone(program.poll())
        self.stop_simulator(sim)

    def test_a_bad_time_starts_nothing(self):
        self.install(SETTINGS, UNITS)
        r = self.run_program(self.program, "--identify=0", timeout=60)
        self.assertEqual(r.returncode, 4, r.stdout)
        self.assertEqual(self.log_lines(), [])


if __name__ == "__main__":
    unittest.main()
