"""Aircraft profiles in the running program: the simulator's aircraft title picks the
[Profiles] rule, a profile's sections take the place of the settings file's, and the
panels show each profile's outputs with a dark moment between two profiles and nothing
left over from the one before. A livery of the same aircraft and an empty title while a
flight loads change nothing; a save of the profile in force is loaded, of another not; a
rule whose file is missing says so on its line."""
import os
import time
import unittest

import harness

SETTINGS = (
    "[Config]\r\n"
    "ScanInterval=100\r\n"
    "RevisionTime=1\r\n"
    "[Profiles]\r\n"
    "1=alpha.ini | Alpha*\r\n"
    "2=bravo.ini | Bravo* | path:*\\Bravo\\*\r\n"
    "3=charlie.ini | Charlie*\r\n"
    "[GFP8.0]\r\n"
    "L0=X0300 U8 =1 ; every aircraft's\r\n"
    "[GFMCPPRO.0]\r\n"
    "D0=X0400 U16 ; the settings file's own\r\n"
)
ALPHA = "[GFMCPPRO.0]\r\nD1=X0400 U16\r\nL0=X0300 U8 =1\r\n"
BRAVO = "[GFMCPPRO.0]\r\nD2=X0400 U16\r\n"

SHARED_LIT = "GFP8_SetIndicators 0 0x1"
SHARED_DARK = "GFP8_SetIndicators 0 0x0"
MAIN_D0 = 'GFMCPPro_SetADisplayText 0 "123"'
ALPHA_D1 = 'GFMCPPro_SetBDisplayText 0 "  123"'
BRAVO_D2 = 'GFMCPPro_SetCDisplayText 0 "123"'


class Aircraft(harness.ProgramSandbox):
    def setUp(self):
        super().setUp()
        self.install(SETTINGS, "GFP8=1,GFMCPPRO=1", state=True)
        self.write("alpha.ini", ALPHA)
        self.write("bravo.ini", BRAVO)

    def write(self, name, text):
        with open(self.path(name), "w", newline="") as f:
            f.write(text)
        # A save within the file system's time grain of the last still shows.
        os.utime(self.path(name), None)

    def report(self, key):
        for line in harness.read_text(self.ini).splitlines():
            if line.startswith(key + "="):
                return line[len(key) + 1:]
        return None

    def fly(self, sim, title, path=""):
        sim.stdin.write("set 3D00 str %s\nset 3C00 str %s\n" % (title, path))
        sim.stdin.flush()

    def shown(self):
        """What the GFMCPPRO shows: its lights, and each display's text, blanks trimmed."""
        unit = harness.panel_state(harness.read_text(self.state)).get("GFMCPPRO.0", {})
        return {key: value if key == "lights" else value[1].strip().strip('"').strip()
                for key, value in unit.items()}

    def assert_dark_then_lit(self, start):
        """Since log line `start`: every output dark at once, then the shared light lit
        again by the new table."""
        def relit():
            since = self.log_lines()[start:]
            return SHARED_DARK in since and SHARED_LIT in since[since.index(SHARED_DARK):]
        self.assertTrue(harness.wait_for(relit, 5), self.log_lines()[start:])

    def switch(self, sim, title, marker, profile, path="", dark=True):
        """Flies `title` (and `path`): `marker` is logged, after a dark moment when `dark`,
        and the report names `profile`."""
        start = len(self.log_lines())
        self.fly(sim, title, path)
        self.assertTrue(harness.wait_for(lambda: self.logged_since(start, marker), 10),
                        self.log_lines()[start:])
        if dark:
            self.assert_dark_then_lit(start)
        self.assertTrue(harness.wait_for(lambda: self.report("Profile") == profile, 5))

    def test_the_aircraft_picks_the_profile_and_the_panels_follow_it(self):
        sim = self.start_simulator(("set 0300 u8 1", "set 0400 u16 123"))
        self.start_program()
        self.assertTrue(harness.wait_for(lambda: MAIN_D0 in self.log_lines(), 15),
                        self.log_lines()[-20:])
        self.assertEqual(self.report("Profile"), "none (no aircraft title yet)")
        self.assertIn("3=charlie.ini | Charlie* <<< Profile file not found",
                      harness.read_text(self.ini))

        # Aircraft A: rule 1. Its section in place of the settings file's, after a dark
        # moment; the shared light comes back.
        self.switch(sim, "Alpha One", ALPHA_D1, "alpha.ini (rule 1)")
        self.assertEqual(self.report("Aircraft"), "Alpha One")
        self.assertTrue(harness.wait_for(
            lambda: self.shown() == {"lights": 0x1, "A": "", "B": "123"}, 5), self.shown())

        # Loading: the title empty for a while, then another livery of A. Nothing changes:
        # no dark moment, no load (the report still names the first livery).
        quiet = len(self.log_lines())
        self.fly(sim, "")
        time.sleep(1.0)
        self.fly(sim, "Alpha One Livery Two")
        time.sleep(1.5)
        self.assertEqual(self.log_lines()[quiet:], [])
        self.assertEqual(self.report("Aircraft"), "Alpha One")

        # An aircraft no rule matches: the settings file's sections, and nothing of A's.
        self.switch(sim, "Zulu Glider", MAIN_D0, "none (no rule matches)")
        self.assertEqual(self.report("Aircraft"), "Zulu Glider")
        self.assertTrue(harness.wait_for(
            lambda: self.shown().get("A") == "123" and self.shown().get("B") == "" and
            self.shown().get("lights") == 0, 5), self.shown())

        # Aircraft B, by the path of its aircraft file: rule 2.
        self.switch(sim, "Some Mod", BRAVO_D2, "bravo.ini (rule 2)",
                    "C:\\Sim\\Bravo\\aircraft.cfg")
        self.assertTrue(harness.wait_for(
            lambda: self.shown().get("C") == "123" and self.shown().get("A") == "", 5),
            self.shown())
        shared = harness.panel_state(harness.read_text(self.state))["GFP8.0"]
        self.assertEqual(shared["lights"], 0x1)

        # A save of the profile not in force changes nothing; of the one in force, it is
        # loaded like a save of the settings file.
        quiet = len(self.log_lines())
        self.write("alpha.ini", ALPHA.replace("D1=", "D3="))
        time.sleep(3.0)
        self.assertEqual(self.log_lines()[quiet:], [])
        self.write("bravo.ini", BRAVO.replace("D2=", "D3="))
        self.assertTrue(harness.wait_for(
            lambda: self.shown().get("D") == "123" and self.shown().get("C") == "", 10),
            self.shown())

        # A rule whose file is missing: its aircraft gets the settings file's sections.
        self.switch(sim, "Charlie 3", MAIN_D0,
                    "charlie.ini (rule 3): not found, the main sections apply", dark=False)
        self.stop_simulator(sim)


if __name__ == "__main__":
    unittest.main()
