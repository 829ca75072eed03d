"""Shared launcher for the end-to-end tests.

One test source, two launchers: NORVALUME_LAUNCH=native runs the Linux binaries,
NORVALUME_LAUNCH=wine runs the Windows build under Wine, started through NORVALUME_WINE
(default "wine"; the 64-bit build needs the 64-bit loader named there, since Debian's
"wine" script picks the 32-bit one whenever it is installed). NORVALUME_BIN names the
folder that holds the programs and the virtual device library side by side. run-wine sets
a few more for the tests of the Windows product alone (below).
"""
import ctypes
import json
import os
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

BIN = os.environ.get("NORVALUME_BIN", "")
LAUNCH = os.environ.get("NORVALUME_LAUNCH", "native")
WINE = LAUNCH == "wine"
WINE_LOADER = os.environ.get("NORVALUME_WINE", "wine")
# Set by run-wine: the zip of the build under test, the folder of the other build (32/64)
# and the folder of the Linux build's tools.
ZIP = os.environ.get("NORVALUME_ZIP", "")
OTHER_BITNESS_BIN = os.environ.get("NORVALUME_OTHER_BITNESS_BIN", "")
NATIVE_BIN = os.environ.get("NORVALUME_NATIVE_BIN", "")


def exe(name):
    """Path of a program of the build, e.g. exe('norvalume-sim')."""
    return os.path.join(BIN, name + (".exe" if WINE else ""))


def device_library():
    """Path of the virtual device library of the build."""
    return os.path.join(BIN, "GFDEV.DLL" if WINE else "libgfdev.so")


def command(path, *args):
    """The argument list that runs the program at `path` under this launcher."""
    return ([WINE_LOADER, path] if WINE else [path]) + [str(a) for a in args]


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


def read_bytes(path):
    """The file's bytes; None when it does not exist."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def panel_state(text):
    """{"GFP8.0": {"lights": 0x1F, "L": ("segments", "06 ..."), ...}} from GFDEV_STATE."""
    units, unit = {}, None
    for line in text.splitlines():
        words = line.split(" ", 3)
        if words[0] == "unit":
            unit = units.setdefault(words[1] + "." + words[2], {})
        elif words[0] == "lights":
            unit["lights"] = int(words[2], 16)
        elif words[0] == "display" and len(words) == 4:
            unit[words[1]] = (words[2], words[3])
    return units


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

    def run_program(self, path, *args, timeout=30, input=None, env=None, cwd=None):
        """Runs a program to its end; returns the CompletedProcess (stdout+stderr merged)."""
        return subprocess.run(command(path, *args), env=env or self.env, cwd=cwd or self.dir,
                              input=input, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, encoding="latin-1", timeout=timeout)


def report(scenario, done, outcome, **figures):
    """Adds one scenario's outcome and figures to the reliability report, when a run is
    making one (NORVALUME_RELIABILITY_LOG names the file); does nothing otherwise."""
    path = os.environ.get("NORVALUME_RELIABILITY_LOG")
    if not path:
        return
    entry = {"scenario": scenario, "done": done, "outcome": outcome,
             "launch": LAUNCH, "figures": figures}
    with open(path, "a") as f:
        f.write(json.dumps(entry) + "\n")


def file_arg(path):
    """A path as the programs under test see it (Wine maps the Unix root to drive Z:)."""
    return "Z:" + path.replace("/", "\\") if WINE else path


class FileOpens:
    """Counts the opens of one file by any process, through inotify on its folder, so the
    program under test (native or under Wine) need not cooperate: every load reads the
    settings file, while a check whether it changed only looks at its attributes.
    The kernel merges opens in a row that nobody has counted yet: zero is exact, any other
    count a floor. `available` is false where the system offers no inotify."""

    IN_OPEN = 0x20
    IN_NONBLOCK = 0o4000

    def __init__(self, path):
        self.name = os.path.basename(path).encode()
        self.opens = 0
        self.fd = -1
        try:
            libc = ctypes.CDLL(None, use_errno=True)
            self.fd = libc.inotify_init1(self.IN_NONBLOCK)
            if self.fd >= 0 and libc.inotify_add_watch(
                    self.fd, os.path.dirname(path).encode(), self.IN_OPEN) < 0:
                os.close(self.fd)
                self.fd = -1
        except (OSError, AttributeError):
            self.fd = -1
        self.available = self.fd >= 0

    def count(self):
        """Opens of the file since the watch began."""
        while self.available:
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                break
            at = 0
            while at < len(data):
                _, _, _, length = struct.unpack_from("iIII", data, at)
                if data[at + 16:at + 16 + length].rstrip(b"\0") == self.name:
                    self.opens += 1
                at += 16 + length
        return self.opens

    def close(self):
        if self.fd >= 0:
            os.close(self.fd)
            self.fd = -1


def typed(name):
    """A relative name as a user types it on this launcher's system: "..\\x" under Wine."""
    return name.replace("/", "\\") if WINE else name


