#!/usr/bin/env python3
"""The library's RFC 2217 line against pyserial's server side (serial.rfc2217.PortManager) over a
small stand-in device: once as pyserial answers, once with the DTR and RTS acknowledgements
withheld, as a device server on a port without modem lines does.

Usage: pyserial_server.py PATH-TO-RFC2217-PROBE
"""
import select
import socket
import subprocess
import sys
import time

from interop_util import Processes, fail, import_serial, watchdog

serial = import_serial()
watchdog(40)

IAC, SB, SE, COM_PORT, SERVER_SET_CONTROL = 255, 250, 240, 44, 105
CONTROL_LINE_VALUES = (8, 9, 11, 12)  # DTR on/off, RTS on/off


class StandInDevice:
    """The serial port PortManager drives, with a device behind it: DSR and DCD follow DTR, CTS
    follows DTR and RTS, and "V" is answered with the firmware version."""

    def __init__(self):
        self.baudrate, self.bytesize, self.parity, self.stopbits = 9600, 8, "N", 1
        self.xonxoff = self.rtscts = self.break_condition = False
        self._dtr = self._rts = False
        self.history = []
        self.received = bytearray()
        self.output = bytearray()

    @property
    def dtr(self):
        return self._dtr

    @dtr.setter
    def dtr(self, value):
        self._dtr = bool(value)
        self.history.append(("DTR", self._dtr))

    @property
    def rts(self):
        return self._rts

    @rts.setter
    def rts(self, value):
        self._rts = bool(value)
        self.history.append(("RTS", self._rts))

    cts = property(lambda self: self._dtr and self._rts)
    dsr = property(lambda self: self._dtr)
    cd = property(lambda self: self._dtr)
    ri = property(lambda self: False)

    def reset_input_buffer(self):
        self.output.clear()

    def reset_output_buffer(self):
        self.received.clear()

    def write(self, data):
        self.received += data
        while b"\r" in self.received:
            line, _, rest = bytes(self.received).partition(b"\r")
            self.received = bytearray(rest)
            self.output += b"V0102\r" if line == b"V" else line[:1] + b"\r"


class Connection:
    """What PortManager writes to; optionally drops its answers to DTR and RTS changes."""

    def __init__(self, sock, withhold_line_acks):
        self.sock = sock
        self.withhold = {bytes([IAC, SB, COM_PORT, SERVER_SET_CONTROL, v, IAC, SE]) for v in CONTROL_LINE_VALUES} \
            if withhold_line_acks else set()

    def write(self, data):
        if bytes(data) not in self.withhold:
            self.sock.sendall(data)


def serve(listener, probe, withhold_line_acks):
    device = StandInDevice()
    listener.settimeout(5)
    try:
        sock, _ = listener.accept()
    except socket.timeout:
        fail("the probe did not connect")
    with sock:
        manager = serial.rfc2217.PortManager(device, Connection(sock, withhold_line_acks))
        while probe.poll() is None:
            ready, _, _ = select.select([sock], [], [], 0.005)
            if ready:
                data = sock.recv(4096)
                if not data:
                    break
                for byte in manager.filter(data):
                    device.write(byte)
            if device.output:
                sock.sendall(b"".join(manager.escape(bytes(device.output))))
                device.output.clear()
            manager.check_modem_lines()
    return device


def run(probe_path, withhold_line_acks):
    label = "without DTR/RTS acknowledgements" if withhold_line_acks else "as pyserial answers"
    with Processes() as processes, socket.socket(socket.AF_INET, socket.SOCK_STREAM) as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        url = "rfc2217://127.0.0.1:%d" % listener.getsockname()[1]
        probe = processes.start([probe_path, url, "V", "V0102", "--lines"], stdout=subprocess.PIPE)
        started = time.monotonic()
        device = serve(listener, probe, withhold_line_acks)
        output, _ = probe.communicate(timeout=10)
        print("--- probe, server %s:\n%s" % (label, output.decode(errors="replace")), flush=True)
        if probe.returncode != 0:
            fail("probe against pyserial's server %s ended with %d" % (label, probe.returncode))
        expected = [("DTR", True), ("RTS", True), ("RTS", False), ("RTS", True), ("RTS", False), ("DTR", False)]
        if device.history != expected:
            fail("the device saw %r instead of %r" % (device.history, expected))
        if (device.baudrate, device.bytesize, device.parity, device.stopbits) != (230400, 8, "E", 1):
            fail("line settings %r" % ((device.baudrate, device.bytesize, device.parity, device.stopbits),))
        print("server %s: %.2f s" % (label, time.monotonic() - started), flush=True)


def main():
    run(sys.argv[1], withhold_line_acks=False)
    run(sys.argv[1], withhold_line_acks=True)
    print("PASS", flush=True)


if __name__ == "__main__":
    main()
