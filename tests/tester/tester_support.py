"""Running ZorTester against zor-sim: the simulator, the program, and a relay that notes when every
command reaches zor-sim and arms a fault or changes the device exactly when a chosen one passes."""
import os
import re
import select
import shlex
import socket
import subprocess
import tempfile
import threading
import time
import unittest

ZORTESTER = os.environ.get("ZORTESTER", "")
ZORSIM = os.environ.get("ZORSIM", "")
CONSOLE_PROBE = os.environ.get("CONSOLE_PROBE", "")
# What starts the program, such as Wine for ZorTester.exe: words put before its path.
RUNNER = shlex.split(os.environ.get("ZORTESTER_RUNNER", ""))
# A Windows program writes text mode: every line end is CR LF.
WINDOWS = ZORTESTER.lower().endswith(".exe")

# Seconds for any one program run; under Wine the first program of a Wine server waits for its
# services to start.
TIMEOUT = 30 if WINDOWS else 10

# The build date as the compiler writes it.
BUILD_DATE = r"(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123]\d \d{4}"

USAGE_REST = (
    "\n"
    "Test utility for ZORLINE devices\n"
    "\n"
    "Usage: {name} COMNumber [switches]\n"
    "  switch: { -option, /option }\n"
    "    options:\n"
    "      Q/q:  quiet mode,\n"
    "      G/g:  debug mode, G: additional I/O debug into Debug.txt,\n"
    "      B/b:  get device buffer status,     Z/z: purge communication,\n"
    "      U/u:  get uptime,                   K/k: simulate the keypad,\n"
    "      L/l:  get display data, L: whole display at once,\n"
    "      D/d:  get firmware date,            V/v: get firmware version,\n"
    "      P/p:  get product identification,   N/n: get product number,\n"
    "      H/h:  get housekeeping data,        S/s: get HV supply data,\n"
    "      I/i:  get interlock state,          R/r: get sensor current,\n"
    "      C/c:  get hardware capabilities,\n"
    "      On f: set output voltage,           o:   get output voltages,\n"
    "      En b: set output state,             e:   get output state,\n"
    "      M/m:  get measured output voltages,\n"
    "      W/wn f f n: cycle the output voltages,\n"
    "      X/x s f n: create test protocol, X: pause after each voltage step,\n"
    "      T/t:  terminate the program,          ?: get this help\n"
    "    parameters: n=integer, f=float, b=Boolean (Y/N), s=string\n")


def usage(name="ZorTester"):
    """The usage text, its first line as a pattern (the build date varies)."""
    first = re.compile(re.escape(name) + r" ver\. 1\.00, compilation date: " + BUILD_DATE)
    return [first] + USAGE_REST.replace("{name}", name).split("\n")[:-1]


def tester_command(argv0=None):
    """The words that start ZorTester, through the runner when there is one, and the program that
    is executed; `argv0` is the name the program is given, which a runner cannot pass on."""
    if RUNNER:
        if argv0 is not None:
            raise unittest.SkipTest("a program started by a runner has its own name")
        return RUNNER + [ZORTESTER], RUNNER[0]
    return [argv0 or ZORTESTER], ZORTESTER


def text_mode_output(test, output):
    """The program's output with LF line ends; on Windows each must have come as CR LF."""
    if not WINDOWS:
        return output
    test.assertNotRegex(output, r"(?<!\r)\n", "a line end without CR")
    return output.replace("\r\n", "\n")


def assert_lines(test, output, expected):
    """`output` is exactly the lines `expected`: texts, or patterns that must match a whole line."""
    test.assertTrue(output == "" or output.endswith("\n"), repr(output))
    lines = output.split("\n")[:-1] if output else []
    test.assertEqual(len(lines), len(expected), "\n" + output)
    for got, want in zip(lines, expected):
        if isinstance(want, re.Pattern):
            test.assertRegex(got, "^" + want.pattern + "$")
        else:
            test.assertEqual(got, want)


