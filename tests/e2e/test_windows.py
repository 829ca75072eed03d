"""The Windows product under Wine: the device library found only through the registry, a
start with no library anywhere or one of the other bitness, the ordinary end through a
closed window, and the zip's program unpacked into a fresh folder running a session with
the example settings file. Skipped on the Linux build, which has no window to close, no
registry and no zip."""
import os
import re
import shutil
import subprocess
import sys
import unittest
import zipfile

import harness

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "windows"))
import pe_resources  # noqa: E402

APP_PATHS = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\GFConfig.exe"

SETTINGS = (
    "[GFMCP.0]\r\n"
    "D3=X0100 U16\r\n"
    "L0=X0104 U8 =1\r\n"
    "[GFP8.0]\r\n"
    "B=5\r\n"
)


@unittest.skipUnless(harness.WINE, "tests of the Windows build, run by run-wine")
class WindowsProgram(harness.ProgramSandbox):
    def setUp(self):
        super().setUp()
        self.install(SETTINGS, "GFMCP=1,GFP8=1")

    def reg(self, *args):
        return subprocess.run([harness.WINE_LOADER, "reg", *args], env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              timeout=60)

    def failed_start(self, reason):
        """Runs the program to its end; asserts exit code 2 and the report's reason."""
        r = self.run_program(self.program, timeout=60)
        self.assertEqual(r.returncode, 2, r.stdout)
        self.assertIn("GFDev=%s\r\n" % reason, harness.read_text(self.ini))

    def test_library_through_the_registry_then_nowhere_then_of_the_other_bitness(self):
        folder = self.path("GoFlight")
        os.makedirs(folder)
        os.replace(self.path("GFDEV.DLL"), os.path.join(folder, "GFDEV.DLL"))
        self.addCleanup(self.reg, "delete", APP_PATHS, "/f")
        r = self.reg("add", APP_PATHS, "/v", "Path", "/d", harness.file_arg(folder), "/f")
        self.assertEqual(r.returncode, 0, r.stdout)
        # Found only there: the library is loaded and asked to start, which it refuses.
        self.env["GFDEV_INIT_RESULT"] = "1"
        self.failed_start("initialisation failed")
        self.assertEqual(self.log_lines(), ["GFDev_Init"])

        self.reg("delete", APP_PATHS, "/f")
        os.remove(self.log)
        self.failed_start("DLL not found")
        self.assertEqual(self.log_lines(), [])

        other = os.path.join(harness.OTHER_BITNESS_BIN, "GFDEV.DLL")
        if not os.path.exists(other):
            return  # only one of the two builds exists on this machine
        shutil.copy(other, self.path("GFDEV.DLL"))
        self.failed_start("DLL is for the other bitness (32/64-bit)")
        self.assertEqual(self.log_lines(), [])

    def test_closing_the_window_makes_the_panels_dark_and_ends_with_0(self):
        sim = self.start_simulator(("set 100 u16 42", "set 104 u8 1"))
        program, _ = self.start_program()
        display = "GFMCP_SetDDisplaySegments 0 00 00 00 00 66 5B" + " 00" * 10
        self.assertTrue(harness.wait_for(lambda: display in self.log_lines()
                                         and "GFMCP_SetIndicators 0 0x1" in self.log_lines(),
                                         30), self.log_lines()[-20:])
        lit = len(self.log_lines())
        self.assertEqual(self.close_window(program), 0)
        lines = self.log_lines()
        self.assertEqual(lines[-2:], ["GFDev_UnregisterConnectCallback", "GFDev_Terminate"])
        dark = lines[lit:-2]
        self.assertIn("GFMCP_SetIndicators 0 0x0", dark)
        self.assertIn("GFMCP_SetDDisplaySegments 0" + " 00" * 16, dark)
        self.assertIn("GFP8_SetBrightness 0 8", dark)
        self.stop_simulator(sim)


