#!/usr/bin/env python3
"""Runs the benchmarks of bench/ and prints their table (bench/run calls it): the library's CPU per
exchange, paced exchanges against zor-sim beside the pyserial script, ZorTester idle in its key
loop, and the cycle's and the test protocol's timed commands as zor-sim's trace records them.

Usage: report.py BUILD_DIR [--smoke]

zor-sim stands in for the wire, so it runs with a timer slack of 1 ns: its byte pacing then follows
the wire's schedule instead of the kernel's default 50 us grouping of wake-ups. The programs
measured (the library's, pyserial's, ZorTester) run with the default slack, as users run them.
"""
import argparse
import json
import math
import os
import re
import select
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PR_SET_TIMERSLACK = 29
CLASSES = [  # key, title, characters out, characters back: as bench/exchanges.cpp
    ("fixed", "fixed reply, no data (H)", 2, 18),
    ("data", "fixed reply, with data (o set)", 7, 7),
    ("variable", "variable-length reply (P)", 2, 24),
    ("display", "whole display (L)", 2, 2050),
    ("row", "display row (l)", 3, 259),
]
CHARACTER_US = 11 * 1e6 / 230400


def wire_us(out_chars, back_chars):
    return (out_chars + back_chars) * CHARACTER_US


def percentile(values, p):
    """Nearest rank."""
    ordered = sorted(values)
    return ordered[max(0, math.ceil(p / 100 * len(ordered)) - 1)]


def load():
    return os.getloadavg()[0]


def precise_timers():
    import ctypes
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0)


class Simulator:
    def __init__(self, path, *options, trace=None):
        self.process = subprocess.Popen([path, "--listen", "127.0.0.1:0", *options], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=trace, preexec_fn=precise_timers)
        ready, _, _ = select.select([self.process.stdout], [], [], 10)
        banner = self.process.stdout.readline().decode() if ready else ""
        match = re.match(r"zor-sim listening on (rfc2217://\S+)", banner)
        if not match:
            self.stop()
            raise SystemExit("bench: zor-sim did not start: %r" % banner)
        self.url = match.group(1)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def run_json(command, timeout):
    done = subprocess.run(command, stdout=subprocess.PIPE, timeout=timeout, check=True)
    return json.loads(done.stdout)


# ---- CPU per exchange ----

def cpu_rows(build, smoke):
    results = run_json([os.path.join(build, "bench", "cpu_bench"), "--benchmark_format=json",
                        "--benchmark_min_time=%s" % ("0.01" if smoke else "0.5"),
                        "--benchmark_repetitions=%d" % (1 if smoke else 3)], 300)
    best = {}
    for b in results["benchmarks"]:
        if b.get("run_type") != "iteration" or b.get("error_occurred"):
            continue
        ns = b["cpu_time"] * {"ns": 1, "us": 1e3, "ms": 1e6}[b["time_unit"]]
        best[b["run_name"]] = min(ns, best.get(b["run_name"], ns))
    rows = []
    for key, title, out_chars, back_chars in CLASSES:
        if key not in best:
            raise SystemExit("bench: cpu_bench gave no result for " + key)
        share = best[key] / (wire_us(out_chars, back_chars) * 1e3)
        rows.append((title, wire_us(out_chars, back_chars), best[key], share))
    return rows


# ---- paced end to end ----

def paced_samples(build, url, smoke):
    """Per class and client, the samples of the round with the lowest median: ours and theirs take
    turns class by class, so a busy spell of the machine hits both alike."""
    counts = {"fixed": 300, "data": 300, "variable": 300, "display": 12, "row": 60}
    rounds = 1 if smoke else 3
    ours = [os.path.join(build, "bench", "paced_bench"), url]
    theirs = [sys.executable, os.path.join(HERE, "pyserial_alternative.py"), url]
    best = {}
    for _ in range(rounds):
        for key, *_ in CLASSES:
            count = "3" if smoke else str(counts[key])
            for client, command in (("ours", ours), ("theirs", theirs)):
                result = run_json(command + [count, key], 600)[key]
                if result["failures"] or not result["us"]:
                    raise SystemExit("bench: %s: %d of the %s exchanges failed" %
                                     (client, result["failures"], key))
                kept = best.get((client, key))
                if kept is None or percentile(result["us"], 50) < percentile(kept, 50):
                    best[(client, key)] = result["us"]
    return best


