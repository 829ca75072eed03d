"""The program left alone: a settings file that nobody saves is not loaded again, and the
program's own write-backs do not count as a save. An interrupt ends it with exit code 0."""
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


class Program(harness.ProgramSandbox):
    def setUp(self):
        super().setUp()
        self.install(SETTINGS, "GFP8=1")

    @unittest.skipIf(harness.WINE, "Wine reports the archive attribute as always set")
    def test_unchanged_file_is_not_reloaded(self):
        program, _ = self.start_program()
        self.start_simulator(("set 104 u8 1",))
        self.assertTrue(harness.wait_for(
            lambda: "GFP8_SetIndicators 0 0x1" in self.log_lines(), 20), self.log_lines())
        time.sleep(1.0)  # the sends that follow every load are over
        settled = self.log_lines()
        # A reload would send the light afresh; three reload ticks pass without one.
        time.sleep(3.5)
        self.assertEqual(self.log_lines(), settled)
        program.send_signal(signal.SIGINT)
        self.assertEqual(program.wait(timeout=20), 0)


if __name__ == "__main__":
    unittest.main()
