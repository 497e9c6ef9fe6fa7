"""What is ZorTester.exe's own under Wine: its name taken from a Windows path, and the Windows
console (keys from _getch with their 0 and 0xE0 prefixes, the cursor services on the screen buffer,
line input) seen in a terminal that tmux runs."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tester"))
from tester_support import CONSOLE_PROBE, RUNNER, TIMEOUT, ZORTESTER, assert_lines, text_mode_output, usage  # noqa: E402


class ProgramName(unittest.TestCase):
    def test_name_after_the_last_backslash_up_to_the_first_dot(self):
        # Wine hands the program its path as Windows writes it: Z:\...\zor.v2\Zor.Tester.exe.
        with tempfile.TemporaryDirectory() as folder:
            place = os.path.join(folder, "zor.v2")
            os.mkdir(place)
            program = os.path.join(place, "Zor.Tester.exe")
            shutil.copy(ZORTESTER, program)
            shutil.copy(os.path.join(os.path.dirname(ZORTESTER), "COM-ZOR4.dll"), place)
            result = subprocess.run(RUNNER + [program], stdin=subprocess.DEVNULL, capture_output=True,
                                    timeout=TIMEOUT)
        self.assertEqual(result.stderr, b"")
        assert_lines(self, text_mode_output(self, result.stdout.decode("latin-1")), usage("Zor"))
        self.assertEqual(result.returncode, 255)


@unittest.skipUnless(shutil.which("tmux"), "tmux is not installed")
class Console(unittest.TestCase):
    """console_probe.exe in a tmux pane: real keys in, the screen read back. Wine's console drops
    Esc and the function keys, so the probe is left running and only keys Wine passes are sent."""

    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.server = ["tmux", "-L", f"zortester-wine-{os.getpid()}", "-f", os.devnull]
        command = " ".join(f"'{word}'" for word in RUNNER + [CONSOLE_PROBE]) + "; exec sleep 60"
        subprocess.run(self.server + ["new-session", "-d", "-s", "t", "-x", "100", "-y", "40", command],
                       check=True, cwd=folder.name, env=dict(os.environ, TERM="xterm"), timeout=TIMEOUT)
        self.addCleanup(subprocess.run, self.server + ["kill-server"], timeout=TIMEOUT,
                        stderr=subprocess.DEVNULL)

    def screen(self):
        result = subprocess.run(self.server + ["capture-pane", "-p", "-t", "t"], check=True,
                                capture_output=True, text=True, timeout=TIMEOUT)
        return result.stdout.rstrip("\n").split("\n")

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
            subprocess.run(self.server + ["send-keys", "-t", "t", key], check=True, timeout=TIMEOUT)
            time.sleep(0.05)

    def test_keys_cursor_services_and_line_input(self):
        self.wait_for("ready")
        keys = [("a", "061"), ("Up", "148"), ("Right", "14D"), ("NPage", "151"), ("C-NPage", "176"),
                ("M-PPage", "199"), ("M-NPage", "1A1"), ("S-Up", "148"), ("C-Up", "18D"), ("Enter", "00D"),
                ("Space", "020")]
        self.send(*(key for key, _ in keys))
        # p: a live line overwritten in place; r: the cursor row; l: a line with the console's editing.
        self.send("p", "r", "l", "1", "2", ",", "5", "BSpace", ".", "5", "Enter", "x")
        lines = self.wait_for("key 078")
        expected = (["ready"] + [f"key {code}" for _, code in keys] +
                    ["in place", f"row {len(keys) + 3}", "answer: 12,.5", "line <12,.5>", "key 078"])
        self.assertEqual([line.rstrip() for line in lines if line.strip()], expected)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:])