def exchange_split(trace_path):
    """Where the time of each exchange above its wire time goes, in us, from zor-sim's trace:
    zor-sim's lateness from the command's first byte to the echo (ideally the command's characters
    and one more), its stretch of the reply beyond the reply's characters, and the client's share
    from the reply's last byte leaving zor-sim to the next command arriving (loopback both ways)."""
    exchanges, current = [], None
    with open(trace_path) as trace:
        for entry in trace:
            match = TRACE_DATA.match(entry)
            if not match:
                continue
            us, data = float(match.group(1)) * 1e6, match.group(3).split()
            if match.group(2) == "host>":
                if current is None or "echo" in current:
                    current = {"command": us, "out": 0, "back": 0}
                current["out"] += len(data)
            elif current is not None:
                current.setdefault("echo", us)
                current["back"] += len(data)
                if data[-1] == "0D":
                    current["end"] = us
                    exchanges.append(current)
                    current = None
    exchanges = exchanges[5:]  # the warm-up
    late = [e["echo"] - e["command"] - e["out"] * CHARACTER_US for e in exchanges]
    stretch = [e["end"] - e["echo"] - (e["back"] - 1) * CHARACTER_US for e in exchanges]
    client = [b["command"] - a["end"] for a, b in zip(exchanges, exchanges[1:])]
    return late, stretch, client


def split_rows(build, smoke):
    """Our client and pyserial's, each against a zor-sim that traces the exchange."""
    count = "8" if smoke else "200"
    clients = [("ours", [os.path.join(build, "bench", "paced_bench")]),
               ("pyserial", [sys.executable, os.path.join(HERE, "pyserial_alternative.py")])]
    rows = []
    with tempfile.TemporaryDirectory() as scratch:
        for client, command in clients:
            trace_path = os.path.join(scratch, "trace")
            with open(trace_path, "w") as trace:
                simulator = Simulator(os.path.join(build, "simulator", "zor-sim"), "--trace", trace=trace)
                try:
                    run_json(command + [simulator.url, count, "fixed", "data", "variable"], 300)
                finally:
                    simulator.stop()
            late, stretch, gaps = exchange_split(trace_path)
            rows.append((client, len(gaps), statistics.median(late), statistics.median(stretch),
                         percentile(gaps, 50), percentile(gaps, 99)))
    return rows


def paced_rows(samples):
    rows = []
    for key, title, out_chars, back_chars in CLASSES:
        wire = wire_us(out_chars, back_chars)
        ours, theirs = samples[("ours", key)], samples[("theirs", key)]
        rows.append((title, wire, percentile(ours, 50), percentile(ours, 99), len(ours),
                     percentile(theirs, 50), percentile(theirs, 99)))
    return rows


# ---- idle ----

def on_cpu_ns(pid):
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
            total += int(f.read().split()[0])
    return total


def idle_share(build, url, seconds):
    """CPU of ZorTester in its key loop on a terminal, over `seconds`, as a share of one core."""
    master, slave = os.openpty()
    process = subprocess.Popen([os.path.join(build, "tester", "ZorTester"), url], stdin=slave,
                               stdout=slave, stderr=slave, start_new_session=True)
    try:
        output, deadline = b"", time.monotonic() + 10
        while b"Press '?' for help" not in output:
            ready, _, _ = select.select([master], [], [], max(0, deadline - time.monotonic()))
            if not ready:
                raise SystemExit("bench: ZorTester did not reach its key loop: %r" % output)
            output += os.read(master, 4096)
        time.sleep(0.5)
        start, start_ns = time.monotonic(), on_cpu_ns(process.pid)
        time.sleep(seconds)
        used_ns, elapsed = on_cpu_ns(process.pid) - start_ns, time.monotonic() - start
        os.write(master, b"\x1b")
        process.wait(timeout=10)
        return used_ns / (elapsed * 1e9)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
        os.close(master)
        os.close(slave)


