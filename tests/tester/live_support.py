"""ZorTester runs whose keys are typed while they go on."""
import re
import subprocess
import threading
import time

from tester_support import TIMEOUT, ZORTESTER


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
