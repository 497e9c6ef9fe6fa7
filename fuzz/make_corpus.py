#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz harnesses into fuzz/corpus/<harness>/: the device's replies
and the host's commands of the protocol, the Telnet of a network serial port and the tester's
command lines, each in the input layout its harness describes. Run it again after changing them."""
import hashlib
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# device_reply_fuzz: function numbers of its table.
DEVICE_PURGE, BUFFER_STATE, GET_STATE, SET_STATE, GET_VOLTAGE, SET_VOLTAGE, MONITOR = range(7)
HOUSEKEEPING, HV_SUPPLY, INTERLOCK, CURRENT, KEYPAD, ENCODER_BUTTON, ENCODER = range(7, 14)
DISPLAY, DISPLAY_ROW, CAPABILITIES, UPTIME, FW_VER, FW_DATE, PROD_ID, PROD_ID_SIZED = range(14, 22)
PROD_NO, PURGE = 22, 23

READY = 0x07        # CTS, DSR and DCD active
FOLLOWS_RTS = 0x16  # DSR and DCD active, CTS following RTS
BUSY = 0x06         # CTS inactive
GONE = 0x01         # DSR and DCD inactive


def call(function, argument, reply, lines=READY, failure=0):
    reply = reply.encode("latin-1") if isinstance(reply, str) else reply
    return bytes([function, argument, lines, failure]) + struct.pack("<H", len(reply)) + reply


def display(rows):
    return "".join("%02X" % ((row * 37 + column) & 0xFF) for row in rows for column in range(128))


def device_reply_seeds():
    good = [
        (DEVICE_PURGE, 0, "zY\r"), (BUFFER_STATE, 0, "ZN\r"), (BUFFER_STATE, 0, "zY\r"),
        (GET_STATE, 2, "B2Y\r"), (GET_STATE, 3, "B3\r"), (GET_STATE, 3, "B4Y\r"), (GET_STATE, 2, "B2y\r"),
        (SET_STATE, 0x0A, "B2Y\r"), (GET_VOLTAGE, 3, "o3FF9C\r"), (GET_VOLTAGE, 2, "o2ff9c\r"),
        (SET_VOLTAGE, 39, "o003EB\r"), (SET_VOLTAGE, 0x7F, "o00000\r"), (MONITOR, 1, "O1FFFC18\r"),
        (MONITOR, 1, "O1800000\r"), (MONITOR, 0, "Oa000000\r"), (HOUSEKEEPING, 0, "H5DC0138809C48ABB\r"),
        (HOUSEKEEPING, 0, "H5DC01388zzzz8ABB\r"), (HV_SUPPLY, 0, "S3A9803A98075B4\r"), (INTERLOCK, 0, "IY\r"),
        (INTERLOCK, 0, "Iy\r"), (CURRENT, 0, "CFFFFFFFF\r"), (CURRENT, 0, "C\r"), (CURRENT, 0, "C7FFFFFFF\r"),
        (KEYPAD, 4, "K04\r"), (KEYPAD, 4, "K4\r"), (KEYPAD, 4, "K05\r"), (ENCODER_BUTTON, 0, "E\r"),
        (ENCODER_BUTTON, 0, "Eanything\r"), (ENCODER, 10, "EA\r"), (ENCODER, 16, "E\r"),
        (DISPLAY, 0, "L" + display(range(8)) + "\r"), (DISPLAY, 0, "L" + display(range(8))[:-3] + "a0\r"),
        (DISPLAY_ROW, 2, "l2" + display([2]) + "\r"), (DISPLAY_ROW, 2, "l3" + display([3]) + "\r"),
        (DISPLAY_ROW, 8, "l8\r"), (CAPABILITIES, 0, "W58BE7FFD23940002DC6C00064Y\r"),
        (CAPABILITIES, 0, "W68BE7FFD23940002DC6C0FFFFy\r"), (UPTIME, 0, "U0001E24080\r"), (UPTIME, 0, "U0001E240FF\r"),
        (FW_VER, 0, "V0102\r"), (FW_VER, 0, "V\r"), (FW_VER, 0, "V01020\r"), (FW_VER, 0, "v0102\r"),
        (FW_DATE, 0, "DDec 11 2026\r"), (FW_DATE, 0, "DDec 11 20266\r"), (PROD_ID, 0, "PZORLINE HV-4 simulated\r"),
        (PROD_ID, 0, "P\r"), (PROD_ID, 0, "P" + "x" * 8191 + "\r"), (PROD_ID_SIZED, 1, "PZORLINE HV-4 simulated\r"),
        (PROD_NO, 0, "N00012345\r"), (PROD_NO, 0, "N0001234G\r"),
    ]
    seeds = [call(f, a, r) for f, a, r in good]
    seeds += [
        call(PURGE, 0, "", FOLLOWS_RTS), call(PURGE, 0, "", READY), call(FW_VER, 0, "V0102\r", BUSY),
        call(FW_VER, 0, "V0102\r", GONE), call(FW_VER, 0, "V0102\r", READY | 0xA0),  # one byte a burst
        call(HOUSEKEEPING, 0, "H5DC0138809C48ABB\r", READY | 0x60),
        call(FW_VER, 0, "V0102\r", READY, 0x0C | 0x10),  # a parity error reported with the reply
        call(FW_VER, 0, "V0102\r", READY, 0x25),         # the second read fails
        call(FW_VER, 0, "V0102\r", READY, 0x06),         # every write fails
        call(SET_VOLTAGE, 3, "o00000\r", READY, 0x26),   # the data of the command is not sent
        call(FW_VER, 0, "V0102\r", READY, 0x09),         # the status lines cannot be read
        call(FW_VER, 0, "V0102\r0\r"),                    # a surplus byte meets the next call
        call(FW_VER, 0, "V01020\r") + call(PROD_NO, 0, "N00012345\r"),
        call(PROD_ID, 0, "PZORLINE") + call(PROD_ID, 0, " HV-4\r"),
        call(GET_VOLTAGE, 4, "o4000A\r") + call(SET_STATE, 0x0C, "B4N\r") + call(PURGE, 0, "", FOLLOWS_RTS),
    ]
    return seeds


IAC, SB, SE, WILL, WONT, DO, DONT = 255, 250, 240, 251, 252, 253, 254
COM_PORT, BINARY, SGA = 44, 0, 3


def sub(code, *value):
    payload = bytes([COM_PORT, code]) + bytes(value)
    return bytes([IAC, SB]) + payload.replace(b"\xff", b"\xff\xff") + bytes([IAC, SE])


def telnet_seeds():
    agree = bytes([IAC, DO, COM_PORT, IAC, WILL, BINARY, IAC, DO, BINARY, IAC, WILL, SGA, IAC, DO, SGA])
    settings = (sub(101, 0x00, 0x03, 0x84, 0x00) + sub(102, 8) + sub(103, 3) + sub(104, 1) + sub(105, 1) +
                sub(110, 0x1E) + sub(111, 0xFF))
    lines = sub(107, 0xB0)
    controls = sub(105, 8) + sub(105, 11) + sub(105, 12) + sub(105, 11) + sub(112, 3)
    signature = sub(100, *b"zor-sim")
    opening = agree + signature + settings + lines + controls + b"V0102\r" + sub(107, 0x31) + sub(106, 0x04)
    seeds = [
        (0, 0, opening), (1, 128, opening), (2, 0, agree + settings), (4, 0, opening + b"\xff\xffdata\xff"),
        (0, 0, agree), (0, 0, bytes([IAC, DONT, COM_PORT])), (0, 0, bytes([IAC, WILL, COM_PORT, IAC, WONT, BINARY])),
        (0, 0, agree + sub(107, 0x30) + b"U0001E24080\r" + sub(107, 0x00)),
        (0, 0, agree + bytes([IAC, SB, COM_PORT, 107]) + b"\x10" * 300 + bytes([IAC, SE])),
        (0, 0, agree + bytes([IAC, SB, COM_PORT, IAC, 241, IAC, SE, IAC, SE])),
        (1, 10, agree + settings + sub(112, 3) + b"H5DC0138809C48ABB\r" * 20),
        (0, 0, agree + b"".join(sub(107, state) for state in range(0, 256, 7))),
    ]
    return [bytes([flags, split]) + stream for flags, split, stream in seeds]


def step(code):
    return bytes([0xFF, code])


def sim_seeds():
    commands = ["z", "Z", "B2", "B2Y", "B2N", "o22710", "o3", "o9", "O1", "H", "S", "I", "C", "K04", "K10", "E",
                "EA", "L", "l2", "lF", "W", "U", "V", "D", "P", "N", "Q", "B", "o2271", "VX"]
    everything = b"".join(c.encode() + b"\r" for c in commands)
    seeds = [bytes([0x04, 10]) + everything + step(0x0F),
             bytes([0x0D, 10]) + everything.replace(b"\r", b"\r" + step(0x03)),  # sensor fitted, replies taken
             bytes([0x45, 10]) + b"V\r" + step(0x01) + b"V\r" + step(0x0F),      # busy time
             bytes([0x80, 0]) + b"B0Y\r" + step(0x05) + b"O0\r" + step(0x05)]
    for kind in range(10):  # every fault on its reply
        seeds.append(bytes([0x04, 5]) + step(0x20 | kind) + b"V" + b"V\r" + step(0x0F) + b"V\r" + step(0x0F))
    seeds += [
        bytes([0x04, 0]) + step(0x11) + b"V\r" + step(0x05) + step(0x13) + b"V\r" + step(0x05),  # RTS
        bytes([0x04, 0]) + b"V\r" + step(0x10) + b"V\r" + step(0x13) + b"V\r" + step(0x05),      # DTR
        bytes([0x04, 0]) + step(0x30) + b"V\r" + step(0x31) + b"U\r" + step(0x05),               # power
        bytes([0x14, 0]) + b"B1Y\r" + step(0x41) + b"B1Y\r" + step(0x40) + b"B1\r" + step(0x05),  # interlock
        bytes([0x04, 0]) + b"V\rH\rS\r" + step(0x50) + b"I\r" + step(0x05) + step(0x60),         # purge
        bytes([0x04, 0]) + b"\n\r\r" + b"x" * 300 + b"\r" + step(0x70) + b"\r" + step(0x05),
    ]
    return seeds


def tester_seeds():
    lines = [
        ["ZorTester"], ["ZorTester", "3", "-T"], ["ZorTester", "3", "-Q", "-T"], ["ZorTester", "3", "-G", "-Q", "-T"],
        ["ZorTester", "3", "-B", "-F"], ["ZorTester", "3", "-Bx"], ["ZorTester", "3", "-E2", "Yes"],
        ["ZorTester", "3", "-O"], ["ZorTester", "3", "-W1", "0", "100"], ["ZorTester", "3", "-X5", "a", "1", "0"],
        ["ZorTester", "3", "-E2", "y"], ["ZorTester", "3", "-O3V", "10.5kV", "-T"], ["ZorTester", "3", "-T", "-Z"],
        ["ZorTester", "0", "-T"], ["ZorTester", "256"], ["ZorTester", "3", "-?"], ["/opt/zor.v2/Zor.Tester.exe"],
        ["ZorTester", "3", "-W4", " -1.5", "7e1", "1000ms", "-Z"], ["ZorTester", "3", "-X", "my protocol.txt", "2.5", "3"],
        ["ZorTester", "3", "/x", "out.txt", "1", "-1", "-t"], ["ZorTester", "rfc2217://127.0.0.1:4001", "-L", "-l", "-K"],
        ["ZorTester", "/dev/ttyUSB0", "-P", "-N", "-V", "-D", "-U", "-C", "-H", "-S", "-I", "-o", "-M", "-e", "-R"],
        ["ZorTester", "  200 and more", "-g", "-b", "-z", "-u", "-d", "-v", "-p", "-n", "-h", "-s", "-i", "-r", "-c"],
        ["ZorTester", "3", "-E", "n"], ["ZorTester", "3", "-O65536", "1e308"], ["ZorTester", "3", "-W1", "nan", "inf", "-1"],
    ]
    return [b"\0".join(a.encode() for a in line) for line in lines]


def write(harness, seeds):
    folder = os.path.join(HERE, "corpus", harness)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for seed in seeds:
        with open(os.path.join(folder, hashlib.sha1(seed).hexdigest()), "wb") as file:
            file.write(seed)


if __name__ == "__main__":
    write("device_reply_fuzz", device_reply_seeds())
    write("telnet_client_fuzz", telnet_seeds())
    write("sim_command_fuzz", sim_seeds())
    write("tester_args_fuzz", tester_seeds())
