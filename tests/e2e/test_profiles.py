"""Our settings-file engine against Windows' own profile functions as Wine implements them:
the same calls on the same files, run by norvalume-profile: the Windows build on
GetPrivateProfileStringA / WritePrivateProfileStringA (the reference), the Windows build
on our engine (--ours, the program's own file access on Windows, each case a load's batch
where it can be), and the Linux build on our engine. Our two builds must agree exactly;
with the reference, reads must agree, and writes wherever Wine behaves as Windows does.
Each remaining difference is listed below with its reason, and there ours must give what
Windows gives, or what we give on purpose. Covers every read and write the loader makes.
Runs under run-wine, which builds the Linux probe too."""
import os
import subprocess
import sys
import unittest

import harness

NATIVE_PROBE = os.path.join(harness.NATIVE_BIN, "norvalume-profile")

WIDE = 16384  # the loader reads item lines this wide, to find a line's whole length


def utf16(text, order):
    """The bytes of a file saved as UTF-16 with its byte-order mark."""
    return (b"\xff\xfe" + text.encode("utf-16-le") if order == "le"
            else b"\xfe\xff" + text.encode("utf-16-be"))


# A settings file as the loader walks it: conditions, a unit's section, the report.
LOADER_FILE = ("[Config]\r\nRevisionTime=1\r\n[Conditions]\r\n0=X0100 U8 =1\r\n254=C0\r\n"
               "007=X0101 U8 =1\r\n255=C1\r\n[GF45.0]\r\nNeeds=A V24\r\nB=X0102 U8\r\n"
               "L3.1=X0103 U8 =1\r\nD0=X0BC4 D7 <<< Bad Display format\r\nD0.2=X0BC4\r\n"
               "[GF Connections]\r\nGFDev=DLL found\r\nGF45=1\r\n")
# A file saved as UTF-16: a character of every code page, and one that no 8-bit one has.
UTF16_TEXT = ("; r\u00e9glages\r\n[S]\r\nk=v \u00e9t\u00e9\r\nk2=a\u2192b\r\n"
              "L1=X0104 D7 ; \u2192 flaps\r\n[T]\r\nt=1\r\n")

