"""norvalume-watch beside the program and the virtual panels, with norvalume-sim playing
the demo scenario: the table shows what the program sends, --why names the part that
fails, a recording replayed into a fresh emulator drives the panels through the same
outputs, and the settings file is never written. Also norvalume-sim's --loop and --speed."""
import os
import re
import signal
import subprocess
import time
import unittest

import harness

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
UNITS = "GF45=1,GFP8=1,GF166=1,GFMCP=1,GFLGT2=1,GFMCPPRO=1"


def example(name):
    with open(os.path.join(EXAMPLES, name), newline="") as f:
        return f.read()


def approach():
    """The demo scenario up to its second aircraft: the approach these tests look at."""
    scenario = example("demo.scenario")
    return scenario[:scenario.index("# Later the simulator loads the second aircraft")]


def table_rows(output):
    """{(section, key): (line, value, shows)} from the watch's table."""
    rows = {}
    lines = output.splitlines()
    for line in lines[lines.index(next(l for l in lines if l.startswith("SECTION"))) + 1:]:
        cells = re.split(r"\s{2,}", line.strip())
        if len(cells) == 5:
            rows[(cells[0], cells[1])] = tuple(cells[2:])
    return rows


def outputs(log_lines):
    """Per output (entry point and unit), the values it was sent in the order they first
    appeared, and the last one: flashing makes the count of sends depend on timing."""
    seen = {}
    for line in log_lines:
        name, _, rest = line.partition(" ")
        if "_Set" not in name:
            continue
        unit, _, value = rest.partition(" ")
        values = seen.setdefault((name, unit), [])
        if value not in values:
            values.append(value)
        seen[(name, unit, "last")] = value
    return seen


