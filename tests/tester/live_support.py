"""ZorTester runs that take their time: a relay that notes when every command reaches zor-sim and
acts when chosen ones pass, and a run whose keys are typed while it goes on."""
import re
import select
import socket
import subprocess
import threading
import time

from tester_support import TIMEOUT, ZORTESTER, _TelnetData


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


class LiveTester:
    """ZorTester with its standard input kept open: keys are written while it runs, its output is
    read line by line with the time each line came."""

    def __init__(self, arguments, folder):
        self.process = subprocess.Popen([ZORTESTER, *arguments], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, cwd=folder)
        self.lines = []  # (time, line)
        self.changed = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in iter(self.process.stdout.readline, b""):
            with self.changed:
                self.lines.append((time.monotonic(), line.decode("latin-1")))
                self.changed.notify_all()
        with self.changed:
            self.lines.append((time.monotonic(), None))
            self.changed.notify_all()

    def wait_for(self, pattern, after=0, timeout=TIMEOUT):
        """The index and time of the first line from index `after` on that `pattern` finds."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                for i in range(after, len(self.lines)):
                    line = self.lines[i][1]
                    if line is None:
                        raise AssertionError(f"{pattern!r} never came: {self.output()!r}")
                    if re.search(pattern, line):
                        return i, self.lines[i][0]
                if not self.changed.wait(max(0, deadline - time.monotonic())):
                    raise AssertionError(f"{pattern!r} did not come in time: {self.output()!r}")

    def keys(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def output(self):
        return "".join(line for _, line in self.lines if line is not None)

    def finish(self, timeout=TIMEOUT):
        """Ends the input; gives the whole output and the exit status."""
        self.process.stdin.close()
        status = self.process.wait(timeout=timeout)
        self.reader.join(timeout=TIMEOUT)
        errors = self.process.stderr.read()
        self.process.stderr.close()
        self.process.stdout.close()
        assert errors == b"", errors
        return self.output(), status

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
