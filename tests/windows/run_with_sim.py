#!/usr/bin/env python3
"""Runs a command beside a native zor-sim on loopback, with the simulator's URL in ZOR_SIM_URL.

Usage: run_with_sim.py ZOR-SIM [SIM-OPTION...] -- COMMAND [ARGUMENT...]
The command's exit status is the result; the simulator is stopped after it in any case.
"""
import os
import select
import subprocess
import sys
import time

START_TIMEOUT = 10
COMMAND_TIMEOUT = 120


def read_url(sim):
    """The URL from the simulator's first line, "zor-sim listening on rfc2217://HOST:PORT"."""
    deadline = time.monotonic() + START_TIMEOUT
    line = b""
    while not line.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([sim.stdout], [], [], left)[0]:
            return None
        byte = os.read(sim.stdout.fileno(), 1)
        if not byte:
            return None
        line += byte
    words = line.decode(errors="replace").split()
    return words[-1] if words and words[-1].startswith("rfc2217://") else None


def stop(sim):
    try:
        sim.stdin.write(b"quit\n")
        sim.stdin.flush()
        sim.wait(timeout=5)
    except (OSError, subprocess.TimeoutExpired):
        sim.kill()
        sim.wait()


def main(argv):
    if "--" not in argv or argv.index("--") < 2 or argv.index("--") == len(argv) - 1:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    split = argv.index("--")
    sim_command = [argv[1], "--listen", "127.0.0.1:0", "--noise", "0"] + argv[2:split]
    command = argv[split + 1:]
    sim = subprocess.Popen(sim_command, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        url = read_url(sim)
        if url is None:
            print("run_with_sim.py: zor-sim did not start", file=sys.stderr)
            return 1
        env = dict(os.environ, ZOR_SIM_URL=url)
        try:
            return subprocess.run(command, env=env, timeout=COMMAND_TIMEOUT).returncode
        except subprocess.TimeoutExpired:
            print("run_with_sim.py: the command did not end within %d s" % COMMAND_TIMEOUT, file=sys.stderr)
            return 1
    finally:
        stop(sim)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
