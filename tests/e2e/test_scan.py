"""The scan cycle against norvalume-sim and the virtual panel library.

norvalume-scandriver builds its item table through the line parser, opens the link and
scans on command; the library's call log shows what reached the panels.
"""
import os
import queue
import re
import threading
import unittest

import harness

ITEMS = """\
Conditions 0=X0700 U8 =1
GFP8.0 B=X0710 U8
GFP8.0 L0=X0720 U8
GFP8.0 L1=C0 1
GFP8.0 L2=X0721 U8 >5
GFMCPPRO.0 D1=X0730 U16 D3
"""


# The outputs in states that used to repeat writes: a flashing light that is off, a
# display past its width, and every output after a load (evaluated twice as changed).
QUIET_ITEMS = """\
Conditions 0=X0700 U8 =1
GFP8.0 B=X0710 U8
GFP8.0 L0=X0720 U8
GFP8.0 L1=C0 1
GFP8.0 L3=X0722 U8 Ffast
GFMCPPRO.0 L0=X0720 U8
GFMCPPRO.0 D0=X0732 U16
GFMCPPRO.0 D1=X0730 U16 D3
"""


class WriteCount:
    """Per tick, from the library's call log: the writes, those that send an output
    exactly what it was last sent, and among those the brightness refresh."""

    def __init__(self):
        self.last = {}

    def tick(self, lines):
        writes = repeats = refreshes = 0
        for line in lines:
            name, unit, sent = (line.split(" ", 2) + ["", ""])[:3]
            if "_Set" not in name:
                continue
            writes += 1
            if self.last.get((name, unit)) == sent:
                if name.endswith("_SetBrightness"):
                    refreshes += 1
                else:
                    repeats += 1
            self.last[(name, unit)] = sent
        return writes, repeats, refreshes


class Process:
    """A program in the background whose output is read line by line."""

    def __init__(self, sandbox, path, *args, env=None):
        self.process = sandbox.start(path, *args, env=env)
        self.lines = queue.Queue()
        threading.Thread(target=self._pump, daemon=True).start()

    def _pump(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\r\n"))

    def send(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def wait_for(self, prefix, timeout=30):
        seen = []
        while True:
            line = self.lines.get(timeout=timeout)
            seen.append(line)
            if line.startswith(prefix):
                return line, seen


class ScanTest(harness.Sandbox):

    def setUp(self):
        super().setUp()
        driver = harness.exe("norvalume-scandriver")
        if not os.path.exists(driver):
            self.skipTest("norvalume-scandriver is built only with the native tests")
        self.sim = Process(self, harness.exe("norvalume-sim"))
        self.sim.wait_for("ready")
        self.log = self.path("gfdev.log")
        env = dict(self.env)
        env["GFDEV_UNITS"] = "GFP8=1,GFMCPPRO=1"
        env["GFDEV_LOG"] = self.log
        env["LD_LIBRARY_PATH"] = harness.BIN
        env["GFCONFIG_PATH"] = harness.BIN
        with open(self.path("items.txt"), "w") as f:
            f.write(ITEMS)
        self.driver_env = env
        self.driver_path = driver
        self.read_so_far = 0

    def set_sim(self, *commands):
        for c in commands:
            self.sim.send(c)
        # The emulator answers commands in order: once this dump is back, all are in place.
        self.sim.send("dump 0 1")
        self.sim.wait_for("0")

    def new_log_lines(self):
        lines = harness.read_text(self.log).splitlines()
        fresh = lines[self.read_so_far:]
        self.read_so_far = len(lines)
        return fresh

    def scan(self, driver, n):
        driver.send("scan %d" % n)
        line, _ = driver.wait_for("scanned")
        self.assertTrue(line.endswith("link up"), line)
        return self.new_log_lines()

    def display_texts(self, lines):
        return [m.group(1) for m in
                (re.match(r'GFMCPPro_SetBDisplayText 0 "(.*)"$', l) for l in lines) if m]

    def test_values_reach_lights_brightness_and_digits(self):
        self.set_sim("set 0700 u8 1", "set 0710 u8 7", "set 0720 u8 1", "set 0721 u8 3",
                     "set 0730 u16 42")
        driver = Process(self, self.driver_path, self.path("items.txt"), env=self.driver_env)
        _, startup = driver.wait_for("ready")
        self.assertIn("items 6", startup)
        self.assertIn("library bound", startup)
        self.new_log_lines()  # binding and counting

        first = self.scan(driver, 2)
        self.assertIn("GFP8_SetBrightness 0 7", first)
        self.assertIn("GFP8_SetIndicators 0 0x3", first)  # L0 read on, L1 from C0, L2 off
        self.assertTrue(self.display_texts(first), first)
        self.assertEqual(self.display_texts(first)[-1].strip(), "042")

        quiet = self.scan(driver, 1)
        self.assertNotIn("GFP8_SetBrightness 0 7", quiet)  # unchanged, not yet a second
        self.assertEqual(self.display_texts(quiet), [])

        self.set_sim("set 0700 u8 0", "set 0710 u8 20", "set 0721 u8 9", "set 0730 u16 1234")
        changed = self.scan(driver, 1)
        self.assertIn("GFP8_SetBrightness 0 15", changed)
        self.assertIn("GFP8_SetIndicators 0 0x5", changed)  # L1 off with C0, L2 above 5
        self.assertEqual([t.strip() for t in self.display_texts(changed)], ["1234"])

        self.set_sim("set 330C u8 8")
        blanked = self.scan(driver, 1)
        self.assertIn("GFP8_SetBrightness 0 8", blanked)
        self.assertIn("GFP8_SetIndicators 0 0x0", blanked)
        self.assertEqual([t.strip() for t in self.display_texts(blanked)], [""])

        driver.send("quit")
        self.assertEqual(driver.process.wait(timeout=30), 0)

    def test_no_write_repeats_what_the_panels_show(self):
        self.set_sim("set 0700 u8 1", "set 0710 u8 7", "set 0720 u8 1", "set 0722 u8 0",
                     "set 0730 u16 42", "set 0732 u16 12345")
        with open(self.path("items.txt"), "w") as f:
            f.write(QUIET_ITEMS)
        driver = Process(self, self.driver_path, self.path("items.txt"), env=self.driver_env)
        driver.wait_for("ready")
        self.new_log_lines()  # binding and counting
        count = WriteCount()

        # Brightness, the GFP8's lights, the GFMCPPRO's light and both its displays; then
        # nothing but the brightness refresh, whatever the flashing light's phase.
        first = count.tick(self.scan(driver, 1))
        self.assertEqual(first, (5, 0, 0), self.log_lines_so_far())
        for n in range(5):
            writes, repeats, refreshes = count.tick(self.scan(driver, 1))
            self.assertEqual((writes - refreshes, repeats), (0, 0), self.log_lines_so_far())
            self.assertLessEqual(refreshes, 1)

        # Every value moves, the wide one stays too wide: per tick each unit's lights and
        # the display that shows the number, no more.
        for n in range(5):
            self.set_sim("set 0720 u8 %d" % (n % 2), "set 0730 u16 %d" % (100 + n),
                         "set 0732 u16 %d" % (20000 + n))
            writes, repeats, refreshes = count.tick(self.scan(driver, 1))
            self.assertEqual((writes - refreshes, repeats), (3, 0), self.log_lines_so_far())
            self.assertLessEqual(refreshes, 1)

        driver.send("quit")
        self.assertEqual(driver.process.wait(timeout=30), 0)

    def log_lines_so_far(self):
        return harness.read_text(self.log).splitlines()[-20:]


if __name__ == "__main__":
    unittest.main()
