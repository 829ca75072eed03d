"""The program under faults, as a cockpit builder meets them: a simulator that hangs,
answers nothing useful or garbage, or is killed; panels plugged in and out in a storm;
a settings file saved again and again while the program runs, slowly, deleted, filled
with garbage or grown huge. Nothing the user wrote is ever lost, and no output shows
what the simulator stopped saying for longer than the watchdog allows.

And every way the program is ended or disturbed: the signals of a closing terminal, of
Ctrl-\\ and of a reader that went away, the end of a Windows session, a disk that fills
up under a recording, another user who made the Linux run folder first."""
import os
import random
import re
import signal
import subprocess
import time
import unittest

import harness

# The whole-session test's cockpit: a GFMCPPRO with a display and a light, a GF45 to plug in.
from test_program import SETTINGS, SIM_VALUES

# The same with one bad line in the panel's section, for the program to annotate.
WITH_BAD_LINE = SETTINGS.replace("=1\r\n[GF45.0]", "=1\r\nL1=X0104 D7\r\n[GF45.0]")
LIT = "GFMCPPro_SetIndicators 0 0x1"
DARK = "GFMCPPro_SetIndicators 0 0x0"
SHOWS_42 = 'GFMCPPro_SetBDisplayText 0 "   42"'
SHOWS_77 = 'GFMCPPro_SetBDisplayText 0 "   77"'
BLANK = 'GFMCPPro_SetBDisplayText 0 "     "'
# Outputs go dark within 7 s of the simulator going silent (5 s watchdog, plus a blocked
# try of 2 s at most); the test's own polling and the log write get 0.3 s on top, and
# Wine's slower start of each call a little more.
DARK_WITHIN = 7.3 if not harness.WINE else 8.0


def user_lines(text):
    """The lines as the user wrote them: the program's verdicts taken off again."""
    return [line.split(" <<< ")[0] for line in text.splitlines()]


def contains_in_order(whole, part):
    it = iter(whole)
    return all(line in it for line in part)


class Cockpit(harness.ProgramSandbox):
    """The whole-session cockpit, installed; the program and the simulator on demand."""

    def setUp(self):
        if harness.WINE and os.environ.get("NORVALUME_WINE_FIRST_BUILD") == "0":
            self.skipTest("the fault scenarios run under the first Wine build only")
        super().setUp()
        self.install(SETTINGS, "GFMCPPRO=1", plug=True, state=True)

    def wait_logged(self, start, line, timeout):
        began = time.monotonic()
        found = harness.wait_for(lambda: self.logged_since(start, line), timeout, step=0.02)
        self.assertTrue(found, "%s not logged; last lines: %s" % (line, self.log_lines()[-8:]))
        return time.monotonic() - began

    def running(self):
        program, _ = self.start_program()
        sim = self.start_simulator(SIM_VALUES)
        self.wait_logged(0, LIT, 20)
        return program, sim

    def command(self, sim, line):
        sim.stdin.write(line + "\n")
        sim.stdin.flush()


