"""The guides against the code: the panel drawings and key tables of the settings guide
are what scripts/panel-docs makes of the model table (NORVALUME_KEYS names the
norvalume-keys program of the build), and the package check finds every program a guide
names."""
import importlib.machinery
import importlib.util
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "panel-docs")
KEYS = os.environ.get("NORVALUME_KEYS", "")


def load(name, path):
    loader = importlib.machinery.SourceFileLoader(name, path)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(name, loader))
    loader.exec_module(module)
    return module


panel_docs = load("panel_docs", SCRIPT)
guide_programs = load("guide_programs", os.path.join(ROOT, "windows", "guide_programs.py"))

# norvalume-keys as it would print a gear panel added to the table with no face.
NEW_MODEL = ("model\tGFLGT2\t11\tcounted\tbrightness\n" +
             "".join("lamp\t%d\t-\t-\tplain\t-\n" % bit for bit in range(2, 8)) + "end\n"
             "model\tGFTQ6\t9\tuncounted\t-\nend\n")


class PanelDocs(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="norvalume-docs.")
        self.addCleanup(shutil.rmtree, self.tmp)

    def panel_docs(self, *args):
        return subprocess.run([sys.executable, SCRIPT, "--keys", KEYS, "--root", self.tmp]
                              + list(args), stdout=subprocess.PIPE, universal_newlines=True)

    @unittest.skipUnless(KEYS, "NORVALUME_KEYS names no norvalume-keys")
    def test_the_committed_drawings_and_tables_are_the_model_tables(self):
        shutil.copytree(os.path.join(ROOT, "docs"), os.path.join(self.tmp, "docs"))
        os.mkdir(os.path.join(self.tmp, "examples"))
        shutil.copy(os.path.join(ROOT, "examples", "demo.ini"),
                    os.path.join(self.tmp, "examples"))
        r = self.panel_docs("--check")
        self.assertEqual(r.returncode, 0, r.stdout)

        # A drawing edited by hand, and one of a model the table no longer has.
        drawing = os.path.join(self.tmp, "docs", "panels", "GFMCP.svg")
        with open(drawing) as f:
            committed = f.read()
        with open(drawing, "w") as f:
            f.write(committed.replace(">D2<", ">D9<"))
        with open(os.path.join(self.tmp, "docs", "panels", "GFOLD.svg"), "w") as f:
            f.write("<svg/>")
        r = self.panel_docs("--check")
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertIn("docs/panels/GFMCP.svg differs", r.stdout)
        self.assertIn("docs/panels/GFOLD.svg draws no model", r.stdout)

        self.assertEqual(self.panel_docs().returncode, 0)
        with open(drawing) as f:
            self.assertEqual(f.read(), committed)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "docs", "panels", "GFOLD.svg")))
        self.assertEqual(self.panel_docs("--check").returncode, 0)

    def test_a_model_without_a_face_is_drawn_by_bit(self):
        models = panel_docs.parse_keys(NEW_MODEL)
        settings = "intro\n%s\nold\n%s\noutro\n" % (panel_docs.BEGIN, panel_docs.END)
        out = panel_docs.outputs(models, settings, "[GFLGT2.0]\nL7=1 ; nose down\n")
        self.assertEqual(sorted(out), ["docs/panels/GFLGT2.svg", "docs/settings.md"])
        svg = out["docs/panels/GFLGT2.svg"]
        self.assertEqual(svg.count("<circle"), 6)
        for bit in range(2, 8):
            self.assertIn(">L%d<" % bit, svg)
        text = out["docs/settings.md"]
        self.assertTrue(text.startswith("intro\n") and text.endswith("\noutro\n"))
        self.assertNotIn("old", text)
        self.assertIn("![GFLGT2: where each key is](panels/GFLGT2.svg)", text)
        self.assertIn("| `L2` | light, bit 2 (0x4) |  |", text)
        self.assertIn("| `L7` | light, bit 7 (0x80) | nose down |", text)
        self.assertIn("No key of `GFTQ6` is read", text)

    def test_the_example_files_comments_give_each_keys_use(self):
        cases = [
            ("[GFP8.0]\nL5=AA\"A;B\" Ffast ; stall\n", {("GFP8", "L5"): "stall"}),
            ("[GFP8.0]\nL3=X0BEC U32 =1\nL3.1=X0BEC U32 ; in transit\n",
             {("GFP8", "L3"): "in transit"}),
            ("[gfmcp.0]\nd2='IT''S;' ; label\nb=5 ; dim\n",
             {("GFMCP", "D2"): "label", ("GFMCP", "B"): "dim"}),
            ("[GFP8.1]\nL0=1 ; second unit\n[Conditions]\n0=X0BEC U32 ; gear\n", {}),
            ("[GFP8.0]\n; L0=1 ; a note\nNeeds=Battery ; power\nL0=1\n", {}),
        ]
        for text, expected in cases:
            with self.subTest(text=text):
                self.assertEqual(panel_docs.example_uses(text), expected)

    def test_a_settings_guide_without_the_markers_is_refused(self):
        with self.assertRaises(ValueError):
            panel_docs.replace_block("no markers here", "block")
        with self.assertRaises(ValueError):
            panel_docs.parse_keys("model\tGF45\n")


class GuidePrograms(unittest.TestCase):
    def test_the_programs_a_guide_names(self):
        cases = [
            ("run `norvalume-watch.exe` or norvalume-sim --script", ["norvalume-watch.exe",
                                                                      "norvalume-sim.exe"]),
            (r"C:\Tools\Norvalume\norvalume.exe reads norvalume.ini", ["norvalume.exe"]),
            ("norvalume-<version>-win32.zip and norvalume-1.0.0-win64.zip", []),
            ("build/demo/bin/norvalume-check --dry-run", ["norvalume-check.exe"]),
            ("Norvalume: waiting; GFConfig.exe; my-norvalume-thing", []),
        ]
        for text, expected in cases:
            with self.subTest(text=text):
                self.assertEqual(guide_programs.programs_named(text), expected)

    def test_a_program_the_folder_lacks_is_named(self):
        folder = tempfile.mkdtemp(prefix="norvalume-package.")
        self.addCleanup(shutil.rmtree, folder)
        for name in ("norvalume.exe", "norvalume-check.exe"):
            open(os.path.join(folder, name), "w").close()
        guides = [("windows.md", "start norvalume.exe; norvalume-check.exe checks"),
                  ("settings.md", "norvalume-watch shows it; norvalume-check too")]
        self.assertEqual(guide_programs.missing(folder, guides),
                         [("settings.md", "norvalume-watch.exe")])


if __name__ == "__main__":
    unittest.main()
