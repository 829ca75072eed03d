"""The user's settings file as the program leaves it, natively and under Wine: a load that
writes a verdict changes that line and the report and not one other byte, whatever the
file's shape (line endings, blank lines, blanks around '=', comments, a byte-order mark,
a NUL tail, UTF-16); and a file reached through a hard link or a symbolic link stays one
file that every name shows."""
import os
import unittest

import harness

LINES = [
    "; Norvalume settings",
    "",
    "[Config]",
    "ScanInterval = 100",
    "RevisionTime\t=\t1",
    "",
    "[GFP8.0]",
    "L0 = X0104 U8 =1 ; r\u00e9glage",
    "L1=X0104 D7",
    "   ; the end",
]
BAD = "L1=X0104 D7"
VERDICT = " <<< Bad Display format"


def joined(endings, lines=LINES):
    """The lines, each ended by the next of `endings` in turn."""
    return "".join(line + endings[n % len(endings)] for n, line in enumerate(lines))


CRLF = joined(["\r\n"])
LF = joined(["\n"])
# name -> the text as the user saved it (str: 8-bit, saved as Latin-1) or ("utf-16", text).
SHAPES = {
    "CRLF": CRLF,
    "LF": LF,
    "mixed line endings": joined(["\r\n", "\n", "\r\n", "\r"]),
    "no line ending at the end": CRLF[:-2],
    "a UTF-8 byte-order mark": "\ufeff".encode("utf-8").decode("latin-1") + CRLF,
    "a NUL tail": CRLF + "\0" * 16,
    "UTF-16": ("utf-16", CRLF.replace(BAD, BAD + " ; \u2192 flaps")),
}


def first_ending(text):
    for n, c in enumerate(text):
        if c == "\n":
            return "\n"
        if c == "\r":
            return "\r\n" if text[n + 1:n + 2] == "\n" else "\r"
    return "\r\n"


def after_load(text):
    """The text as a load must leave it: the bad line with its verdict, and the report at
    the end in the file's own line ending; every other character as the user saved it."""
    at = text.index(BAD)
    end = min(i for i in (text.find("\r", at), text.find("\n", at), len(text)) if i >= 0)
    text = text[:end] + VERDICT + text[end:]
    eol = first_ending(text)
    if text[-1:] not in ("\r", "\n"):
        text += eol
    return (text + "[GF Connections]" + eol + "GFDev=DLL found" + eol + "GFP8=1" + eol +
            "GFP8.0=serial GFP80001, USB 1-2.1" + eol)


def encoded(shape):
    if isinstance(shape, tuple):
        return b"\xff\xfe" + shape[1].encode("utf-16-le")
    return shape.encode("latin-1")


def expected(shape):
    if isinstance(shape, tuple):
        return encoded(("utf-16", after_load(shape[1])))
    return encoded(after_load(shape))


class SettingsFile(harness.ProgramSandbox):
    def setUp(self):
        super().setUp()
        self.install(CRLF, "GFP8=1")

    def save_bytes(self, data, path=None):
        with open(path or self.ini, "wb") as f:
            f.write(data)

    def leftovers(self, folder):
        return [name for name in os.listdir(folder) if ".~" in name]

    def test_nothing_but_the_verdict_and_the_report_change(self):
        program, _ = self.start_program()
        for name, shape in SHAPES.items():
            with self.subTest(shape=name):
                self.save_bytes(encoded(shape))
                want = expected(shape)
                harness.wait_for(lambda: harness.read_bytes(self.ini) == want, 15)
                self.assertEqual(harness.read_bytes(self.ini), want)
        self.assertIsNone(program.poll())
        self.assertEqual(self.leftovers(self.dir), [])
        harness.report("shapes of the settings file",
                       "the settings file saved as %s, each with one line to annotate"
                       % ", ".join(SHAPES), "each time only that line and the report changed; "
                       "every other byte stayed as saved", shapes=len(SHAPES))

    def test_links_stay_links(self):
        # The program's settings name is a symbolic link to a file elsewhere: the file is
        # replaced, the link stays.
        real = self.path("real")
        os.makedirs(real)
        target = os.path.join(real, "cockpit.ini")
        self.save_bytes(CRLF.encode("latin-1"), target)
        os.remove(self.ini)
        os.symlink(target, self.ini)
        program, _ = self.start_program()
        want = expected(CRLF)
        harness.wait_for(lambda: harness.read_bytes(target) == want, 15)
        self.assertEqual(harness.read_bytes(target), want)
        self.assertTrue(os.path.islink(self.ini))

        # Given a second name (a hard link), the file takes the verdicts under both.
        other = os.path.join(real, "other name.ini")
        os.link(target, other)
        self.save_bytes(LF.encode("latin-1"))
        want = expected(LF)
        harness.wait_for(lambda: harness.read_bytes(other) == want, 15)
        self.assertEqual(harness.read_bytes(other), want)
        self.assertTrue(os.path.samefile(target, other))
        self.assertEqual(os.stat(target).st_nlink, 2)
        self.assertTrue(os.path.islink(self.ini))
        self.assertEqual(self.leftovers(real), [])
        self.assertIsNone(program.poll())


if __name__ == "__main__":
    unittest.main()
