"""The program left alone: a settings file that nobody saves is not loaded again, and the
program's own write-backs do not count as a save, natively and under Wine (whose archive
attribute never clears); a real save is still loaded. An interrupt ends it with exit
code 0."""
import os
import signal
import time
import unittest

import harness

SETTINGS = (
    "[Config]\r\n"
    "ScanInterval=100\r\n"
    "RevisionTime=1\r\n"
    "[GFP8.0]\r\n"
    "L0=X0104 U8 =1\r\n"
)
LIT = "GFP8_SetIndicators 0 0x1"
DARK = "GFP8_SetIndicators 0 0x0"
# The idle minute under the first Wine build; elsewhere a few reload ticks tell as much.
FIRST_WINE_BUILD = harness.WINE and os.environ.get("NORVALUME_WINE_FIRST_BUILD") != "0"
IDLE_SECONDS = 60 if FIRST_WINE_BUILD else 4
# After the program's own write, a save within the file system's 2 s time grain could
# keep size and time: until then each check compares the bytes. Two ticks on top.
SETTLE_SECONDS = 4


class Program(harness.ProgramSandbox):
    def setUp(self):
        super().setUp()
        self.install(SETTINGS, "GFP8=1")

    def test_unchanged_file_is_not_reloaded(self):
        opens = harness.FileOpens(self.ini)
        if not opens.available:
            self.skipTest("no inotify here to see the settings file read")
        self.addCleanup(opens.close)
        program, _ = self.start_program()
        self.start_simulator(("set 104 u8 1",))
        self.assertTrue(harness.wait_for(lambda: LIT in self.log_lines(), 20), self.log_lines())
        self.assertGreater(opens.count(), 0, "a load that did not read the file")
        time.sleep(SETTLE_SECONDS)
        before, settled = opens.count(), self.log_lines()
        # Every load reads the file (and sends the light afresh); nothing may, idle.
        time.sleep(IDLE_SECONDS)
        self.assertEqual(opens.count() - before, 0, "the file was read while nobody saved it")
        self.assertEqual(self.log_lines(), settled)
        harness.report("idle", "the program left alone for %d s with its settings file "
                       "unchanged" % IDLE_SECONDS, "no load: the file was not read once",
                       **{"seconds": IDLE_SECONDS, "reads of the file": 0})

        # A save of the same size is still a save.
        self.save(SETTINGS.replace("U8 =1", "U8 =0"))
        self.assertTrue(harness.wait_for(lambda: DARK in self.log_lines()[len(settled):], 10),
                        self.log_lines()[len(settled):])
        if harness.WINE:
            self.assertEqual(self.close_window(program), 0)
            return
        program.send_signal(signal.SIGINT)
        self.assertEqual(program.wait(timeout=20), 0)


if __name__ == "__main__":
    unittest.main()