class Watch(harness.ProgramSandbox):
    def setUp(self):
        super().setUp()
        self.install(example("demo.ini"), UNITS, state=True)
        with open(self.path("demo-jet.ini"), "w", newline="") as f:
            f.write(example("demo-jet.ini"))
        self.scenario = self.path("approach.scenario")
        with open(self.scenario, "w", newline="") as f:
            f.write(approach())
        # The watch reads a copy of its own: the program writes its report into its file.
        self.watched = self.path("watch.ini")
        with open(self.watched, "w", newline="") as f:
            f.write(example("demo.ini"))

    def watch(self, *args, timeout=60):
        return self.run_program(harness.exe("norvalume-watch"), *args,
                                harness.file_arg(self.watched), timeout=timeout)

    def play_demo(self, sim):
        for line in approach().splitlines():
            sim.stdin.write(line + "\n")
        sim.stdin.flush()

    def start_demo(self):
        return self.start_simulator([], "--script", harness.file_arg(self.scenario))

    def test_once_shows_what_the_program_sends_and_leaves_the_file_alone(self):
        before = (harness.read_text(self.watched), os.stat(self.watched).st_mtime_ns)
        self.start_demo()
        self.start_program()
        # Settled: the three greens of the gear lit, the reds dark, and the stall warning
        # lit, which comes last.
        def settled():
            state = harness.panel_state(harness.read_text(self.state))
            return (state.get("GFLGT2.0", {}).get("lights") == 0x54 and
                    state.get("GFP8.0", {}).get("lights", 0) & 0x38 == 0x38)
        self.assertTrue(harness.wait_for(settled, 20), harness.read_text(self.state))
        time.sleep(1.0)
        r = self.watch("--once")
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn("  1 exchange a scan", r.stdout)
        rows = table_rows(r.stdout)
        state = harness.panel_state(harness.read_text(self.state))

        for light in (3, 4):  # beacon and landing lights
            self.assertEqual(rows[("GFP8.0", "L%d" % light)][2], "lit", r.stdout)
            self.assertTrue(state["GFP8.0"]["lights"] >> light & 1)
        for light in range(2, 8):  # the greens on the even bits, the reds dark
            self.assertEqual(rows[("GFLGT2.0", "L%d" % light)][2],
                             "off" if light % 2 else "lit", r.stdout)
        self.assertEqual(rows[("GFLGT2.0", "L4")][0], "L4=1 C0")
        self.assertEqual(rows[("GFP8.0", "L6")][:2], ("(none)", "C4 is false"))
        self.assertEqual(rows[("GF166.0", "D0")][1:], ("0x2345", '"123.45"'))
        self.assertEqual(rows[("GF166.0", "D1")][2], '"121.50"')
        self.assertEqual(rows[("GF45.0", "D1")][0], "D1.1=X0354 R0")
        for display, shown in zip("1234", ("250", "270", "10000", "-700")):
            self.assertEqual(rows[("GFMCP.0", "D" + display)][2], '"%s"' % shown)
        # The text displays as the panel holds them, digit for digit.
        for display, name in enumerate("ABCDEF"):
            kind, text = state["GFMCPPRO.0"][name]
            self.assertEqual(kind, "text")
            self.assertEqual(rows[("GFMCPPRO.0", "D%d" % display)][2], '"%s"' % text.strip())

        # The segments the watch derives are the segments the panel was sent.
        r = self.watch("--once", "--why", "gf166.0", "D0")
        self.assertEqual(r.returncode, 0, r.stdout)
        segments = re.search(r"segments ([0-9A-F ]+)", r.stdout).group(1)
        self.assertEqual(("segments", segments.strip()), state["GF166.0"]["L"])

        r = self.watch("--once", "--filter", "gf166")
        self.assertEqual({section for section, _ in table_rows(r.stdout)}, {"GF166.0"})

        # A bare name is the file in the current folder, also for Windows' profile calls.
        r = self.run_program(harness.exe("norvalume-watch"), "--once", "watch.ini")
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn("settings: %s (units: GF45=1 GFP8=1 GF166=1 GFMCP=1 GFLGT2=1 GFMCPPRO=1)"
                      % harness.full_path(self.dir, "watch.ini"), r.stdout)
        self.assertEqual(
            (harness.read_text(self.watched), os.stat(self.watched).st_mtime_ns), before)

    def test_a_light_that_is_off_shows_its_value_through_its_flash(self):
        with open(self.watched, "w", newline="") as f:
            f.write("[GFP8.0]\r\nL0=X0100 U8 =1 Ffast\r\nL1=X0100 U8 =0 Ffast\r\n")
        r = self.watch("--once")
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertIn("no simulator answered within 5 seconds: start the simulator", r.stdout)

        sim = self.start_simulator([])
        r = self.watch("--interval", "100", "--seconds", "2")
        self.stop_simulator(sim)
        # Once the flashes run: the light that is off shows its value at every scan,
        # whatever phase its flash is in; the lit one takes turns.
        frames = [table_rows(frame) for frame in r.stdout.split("settings: ")[1:]]
        running = [rows[("GFP8.0", "L1")][2] == "lit, flashing" for rows in frames]
        self.assertIn(True, running, r.stdout)
        frames = frames[running.index(True):]
        self.assertGreater(len(frames), 3, r.stdout)
        self.assertEqual({rows[("GFP8.0", "L0")][1:] for rows in frames},
                         {("0 =1: false", "off")}, r.stdout)
        self.assertEqual({rows[("GFP8.0", "L1")][1:] for rows in frames},
                         {("0 =0: true", "lit, flashing"),
                          ("(dark phase of its flash)", "off, flashing")}, r.stdout)

    def test_the_aircraft_and_its_profile_are_shown_and_why_names_each_line_file(self):
        # The approach's values at once, then the jet.
        sim = self.start_simulator([line for line in approach().splitlines()
                                    if line.startswith("set ")] +
                                   ["set 3D00 str Norvalume Jet 200"])
        head = 'aircraft: "Norvalume Jet 200"  profile: demo-jet.ini (rule 1)'
        r = self.watch("--once", "--why", "GFMCP.0", "D3")
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn(head, r.stdout)
        self.assertIn("D3=X07D4 U32 *3.28084 /6553600 D3 ; altitude bug as a flight level "
                      "(feet / 100)  (in demo-jet.ini)", r.stdout)
        self.assertIn('"100"', r.stdout)
        r = self.watch("--once", "--why", "GFLGT2.0", "L4")
        self.assertIn("L4=1 C0 ; nose gear down  (in watch.ini)", r.stdout)
        self.assertIn("[Conditions] 0=X0BEC U32 =16383 ; nose gear down  (in watch.ini)",
                      r.stdout)
        # Another aircraft: the settings file's own section.
        sim.stdin.write("set 3D00 str Norvalume Trainer\n")
        sim.stdin.flush()
        r = self.watch("--once", "--filter", "GFMCP.0")
        self.assertIn('aircraft: "Norvalume Trainer"  profile: none (no rule matches)', r.stdout)
        self.assertEqual(table_rows(r.stdout)[("GFMCP.0", "D3")][2], '"10000"', r.stdout)

    def test_why_names_the_gate_that_closed_when_the_voltage_drops(self):
        with open(self.watched, "w", newline="") as f:
            f.write(example("demo.ini").replace("Needs=Battery", "Needs=Battery V24"))
        sim = self.start_demo()
        # Live: a frame is printed whenever the derivation changes.
        out = self.path("why.out")
        with open(out, "w") as f:
            self.processes.append(subprocess.Popen(
                harness.command(harness.exe("norvalume-watch"), "--why", "GFLGT2.0", "L4",
                                "--interval", "100", harness.file_arg(self.watched)),
                env=self.env, cwd=self.dir, stdin=subprocess.DEVNULL, stdout=f,
                stderr=subprocess.STDOUT))
        def frames():  # Windows console programs end their lines with \r\n
            return harness.read_text(out).replace("\r\n", "\n")

        lit = "    C0 (must be true): true, holds\n"
        self.assertTrue(harness.wait_for(lambda: lit in frames() and "shows: lit" in frames(),
                                         20), frames())
        self.assertIn("[Conditions] 0=X0BEC U32 =16383 ; nose gear down", frames())

        sim.stdin.write("set 2834 f64 22.5\n")
        sim.stdin.flush()
        closed = "=> does not apply: Needs closed: V24 (volts 22.50)"
        self.assertTrue(harness.wait_for(lambda: closed in frames(), 10), frames())
        last = frames().split("settings: ")[-1]
        self.assertIn("Needs V24: volts 22.50, closed; Battery: on, open", last)
        self.assertIn("shows: off", last)
        self.assertEqual(last.count(closed), 1, last)  # the one line of L4

        # The file saved with a lower gate: the watch follows the save.
        with open(self.watched, "w", newline="") as f:
            f.write(example("demo.ini").replace("Needs=Battery", "Needs=Battery V20"))
        self.assertTrue(harness.wait_for(
            lambda: "V20: volts 22.50, open" in frames().split("settings: ")[-1], 10), frames())
        self.assertIn("shows: lit", frames().split("settings: ")[-1])

    def test_a_recording_replayed_drives_the_panels_through_the_same_outputs(self):
        recording = self.path("flight.script")
        sim = self.start_simulator([])
        program, _ = self.start_program()
        watch = self.start(harness.exe("norvalume-watch"), "--record",
                           harness.file_arg(recording), "--quiet", "--interval", "100",
                           harness.file_arg(self.watched))
        # Both clients see the idle simulator before the flight starts; the recording's
        # idle time lets the program connect again in the replay before anything moves.
        self.assertTrue(harness.wait_for(lambda: "set 0BEC" in harness.read_text(recording), 20))
        self.assertTrue(harness.wait_for(
            lambda: any("_Set" in line for line in self.log_lines()), 20))
        time.sleep(6.0)
        self.play_demo(sim)
        self.assertTrue(harness.wait_for(lambda: "STALL" in harness.read_text(recording), 20))
        time.sleep(1.5)
        if harness.WINE:
            watch.kill()
        else:
            watch.send_signal(signal.SIGINT)
        self.assertIn(watch.wait(timeout=20), (0, -signal.SIGKILL, 1))
        original = outputs(self.log_lines())
        program.kill()
        program.wait(timeout=10)
        self.stop_simulator(sim)

        script = harness.read_text(recording)
        self.assertTrue(script.startswith("# norvalume-watch recording: the values "), script)
        self.assertIn("watch.ini", script.splitlines()[0])
        self.assertRegex(script.splitlines()[1], r"^# recorded \d{4}-\d\d-\d\d \d\d:\d\d:\d\d$")
        self.assertIn("set 034E u16 0x2345\n", script)
        self.assertIn("set 3380 str ** STALL **\n", script)
        if not harness.WINE:
            self.assertTrue(script.splitlines()[-1].startswith("wait "), script[-200:])

        # The program starts first and retries the link every 3 s, so it is connected well
        # inside the recording's 6 s of idle simulator however slowly it starts.
        os.remove(self.log)
        self.start_program()
        self.start(harness.exe("norvalume-sim"), "--script", harness.file_arg(recording))
        self.assertTrue(harness.wait_for(lambda: outputs(self.log_lines()) == original, 30),
                        "\n".join(map(str, sorted(outputs(self.log_lines()).items())))
                        + "\n--- original\n" + "\n".join(map(str, sorted(original.items()))))