def full_path(folder, name):
    """The full path a program makes of `name` (written with "/") typed in `folder`:
    Windows resolves "." and "..", Linux drops "." steps only."""
    if WINE:
        return file_arg(os.path.normpath(os.path.join(folder, name)))
    steps = [step for step in name.split("/") if step not in ("", ".")]
    return "/".join([folder] + steps)


class Titles:
    """The window titles the program printed, read from the file its output goes to (a pipe
    read on a thread could not be closed while a process under Wine still holds it)."""

    def __init__(self, path):
        self.path = path

    @property
    def lines(self):
        return read_text(self.path).splitlines()

    def all(self):
        return [line[len("title: "):] for line in self.lines if line.startswith("title: ")]

    def last(self):
        found = self.all()
        return found[-1] if found else None


class ProgramSandbox(Sandbox):
    """The program copied beside its settings file and the virtual device library, as a
    user installs it, with the library's call log (and optionally state and plug files)."""

    def install(self, settings, units, plug=False, state=False):
        # The copy keeps an extension so that the settings name is derived the same way
        # on every platform.
        self.program = self.path("norvalume.exe")
        shutil.copy(exe("norvalume"), self.program)
        shutil.copy(device_library(), self.path(os.path.basename(device_library())))
        self.ini = self.path("norvalume.ini")
        self.save(settings)
        self.log = self.path("gfdev.log")
        self.env.update({"GFDEV_UNITS": units, "GFDEV_LOG": file_arg(self.log)})
        if state:
            self.state = self.path("gfdev.state")
            self.env["GFDEV_STATE"] = file_arg(self.state)
        if plug:
            self.plug = self.path("gfdev.plug")
            self.replug(units)
            self.env["GFDEV_PLUG"] = file_arg(self.plug)

    def save(self, text):
        with open(self.ini, "w", newline="", encoding="latin-1") as f:
            f.write(text)

    def replug(self, units):
        with open(self.plug, "w") as f:
            f.write(units + "\n")

    def log_lines(self):
        return read_text(self.log).splitlines()

    def logged_since(self, start, line):
        return line in self.log_lines()[start:]

    def start_program(self, cwd=None):
        """Starts the program with its output going to a file; returns it and its titles."""
        output = self.path("norvalume.out")
        with open(output, "w") as f:
            program = subprocess.Popen(command(self.program), env=self.env, cwd=cwd or self.dir,
                                       stdin=subprocess.DEVNULL, stdout=f,
                                       stderr=subprocess.STDOUT)
        self.processes.append(program)
        return program, Titles(output)

    def start_simulator(self, values, *args):
        """Starts norvalume-sim, waits until it serves, and sets the given values."""
        sim = self.start(exe("norvalume-sim"), *args)
        self.assertTrue(sim.stdout.readline().startswith("ready"))
        for line in values:
            sim.stdin.write(line + "\n")
        sim.stdin.flush()
        return sim

    def close_window(self, program, timeout=20):
        """Under Wine: closes the program's window as a user does (WM_CLOSE, posted by
        norvalume-close) once it exists, and returns the program's exit code."""
        closed = wait_for(lambda: self.run_program(exe("norvalume-close")).returncode == 0,
                          timeout, step=0.5)
        self.assertTrue(closed, "no window of class NORVALUME to close")
        return program.wait(timeout=timeout)

    def stop_simulator(self, sim):
        sim.stdin.write("quit\n")
        sim.stdin.flush()
        sim.wait(timeout=10)