class Faults(Cockpit):
    def test_simulator_faults_darken_the_panels_in_time(self):
        program, sim = self.running()
        faults = ("silent", "result", "type", "size") if not harness.WINE else ("silent", "type")
        times = {}
        for fault in faults:
            start = len(self.log_lines())
            self.command(sim, "fault " + fault)
            times[fault] = self.wait_logged(start, DARK, 15)
            self.assertLess(times[fault], DARK_WITHIN, fault)
            again = len(self.log_lines())
            self.command(sim, "fault none")
            self.wait_logged(again, LIT, 30)

        start = len(self.log_lines())
        sim.kill()
        sim.wait(timeout=10)
        times["killed"] = self.wait_logged(start, DARK, 15)
        self.assertLess(times["killed"], DARK_WITHIN)
        back = len(self.log_lines())
        sim = self.start_simulator(SIM_VALUES)
        self.wait_logged(back, LIT, 30)
        harness.report("simulator faults",
                       "the simulator stopped answering, answered 0, corrupted record types and "
                       "sizes, and was killed, each with the gear light lit",
                       "the panels went dark within the watchdog's time each time and came "
                       "back lit once the simulator answered again",
                       **{"seconds to dark, " + k: round(v, 2) for k, v in times.items()})
        if harness.WINE:
            return  # a signal cannot reach the program under Wine

        # Hung while the program is asked to stop: it ends within 3 s, panels dark.
        self.command(sim, "fault silent")
        time.sleep(1.0)
        asked = time.monotonic()
        program.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait(timeout=20), 0)
        took = time.monotonic() - asked
        self.assertLess(took, 3.0)
        self.assertEqual(self.log_lines()[-1], "GFDev_Terminate")
        harness.report("stop while the simulator hangs",
                       "SIGTERM while every exchange with the simulator was timing out",
                       "the program ended with exit code 0 and its panels dark",
                       **{"seconds to exit": round(took, 2)})

    def save_as_editors_do(self, text, how, rng):
        if how == "in place":
            with open(self.ini, "r+", newline="", encoding="latin-1") as f:
                f.truncate(0)
                f.write(text)
        elif how == "in two halves":
            with open(self.ini, "w", newline="", encoding="latin-1") as f:
                half = len(text) // 2
                f.write(text[:half])
                f.flush()
                time.sleep(rng.uniform(0, 0.05))
                f.write(text[half:])
        else:
            fresh = self.ini + ".new"
            with open(fresh, "w", newline="", encoding="latin-1") as f:
                f.write(text)
            os.replace(fresh, self.ini)

    def test_saves_while_the_program_runs_lose_nothing(self):
        self.running()
        rng = random.Random(16)
        count = 100 if not harness.WINE else 40
        ways = ("in place", "in two halves", "by rename")
        text = SETTINGS
        for n in range(count):
            offset = "X0102" if n % 2 == 0 else "X0100"
            text = WITH_BAD_LINE.replace("X0100", offset) + "".join(
                "; save %d, note %d of a cockpit builder\r\n" % (n, k) for k in range(20))
            self.save_as_editors_do(text, ways[n % 3], rng)
            time.sleep(rng.uniform(0, 0.05))
            self.assertTrue(contains_in_order(user_lines(harness.read_text(self.ini)),
                                              text.splitlines()), "save %d lost lines" % n)
        # Once the file has settled it is loaded: the last save's verdict and outputs.
        self.assertTrue(harness.wait_for(
            lambda: "L1=X0104 D7 <<< Bad Display format" in harness.read_text(self.ini), 15))
        final = harness.read_text(self.ini)
        self.assertTrue(contains_in_order(user_lines(final), text.splitlines()), final)
        start = len(self.log_lines())
        self.wait_logged(0, SHOWS_42, 10)  # the last save reads offset 0x0100
        time.sleep(1.5)
        self.assertFalse(self.logged_since(start, SHOWS_77))
        harness.report("saves while running",
                       "the settings file saved %d times at random intervals of 0-50 ms, in "
                       "place, in two halves and by rename" % count,
                       "every line of every save stayed in the file; once it settled the last "
                       "save was loaded, its verdict written and its outputs shown",
                       saves=count, **{"bytes per save": len(text)})

    def test_slow_save_is_never_loaded_half_written(self):
        self.save(SETTINGS.replace("RevisionTime=1\r\n", "RevisionTime=2\r\n"))
        self.running()
        text = WITH_BAD_LINE.replace("RevisionTime=1\r\n", "RevisionTime=2\r\n").replace(
            "X0100 U16", "X0102 U16") + "; the end of a slow save\r\n"
        half = text.index("L0=X01") + len("L0=X01")  # the half ends inside a line
        start = len(self.log_lines())
        with open(self.ini, "w", newline="", encoding="latin-1") as f:
            f.write(text[:half])
            f.flush()
            time.sleep(1.5)
            f.write(text[half:])
        self.wait_logged(start, SHOWS_77, 15)
        final = harness.read_text(self.ini)
        self.assertTrue(contains_in_order(user_lines(final), text.splitlines()), final)
        self.assertNotIn("L0=X01 <<<", final)
        self.assertFalse(self.logged_since(start, DARK), "the half file's light was loaded")
        harness.report("a slow save",
                       "the settings file saved in two halves 1.5 s apart, the first half "
                       "ending inside a line (RevisionTime 2 s)",
                       "the half-written file was never loaded; the whole save was, and no "
                       "line of it was lost", **{"pause, s": 1.5})

    def test_saves_in_two_halves_keep_every_line(self):
        # An editor writing a large file in pieces, or a sync tool: the second half lands
        # 0.6 s after the first, while the program may be loading and writing its verdicts.
        self.running()
        tries = 4
        for n in range(tries):
            notes = "".join("; try %d, note %d of a cockpit builder\r\n" % (n, k)
                            for k in range(40))
            text = WITH_BAD_LINE.replace("X0100", "X0102" if n % 2 else "X0100") + notes
            half = len(text) // 2
            with open(self.ini, "w", newline="", encoding="latin-1") as f:
                f.write(text[:half])
                f.flush()
                time.sleep(0.6)
                f.write(text[half:])
            last = notes.splitlines()[-1]
            harness.wait_for(lambda: last in harness.read_text(self.ini) and
                             "D7 <<< Bad Display format" in harness.read_text(self.ini), 10)
            final = harness.read_text(self.ini)
            self.assertIn("L1=X0104 D7 <<< Bad Display format", final, "try %d" % n)
            self.assertTrue(contains_in_order(user_lines(final), text.splitlines()),
                            "try %d lost lines:\n%s" % (n, final))
        harness.report("saves in two halves",
                       "the settings file saved %d times in two halves 0.6 s apart, each "
                       "with a line for the program to annotate" % tries,
                       "every line of every save stayed in the file and got its verdict",
                       tries=tries, **{"bytes per save": len(text)})

    def test_plug_storm(self):
        program, _ = self.running()
        events = 100
        began = time.monotonic()
        for n in range(events):
            self.replug("GFMCPPRO=1,GF45=1" if n % 2 == 0 else "GFMCPPRO=1")
            time.sleep(0.1)
        took = time.monotonic() - began
        self.replug("GFMCPPRO=1,GF45=1")
        start = len(self.log_lines())
        self.assertTrue(harness.wait_for(lambda: any(
            line.startswith("GF45_SetAlpha 0 ") and "PLUG" in line
            for line in self.log_lines()[start:]), 15) or "GF45=1" in harness.read_text(self.ini))
        self.assertTrue(harness.wait_for(
            lambda: "GF45=1" in harness.read_text(self.ini), 10), harness.read_text(self.ini))
        self.assertIsNone(program.poll())
        self.assertTrue(contains_in_order(user_lines(harness.read_text(self.ini)),
                                          SETTINGS.splitlines()), harness.read_text(self.ini))
        harness.report("plug storm", "%d plug and unplug events in %.1f s" % (events, took),
                       "the program kept running, followed the last count and kept the file",
                       events=events, seconds=round(took, 1))

    def test_deleted_garbage_and_huge_files(self):
        program, _ = self.running()
        os.remove(self.ini)
        time.sleep(2.5)
        self.assertIsNone(program.poll())
        self.assertFalse(os.path.exists(self.ini), "a deleted file was recreated")
        start = len(self.log_lines())
        self.save(SETTINGS.replace("X0100", "X0102"))
        self.wait_logged(start, SHOWS_77, 10)

        rng = random.Random(7)
        garbage = bytes(rng.randrange(256) for _ in range(50000))
        with open(self.ini, "wb") as f:
            f.write(garbage)
        time.sleep(3)
        self.assertIsNone(program.poll())
        # The report goes in; every byte of the garbage stays, in both builds.
        with open(self.ini, "rb") as f:
            self.assertEqual(f.read()[:len(garbage)], garbage)

        lines = 64000
        huge = WITH_BAD_LINE + "".join(
            "; %05d a long settings file, line after line of notes\r\n" % n for n in range(lines))
        start = len(self.log_lines())
        self.save(huge)
        took = self.wait_logged(start, SHOWS_42, 30)
        self.assertTrue(harness.wait_for(
            lambda: "L1=X0104 D7 <<< Bad Display format" in harness.read_text(self.ini), 15))
        final = harness.read_text(self.ini)
        self.assertTrue(contains_in_order(user_lines(final), huge.splitlines()))
        figures = {"lines": lines, "bytes": len(huge), "seconds from save to outputs": round(took, 2),
                   "garbage bytes": len(garbage)}
        if not harness.WINE:
            # Still answering a stop request promptly after loading it.
            asked = time.monotonic()
            program.send_signal(signal.SIGTERM)
            self.assertEqual(program.wait(timeout=20), 0)
            figures["seconds to exit"] = round(time.monotonic() - asked, 2)
            self.assertLess(figures["seconds to exit"], 3.0)
        harness.report("deleted, garbage, huge",
                       "the settings file deleted and restored, overwritten with random bytes, "
                       "then saved with %d lines" % lines,
                       "the program kept running and its outputs; the restored and the huge "
                       "file were loaded whole, nothing in them lost",
                       **figures)

