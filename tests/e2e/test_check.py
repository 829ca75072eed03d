"""norvalume-check as a user runs it: verdicts printed and written back, the report,
--dry-run leaving the file alone, --dump, the warnings of --lint, and the exit status."""
import os
import shutil
import unittest

import harness

SETTINGS = (
    "[Conditions]\r\n"
    "0=X0BC4 U8 =1\r\n"
    "1=X0BC4 U8 = 1\r\n"
    "[GF45.0]\r\n"
    "Needs=Avionics\r\n"
    "D0=X034E R0 C0\r\n"
    "D1=X0BC4 D7\r\n"
    "[GFP8.0]\r\n"
    "L0=X0BC4 C0 Fslow\r\n"
)


def file_arg(path):
    """A path as the program under this launcher expects it."""
    return "Z:" + path.replace("/", "\\") if harness.WINE else path


class CheckTool(harness.Sandbox):
    def setUp(self):
        super().setUp()
        self.ini = self.path("panel.ini")
        with open(self.ini, "w", newline="") as f:
            f.write(SETTINGS)

    def check(self, *args):
        return self.run_program(harness.exe("norvalume-check"), *args)

    def test_rejected_lines_are_printed_annotated_and_counted(self):
        r = self.check("--units", "GF45=1,gfp8=1", file_arg(self.ini))
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertIn("[Conditions] 1: <<< Bad literal value", r.stdout)
        self.assertIn("[GF45.0] D1: <<< Bad Display format", r.stdout)
        self.assertIn("items: 1 conditions, 0 brightness, 1 lights, 1 displays; "
                      "2 lines rejected", r.stdout)
        text = harness.read_text(self.ini)
        self.assertIn("1=X0BC4 U8 = 1 <<< Bad literal value", text)
        self.assertIn("D1=X0BC4 D7 <<< Bad Display format", text)
        # Verdicts only: the report is the program's, which sees the panels.
        self.assertNotIn("GF Connections", text)
        self.assertIn("L0=X0BC4 C0 Fslow\r\n", text)  # accepted lines stay as written

        # Corrected in front of the annotation: accepted, and the annotation goes.
        with open(self.ini, "w", newline="") as f:
            f.write(text.replace("U8 = 1", "U8 =1").replace(" D7", " D5"))
        r = self.check("--units", "GF45=1,GFP8=1", file_arg(self.ini))
        self.assertEqual(r.returncode, 0, r.stdout)
        text = harness.read_text(self.ini)
        self.assertNotIn("<<<", text)
        self.assertIn("D1=X0BC4 D5\r\n", text)

    def test_dry_run_prints_the_changes_and_leaves_the_file_alone(self):
        r = self.check("--dry-run", "--units=GF45=1", file_arg(self.ini))
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertIn("would write [GF45.0] D1=X0BC4 D7 <<< Bad Display format", r.stdout)
        self.assertNotIn("GF Connections", r.stdout)
        self.assertEqual(harness.read_text(self.ini), SETTINGS)

    def test_dry_run_after_a_run_has_nothing_to_write_for_a_quoted_line(self):
        # A line that reads back with its quotes stripped is written with a protective
        # pair; once written, neither a dry run nor a real run finds anything to change.
        with open(self.ini, "w", newline="") as f:
            f.write(SETTINGS + "[GF45.1]\r\nD0=\"X\" A\r\n")
        self.check("--units", "GF45=2,GFP8=1", file_arg(self.ini))
        written = harness.read_text(self.ini)
        self.assertIn('"X" A <<< Bad A: needs literal string ""', written)
        r = self.check("--dry-run", "--units", "GF45=2,GFP8=1", file_arg(self.ini))
        self.assertNotIn("would write", r.stdout)
        self.check("--units", "GF45=2,GFP8=1", file_arg(self.ini))
        self.assertEqual(harness.read_text(self.ini), written)

    def test_the_exchanges_a_scan_takes_are_counted(self):
        # 2,000 lights over one unit, 18 bytes of request each: more than one block holds.
        lines = ["[GFP8.0]"] + ["L%d%s=X%04X U16" % (n % 8, "" if n < 8 else ".%d" % (n // 8),
                                                     0x4000 + 2 * n) for n in range(2000)]
        with open(self.ini, "w", newline="") as f:
            f.write("\r\n".join(lines) + "\r\n")
        r = self.check("--dry-run", "--units", "GFP8=1", file_arg(self.ini))
        self.assertIn("scan: every item read in 2 exchanges a scan (36076 bytes of requests)",
                      r.stdout)
        with open(self.ini, "w", newline="") as f:
            f.write(SETTINGS)
        r = self.check("--dry-run", "--units", "GF45=1,GFP8=1", file_arg(self.ini))
        self.assertIn("scan: every item read in 1 exchange a scan", r.stdout)

    def test_units_default_to_the_sections_in_the_file(self):
        r = self.check("--dry-run", file_arg(self.ini))
        self.assertIn("units: GF45=1 GFP8=1", r.stdout)
        self.assertIn("1 lights, 1 displays", r.stdout)
        # A section that names its unit's serial is read whatever the units' order, so it
        # is checked even behind a gap.
        with open(self.ini, "a", newline="") as f:
            f.write("[GF166.2]\r\nSerial=GF1660042\r\nD0=X034E R2\r\n")
        r = self.check("--dry-run", file_arg(self.ini))
        self.assertIn("units: GF45=1 GFP8=1 GF166=3", r.stdout)
        self.assertIn("1 lights, 2 displays", r.stdout)

    def test_dump_prints_each_record_in_table_order(self):
        r = self.check("--dry-run", "--dump", "--units", "GFP8=1", file_arg(self.ini))
        records = [line for line in r.stdout.splitlines() if line.startswith("deviceType=")]
        self.assertEqual(len(records), 2, r.stdout)
        condition = dict(pair.split("=", 1) for pair in records[0].split())
        self.assertEqual(condition["deviceType"], "-1")
        self.assertEqual(condition["index"], "1")
        self.assertEqual(condition["offset"], "0xbc4")
        self.assertEqual(condition["valueType"], "2")
        self.assertEqual(condition["compareOp"], "1")
        self.assertEqual(condition["literal"], "1")
        self.assertEqual(condition["literalBytes"], "0000803f00000000")
        light = dict(pair.split("=", 1) for pair in records[1].split())
        self.assertEqual(light["kind"], "2")
        self.assertEqual(light["requiredConditions"], "1,0,0,0,0,0,0,0")
        self.assertEqual(int(light["flags"], 16) & 0x28, 0x28)  # HasOffset, FlashSlow

    def test_lint_warns_in_editor_form_and_writes_no_warning_into_the_file(self):
        traps = (SETTINGS.replace("0=X0BC4 U8 =1", "0=X0BC4 U8 Q7")
                 + "[GFTQ6.0]\r\nL0=X0BC4 D7\r\n[GFP8.0]\r\nL0=1\r\n")
        with open(self.ini, "w", newline="") as f:
            f.write(traps)
        where = file_arg(self.ini) + ":"
        r = self.check("--lint", "--units", "GF45=1,GFP8=1,GFTQ6=1", file_arg(self.ini))
        self.assertEqual(r.returncode, 1, r.stdout)  # the rejected lines, not the warnings
        warnings = [line[len(where):] for line in r.stdout.splitlines() if line.startswith(where)]
        self.assertEqual(warnings, [
            "2:12: warning: [Conditions] 0: `Q` is skipped: no option starts with it",
            "2:13: warning: [Conditions] 0: `7` has no sign, so it compares as `!=7`: "
            "write the sign you mean",
            "10: warning: [GFTQ6.0]: never read: the program never counts GFTQ6 units",
            "12: warning: [GFP8.0]: never read: only the first [GFP8.0] (line 8) is read",
        ])
        text = harness.read_text(self.ini)
        self.assertNotIn("warning", text)
        self.assertIn("L0=X0BC4 D7\r\n", text)  # no verdict in a section never read
        self.assertNotIn("GFTQ6=", text)          # and no report line for it
        self.assertIn("2 lines rejected; 4 warnings", r.stdout)

        # A dry run lints unless told not to; --strict fails on warnings alone.
        clean = "[GFP8.0]\r\nL0=1 Q\r\n"
        with open(self.ini, "w", newline="") as f:
            f.write(clean)
        r = self.check("--dry-run", file_arg(self.ini))
        self.assertIn(where + "2:6: warning: [GFP8.0] L0: `Q` is skipped", r.stdout)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertNotIn("warning", self.check("--dry-run", "--no-lint", file_arg(self.ini)).stdout)
        self.assertEqual(self.check("--strict", "--dry-run", file_arg(self.ini)).returncode, 1)

    def test_demo_settings_give_no_warning(self):
        examples = os.path.join(os.path.dirname(__file__), "..", "..", "examples")
        shutil.copy(os.path.join(examples, "demo.ini"), self.ini)
        shutil.copy(os.path.join(examples, "demo-jet.ini"), self.path("demo-jet.ini"))
        r = self.check("--lint", "--strict", file_arg(self.ini))
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertNotIn("warning:", r.stdout)
        # The settings file alone, then with the jet's profile.
        self.assertEqual(r.stdout.count("0 lines rejected; 0 warnings"), 2, r.stdout)
        self.assertIn("profile demo-jet.ini (rule 1):", r.stdout)

    def test_each_profile_is_checked_over_the_settings_file_and_its_verdicts_kept_apart(self):
        with open(self.ini, "w", newline="") as f:
            f.write("[Profiles]\r\n1=jet.ini | Jet*\r\n2=heavy.ini | Jet 7*\r\n"
                    "3=prop.ini | Prop* | path:*\\C172\\*\r\n4=gone.ini | G*\r\n"
                    "[Conditions]\r\n0=X0BC4 U8 =1\r\n[GFP8.0]\r\nL0=1 C0\r\n")
        profiles = {"jet.ini": "[GFP8.0]\r\nL1=X0BC4 D7\r\n[GF166.0]\r\nD0=X034E R1\r\n",
                    "heavy.ini": "[GFP8.0]\r\nL2=1\r\n",
                    "prop.ini": "[Conditions]\r\n0=X0BC4 U8 D7\r\n"}
        for name, text in profiles.items():
            with open(self.path(name), "w", newline="") as f:
                f.write(text)
        r = self.check("--lint", file_arg(self.ini))
        self.assertEqual(r.returncode, 1, r.stdout)
        passes = r.stdout.split("\nprofile ")
        self.assertEqual([p.split(":")[0] for p in passes[1:]],
                         ["jet.ini (rule 1)", "heavy.ini (rule 2)", "prop.ini (rule 3)"])
        # The settings file alone: the missing profile's rule, and the rule an earlier one
        # always beats.
        self.assertIn("[Profiles] 4: <<< Profile file not found", passes[0])
        self.assertIn(":3: warning: [Profiles] 2: never matches: rule 1 (line 2)", passes[0])
        self.assertIn("1 lines rejected", passes[0])
        # Each profile over it: its own lines, a section for a model the settings file
        # lacks, and a line of the settings file that only the profile makes wrong.
        self.assertIn("jet.ini [GFP8.0] L1: <<< Bad Display format", passes[1])
        self.assertIn("jet.ini:3: warning: [GF166.0]: the settings file has no GF166 section",
                      passes[1])
        self.assertIn("0 lines rejected", passes[2])
        self.assertIn("prop.ini [Conditions] 0: <<< Bad Display format", passes[3])
        self.assertIn("panel.ini [GFP8.0] L0: <<< Condition referenced doesn't exist", passes[3])
        # Each verdict in its own file; the settings file's only those of it alone.
        self.assertIn("L1=X0BC4 D7 <<< Bad Display format", harness.read_text(self.path("jet.ini")))
        self.assertIn("0=X0BC4 U8 D7 <<< Bad Display format",
                      harness.read_text(self.path("prop.ini")))
        text = harness.read_text(self.ini)
        self.assertIn("4=gone.ini | G* <<< Profile file not found", text)
        self.assertIn("L0=1 C0\r\n", text)

        # The one profile an aircraft's title picks.
        r = self.check("--dry-run", "--aircraft", "Jet 737", file_arg(self.ini))
        self.assertIn('aircraft "Jet 737": rule 1 picks jet.ini', r.stdout)
        self.assertEqual(r.stdout.count("\nprofile "), 1, r.stdout)
        for title, picked in (("Zulu", "no rule matches: the settings file alone"),
                              ("Glider", "rule 4 picks gone.ini <<< Profile file not found")):
            r = self.check("--dry-run", "--aircraft", title, file_arg(self.ini))
            self.assertIn('aircraft "%s": %s\n' % (title, picked), r.stdout)
            self.assertNotIn("\nprofile ", r.stdout)
        # A path: pattern, tried on the aircraft file given; a path alone picks nothing.
        cfg = "SimObjects\\C172\\aircraft.cfg"
        r = self.check("--dry-run", "--aircraft", "Zulu", "--aircraft-path", cfg,
                       file_arg(self.ini))
        self.assertIn('aircraft "Zulu" from "%s": rule 3 picks prop.ini\n' % cfg, r.stdout)
        self.assertEqual(r.stdout.count("\nprofile "), 1, r.stdout)
        self.assertEqual(self.check("--aircraft-path", cfg, file_arg(self.ini)).returncode, 2)

    def test_a_relative_name_is_the_file_in_the_current_folder(self):
        cockpit, other = self.path("cockpit"), self.path("other")
        os.makedirs(cockpit)
        os.makedirs(other)
        for name in ("panel.ini", "my panel.ini"):
            with open(os.path.join(cockpit, name), "w", newline="") as f:
                f.write(SETTINGS + "[GFTQ6.0]\r\nL0=1\r\n")
        for folder, name in ((cockpit, "panel.ini"), (cockpit, "./panel.ini"),
                             (other, "../cockpit/panel.ini"), (cockpit, "my panel.ini")):
            with self.subTest(name=name):
                r = self.run_program(harness.exe("norvalume-check"), "--dry-run",
                                     harness.typed(name), cwd=folder)
                self.assertEqual(r.returncode, 1, r.stdout)
                self.assertIn("units: GF45=1 GFP8=1", r.stdout)
                self.assertIn("[GF45.0] D1: <<< Bad Display format", r.stdout)
                where = harness.full_path(folder, name)
                self.assertIn(where + ":10: warning: [GFTQ6.0]", r.stdout)  # named in full

        r = self.run_program(harness.exe("norvalume-check"), "panel.ini", cwd=cockpit)
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertIn("D1=X0BC4 D7 <<< Bad Display format",
                      harness.read_text(os.path.join(cockpit, "panel.ini")))
        r = self.run_program(harness.exe("norvalume-check"), "missing.ini", cwd=cockpit)
        self.assertEqual(r.returncode, 2, r.stdout)
        self.assertIn(harness.full_path(cockpit, "missing.ini") + ": no such file", r.stdout)

    def test_could_not_run(self):
        for args in (["--units", "GF99=1", file_arg(self.ini)],
                     ["--units", "GF45=x", file_arg(self.ini)],
                     ["--bogus", file_arg(self.ini)],
                     [],
                     [file_arg(self.path("missing.ini"))]):
            with self.subTest(args=args):
                r = self.check(*args)
                self.assertEqual(r.returncode, 2, r.stdout)
        self.assertFalse(os.path.exists(self.path("missing.ini")))
        self.assertEqual(harness.read_text(self.ini), SETTINGS)


if __name__ == "__main__":
    unittest.main()
