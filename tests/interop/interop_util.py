"""Shared helpers of the interoperability checks: bounded process handling on loopback."""
import os
import select
import signal
import socket
import subprocess
import sys
import time

SKIP = 77


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def skip(message):
    print("SKIP: " + message, flush=True)
    sys.exit(SKIP)


def import_serial():
    try:
        import serial  # noqa: F401
        import serial.rfc2217  # noqa: F401
    except ImportError:
        skip("python3-serial is not installed for " + sys.executable)
    return serial


def watchdog(seconds):
    """Ends the whole check if anything hangs."""
    def expired(signum, frame):
        fail("timed out after %d s" % seconds)
    signal.signal(signal.SIGALRM, expired)
    signal.alarm(seconds)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def read_line(stream, seconds):
    """One line of a child's output, or None when none came in time."""
    deadline = time.monotonic() + seconds
    data = b""
    fd = stream.fileno()
    while time.monotonic() < deadline and not data.endswith(b"\n"):
        ready, _, _ = select.select([fd], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        chunk = os.read(fd, 1)
        if not chunk:
            break
        data += chunk
    return data.decode(errors="replace").rstrip("\r\n") if data.endswith(b"\n") else None


class Processes:
    """Starts children and ends every one of them, whatever happens."""

    def __init__(self):
        self.children = []

    def start(self, args, **kwargs):
        child = subprocess.Popen(args, **kwargs)
        self.children.append(child)
        return child

    def stop(self, child, seconds=3):
        if child.poll() is None:
            child.terminate()
            try:
                child.wait(seconds)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
        return child.returncode

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for child in reversed(self.children):
            self.stop(child)
