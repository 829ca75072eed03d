"""Shared launcher for the end-to-end tests.

One test source, two launchers: NORVALUME_LAUNCH=native runs the Linux binaries,
NORVALUME_LAUNCH=wine runs the Windows build under Wine. NORVALUME_BIN names the folder
that holds the programs and the virtual device library side by side.
"""
import os
import shutil
import subprocess
import tempfile
import time
import unittest

BIN = os.environ.get("NORVALUME_BIN", "")
LAUNCH = os.environ.get("NORVALUME_LAUNCH", "native")
WINE = LAUNCH == "wine"


def exe(name):
    """Path of a program of the build, e.g. exe('norvalume-sim')."""
    return os.path.join(BIN, name + (".exe" if WINE else ""))


def device_library():
    """Path of the virtual device library of the build."""
    return os.path.join(BIN, "GFDEV.DLL" if WINE else "libgfdev.so")


def command(path, *args):
    """The argument list that runs the program at `path` under this launcher."""
    return (["wine", path] if WINE else [path]) + [str(a) for a in args]


def wait_for(predicate, timeout=10.0, step=0.05):
    """Polls `predicate` until it is true or `timeout` seconds pass; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


def read_text(path):
    try:
        with open(path, "r", encoding="latin-1", newline="") as f:
            return f.read()
    except FileNotFoundError:
        return ""


class Sandbox(unittest.TestCase):
    """A test case with its own folder and run directory; stops every process it started."""

    def setUp(self):
        if not BIN:
            self.skipTest("NORVALUME_BIN is not set")
        self.dir = tempfile.mkdtemp(prefix="norvalume-e2e-")
        self.rundir = os.path.join(self.dir, "run")
        os.makedirs(self.rundir)
        self.env = dict(os.environ)
        self.env["NORVALUME_RUNDIR"] = self.rundir
        self.env.setdefault("WINEDEBUG", "-all")
        self.processes = []

    def tearDown(self):
        for p in self.processes:
            if p.poll() is None:
                p.kill()
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
            for stream in (p.stdin, p.stdout, p.stderr):
                if stream:
                    stream.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def start(self, path, *args, env=None, cwd=None, stdin=subprocess.PIPE):
        """Starts a program in the background, text-mode pipes, stdout+stderr captured."""
        p = subprocess.Popen(command(path, *args), env=env or self.env, cwd=cwd or self.dir,
                             stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                             text=True, encoding="latin-1")
        self.processes.append(p)
        return p

    def run_program(self, path, *args, timeout=30, input=None, env=None):
        """Runs a program to its end; returns the CompletedProcess (stdout+stderr merged)."""
        return subprocess.run(command(path, *args), env=env or self.env, cwd=self.dir,
                              input=input, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, encoding="latin-1", timeout=timeout)