# (name, file content or None for no file, [(section, key, buffer size)]).
READS = [
    ("names trimmed, any case", "[Sect]\r\nKey=v\r\n", [(" sECT\t", " kEY ", 255)]),
    ("blanks inside the header", "[  Sect  ]\r\nKey=v\r\n", [("Sect", "Key", 255)]),
    ("blanks inside names and values", "[S]\r\n   my key   =   v  v   \r\n",
     [("S", "my key", 255), ("S", "my  key", 255)]),
    ("tabs around key and value", "[S]\r\n\tk\t=\tv\tw\t\r\n", [("S", "k", 255)]),
    ("quotes", "[S]\r\na='abc'\r\nb=\"abc\r\nc=abc\"\r\nd=\"abc'\r\ne=\"\"x\"\"\r\n"
     "f=\"\r\ng=\"\"\r\nh=\"  a b  \"\r\n", [("S", k, 255) for k in "abcdefgh"]),
    ("comments", "[S]\r\n; k=c\r\nk=v ; note\r\n;x=1\r\n",
     [("S", "k", 255), ("S", ";x", 255)]),
    ("a line without =", "[S]\r\nname3\r\nk=v\r\n", [("S", "name3", 255), ("S", "k", 255)]),
    ("duplicate keys", "[S]\r\nk=first\r\nK=second\r\n", [("S", "k", 255)]),
    ("duplicate sections", "[S]\r\na=1\r\n[T]\r\n[s]\r\na=2\r\nb=3\r\n",
     [("S", "a", 255), ("S", "b", 255)]),
    ("missing section and key", "[S]\r\nk=v\r\n", [("T", "k", 255), ("S", "j", 255)]),
    ("no file", None, [("S", "k", 255)]),
    ("an empty value", "[S]\r\nk=\r\n", [("S", "k", 255)]),
    ("buffer sizes", "[S]\r\nk=abcdefghij\r\n", [("S", "k", n) for n in (11, 10, 5, 2, 1)]),
    ("a long value", "[S]\r\nk=" + "x" * 300 + "\r\n", [("S", "k", 255), ("S", "k", 400)]),
    ("a quoted value and the buffer", "[S]\r\nk=\"abcdef\"\r\n",
     [("S", "k", 8), ("S", "k", 7), ("S", "k", 6)]),
    ("CR line ends", "[S]\rk=v\rk2=w\r", [("S", "k2", 255), ("S", "k", 255)]),
    ("LF line ends, last line open", "[S]\nk=v\nk2=w", [("S", "k2", 255)]),
    ("mixed line ends", "[S]\r\na=1\nb=2\rc=3", [("S", k, 255) for k in "abc"]),
    ("odd headers", "[S] junk\r\nk=v\r\n[T]]\r\nt=1\r\n[U\r\nu=2\r\n",
     [("S", "k", 255), ("T]", "t", 255), ("U", "u", 255), ("T]", "u", 255)]),
    ("a byte-order mark", "\xef\xbb\xbf[S]\r\nk=v\r\n", [("S", "k", 255)]),
    ("a NUL and ^Z", "[S]\r\nk=ab\0cd\r\nj=x\x1a\r\n", [("S", "k", 255), ("S", "j", 255)]),
    ("keys above every section", "k0=top\r\n[S]\r\nk=v\r\n", [("", "k0", 255), ("S", "k0", 255)]),
    # The loader's own reads: item lines with the wide limit, Needs, the report, [Config].
    ("the loader's keys", LOADER_FILE,
     [("Conditions", "0", WIDE), ("Conditions", "254", WIDE), ("Conditions", "7", WIDE),
      ("GF45.0", "Needs", 255), ("GF45.0", "B", WIDE), ("GF45.0", "L3", WIDE),
      ("GF45.0", "L3.1", WIDE), ("GF45.0", "D0", WIDE), ("GF45.0", "D0.1", WIDE),
      ("GF45.0", "D0.2", WIDE), ("GF Connections", "GFDev", 255),
      ("GF Connections", "Ombrex", 255), ("Config", "RevisionTime", 255),
      ("Config", "ScanInterval", 255)]),
    ("a value wider than the widest read", "[S]\r\nL1=" + "y" * 20000 + "\r\n",
     [("S", "L1", WIDE), ("S", "L1", 255)]),
    ("UTF-16 with its byte-order mark", utf16(UTF16_TEXT, "le"),
     [("S", "k", 255), ("S", "k2", 255), ("S", "L1", WIDE), ("T", "t", 255)]),
    ("UTF-16, big-endian", utf16(UTF16_TEXT, "be"), [("S", "k", 255), ("S", "k2", 255)]),
]

