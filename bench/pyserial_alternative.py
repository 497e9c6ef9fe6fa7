#!/usr/bin/env python3
"""The benchmark's exchanges as a user would script them: pyserial's RFC 2217 client, a command
written, the reply read up to its carriage return, the echo checked and the fields decoded.

Usage: pyserial_alternative.py URL COUNT [CLASS...]
Prints the JSON of paced_bench: {"CLASS": {"failures": N, "us": [...]}, ...}
"""
import json
import sys
import time

import serial


def exchange(port, command):
    port.write(command)
    reply = port.read_until(b"\r")
    if reply[:1] != command[:1] or not reply.endswith(b"\r"):
        raise IOError("%r answered %r" % (command, reply))
    return reply[1:-1]


def housekeeping(port):
    data = exchange(port, b"H\r")
    return [int(data[i:i + 4], 16) for i in range(0, 16, 4)]


class SetVoltage:
    """Alternates between 150 V and 50 V on channel 0, as paced_bench does."""

    def __init__(self):
        self.high = False

    def __call__(self, port):
        self.high = not self.high
        count = 1500 if self.high else 500
        data = exchange(port, b"o0%04X\r" % count)
        return int(data[1:5], 16) / 10.0


def product_id(port):
    return exchange(port, b"P\r").decode("ascii")


def display(port):
    return bytes.fromhex(exchange(port, b"L\r").decode("ascii"))


def display_row(port):
    return bytes.fromhex(exchange(port, b"l3\r")[1:].decode("ascii"))


CLASSES = {"fixed": housekeeping, "data": SetVoltage(), "variable": product_id,
           "display": display, "row": display_row}


def timed(port, run, count):
    for _ in range(3):  # warm-up, as paced_bench
        run(port)
    result = {"failures": 0, "us": []}
    for _ in range(count):
        start = time.perf_counter()
        try:
            run(port)
        except (IOError, ValueError):
            result["failures"] += 1
            port.reset_input_buffer()
            continue
        result["us"].append(round((time.perf_counter() - start) * 1e6, 1))
    return result


def main():
    url, count = sys.argv[1], int(sys.argv[2])
    keys = sys.argv[3:] or list(CLASSES)
    port = serial.serial_for_url(url, baudrate=230400, bytesize=8, parity="E", stopbits=1, timeout=1)
    try:
        print(json.dumps({key: timed(port, CLASSES[key], count) for key in keys}))
    finally:
        port.close()


if __name__ == "__main__":
    main()
