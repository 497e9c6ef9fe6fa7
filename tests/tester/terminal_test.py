"""The console on a real terminal: key sequences to key codes, no echo, the cursor services, line
input, and the terminal settings given back on every way out. First in a pseudo-terminal driven
byte by byte, then in tmux with real keys."""
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

from tester_support import CONSOLE_PROBE, TIMEOUT, ZORTESTER, Simulator


class ProbeInPty:
    """console_probe on a pseudo-terminal; the test writes the terminal's input bytes."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        self.settings = termios.tcgetattr(self.slave)
        self.process = subprocess.Popen([CONSOLE_PROBE], stdin=self.slave, stdout=self.slave,
                                        stderr=self.slave, start_new_session=True)
        self.output = b""
        self.expect(b"ready\r\n")

    def write(self, data):
        os.write(self.master, data)

    def expect(self, text):
        """Reads until `text` has come; gives what came before it."""
        deadline = time.monotonic() + TIMEOUT
        while text not in self.output:
            ready, _, _ = select.select([self.master], [], [], max(0, deadline - time.monotonic()))
            if not ready:
                raise AssertionError(f"{text!r} did not come; output: {self.output!r}")
            self.output += os.read(self.master, 4096)
        before, self.output = self.output.split(text, 1)
        return before

    def wait(self):
        return self.process.wait(timeout=TIMEOUT)

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass


def raw(settings):
    lflag = settings[3]
    return not lflag & termios.ICANON and not lflag & termios.ECHO and lflag & termios.ISIG


class PseudoTerminal(unittest.TestCase):
    def setUp(self):
        self.probe = ProbeInPty()
        self.addCleanup(self.probe.close)

    def key(self, data, code):
        self.probe.write(data)
        self.assertEqual(self.probe.expect(b"\r\n"), b"key " + code)

    def test_keys_without_echo_in_raw_mode(self):
        self.assertTrue(raw(termios.tcgetattr(self.probe.slave)))
        self.key(b"\x1b[A", b"148")
        self.key(b"\x1bOB", b"150")
        self.key(b"\r", b"00D")
        self.key(b"\x00", b"103")
        self.key(b"\x1b[99~", b"100")   # unknown: one key, no stray characters
        self.key(b"\x1b[1;5A", b"18D")
        self.probe.write(b"\x1b[")      # a sequence split across two writes is still one key
        time.sleep(0.005)
        self.key(b"5;5~", b"184")
        self.probe.write(b"\x1b")
        self.assertEqual(self.probe.expect(b"\r\n"), b"key 01B")  # a lone Esc, told apart by the wait
        self.assertEqual(self.probe.wait(), 0)
        self.assertEqual(self.probe.output, b"")
        self.assertEqual(termios.tcgetattr(self.probe.slave), self.probe.settings)

    def test_keys_typed_while_the_cursor_row_is_asked_are_kept_in_order(self):
        self.probe.write(b"r")
        self.probe.expect(b"\x1b[6n")
        self.probe.write(b"ab\x1b[7;1Rc")
        self.assertEqual(self.probe.expect(b"key 063\r\n"), b"row 7\r\nkey 061\r\nkey 062\r\n")

    def test_line_input_with_echo_then_raw_again(self):
        self.probe.write(b"l")
        self.probe.expect(b"answer: ")
        deadline = time.monotonic() + TIMEOUT
        while raw(termios.tcgetattr(self.probe.slave)) and time.monotonic() < deadline:
            time.sleep(0.001)
        self.probe.write(b"12,5\x7f.5\r")  # the terminal's own line editing: Backspace takes the 5
        self.assertEqual(self.probe.expect(b"\r\n"), b"12,5\x08 \x08.5")
        self.assertEqual(self.probe.expect(b"\r\n"), b"line <12,.5>")
        self.key(b"x", b"078")                # no echo again
        self.probe.write(b"l78\x7f\r")        # typed ahead of the prompt, Backspace included
        self.assertEqual(self.probe.expect(b"line <7>\r\n"), b"answer: 7\r\n")

    def test_signals_give_the_terminal_settings_back(self):
        self.probe.close()
        for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=number):
                probe = ProbeInPty()
                self.addCleanup(probe.close)
                self.assertTrue(raw(termios.tcgetattr(probe.slave)))
                probe.process.send_signal(number)
                self.assertEqual(probe.process.wait(timeout=TIMEOUT), -number)
                self.assertEqual(termios.tcgetattr(probe.slave), probe.settings)


@unittest.skipUnless(shutil.which("tmux"), "tmux is not installed")
class Tmux(unittest.TestCase):
    """Real keys sent by tmux to the program in a pane, the screen read back."""

    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = folder.name
        self.server = ["tmux", "-L", f"zortester-test-{os.getpid()}", "-f", os.path.join(self.folder, "tmux.conf")]
        with open(os.path.join(self.folder, "tmux.conf"), "w") as conf:
            conf.write("set -g status off\n")
        self.simulator = Simulator()
        self.addCleanup(self.simulator.stop)

    def start(self, script):
        with open(os.path.join(self.folder, "run.sh"), "w") as file:
            file.write(script + "exec sleep 60\n")  # the pane stays as it is until the server ends
        environment = dict(os.environ, TERM="xterm")
        subprocess.run(self.server + ["new-session", "-d", "-s", "t", "-x", "100", "-y", "40",
                                      "sh " + os.path.join(self.folder, "run.sh")],
                       check=True, cwd=self.folder, env=environment, timeout=TIMEOUT)
        self.addCleanup(subprocess.run, self.server + ["kill-server"], timeout=TIMEOUT,
                        stderr=subprocess.DEVNULL)

    def tmux(self, *arguments):
        return subprocess.run(self.server + list(arguments), check=True, capture_output=True, text=True,
                              timeout=TIMEOUT).stdout

    def screen(self):
        return self.tmux("capture-pane", "-p", "-t", "t").rstrip("\n").split("\n")

    def wait_for(self, text):
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            lines = self.screen()
            if any(text in line for line in lines):
                return lines
            time.sleep(0.02)
        self.fail(f"{text!r} not on the screen:\n" + "\n".join(self.screen()))

    def send(self, *keys):
        for key in keys:
            self.tmux("send-keys", "-t", "t", key)
            time.sleep(0.06)  # longer than the wait after ESC: every key on its own

    def terminal_settings(self):
        tty = self.tmux("display-message", "-p", "-t", "t", "#{pane_tty}").strip()
        return subprocess.run(["stty", "-a", "-F", tty], capture_output=True, text=True, timeout=TIMEOUT).stdout

    def settings_file(self, name):
        with open(os.path.join(self.folder, name)) as file:
            return file.read()

    def test_key_codes_and_cursor_services(self):
        self.start(f"{CONSOLE_PROBE}\necho \"exit status $?\"\n")
        self.wait_for("ready")
        keys = [("Up", "148"), ("Down", "150"), ("Left", "14B"), ("Right", "14D"), ("PPage", "149"),
                ("NPage", "151"), ("C-PPage", "184"), ("C-NPage", "176"), ("M-PPage", "199"),
                ("M-NPage", "1A1"), ("S-Up", "148"), ("S-NPage", "151"), ("C-Up", "18D"), ("Home", "147"),
                ("End", "14F"), ("IC", "152"), ("DC", "153"), ("F1", "13B"), ("F2", "13C"), ("F5", "13F"),
                ("F12", "186"), ("Enter", "00D"), ("C-Space", "103"), ("a", "061")]
        self.send(*(key for key, _ in keys))
        self.send("p", "r", "Escape")
        lines = self.wait_for("exit status 0")
        self.assertEqual(lines[:len(keys) + 1], ["ready"] + [f"key {code}" for _, code in keys])
        self.assertEqual(lines[len(keys) + 1:len(keys) + 2], ["in place"])
        row = len(keys) + 3
        self.assertEqual(lines[len(keys) + 2:], [f"row {row}", "key 01B", "exit status 0"])

    def test_tester_leaves_the_terminal_as_it_found_it(self):
        self.start(f"stty -g >before\n{ZORTESTER} {self.simulator.url}\necho \"exit status $?\"\nstty -g >after\n")
        self.wait_for("Press '?' for help")
        settings = self.terminal_settings()
        self.assertIn("-icanon", settings.split())
        self.assertIn("-echo", settings.split())
        self.send("Up", "C-PPage", "F2", "M-Left", "h", "Escape")
        lines = self.wait_for("exit status 0")
        self.assertEqual(lines, ["Communication port opened", "Press '?' for help",
                                 # tmux keeps no tabs: they are blanks on the screen
                                 "Housekeeping data: Supply: 24.000V\t5V: 5.000V\t3V: 3.300V\tCPU: 42.00degC".expandtabs(),
                                 "Communication port closed", "Program finished", "exit status 0"])
        self.assertEqual(self.settings_file("after"), self.settings_file("before"))

    def stopped(self, stop, status):
        """ZorTester ended by `stop` while it waits for keys: its exit status, the settings back."""
        # The script outlives a Ctrl+C (a trap, unlike an ignored signal, is not inherited).
        self.start("trap : INT\nstty -g >before\n"
                   f"sh -c 'echo $$ >pid; exec \"$0\" \"$1\"' {ZORTESTER} {self.simulator.url}\n"
                   "status=$?; stty -g >after; echo \"exit status $status\"\n")
        self.wait_for("Press '?' for help")
        self.assertIn("-icanon", self.terminal_settings().split())
        stop()
        self.wait_for(f"exit status {status}")
        self.assertEqual(self.settings_file("after"), self.settings_file("before"))

    def test_terminal_settings_restored_after_sigterm(self):
        self.stopped(lambda: os.kill(int(self.settings_file("pid")), signal.SIGTERM), 128 + signal.SIGTERM)

    def test_ctrl_c_ends_the_program(self):
        self.stopped(lambda: self.send("C-c"), 128 + signal.SIGINT)

    def test_keypad_simulation_echoes_in_place_and_drives_the_device(self):
        self.start(f"{ZORTESTER} {self.simulator.url} -g -K -e -o -T\necho \"exit status $?\"\n"
                   f"{ZORTESTER} {self.simulator.url} -Q -l -T >display.txt\necho \"display read\"\n")
        hint = ("Press 'Esc' to quit, arrow keys or 'Enter' to simulate the keypad, 'Space' or 'PgDn'/'PgUp' to "
                "simulate the encoder")
        self.wait_for(hint[:40])
        # Channel 1 on and edited to 10 V (encoder and arrows, steps of 1 and 10 V), channel 2 on
        # and off again, channel 3 on, the cursor back on channel 1.
        keys = [("Right", "14D"), ("Enter", "00D"), ("PPage", "149"), ("C-PPage", "184"), ("M-PPage", "199"),
                ("M-NPage", "1A1"), ("C-NPage", "176"), ("Up", "148"), ("Left", "14B"), ("Up", "148"),
                ("Right", "14D"), ("Down", "150"), ("NPage", "151"), ("Enter", "00D"), ("Down", "150"),
                ("Space", "020"), ("PPage", "149"), ("Right", "14D"), ("NPage", "151"), ("Space", "020"),
                ("NPage", "151"), ("a", "061"), ("F2", "13C")]
        for key, code in keys:
            self.send(key)
            lines = self.wait_for(f"KeyCode: {code}")
            self.assertEqual([line for line in lines if "KeyCode" in line], [f"KeyCode: {code}"])
        self.send("Escape")
        lines = self.wait_for("display read")
        self.assertEqual(lines, [
            "Checking the DLL Version...", "DLL Version: 1.10", "Opening the communication port...",
            "Communication port opened", "Simulating the keypad and the encoder:", hint[:100], hint[100:],
            "Keypad simulation stopped",  # over the last echo
            "Getting the output state:", "Output state:\tCh1: on \tCh2: off\tCh3: on \tCh4: off".expandtabs().rstrip(),
            "Getting the output voltages:",
            "Output voltages:\tCh1: 10.0V\tCh2: 0.0V\tCh3: 0.0V\tCh4: 0.0V".expandtabs(),
            "Closing the communication port...", "Communication port closed", "Program finished", "exit status 0",
            "display read"])
        # The display shows what the same settings made by commands show.
        reference = Simulator()
        self.addCleanup(reference.stop)
        expected = subprocess.run([ZORTESTER, reference.url, "-Q", "-O1", "10", "-E1", "y", "-E3", "y", "-l", "-T"],
                                  capture_output=True, timeout=TIMEOUT).stdout.decode()
        rows = [line for line in expected.split("\n") if line.startswith("LDC row ")]
        self.assertEqual(len(rows), 8)
        self.assertEqual(self.settings_file("display.txt"), "\n".join(rows) + "\n")

    def test_test_protocol_writes_its_live_lines_at_their_rows(self):
        simulator = Simulator("--channels", "1", "--voltage-min", "-1", "--voltage-max", "1")
        self.addCleanup(simulator.stop)
        self.start(f"{ZORTESTER} {simulator.url} -X p.txt 10 0 -T\necho \"exit status $?\"\n")
        # The two supply lines over the blank line and the row under it, right after the uptime.
        lines = self.wait_for("HV supply data: Positive: 240.000V, Negative: 240.000V, Heatsink: 31.00degC")
        row = lines.index("HV supply data: Positive: 240.000V, Negative: 240.000V, Heatsink: 31.00degC")
        self.assertEqual(lines[row - 1], "Housekeeping data: Supply: 24.000V, 5V: 5.000V, 3V: 3.300V, CPU: 42.00degC")
        self.assertRegex(lines[row - 2], r"^Device uptime: ")
        # Pause mode samples until SPACE, on the row under the step's line.
        lines = self.wait_for("Measured output voltages: Ch1: -01.000V")
        self.assertEqual(lines[-2:], ["Setting output voltages: -01.0V", "Measured output voltages: Ch1: -01.000V"])
        self.send("Space")
        lines = self.wait_for("exit status 0")
        uptime = re.compile(r"Device uptime: 0:00:\d\d\.\d\d sec\.")
        expected = [
            "Communication port opened", re.compile(r"Test protocol created at .+"), "Product number: 74565",
            "Product identification: ZORLINE HV-4 simulated", "Firmware version: 1.02", "Firmware date: Dec 11 2026",
            "Hardware capabilities:", "\tNumber of channels: 1", "\tOutput voltage range: -1V..+1V",
            "\tPrecision: 100mV", "\tCurrent sensor: not installed", "\tShutdown temperature: 85degC", uptime,
            "Housekeeping data: Supply: 24.000V\t5V: 5.000V\t3V: 3.300V\tCPU: 42.00degC",
            "HV supply data: Positive: 240.000V\tNegative: 240.000V\tHeatsink: 31.00degC",
            "Interlock is closed", "Getting the set values of the output voltages:\tCh1: +00.0V",
            "Setting output state:\tCh1: on ", "Testing output voltages:", "Press SPACE to proceed to the next value...",
            "Setting output voltages: -01.0V", "Measured output voltages:\tCh1: -01.000V +0mV, -0mV",
            "Testing finished, maximum voltage difference between set and measured values: 0mV",
            "Resetting output state:\tCh1: off", "Restoring output voltages:\tCh1: +00.0V", uptime,
            "Test protocol finished", "Communication port closed", "Program finished", "exit status 0"]
        self.assertEqual(len(lines), len(expected), "\n".join(lines))
        for got, want in zip(lines, expected):
            if isinstance(want, re.Pattern):
                self.assertRegex(got, want)
            else:
                self.assertEqual(got, want.expandtabs().rstrip())


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:])