# (name, file content or None, [("put", section, key, value) or ("get", section, key,
# size)]); None for a key or value is the null pointer (delete).
WRITES = [
    ("a new file", None, [("put", "A1", "k1", "s1"), ("put", "A1", "k2", "s2"),
                          ("put", "A2", "k3", "s3")]),
    ("deletions", "[A1]\r\nk1=s1\r\nk2=s2\r\n[A2]\r\nk3=s3\r\n",
     [("put", "A1", "k1", None), ("put", "A2", None, None), ("put", "A1", "k2", None),
      ("get", "A1", "k2", 255), ("put", "A1", "x", None), ("put", "Z", None, None)]),
    ("deleting in no file", None, [("put", "S", "k", None)]),
    ("a replaced value keeps the key's spelling", "[S]\r\nKey=old\r\nz=1\r\n",
     [("put", "s", "KEY", "new"), ("put", "S", "z", "1")]),
    ("values as given", "[S]\r\nk=1\r\n",
     [("put", "S", "a", ""), ("put", "S", "c", "\"q\""), ("put", "S", "d", "a=b"),
      ("get", "S", "a", 255), ("get", "S", "c", 255), ("get", "S", "d", 255)]),
    ("a value with blanks around it", "[S]\r\nk=1\r\n",
     [("put", "S", "b", "  v  "), ("get", "S", "b", 255)]),
    ("writing a long value", "[S]\r\nk=1\r\n", [("put", "S", "k", "y" * 400), ("get", "S", "k", 500)]),
    ("a new key and a new section", "[S]\r\na=1\r\n[T]\r\nb=2\r\n",
     [("put", "S", "c", "3"), ("put", "U", "d", "4")]),
    ("a new section after an open last line", "[S]\r\na=1", [("put", "T", "b", "2")]),
    ("duplicate sections and keys", "[S]\r\nk=1\r\nk=2\r\n[T]\r\n[s]\r\nb=2\r\n",
     [("put", "S", "k", "3"), ("put", "S", "b", "3"), ("get", "S", "b", 255),
      ("put", "S", "k", None), ("get", "S", "k", 255)]),
    ("comments and lines without = kept", "[S]\r\n;c=1\r\nword\r\nk=1\r\n[T]\r\nt=1\r\n",
     [("put", "S", "k", "2"), ("put", "T", ";t", "1")]),
    ("writing after a byte-order mark", "\xef\xbb\xbf[S]\r\nk=1\r\n", [("put", "S", "k", "2")]),
    ("LF line ends kept", "[S]\na=1\n", [("put", "S", "b", "2"), ("put", "T", "c", "3")]),
    ("CR line ends kept", "[S]\rk=1\r", [("put", "S", "j", "2")]),
    ("blank lines and spacing", "; head\r\n\r\n[S]\r\nk = 1\r\n\r\n; tail\r\n",
     [("put", "S", "k", "2")]),
    ("an indented key", "[S]\r\n\tk\t=\t1\r\n", [("put", "S", "k", "2")]),
    ("a new key after a comment", "[S]\r\na=1\r\n; note\r\nword\r\n[T]\r\n",
     [("put", "S", "b", "2")]),
    ("a new key in a section of comments", "[S]\r\n;c\r\n[T]\r\n", [("put", "S", "b", "2")]),
    ("names written with blanks", "[S]\r\nk=1\r\n",
     [("put", " T ", "k", "1"), ("put", "S", " j ", "1")]),
    # The loader's own writes: verdicts put on and taken off, a line that keeps its quotes,
    # a long line, and the report written, kept and cleaned.
    ("verdicts written back", "[GF45.0]\r\nL0=X0100 U8 =1\r\nL1=X0104 D7\r\n"
     "L2=X0104 U8 =1 <<< Bad Display format\r\n",
     [("get", "GF45.0", "L1", WIDE), ("put", "GF45.0", "L1", "X0104 D7 <<< Bad Display format"),
      ("get", "GF45.0", "L2", WIDE), ("put", "GF45.0", "L2", "X0104 U8 =1"),
      ("put", "GF45.0", "L3", "\"\"X0104 U8\"\""), ("get", "GF45.0", "L3", WIDE)]),
    ("a long line with a verdict", "[GF45.0]\r\nL1=" + "z" * 300 + "\r\n",
     [("get", "GF45.0", "L1", WIDE),
      ("put", "GF45.0", "L1", "z" * 300 + " <<< Bad Display format"),
      ("get", "GF45.0", "L1", WIDE)]),
    ("the first report", "[GF45.0]\r\nL1=X0104 U8 =1\r\n",
     [("get", "GF Connections", "GFDev", 255), ("put", "GF Connections", "GFDev", "DLL found"),
      ("put", "GF Connections", "Ombrex", None), ("put", "GF Connections", "GF45", "1"),
      ("put", "GF Connections", "GFP8", None)]),
    ("a report kept and cleaned", "[GF Connections]\r\nGFDev=DLL found\r\n"
     "Ombrex=incorrect version, needs >= 3.465\r\nGFP8=2\r\n",
     [("put", "GF Connections", "GFDev", "DLL found"), ("put", "GF Connections", "Ombrex", None),
      ("put", "GF Connections", "GFP8", None), ("put", "GF Connections", "GF45", "1")]),
    ("the same value leaves the file alone", "; notes\r\n\r\n[GF Connections]\r\n"
     "GFDev = DLL found\r\n", [("put", "GF Connections", "GFDev", "DLL found")]),
    ("a verdict in a mixed file", "[S]\nk=1\r\n\r\nL1 = X0104 D7\rm=2\n",
     [("put", "S", "L1", "X0104 D7 <<< Bad Display format")]),
    ("a verdict before a NUL tail", "[S]\r\nL1=X0104 D7\r\nk=1\r\n\0\0\0\0",
     [("put", "S", "L1", "X0104 D7 <<< Bad Display format"), ("put", "R", "GFDev", "DLL found")]),
    ("a verdict in a UTF-16 file", utf16(UTF16_TEXT, "le"),
     [("get", "S", "L1", WIDE), ("put", "S", "L1", "X0104 D7 ; ? flaps <<< Bad Display format"),
      ("put", "GF Connections", "GFDev", "DLL found")]),
]