# ---- schedule keeping ----

TRACE_DATA = re.compile(r"^\s*([0-9.]+) (host>|dev> ) data((?: [0-9A-F]{2})+)  \|")


def commands_of(trace_path):
    """The command lines the host sent, each with the time its first byte reached zor-sim."""
    commands, line, since = [], "", None
    with open(trace_path) as trace:
        for entry in trace:
            match = TRACE_DATA.match(entry)
            if not match or match.group(2) != "host>":
                continue
            seconds = float(match.group(1))
            for byte in match.group(3).split():
                if since is None:
                    since = seconds
                if byte == "0D":
                    commands.append((since, line))
                    line, since = "", None
                else:
                    line += chr(int(byte, 16))
    return commands


def run_tester(build, url, arguments, stop_after=None):
    """ZorTester with its keys on a pipe; SPACE after stop_after seconds, then the end of input."""
    process = subprocess.Popen([os.path.join(build, "tester", "ZorTester"), url, "-Q", *arguments],
                               stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    try:
        if stop_after is not None:
            time.sleep(stop_after)
            process.stdin.write(b" ")
            process.stdin.flush()
        process.stdin.close()
        process.wait(timeout=120)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


def cycle_deviations(commands, period_ms):
    """Each setting after the first against the first one plus whole half periods, in ms."""
    edges = [t for t, line in commands if line.startswith("o") and len(line) == 6]
    half = period_ms // 2  # both phases of an even period
    return [(t - edges[0]) * 1e3 - k * half for k, t in enumerate(edges) if k > 0]


def protocol_deviations(commands):
    """The samples of the test protocol against their schedule, in ms: the housekeeping readings
    500 ms apart from the first, and in every voltage step the first monitor reading of each sample
    2000 ms (first step) or 1500 ms after the step's first setting, then every 500 ms."""
    deviations = []
    housekeeping = [t for t, line in commands if line == "H"]
    deviations += [(t - housekeeping[0]) * 1e3 - 500 * k for k, t in enumerate(housekeeping) if k > 0]
    step_start, settle, sample, previous, previous_t = None, 2000, 0, "", 0.0
    for t, line in commands:
        if line.startswith("o") and len(line) == 6 and not previous.startswith("o"):
            if step_start is not None:
                settle = 1500
            step_start, sample = t, 0
        elif (line.startswith("O") and step_start is not None and
              (not previous.startswith("O") or t - previous_t > 0.2)):  # a sample's first reading
            deviations.append((t - step_start) * 1e3 - settle - 500 * sample)
            sample += 1
        previous, previous_t = line, t
    return deviations


def schedule_rows(build, smoke):
    """Runs the cycle at both periods and (in a full run) a test protocol against a zor-sim that
    traces the exchange; the deviations of the edges its trace shows."""
    runs = [("cycle, period 1000 ms", ["-W1", "50", "150", "1000"], 1.2 if smoke else 20.2),
            ("cycle, period 50 ms", ["-W1", "50", "150", "50"], 0.3 if smoke else 10.0)]
    if not smoke:
        runs.append(("test protocol, sample waits", ["-x", "", "1000", "0"], None))
    rows = []
    with tempfile.TemporaryDirectory() as scratch:
        for title, arguments, seconds in runs:
            trace_path = os.path.join(scratch, "trace")
            with open(trace_path, "w") as trace:
                # Two voltage steps of the protocol: 0 V and 1000 V.
                simulator = Simulator(os.path.join(build, "simulator", "zor-sim"), "--trace",
                                      "--voltage-min", "0", "--voltage-max", "1000", trace=trace)
                try:
                    if arguments[0] == "-x":
                        arguments[1] = os.path.join(scratch, "protocol.txt")
                    run_tester(build, simulator.url, arguments, seconds)
                finally:
                    simulator.stop()
            commands = commands_of(trace_path)
            deviations = (protocol_deviations(commands) if arguments[0] == "-x"
                          else cycle_deviations(commands, int(arguments[3])))
            if not deviations:
                raise SystemExit("bench: no timed edges in the trace of the " + title)
            late = [abs(d) for d in deviations]
            rows.append((title, len(deviations), statistics.median(deviations), percentile(late, 99),
                         min(deviations), max(deviations)))
    return rows


# ---- the table ----

def verdict(met):
    return "met" if met else "NOT met"


def print_table(build, smoke, cpu, paced, split, idle, idle_seconds, schedule, loads):
    print("COM-ZOR4 benchmarks%s: build %s; load %.2f before, %.2f after" %
          (" (smoke run, figures not meaningful)" if smoke else "", build, loads[0], loads[1]))
    print()
    print("CPU per exchange, over a zero-latency line in the process (target: below 1 % of wire)")
    print("  %-32s %10s %10s %10s  %s" % ("class", "wire us", "CPU ns", "CPU/wire", "target"))
    for title, wire, ns, share in cpu:
        print("  %-32s %10.1f %10.0f %9.4f%%  %s" % (title, wire, ns, share * 100, verdict(share < 0.01)))
    print()
    print("Paced end to end against zor-sim (230400 8E1 pacing, loopback), per exchange, in ms")
    print("  (targets: our p50 within 1.10 x wire; faster than the pyserial script)")
    print("  %-32s %8s %8s %8s %5s %8s %6s %8s %8s %8s %6s" %
          ("class", "wire", "p50", "p99", "n", "p50/wire", "", "py p50", "py p99", "ours/py", ""))
    for title, wire, p50, p99, n, py50, py99 in paced:
        ratio, versus = p50 / wire, p50 / py50
        print("  %-32s %8.3f %8.3f %8.3f %5d %8.3f %6s %8.3f %8.3f %8.3f %6s" %
              (title, wire / 1e3, p50 / 1e3, p99 / 1e3, n, ratio, verdict(ratio <= 1.10),
               py50 / 1e3, py99 / 1e3, versus, verdict(versus < 1.0)))
    print("  Beyond the wire time, from zor-sim's trace of H, o and P exchanges, in us: zor-sim late with")
    print("  the echo, zor-sim stretching the reply (medians), the client from a reply's last byte out")
    print("  of zor-sim to the next command in, loopback both ways included:")
    for client, n, late, stretch, p50, p99 in split:
        print("    %-10s zor-sim %5.0f + %4.0f   client p50 %6.0f  p99 %6.0f   (%d exchanges)" %
              (client, late, stretch, p50, p99, n))
    print()
    print("Idle: ZorTester in its key loop on a terminal for %g s: %.3f %% of one core (target: "
          "below 1 %%) %s" % (idle_seconds, idle * 100, verdict(idle < 0.01)))
    print()
    print("Schedule keeping: arrival of each timed command at zor-sim against its schedule, in ms")
    print("  (target: within 2 ms at p99; the first command of a run or phase sets its schedule)")
    print("  %-32s %5s %8s %8s %8s %8s" % ("run", "edges", "median", "p99 |d|", "min", "max"))
    for title, n, median, p99, low, high in schedule:
        print("  %-32s %5d %8.3f %8.3f %8.3f %8.3f  %s" % (title, n, median, p99, low, high, verdict(p99 <= 2.0)))
    if smoke:
        print("  (the test protocol takes about 20 s and is left out of the smoke run)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--smoke", action="store_true")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    idle_seconds = 0.5 if args.smoke else 10
    before = load()
    cpu = cpu_rows(build, args.smoke)
    simulator = Simulator(os.path.join(build, "simulator", "zor-sim"))
    try:
        paced = paced_rows(paced_samples(build, simulator.url, args.smoke))
        idle = idle_share(build, simulator.url, idle_seconds)
    finally:
        simulator.stop()
    split = split_rows(build, args.smoke)
    schedule = schedule_rows(build, args.smoke)
    print_table(build, args.smoke, cpu, paced, split, idle, idle_seconds, schedule, (before, load()))


if __name__ == "__main__":
    main()
