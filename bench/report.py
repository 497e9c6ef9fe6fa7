#!/usr/bin/env python3
"""Runs the benchmarks of bench/ against one zor-sim and prints their table (bench/run calls it).

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
import subprocess
import sys
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
    def __init__(self, path):
        self.process = subprocess.Popen([path, "--listen", "127.0.0.1:0"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, preexec_fn=precise_timers)
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


# ---- the table ----

def verdict(met):
    return "met" if met else "NOT met"


def print_table(build, smoke, cpu, paced, idle, idle_seconds, loads):
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
    print()
    print("Idle: ZorTester in its key loop on a terminal for %g s: %.3f %% of one core (target: "
          "below 1 %%) %s" % (idle_seconds, idle * 100, verdict(idle < 0.01)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--smoke", action="store_true")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    idle_seconds = 1 if args.smoke else 10
    before = load()
    cpu = cpu_rows(build, args.smoke)
    simulator = Simulator(os.path.join(build, "simulator", "zor-sim"))
    try:
        paced = paced_rows(paced_samples(build, simulator.url, args.smoke))
        idle = idle_share(build, simulator.url, idle_seconds)
    finally:
        simulator.stop()
    print_table(build, args.smoke, cpu, paced, idle, idle_seconds, (before, load()))


if __name__ == "__main__":
    main()