WINE_REWRITES = ("Wine rewrites the whole file on every write, with CRLF line ends, without "
                 "blank lines and with every line trimmed; Windows changes the one line")
# Name -> (why Wine differs, what Windows gives: the results of the calls in order for a
# read case, the file afterwards for a write case).
DIFFERENCES = {
    "a quoted value and the buffer": (
        "Wine drops one character too many when a quoted value just fills the buffer",
        ["6 abcdef", "6 abcdef", "5 abcde"]),
    "keys above every section": (
        "Wine reads the keys above the first section as a section named \"\"",
        ["0 ", "0 "]),
    "LF line ends kept": (WINE_REWRITES, b"[S]\na=1\nb=2\n[T]\nc=3\n"),
    "CR line ends kept": (WINE_REWRITES, b"[S]\rk=1\rj=2\r"),
    "blank lines and spacing": (WINE_REWRITES, b"; head\r\n\r\n[S]\r\nk=2\r\n\r\n; tail\r\n"),
    "an indented key": (WINE_REWRITES, b"[S]\r\n\tk=2\r\n"),
    "a new key after a comment": (
        "Wine keeps comments and lines without = as entries and adds a new key after them; "
        "Windows adds it after the section's last key", b"[S]\r\na=1\r\nb=2\r\n; note\r\n"
        b"word\r\n[T]\r\n"),
    "a new key in a section of comments": (
        "as above: with no key in the section, Windows adds the key right after the header",
        b"[S]\r\nb=2\r\n;c\r\n[T]\r\n"),
    "names written with blanks": (
        "Wine keeps the trailing blanks of a new section or key name in the file; ours "
        "writes the name as every lookup sees it, trimmed (the program writes only fixed "
        "names without blanks)", b"[S]\r\nk=1\r\nj=1\r\n[T]\r\nk=1\r\n"),
    "a verdict in a mixed file": (WINE_REWRITES, b"[S]\nk=1\r\n\r\nL1=X0104 D7 <<< Bad Display "
                                  b"format\rm=2\n"),
    "a verdict before a NUL tail": (
        "Wine drops what follows a NUL when it rewrites the file; Windows keeps it",
        b"[S]\r\nL1=X0104 D7 <<< Bad Display format\r\nk=1\r\n\0\0\0\0\r\n[R]\r\n"
        b"GFDev=DLL found\r\n"),
}
# Where ours differs from Windows on purpose: name -> (why, the file ours leaves).
ON_PURPOSE = {
    "a verdict in a UTF-16 file": (
        "a character the code page lacks reads as '?', and the profile functions write that "
        "'?' back into the line they annotate; ours keeps the character the line had",
        utf16(UTF16_TEXT.replace("flaps", "flaps <<< Bad Display format")
              + "[GF Connections]\r\nGFDev=DLL found\r\n", "le")),
}
# Not a difference from Wine, but from Windows: deleting a key in a file that does not
# exist creates an empty file on Windows and none here or under Wine. Harmless: the program
# always writes its report line, which creates the file, before it deletes anything.


def encode(value):
    if value is None:
        return "-"
    return "x" + value.encode("latin-1").hex()


def batched(calls):
    """Whether a case can run as one batch: inside one, reads see the file as the batch
    read it, so no read may follow a write."""
    kinds = [call[0] for call in calls]
    return "put" not in kinds or "get" not in kinds[kinds.index("put"):]


def decode(result):
    """'7 x616263' -> '7 abc'; a put's '1' stays as it is."""
    count, _, text = result.partition(" ")
    return count + (" " + bytes.fromhex(text[1:]).decode("latin-1") if text else "")


