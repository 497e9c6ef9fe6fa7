#!/usr/bin/env python3
"""The library's RFC 2217 line against ser2net, with a stand-in device on a pseudo-terminal pair
made by socat. A pty has no modem lines, so ser2net leaves DTR and RTS changes unanswered: the
line must open, carry a command and survive those changes all the same.

Usage: ser2net_server.py PATH-TO-RFC2217-PROBE
"""
import os
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from interop_util import Processes, fail, free_port, skip, wait_for_port, watchdog

watchdog(40)


def stand_in_device(path, stop):
    """Answers "V" with the firmware version on the far end of the pty pair."""
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    received = b""
    try:
        while not stop.is_set():
            ready, _, _ = select.select([fd], [], [], 0.02)
            if not ready:
                continue
            received += os.read(fd, 256)
            while b"\r" in received:
                line, _, received = received.partition(b"\r")
                os.write(fd, b"V0102\r" if line == b"V" else line[:1] + b"\r")
    finally:
        os.close(fd)


def wait_for_path(path, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if os.path.exists(path):
            return True
        time.sleep(0.02)
    return False


def main():
    for tool in ("ser2net", "socat"):
        if shutil.which(tool) is None:
            skip(tool + " is not installed")
    probe_path = sys.argv[1]
    stop = threading.Event()
    with tempfile.TemporaryDirectory() as scratch, Processes() as processes:
        server_end, device_end = os.path.join(scratch, "server"), os.path.join(scratch, "device")
        processes.start(["socat", "pty,raw,echo=0,link=" + server_end, "pty,raw,echo=0,link=" + device_end],
                        stderr=subprocess.DEVNULL)
        if not (wait_for_path(server_end, 3) and wait_for_path(device_end, 3)):
            fail("socat made no pty pair")
        device = threading.Thread(target=stand_in_device, args=(device_end, stop), daemon=True)
        device.start()

        port = free_port()
        config = os.path.join(scratch, "ser2net.yaml")
        with open(config, "w") as out:
            out.write("connection: &probe\n"
                      "  accepter: telnet(rfc2217),tcp,127.0.0.1,%d\n"
                      "  connector: serialdev,%s,9600n81,local\n" % (port, server_end))
        processes.start(["ser2net", "-n", "-c", config, "-P", os.path.join(scratch, "ser2net.pid")],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for_port(port, 5):
            fail("ser2net did not listen on port %d" % port)
        time.sleep(0.2)  # let ser2net release the port after the readiness check

        try:
            probe = subprocess.run([probe_path, "rfc2217://127.0.0.1:%d" % port, "V", "V0102"],
                                   stdout=subprocess.PIPE, timeout=20)
        finally:
            stop.set()
            device.join(2)
        print(probe.stdout.decode(errors="replace"), flush=True)
        if probe.returncode != 0:
            fail("probe against ser2net ended with %d" % probe.returncode)
    print("PASS", flush=True)


if __name__ == "__main__":
    main()