class Simulator:
    """zor-sim on a free loopback port, with its control input."""

    def __init__(self, *options, listen="127.0.0.1:0"):
        self.process = subprocess.Popen([ZORSIM, "--listen", listen, "--noise", "0", *options],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True, bufsize=1)
        line = self._line()
        match = re.fullmatch(r"zor-sim listening on (rfc2217://127\.0\.0\.1:(\d+))", line)
        if not match:
            self.stop()
            raise RuntimeError("zor-sim did not start: " + repr(line))
        self.url, self.port = match.group(1), int(match.group(2))

    def _line(self):
        ready, _, _ = select.select([self.process.stdout], [], [], TIMEOUT)
        if not ready:
            raise RuntimeError("zor-sim did not answer")
        return self.process.stdout.readline().rstrip("\n")

    def control(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        answer = self._line()
        if answer != "ok":
            raise RuntimeError(f"zor-sim refused {line!r}: {answer}")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        for stream in (self.process.stdin, self.process.stdout):
            stream.close()


class CommandRelay:
    """A TCP relay between ZorTester and zor-sim that logs every command line with the monotonic
    time it arrived. `actions` maps (letter, n) to what zor-sim is told when the nth command with
    that letter (repeats included) passes, before it is handed on: a fault kind for that reply, or
    a whole control line such as "interlock open"."""

    def __init__(self, simulator, actions=None):
        self.simulator = simulator
        self.actions = dict(actions or {})
        self.counts = {}
        self.log = []  # (time, command text without its CR)
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.url = "rfc2217://127.0.0.1:%d" % self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        self.listener.settimeout(TIMEOUT)
        try:
            client, _ = self.listener.accept()
        except OSError:
            return
        device = socket.create_connection(("127.0.0.1", self.simulator.port))
        telnet = _TelnetData()
        with client, device:
            peers = {client: device, device: client}
            while True:
                ready, _, _ = select.select(list(peers), [], [], 60)
                if not ready:
                    return
                for source in ready:
                    data = source.recv(4096)
                    if not data:
                        return
                    if source is client:
                        arrived = time.monotonic()
                        for line in telnet.lines(data):
                            self._command(arrived, line.decode("latin-1"))
                    peers[source].sendall(data)

    def _command(self, arrived, line):
        if not line:
            return
        self.log.append((arrived, line))
        letter = line[0]
        self.counts[letter] = self.counts.get(letter, 0) + 1
        action = self.actions.get((letter, self.counts[letter]))
        if action:
            self.simulator.control(action if " " in action else f"fault {action} 1 {letter}")

    def times(self, pattern):
        """The arrival times of the commands that match `pattern` as a whole."""
        return [at for at, line in self.log if re.fullmatch(pattern, line)]

    def close(self):
        self.listener.close()
        self.thread.join(timeout=TIMEOUT)


class _TelnetData:
    """The command lines in the client's Telnet stream (negotiation and escapes left out)."""

    IAC, SB, SE = 255, 250, 240

    def __init__(self):
        self.state = "data"
        self.line = bytearray()

    def lines(self, data):
        done = []
        for byte in data:
            if self.state == "data":
                if byte == self.IAC:
                    self.state = "iac"
                elif byte == 0x0D:
                    done.append(bytes(self.line))
                    self.line.clear()
                else:
                    self.line.append(byte)
            elif self.state == "iac":
                if byte == self.IAC:
                    self.line.append(byte)
                    self.state = "data"
                elif byte == self.SB:
                    self.state = "sb"
                elif 251 <= byte <= 254:
                    self.state = "option"
                else:
                    self.state = "data"
            elif self.state == "option":
                self.state = "data"
            elif self.state == "sb":
                if byte == self.IAC:
                    self.state = "sb-iac"
            elif self.state == "sb-iac":
                self.state = "data" if byte == self.SE else "sb"
        return done


class TesterCase(unittest.TestCase):
    """A case with a fresh simulator (options from `simulator_options`) and its own folder."""

    simulator_options = ()

    def setUp(self):
        self.simulator = Simulator(*self.simulator_options)
        self.addCleanup(self.simulator.stop)
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = folder.name

    def run_tester(self, *arguments, keys=b"", argv0=None):
        """Runs ZorTester with `keys` on standard input; gives its output and exit status."""
        started = time.monotonic()
        command, executable = tester_command(argv0)
        result = subprocess.run([*command, *arguments], executable=executable, input=keys,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=self.folder,
                                timeout=TIMEOUT)
        self.assertEqual(result.stderr, b"")
        self.elapsed = time.monotonic() - started
        return text_mode_output(self, result.stdout.decode("latin-1")), result.returncode

    def check(self, arguments, expected, status=0, keys=b""):
        output, code = self.run_tester(*arguments, keys=keys)
        assert_lines(self, output, expected)
        self.assertEqual(code, status, output)