@unittest.skipUnless(harness.WINE, "compares with Windows' profile functions under Wine")
class ProfileFunctions(harness.Sandbox):
    def run_side(self, side, path_of, cases):
        """Creates each case's file in its own folder and runs every call of every case
        through one probe; returns the results per case and the files afterwards."""
        folder = self.path(side)
        os.makedirs(folder)
        commands = []
        for n, (_, content, calls) in enumerate(cases):
            path = os.path.join(folder, "case%d.ini" % n)
            if content is not None:
                with open(path, "wb") as f:
                    f.write(content if isinstance(content, bytes) else content.encode("latin-1"))
            batch = side == "ours under Wine" and batched(calls)
            if batch:
                commands.append("begin " + encode(path_of(path)))
            for call in calls:
                kind, section, key, last = call
                last = encode(last) if kind == "put" else str(last)
                commands.append(" ".join((kind, encode(path_of(path)), encode(section),
                                          encode(key), last)))
            if batch:
                commands.append("end")
        script = os.path.join(folder, "calls")
        with open(script, "w") as f:
            f.write("\n".join(commands) + "\n")
        if side == "ours":
            run = [NATIVE_PROBE]
        else:
            run = harness.command(harness.exe("norvalume-profile"))
            if side == "ours under Wine":
                run.append("--ours")
        r = subprocess.run(run + [path_of(script)], env=self.env, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True, timeout=120)
        self.assertEqual(r.returncode, 0, r.stdout)
        results = [decode(line) for line in r.stdout.splitlines()]
        self.assertEqual(len(results), len(commands), r.stdout)
        results = [line for line in results if line != "-"]  # the batches' own lines
        per_case, files = [], []
        for n, (_, _, calls) in enumerate(cases):
            per_case.append(results[:len(calls)])
            results = results[len(calls):]
            path = os.path.join(folder, "case%d.ini" % n)
            files.append(harness.read_bytes(path))
        return per_case, files

    def test_our_engine_reads_and_writes_as_windows_does(self):
        if not os.path.exists(NATIVE_PROBE):
            self.skipTest("the Linux probe was not built: " + NATIVE_PROBE)
        cases = [(name, content, [("get",) + call for call in calls])
                 for name, content, calls in READS] + WRITES
        names = [name for name, _, _ in cases]
        self.assertEqual(len(set(names)), len(names), "case names must be unique")
        self.assertLessEqual(set(DIFFERENCES) | set(ON_PURPOSE), set(names))
        wine, wine_files = self.run_side("wine", harness.file_arg, cases)
        ours, our_files = self.run_side("ours", lambda p: p, cases)
        # Our engine in the Windows build, on Windows' file access, gives what the Linux
        # build gives, case by case: the same results and the same bytes in every file.
        ours_wine, ours_wine_files = self.run_side("ours under Wine", harness.file_arg, cases)
        for n, (name, _, _) in enumerate(cases):
            self.assertEqual((ours_wine[n], ours_wine_files[n]), (ours[n], our_files[n]), name)

        unexplained, stale = [], []
        for n, (name, _, _) in enumerate(cases):
            writes = n >= len(READS)
            agree = wine[n] == ours[n] and (not writes or wine_files[n] == our_files[n])
            listed = DIFFERENCES.get(name) or ON_PURPOSE.get(name)
            if not listed:
                if not agree:
                    unexplained.append("%s:\n  Wine %r %r\n  ours %r %r" % (
                        name, wine[n], wine_files[n], ours[n], our_files[n]))
                continue
            if agree:
                stale.append(name)
            reason, windows = listed
            if writes:
                # The calls' results still agree; the file is what Windows leaves.
                self.assertEqual(ours[n], wine[n], name)
                self.assertEqual(our_files[n], windows, "%s (%s)" % (name, reason))
            else:
                self.assertEqual(ours[n], windows, "%s (%s)" % (name, reason))
        self.assertEqual(unexplained, [], "\n".join(unexplained))
        for name in stale:
            # Wine has caught up with Windows here; the listing can go.
            sys.stderr.write("note: Wine now agrees on %r\n" % name)


if __name__ == "__main__":
    unittest.main()
