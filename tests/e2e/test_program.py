"""The whole program as a user runs it: copied beside its settings file, with the simulator
stand-in and the virtual panel library. Titles, outputs in the library's call log, a saved
settings file reloaded, a panel plugged in, the simulator going away and coming back, the
report in the settings file, and the orderly end on SIGTERM."""
import glob
import os
import signal
import time
import unittest

import harness

SETTINGS = (
    "[Config]\r\n"
    "ScanInterval=100\r\n"
    "RevisionTime=1\r\n"
    "[GFMCPPRO.0]\r\n"
    "D1=X0100 U16\r\n"
    "L0=X0104 U8 =1\r\n"
    "[GF45.0]\r\n"
    "D0='PLUG' ; shown once this panel is plugged in\r\n"
)

SIM_VALUES = ("set 100 u16 42", "set 102 u16 77", "set 104 u8 1")


class Program(harness.ProgramSandbox):
    def setUp(self):
        super().setUp()
        self.install(SETTINGS, "GFMCPPRO=1", plug=True, state=True)

    def start_simulator(self, *args):
        return super().start_simulator(SIM_VALUES, *args)

    def wait_title(self, out, title, timeout):
        if harness.WINE:
            return  # the title of a real window is not printed
        self.assertTrue(harness.wait_for(lambda: out.last() == title, timeout), out.lines)

    def test_a_whole_session(self):
        program, out = self.start_program()
        self.wait_title(out, "Norvalume: waiting", 10)
        if not harness.WINE:
            # The title given at creation is replaced during creation, before any link.
            self.assertEqual(out.all()[:2], ["Norvalume", "Norvalume: waiting"])

        sim = self.start_simulator()
        self.wait_title(out, "Norvalume: connected", 10)
        speed = 'GFMCPPro_SetBDisplayText 0 "   42"'
        self.assertTrue(harness.wait_for(lambda: speed in self.log_lines(), 10),
                        self.log_lines()[-20:])
        self.assertTrue(harness.wait_for(
            lambda: "GFMCPPro_SetIndicators 0 0x1" in self.log_lines(), 10))
        report = harness.read_text(self.ini)
        self.assertIn("GFDev=DLL found", report)
        self.assertIn("GFMCPPRO=1", report)
        self.assertNotIn("Ombrex", report)

        if not harness.WINE:
            # The program's own write-backs do not make it load again and again.
            stamp = os.stat(self.ini).st_mtime_ns
            time.sleep(2.5)
            self.assertEqual(os.stat(self.ini).st_mtime_ns, stamp)

        # Saved again with another offset and a bad line: reloaded within RevisionTime.
        start = len(self.log_lines())
        saved_at = time.monotonic()
        self.save(SETTINGS.replace("X0100", "X0102")
                  .replace("U8 =1\r\n", "U8 =1\r\nL1=X0104 D7\r\n"))
        changed = 'GFMCPPro_SetBDisplayText 0 "   77"'
        self.assertTrue(harness.wait_for(lambda: self.logged_since(start, changed), 10),
                        self.log_lines()[start:])
        self.assertLess(time.monotonic() - saved_at, 2.4)  # RevisionTime 1 s, not 2.5
        self.assertIn("L1=X0104 D7 <<< Bad Display format", harness.read_text(self.ini))

        # A GF45 is plugged in: its section is read and its display is written.
        self.replug("GFMCPPRO=1,GF45=1")
        self.assertTrue(harness.wait_for(
            lambda: any(line.startswith("GF45_SetAlpha 0 ") and "PLUG" in line
                        for line in self.log_lines()), 15), self.log_lines()[-20:])
        self.assertIn("GF45=1", harness.read_text(self.ini))

        # The simulator goes away: the link drops, and 5 s later the panels go dark.
        stop = len(self.log_lines())
        stopped_at = time.monotonic()
        self.stop_simulator(sim)
        self.wait_title(out, "Norvalume: waiting", 10)
        # What was written before the last load is still made dark.
        self.assertTrue(harness.wait_for(
            lambda: self.logged_since(stop, "GFMCPPro_SetIndicators 0 0x0"), 15),
            self.log_lines()[stop:])
        self.assertGreater(time.monotonic() - stopped_at, 4.0)

        # It comes back: supervision reconnects and the outputs are sent afresh.
        back = len(self.log_lines())
        sim = self.start_simulator()
        self.wait_title(out, "Norvalume: connected", 10)
        self.assertTrue(harness.wait_for(lambda: self.logged_since(back, changed), 10),
                        self.log_lines()[back:])

        if harness.WINE:
            return  # an orderly close of the window cannot be asked for from here
        program.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait(timeout=20), 0)
        lines = self.log_lines()
        self.assertEqual(lines[-2:], ["GFDev_UnregisterConnectCallback", "GFDev_Terminate"])
        self.assertIn("GFMCPPro_SetIndicators 0 0x0", lines[back:-2])

    def test_the_command_line_is_answered_and_starts_nothing(self):
        os.remove(self.ini)
        version = "norvalume " + harness.read_text(os.path.join(
            harness.BIN, "..", "generated", "version.h")).split('"')[1]
        cases = [("--help", 0, "usage: norvalume [--identify"),
                 ("--version", 0, version),
                 ("--identfy=3", 4, "not understood: --identfy=3"),
                 ("extra.ini", 4, "not understood: extra.ini")]
        if harness.WINE:
            cases += [("/?", 0, "usage: norvalume"), ("/VERSION", 0, version)]
        for arg, code, said in cases:
            with self.subTest(arg=arg):
                r = self.run_program(self.program, arg)
                self.assertEqual(r.returncode, code, r.stdout)
                self.assertIn(said, r.stdout)
                if not harness.WINE:  # the beep of a refusal; Windows sounds it
                    self.assertEqual("\a" in r.stdout, code != 0, r.stdout)
                if code:
                    self.assertIn("usage: norvalume", r.stdout)
                self.assertFalse(os.path.exists(self.ini))
                self.assertEqual(self.log_lines(), [])  # the library was never loaded

    def test_a_second_copy_ends_and_the_first_keeps_its_panels_and_file(self):
        sim = self.start_simulator()
        program, out = self.start_program()
        lit = "GFMCPPro_SetIndicators 0 0x1"
        self.assertTrue(harness.wait_for(lambda: lit in self.log_lines(), 15))
        time.sleep(1.0)  # the first loads are written
        before = (harness.read_bytes(self.ini), os.stat(self.ini).st_mtime_ns,
                  harness.read_text(self.state))
        # The same file by another spelling: a linked folder here, upper case on Windows.
        if harness.WINE:
            second = harness.file_arg(self.program).upper()
        else:
            os.symlink(self.dir, self.path("linked"))
            second = os.path.join(self.path("linked"), "norvalume.exe")
        for path in (self.program, second):
            with self.subTest(path=path):
                r = self.run_program(path, timeout=60)
                self.assertEqual(r.returncode, 5, r.stdout)
                self.assertIn("norvalume: Norvalume already runs for", r.stdout)
                self.assertIn("norvalume.ini; this copy ends", r.stdout.lower())
                if not harness.WINE:
                    self.assertIn("\a", r.stdout)
        self.assertIsNone(program.poll())
        self.assertEqual(self.log_lines().count("GFDev_Init"), 1)
        self.assertEqual((harness.read_bytes(self.ini), os.stat(self.ini).st_mtime_ns,
                          harness.read_text(self.state)), before)

        # A copy that was killed holds nothing: the next start runs.
        program.kill()
        program.wait(timeout=10)
        program, out = self.start_program()
        self.assertTrue(harness.wait_for(lambda: self.log_lines().count("GFDev_Init") == 2, 15))
        time.sleep(1.0)
        self.assertIsNone(program.poll(), harness.read_text(self.path("norvalume.out")))
        self.stop_simulator(sim)

    def test_a_module_on_its_own_window_alone_drives_the_panels(self):
        # The interface module as a program of its own, beside a simulator whose main
        # window has another class: only UIPCMAIN answers.
        self.start_simulator("--window", "UIPCMAIN")
        program, out = self.start_program()
        self.wait_title(out, "Norvalume: connected", 10)
        for line in ('GFMCPPro_SetBDisplayText 0 "   42"', "GFMCPPro_SetIndicators 0 0x1"):
            self.assertTrue(harness.wait_for(lambda: line in self.log_lines(), 15),
                            self.log_lines()[-20:])
        self.assertNotIn("Ombrex", harness.read_text(self.ini))

    def test_old_interface_is_reported_once_the_file_is_loaded_again(self):
        self.start_simulator("--interface", "0x34640000")
        program, out = self.start_program()
        self.wait_title(out, "Norvalume: waiting", 10)
        time.sleep(1.0)  # the first link attempt runs right after the first load
        self.save(harness.read_text(self.ini))  # the user saves: the next load reports it
        self.assertTrue(harness.wait_for(
            lambda: "Ombrex=incorrect version, needs >= 3.465" in harness.read_text(self.ini),
            10), harness.read_text(self.ini))
        self.assertNotEqual(out.last(), "Norvalume: connected")

    def test_a_block_left_by_a_killed_program_goes_at_the_next_start(self):
        if harness.WINE:
            self.skipTest("Windows frees a killed program's shared memory itself")
        for restarted in ("norvalume-sim", "norvalume"):
            with self.subTest(restarted=restarted):
                sim = self.start_simulator()
                program, out = self.start_program()
                self.wait_title(out, "Norvalume: connected", 10)
                blocks = glob.glob("/dev/shm/FsasmLib:IPC:%X:*" % program.pid)
                self.assertTrue(blocks)
                # An emulator starting elsewhere meanwhile leaves a living owner's block.
                elsewhere = dict(self.env, NORVALUME_RUNDIR=self.path("elsewhere"))
                os.makedirs(elsewhere["NORVALUME_RUNDIR"], exist_ok=True)
                other = self.start(harness.exe("norvalume-sim"), env=elsewhere)
                self.assertTrue(other.stdout.readline().startswith("ready"))
                self.stop_simulator(other)
                self.assertTrue(all(os.path.exists(b) for b in blocks))

                program.kill()
                program.wait(timeout=10)
                self.assertTrue(all(os.path.exists(b) for b in blocks))
                self.stop_simulator(sim)
                if restarted == "norvalume-sim":
                    self.start_simulator()
                else:
                    program, out = self.start_program()
                    self.wait_title(out, "Norvalume: waiting", 10)
                self.assertTrue(harness.wait_for(
                    lambda: not any(os.path.exists(b) for b in blocks), 5), blocks)
                for p in self.processes:
                    p.kill()
                    p.wait(timeout=10)


if __name__ == "__main__":
    unittest.main()
