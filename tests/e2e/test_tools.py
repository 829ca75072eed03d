"""What every tool answers alike: --help with its usage and exit status 0, and --version
with the project's version. The tools are found from their build files, so a new one is
covered without a change here."""
import glob
import os
import re
import unittest

import harness

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def project_version():
    with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
        return re.search(r"project\(norvalume VERSION ([0-9.]+)", f.read()).group(1)


def tools():
    """The tools of the build under test; those a build file makes only inside if(WIN32)
    exist in the Windows build alone."""
    names = []
    for build_file in sorted(glob.glob(os.path.join(SOURCE, "tools", "*", "CMakeLists.txt"))):
        with open(build_file) as f:
            text = f.read()
        windows_only = re.findall(r"^if\(WIN32\)\n\s+add_executable\(([\w-]+)", text, re.M)
        names += [name for name in re.findall(r"add_executable\(([\w-]+)", text)
                  if harness.WINE or name not in windows_only]
    return names


class Tools(harness.Sandbox):
    def test_help_and_version(self):
        version = project_version()
        names = tools()
        self.assertIn("norvalume-check", names)
        for tool in names:
            with self.subTest(tool=tool):
                r = self.run_program(harness.exe(tool), "--help")
                self.assertEqual(r.returncode, 0, r.stdout)
                self.assertIn("usage: " + tool, r.stdout)
                r = self.run_program(harness.exe(tool), "--version")
                self.assertEqual(r.returncode, 0, r.stdout)
                self.assertEqual(r.stdout.strip(), tool + " " + version)


if __name__ == "__main__":
    unittest.main()
