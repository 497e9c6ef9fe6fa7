#!/usr/bin/env python3
"""pyserial's RFC 2217 client against zor-sim: negotiation, modem lines, a command, run-time control.

Usage: pyserial_client.py PATH-TO-ZOR-SIM
"""
import subprocess
import sys
import time

from interop_util import Processes, fail, import_serial, read_line, watchdog

serial = import_serial()
watchdog(30)


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.01)
    fail("no " + what + " within %.1f s" % seconds)


def command(port, text):
    port.reset_input_buffer()
    port.write(text.encode() + b"\r")
    reply = port.read_until(b"\r", 64)
    return reply.decode(errors="replace")


def control(sim, line):
    sim.stdin.write((line + "\n").encode())
    sim.stdin.flush()
    answer = read_line(sim.stdout, 3)
    if answer != "ok":
        fail("control '%s' answered %r" % (line, answer))


def main():
    zor_sim = sys.argv[1]
    with Processes() as processes:
        sim = processes.start([zor_sim, "--listen", "127.0.0.1:0", "--firmware-version", "0A17"],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        banner = read_line(sim.stdout, 5)
        prefix = "zor-sim listening on "
        if banner is None or not banner.startswith(prefix + "rfc2217://127.0.0.1:"):
            fail("unexpected banner %r" % banner)
        url = banner[len(prefix):]

        port = serial.serial_for_url(url, baudrate=230400, bytesize=8, parity="E", stopbits=1, timeout=1)
        try:
            # The device answers on DTR with DSR and DCD, and on RTS with CTS.
            port.dtr = False
            port.rts = False
            wait_until(lambda: not port.dsr and not port.cd and not port.cts, 2, "DSR, DCD and CTS off")
            port.dtr = True
            wait_until(lambda: port.dsr and port.cd and not port.cts, 2, "DSR and DCD on with RTS off")
            port.rts = True
            wait_until(lambda: port.dsr and port.cd and port.cts, 2, "CTS on")

            reply = command(port, "V")
            if reply != "V0A17\r":
                fail("V answered %r" % reply)
            control(sim, "fault wrong-echo 1 V")
            reply = command(port, "V")
            if reply != "v0A17\r":
                fail("V with a wrong-echo fault answered %r" % reply)
            control(sim, "interlock open")
            reply = command(port, "I")
            if reply != "IN\r":
                fail("I with the interlock open answered %r" % reply)
            print("pyserial client: lines and commands ok", flush=True)
        finally:
            port.close()

        rc = processes.stop(sim)
        if rc != 0:
            fail("zor-sim ended with %s on SIGTERM" % rc)
    print("PASS", flush=True)


if __name__ == "__main__":
    main()