class Endings(Cockpit):
    """Every way a user's system ends the program leaves the panels dark."""

    def ended_dark(self, start, name):
        """After the last time the light was lit: the light and the display dark, then the
        library let go."""
        lines = self.log_lines()[start:]
        lit = len(lines) - 1 - lines[::-1].index(LIT)
        after = lines[lit:]
        self.assertIn(DARK, after, name)
        self.assertIn(BLANK, after, name)
        self.assertEqual(lines[-1], "GFDev_Terminate", name)

    def start_program_without_reader(self):
        """The program with its standard output on a pipe nobody reads any more, as after
        `norvalume | head -1`: the first title it prints meets a broken pipe."""
        program = subprocess.Popen(harness.command(self.program), env=self.env, cwd=self.dir,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        self.processes.append(program)
        program.stdout.close()
        return program

    def test_every_signal_to_end_leaves_the_panels_dark_and_a_broken_pipe_changes_nothing(self):
        if harness.WINE:
            self.skipTest("a signal cannot reach the program under Wine")
        figures = {}
        for name in ("SIGHUP", "SIGQUIT", "SIGINT"):
            start = len(self.log_lines())
            broken = name == "SIGHUP"
            program = self.start_program_without_reader() if broken else self.start_program()[0]
            sim = self.start_simulator(SIM_VALUES)
            self.wait_logged(start, LIT, 20)
            if broken:
                # The titles went into a pipe without a reader, and a SIGPIPE of its own
                # comes on top: the program runs on and the light stays lit.
                lit = len(self.log_lines())
                program.send_signal(signal.SIGPIPE)
                time.sleep(1.0)
                self.assertIsNone(program.poll(), "SIGPIPE ended the program")
                self.assertFalse(self.logged_since(lit, DARK))
            asked = time.monotonic()
            program.send_signal(getattr(signal, name))
            self.assertEqual(program.wait(timeout=20), 0, name)
            figures["seconds to exit, " + name] = round(time.monotonic() - asked, 2)
            self.ended_dark(start, name)
            self.stop_simulator(sim)
        harness.report("signals",
                       "the program, its light lit, sent SIGHUP (a terminal closing, its output "
                       "on a pipe nobody read and a SIGPIPE first), SIGQUIT and SIGINT",
                       "each time the program ended with exit code 0, its light and display "
                       "dark and the library let go; the broken pipe and SIGPIPE changed "
                       "nothing", **figures)

    def test_end_of_the_windows_session_leaves_the_panels_dark(self):
        if not harness.WINE:
            self.skipTest("the end of a session is a Windows message; Linux sends SIGHUP")
        start = len(self.log_lines())
        program, _ = self.running()
        asked = time.monotonic()
        ended = self.run_program(harness.exe("norvalume-close"), "--end-session")
        self.assertEqual(ended.returncode, 0, ended.stdout)
        # Windows may end the process as soon as the message returns: all of it is done.
        self.ended_dark(start, "end of session")
        self.assertEqual(program.wait(timeout=20), 0)
        harness.report("end of a Windows session",
                       "the window, its light lit, sent WM_QUERYENDSESSION and WM_ENDSESSION "
                       "as a log-off does (norvalume-close --end-session)",
                       "before the message returned, the light and the display were dark and "
                       "the library let go; then the program ended with exit code 0",
                       **{"seconds to dark and released": round(time.monotonic() - asked, 2)})


def private_mounts():
    """The command that runs a program in a mount namespace of its own, and how it can play
    another user there: "chown" (we are root) or "bind" (a folder of a user this namespace
    does not know); or None and the reason the machine cannot."""
    if os.geteuid() == 0:
        command, other = ["unshare", "--mount", "--propagation", "private"], "chown"
    else:
        command, other = ["unshare", "--user", "--map-root-user", "--mount"], "bind"
    try:
        probe = subprocess.run(command + ["mount", "-t", "tmpfs", "tmpfs", "/mnt"],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                               timeout=10)
    except (OSError, subprocess.TimeoutExpired) as e:
        return None, str(e)
    if probe.returncode != 0:
        return None, probe.stdout.strip()
    return command, other


class FullDisks(Cockpit):
    """A tool that cannot write says so and ends with a failure, never with a cut line."""

    def test_a_full_disk_stops_a_recording_with_a_message_and_whole_lines(self):
        sim_script = self.path("changing.script")
        with open(sim_script, "w") as f:
            f.write("".join("set 100 u16 %d\nwait 40\n" % n for n in range(10, 60)))
        self.start(harness.exe("norvalume-sim"), "--script", harness.file_arg(sim_script),
                   "--loop")
        watch = [harness.exe("norvalume-watch"), "--quiet", "--interval", "40", "--seconds",
                 "20", "--record"]
        device = harness.file_arg("/dev/full")
        full = self.run_program(*watch, device, harness.file_arg(self.ini))
        self.assertEqual(full.returncode, 3, full.stdout)
        self.assertIn("recording %s: " % device, full.stdout)
        self.assertIn("No space left on device", full.stdout)

        # A small disk that fills up: a file system of one page in a mount namespace,
        # whose file is shown before the namespace and its disk go.
        command, why = private_mounts() if not harness.WINE else (None, "under Wine")
        figures = {}
        if command:
            disk = self.path("disk")
            os.makedirs(disk)
            recording = os.path.join(disk, "flight.script")
            # Then the checker on a settings file that fills the disk: no room for the
            # file with its verdicts beside it.
            checked = self.path("checked.ini")
            with open(checked, "w", newline="") as f:
                f.write(WITH_BAD_LINE + "; a cockpit builder's notes\r\n" * 100)
            inner = ('mount -t tmpfs -o size=4k tmpfs "$0" || exit 90; checked=$1 check=$2; '
                     'shift 2; "$@"; echo "=== status $?"; cat "$0/flight.script"; '
                     'rm "$0/flight.script"; cp "$checked" "$0/panel.ini"; echo "=== check"; '
                     '"$check" --units GFMCPPRO=1 "$0/panel.ini"; echo "=== status $?"; '
                     'cmp "$checked" "$0/panel.ini" && echo unchanged')
            began = time.monotonic()
            small = subprocess.run(
                command + ["bash", "-c", inner, disk, checked, harness.exe("norvalume-check")] +
                harness.command(*watch, recording, self.ini),
                env=self.env, cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                text=True, timeout=60)
            took = time.monotonic() - began
            said, _, kept = small.stdout.partition("=== status ")
            status, _, kept = kept.partition("\n")
            kept, _, check = kept.partition("=== check\n")
            self.assertIn("norvalume-check: %s/panel.ini: the verdicts could not be written "
                          "into it\n" % disk, check)
            self.assertTrue(check.endswith("=== status 2\nunchanged\n"), check)
            self.assertEqual(status, "3", small.stdout)
            self.assertIn("recording %s: " % recording, said)
            self.assertIn("No space left on device", said)
            self.assertTrue(kept.endswith("\n"), kept[-80:])
            self.assertGreater(len(kept), 2048)
            self.assertLessEqual(len(kept), 4096)
            for line in kept.splitlines():
                self.assertRegex(line, r"^(# .*|set [0-9A-F]{4} \S+ \S+|wait \d+)$")
            self.assertIn("keeps the first %d lines (%d bytes)" % (len(kept.splitlines()),
                                                                    len(kept)), said)
            figures["bytes kept on a 4 KiB disk"] = len(kept)
            figures["seconds to the failure"] = round(took, 2)
        else:
            figures["4 KiB disk"] = "not run: no private mount namespace (%s)" % why

        # The virtual library's call log on a full disk, its state file in a folder that
        # is not there: both said once, and the program is not disturbed.
        state = harness.file_arg(self.path("gone/state"))
        env = dict(self.env, GFDEV_LOG=device, GFDEV_STATE=state)
        identify = self.run_program(self.program, "--identify=1", env=env)
        self.assertEqual(identify.returncode, 0, identify.stdout)
        self.assertEqual(identify.stdout.count("writing the call log %s failed: No space left "
                                               "on device" % device), 1, identify.stdout)
        self.assertIn("writing the state file %s.tmp failed" % state, identify.stdout)
        if not harness.WINE:
            with open("/dev/full", "w") as full_output:
                report = subprocess.run(harness.command(harness.exe("norvalume-check"),
                                                        "--dry-run", self.ini),
                                        env=self.env, stdout=full_output,
                                        stderr=subprocess.PIPE, text=True, timeout=30)
            self.assertEqual(report.returncode, 2, report.stderr)
            self.assertIn("writing to standard output failed: No space left on device",
                          report.stderr)
        harness.report("full disks",
                       "norvalume-watch recorded a changing flight onto /dev/full and onto a "
                       "file system of 4 KiB; norvalume-check wrote its verdicts onto that full "
                       "disk and its report onto /dev/full; the virtual library logged onto "
                       "/dev/full",
                       "the watch ended with exit status 3 and a message naming the file, the "
                       "line and the reason, and the recording kept only whole lines; the "
                       "checker ended with exit status 2 and said what it could not write, "
                       "the settings file unchanged; the library said once which file it could "
                       "not write", **figures)


# Run in a private mount namespace with its own /tmp: makes /tmp/norvalume-<uid> the way
# another user could have left it, and tries the program and the emulator on it; then
# lets the emulator make it and the program connect. $1 the sandbox (under the real /tmp,
# carried over), $2 how to play another user (see private_mounts), $3 the program's file
# name in the sandbox.
RUN_FOLDER_SCRIPT = r"""
set -u
sandbox=$1; other=$2; program=./$3
# A fresh /tmp hides whatever lived there: the sandbox and the tools' folder (a build
# under /tmp) are mounted back where they were.
tools=$(dirname "$SIM")
exec 3<"$sandbox" 4<"$tools"
mount -t tmpfs -o mode=1777 tmpfs /tmp || exit 90
for kept in "3 $sandbox" "4 $tools"; do
  fd=${kept%% *}; path=${kept#* }
  mkdir -p "$path" && mount --no-canonicalize --bind /proc/$$/fd/$fd "$path" || exit 91
done
cd "$sandbox"
unset NORVALUME_RUNDIR XDG_RUNTIME_DIR
dir=/tmp/norvalume-$(id -u)
echo "folder $dir"
try() {
  timeout 10 "$program" </dev/null >program.out 2>&1; echo "program $? $(head -n 1 program.out)"
  timeout 10 "$SIM" </dev/null >sim.out 2>&1; echo "sim $? $(head -n 1 sim.out)"
  timeout 10 "$WATCH" --once norvalume.ini </dev/null >watch.out 2>&1
  echo "watch $? $(head -n 1 watch.out)"
}
echo "case open"; mkdir "$dir"; chmod 0777 "$dir"; try; rmdir "$dir"
echo "case owner"; mkdir -m 0700 "$dir"
if [ "$other" = chown ]; then chown 4242:4242 "$dir"; else mount --bind /usr "$dir"; fi
try; umount "$dir" 2>/dev/null; rmdir "$dir"
echo "case link"; mkdir -m 0700 /tmp/victim; echo kept >/tmp/victim/FS98MAIN
ln -s /tmp/victim "$dir"; try; echo "victim $(cat /tmp/victim/FS98MAIN)"; rm "$dir"
echo "case file"; echo x >"$dir"; try; rm "$dir"
echo "case ours"
"$SIM" </dev/null >sim.out 2>&1 &
sim=$!
for _ in $(seq 100); do [ -S "$dir/FS98MAIN" ] && break; sleep 0.05; done
echo "modes $(stat -c %a "$dir") $(stat -c %a "$dir/FS98MAIN")"
"$program" </dev/null >program.out 2>&1 &
for _ in $(seq 200); do grep -q connected program.out && break; sleep 0.05; done
kill -TERM $!; wait $!; echo "program $? $(grep -c 'title: Norvalume: connected' program.out)"
kill -TERM $sim; wait $sim
"""


class RunFolder(Cockpit):
    """The Linux run folder is ours or refused: what another user left at
    /tmp/norvalume-<uid> keeps the program and the emulator from starting."""

    def test_a_run_folder_another_user_could_use_is_refused(self):
        if harness.WINE:
            self.skipTest("the run folder is the Linux stand-in's")
        command, other = private_mounts()
        if not command:
            self.skipTest("no private mount namespace on this machine (%s): cannot play a "
                          "second user here" % other)
        env = dict(self.env, SIM=harness.exe("norvalume-sim"),
                   WATCH=harness.exe("norvalume-watch"))
        done = subprocess.run(command + ["bash", "-c", RUN_FOLDER_SCRIPT, "run-folder",
                                         self.dir, other, os.path.basename(self.program)],
                              env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, timeout=150)
        out = done.stdout.splitlines()
        self.assertEqual(done.returncode, 0, done.stdout)
        folder = out[0].split(" ", 1)[1]
        cases = {}
        for line in out[1:]:
            word, rest = line.split(" ", 1)
            if word == "case":
                case = cases.setdefault(rest, {})
            else:
                case[word] = rest
        refusal = "run folder %s refused: " % folder
        why = {"open": "other users may use it (mode 0777, must be 0700)",
               "owner": "it belongs to user ", "link": "it is a symbolic link, not a folder",
               "file": "it is not a folder"}
        for name, text in why.items():
            self.assertTrue(cases[name]["program"].startswith("6 norvalume: " + refusal + text),
                            (name, cases[name]))
            self.assertTrue(cases[name]["sim"].startswith("3 norvalume-sim: " + refusal + text),
                            (name, cases[name]))
            self.assertTrue(cases[name]["watch"].startswith("2 norvalume-watch: " + refusal + text),
                            (name, cases[name]))
        self.assertEqual(cases["link"]["victim"], "kept")
        self.assertEqual(cases["ours"]["modes"], "700 600", cases["ours"])
        self.assertEqual(cases["ours"]["program"], "0 1", cases["ours"])
        harness.report("a run folder another user made",
                       "in a private mount namespace, %s made by another user (owned by "
                       "someone else; open to all; a link to a folder holding a file of ours; "
                       "a file), then left to be made" % folder,
                       "the program (exit code 6), the emulator (3) and the watch (2) refused each with a "
                       "message naming the folder and what is wrong, and deleted nothing; the "
                       "emulator made it with mode 0700, its socket 0600, and the program "
                       "connected", cases=len(cases))


if __name__ == "__main__":
    unittest.main()