class SimLoop(harness.Sandbox):
    def test_a_looping_script_plays_again_at_its_speed_and_input_runs_beside_it(self):
        r = self.run_program(harness.exe("norvalume-sim"), "--script", "loop.script")
        self.assertEqual(r.returncode, 2, r.stdout)
        self.assertIn(harness.full_path(self.dir, "loop.script") + ": no such file", r.stdout)
        with open(self.path("loop.script"), "w") as f:
            f.write("set 100 u8 1\nwait 400\nset 100 u8 2\nwait 400\n")
        # Named as typed in the current folder.
        sim = self.start(harness.exe("norvalume-sim"), "--script", "loop.script",
                         "--loop", "--speed", "2")
        self.assertTrue(sim.stdout.readline().startswith("ready"))
        values = []
        started = time.monotonic()
        while time.monotonic() - started < 2.0:
            sim.stdin.write("dump 100 1\n")
            sim.stdin.flush()
            values.append(sim.stdout.readline().split()[-1])
            time.sleep(0.05)
        changes = [v for i, v in enumerate(values) if i and v != values[i - 1]]
        # A pass lasts 400 ms at twice the speed: about ten changes in two seconds.
        self.assertGreaterEqual(changes.count("01"), 3, values)
        self.assertGreaterEqual(changes.count("02"), 3, values)
        self.assertLessEqual(len(changes), 14, values)
        sim.stdin.write("quit\n")
        sim.stdin.flush()
        self.assertEqual(sim.wait(timeout=10), 0)


if __name__ == "__main__":
    unittest.main()
