#!/usr/bin/env python3
"""Checks that a package holds every program of ours its guides tell the user to run:
each name norvalume or norvalume-<tool> in the guides, with or without .exe, must be
<name>.exe in the package folder. File names such as norvalume.ini lead to the program
itself; the zips' own names (norvalume-<version>-win32.zip) name no program.

usage: guide_programs.py FOLDER GUIDE...
Prints what the guides name; exits 1 naming each program the folder lacks.
"""
import os
import re
import sys

# Our programs only: lower case, words joined by hyphens; a hyphen followed by anything
# else (a version, "<version>") ends no name.
NAME = re.compile(r"(?<![\w.-])norvalume(?:-[a-z]+)*(?![\w-])")


def programs_named(text):
    """The .exe names of the programs `text` names, in order of first mention."""
    seen = []
    for match in NAME.finditer(text):
        exe = match.group(0) + ".exe"
        if exe not in seen:
            seen.append(exe)
    return seen


def missing(folder, guides):
    """[(guide, exe)] for each program a guide names that `folder` lacks."""
    present = set(os.listdir(folder))
    return [(os.path.basename(guide), exe) for guide, text in guides
            for exe in programs_named(text) if exe not in present]


def main(argv):
    if len(argv) < 3:
        print("usage: guide_programs.py FOLDER GUIDE...", file=sys.stderr)
        return 2
    guides = []
    for path in argv[2:]:
        with open(path, encoding="utf-8", errors="replace") as f:
            guides.append((path, f.read()))
    named = programs_named("\n".join(text for _, text in guides))
    print("the guides name %s" % ", ".join(named or ["no program"]))
    lacking = missing(argv[1], guides)
    for guide, exe in lacking:
        print("%s names %s, which the package lacks" % (guide, exe), file=sys.stderr)
    return 1 if lacking else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