@unittest.skipUnless(harness.WINE, "tests of the Windows package, run by run-wine")
class Package(harness.ProgramSandbox):
    def test_the_zip_runs_a_session_with_its_example_settings_file(self):
        self.assertTrue(os.path.exists(harness.ZIP), "no zip: %r" % harness.ZIP)
        folder = self.path("Norvalume")
        with zipfile.ZipFile(harness.ZIP) as z:
            z.extractall(folder)
        programs = ["norvalume-check.exe", "norvalume-sim.exe", "norvalume-watch.exe",
                    "norvalume.exe"]
        self.assertEqual(sorted(os.listdir(folder)),
                         ["README.txt", "demo-jet.ini", "demo.scenario"] + programs +
                         ["norvalume.ini.example", "panels", "settings.md", "windows.md"])
        # Every drawing the settings guide shows is beside it.
        drawings = re.findall(r"\]\((panels/[\w.]+\.svg)\)",
                              harness.read_text(os.path.join(folder, "settings.md")))
        self.assertGreaterEqual(len(drawings), 10)
        self.assertEqual(sorted("panels/" + n for n in os.listdir(self.path("Norvalume/panels"))),
                         sorted(drawings))
        with open(os.path.join(folder, "README.txt"), "rb") as f:
            readme = f.read()
        self.assertEqual(readme.count(b"\n"), readme.count(b"\r\n"))

        # Every program carries the manifest and the version the checker reports.
        r = self.run_program(os.path.join(folder, "norvalume-check.exe"), "--version")
        self.assertEqual(r.returncode, 0, r.stdout)
        version = r.stdout.split()[-1]
        self.assertIn(("Norvalume %s for Windows" % version).encode(), readme)
        self.assertIn(version, os.path.basename(harness.ZIP))
        for name in programs:
            info = pe_resources.read(os.path.join(folder, name))
            self.assertEqual(pe_resources.problems(info, version), [], name)

        # As a user installs it: the example becomes the settings file; the virtual
        # library stands in for the vendor's.
        os.rename(os.path.join(folder, "norvalume.ini.example"),
                  os.path.join(folder, "norvalume.ini"))
        self.ini = os.path.join(folder, "norvalume.ini")
        self.program = os.path.join(folder, "norvalume.exe")
        self.log = self.path("gfdev.log")
        shutil.copy(harness.device_library(), folder)
        self.env.update({"GFDEV_UNITS": "GFP8=1,GFMCP=1,GF166=1,GF45=1,GFMCPPRO=1",
                         "GFDEV_LOG": harness.file_arg(self.log)})
        # The zip's own simulator stand-in plays the zip's scenario.
        sim = self.start(os.path.join(folder, "norvalume-sim.exe"), "--script",
                         harness.file_arg(os.path.join(folder, "demo.scenario")))
        self.assertTrue(sim.stdout.readline().startswith("ready"))
        program, _ = self.start_program(cwd=self.dir)

        expected = ['GFMCPPro_SetBDisplayText 0 "  250"', 'GF45_SetAlpha 0 "XPDR"',
                    "GFP8_SetBrightness 0 15"]
        self.assertTrue(harness.wait_for(
            lambda: all(line in self.log_lines() for line in expected), 30),
            self.log_lines()[-30:])
        # The zip's watch, beside the running program, shows what it shows (once the
        # scenario's moment of dark panels has passed).
        frames = []

        def watched():
            r = self.run_program(os.path.join(folder, "norvalume-watch.exe"), "--once",
                                 "--filter", "GFMCPPRO", harness.file_arg(self.ini))
            frames.append(r.stdout)
            return r.returncode == 0 and re.search(
                r'GFMCPPRO\.0 +D1 +D1=X07E2 U16 D3 +250 +"250"', r.stdout)
        self.assertTrue(harness.wait_for(watched, 30, step=0.5), frames[-1])
        self.assertEqual(self.close_window(program), 0)
        self.assertEqual(self.log_lines()[-1], "GFDev_Terminate")
        text = harness.read_text(self.ini)
        self.assertIn("[GF Connections]\r\nGFDev=DLL found\r\n", text)
        self.assertIn("GFMCPPRO=1\r\n", text)
        rejected = [line for line in text.splitlines()
                    if "<<<" in line and not line.startswith(";")]
        self.assertEqual(rejected, [])  # the example is accepted whole
        self.stop_simulator(sim)


if __name__ == "__main__":
    unittest.main()
