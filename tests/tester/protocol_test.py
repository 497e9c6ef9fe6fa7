"""ZorTester's test protocol against zor-sim: the console output and the protocol file compared
exactly (time stamps and uptimes as patterns, checked against the clock), the schedule measured on
the commands as they reach the device, faults injected on chosen commands.

The runs are kept short by small devices and large voltage steps, and by pause mode, in which a step
ends after its first sample when SPACE has come during its settling time (or when the input has
ended, after which no SPACE can come); the ten-sample schedule runs once, in Schedule."""
import datetime
import os
import re
import subprocess
import sys
import time
import unittest

from live_support import LiveTester
from tester_support import WINDOWS, CommandRelay, Simulator, TesterCase, assert_lines, tester_command, text_mode_output

OPENED = "Communication port opened"
CLOSING = ["Communication port closed", "Program finished"]
DEBUG_OPENING = ["Checking the DLL Version...", "DLL Version: 1.10", "Opening the communication port...", OPENED]
DEBUG_CLOSING = ["Closing the communication port..."] + CLOSING

STAMP = re.compile(r"Test protocol created at ((Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d/\d\d/\d{4}, \d\d:\d\d:\d\d)")
UPTIME = re.compile(r"Device uptime: (\d+):(\d\d):(\d\d\.\d\d) sec\.")
IDENTIFICATION = ["Product number: 74565", "Product identification: ZORLINE HV-4 simulated",
                  "Firmware version: 1.02", "Firmware date: Dec 11 2026"]
SUPPLY = ["", "Housekeeping data: Supply: 24.000V\t5V: 5.000V\t3V: 3.300V\tCPU: 42.00degC",
          "HV supply data: Positive: 240.000V\tNegative: 240.000V\tHeatsink: 31.00degC"]
PAUSE = "Press SPACE to proceed to the next value..."
FINISHED = "Test protocol finished"

FILE_SUPPLY = ["", "Housekeeping data:",
               "\tSupply: 24.000V \xb1 0.00mV (+0.00mV, -0.00mV)",
               "\t5V:     5.000V \xb1 0.00mV (+0.00mV, -0.00mV)",
               "\t3V:     3.300V \xb1 0.00mV (+0.00mV, -0.00mV)",
               "\tCPU:    42.000\xb0C \xb1 0.0mK (+0.0mK, -0.0mK)",
               "", "HV supply data:",
               "\tPositive: 240.000V \xb1 0.0mV (+0.0mV, -0.0mV)",
               "\tNegative: 240.000V \xb1 0.0mV (+0.0mV, -0.0mV)",
               "\tHeatsink: 31.000\xb0C \xb1 0.0mK (+0.0mK, -0.0mK)"]


def capabilities(channels, voltage_range, precision="100mV", sensor="not installed"):
    return ["Hardware capabilities:", f"\tNumber of channels: {channels}", f"\tOutput voltage range: {voltage_range}",
            f"\tPrecision: {precision}", f"\tCurrent sensor: {sensor}"]


def console_head(*capability_lines):
    """The console from the time stamp to the high-voltage supply means."""
    return [STAMP] + IDENTIFICATION + list(capability_lines) + ["\tShutdown temperature: 85degC", UPTIME] + SUPPLY


def file_head(*capability_lines):
    """The protocol file from the time stamp to the high-voltage supply statistics."""
    return ([STAMP, ""] + IDENTIFICATION + [""] + list(capability_lines) +
            ["\tShutdown temperature: 85\xb0C", "", UPTIME] + FILE_SUPPLY)


def measured(*values):
    """A step's console line: every channel's mean, and the distances from the set voltage."""
    return "Measured output voltages:" + "".join(f"\tCh{i}: {v}" for i, v in enumerate(values, 1))


def recorded(set_voltage, *means):
    """A step's record, every channel exact: no deviation, no spread."""
    return f"Set: {set_voltage}" + "".join(f"\tCh{i}: {m} \xb1 0.00mV (+0.0mV, -0.0mV)" for i, m in enumerate(means, 1))


def error_line(label, text="Wrong command received", io_text="No error"):
    return f"Error at {label}: {text}, I/O Error Message: {io_text}"


def uptime_seconds(line):
    hours, minutes, seconds = UPTIME.fullmatch(line).groups()
    return int(hours) * 3600 + int(minutes) * 60 + float(seconds)


class ProtocolCase(TesterCase):
    def device(self, *options):
        simulator = Simulator(*options)
        self.addCleanup(simulator.stop)
        return simulator

    def relay(self, simulator, actions=None):
        relay = CommandRelay(simulator, actions)
        self.addCleanup(relay.close)
        return relay

    def run_protocol(self, arguments, keys=b"", timeout=40):
        """Runs ZorTester to its end with `keys` and then the end of the input on standard input."""
        self.started = datetime.datetime.now()
        command, executable = tester_command()
        result = subprocess.run([*command, *arguments], executable=executable, input=keys, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, cwd=self.folder, timeout=timeout)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.returncode, 0)
        return text_mode_output(self, result.stdout.decode("latin-1"))

    def protocol_file(self, name="p.txt"):
        with open(os.path.join(self.folder, name), "rb") as file:
            data = file.read()
        if not WINDOWS:
            self.assertNotIn(b"\r", data)
        return text_mode_output(self, data.decode("latin-1"))

    def check_stamp(self, output):
        """The time stamp is the local time at the start of the run."""
        stamp = next(STAMP.fullmatch(line) for line in output.split("\n") if STAMP.fullmatch(line)).group(1)
        taken = datetime.datetime.strptime(stamp, "%a, %m/%d/%Y, %H:%M:%S")
        self.assertLess(abs((taken - self.started).total_seconds()), 3, stamp)

    def assert_on_schedule(self, times, expected, typical):
        """Commands due at the `expected` times: none early, none more than 100 ms late, and the
        median lateness within `typical`. A loaded machine may delay one command by a few tens of
        milliseconds; a schedule that drifts (each wait counted from the end of the exchange before
        it) makes most of them late."""
        self.assertEqual(len(times), len(expected))
        lateness = sorted(at - due for at, due in zip(times, expected))
        self.assertGreaterEqual(lateness[0], -0.01, lateness)
        self.assertLessEqual(lateness[-1], 0.1, lateness)
        self.assertLessEqual(lateness[len(lateness) // 2], typical, lateness)

    def uptimes(self, output):
        return [uptime_seconds(line) for line in output.split("\n") if UPTIME.fullmatch(line)]


class FullRun(ProtocolCase):
    # A 1 V grid: the device confirms -3 V for -2.5 V and 5 V for 4.5 V.
    simulator_options = ("--channels", "2", "--voltage-min", "-10", "--voltage-max", "10", "--precision", "1")

    def test_run_without_sensor(self):
        relay = self.relay(self.simulator)
        self.started = datetime.datetime.now()
        # Pause mode: SPACE typed during every settling time ends the step after its first sample;
        # the x before it is dropped. A skip count below 0 counts as 0: no record 17.
        tester = LiveTester([relay.url, "-O1", "5", "-O2", "-3", "-X", "p.txt", "7.5", "-3", "-e", "-o", "-T"],
                            self.folder)
        self.addCleanup(tester.kill)
        after = 0
        while True:
            index, _ = tester.wait_for("^(Setting output voltages|Testing finished)", after=after, timeout=20)
            if tester.lines[index][1].startswith("Testing finished"):
                break
            tester.keys(b"x ")
            after = index + 1
        output, status = tester.finish(timeout=20)
        self.assertEqual(status, 0)
        assert_lines(self, output, [
            OPENED, "Output voltage:\tCh1: 5.0V", "Output voltage:\tCh2: -3.0V"] +
            console_head(*capabilities(2, "-10V..+10V", "1000mV")) + [
            "Interlock is closed",
            "Getting the set values of the output voltages:\tCh1: +05.0V\tCh2: -03.0V",
            "Setting output state:\tCh1: on \tCh2: on ",
            "Testing output voltages:", PAUSE,
            "Setting output voltages: -10.0V",
            measured("-10.000V +0mV, -0mV", "-10.000V +0mV, -0mV"),
            "Setting output voltages: -02.5V",
            measured("-03.000V +0mV, -0mV", "-03.000V +0mV, -0mV"),
            "Setting output voltages: +04.5V",
            measured("+05.000V +0mV, -0mV", "+05.000V +0mV, -0mV"),
            "Testing finished, maximum voltage difference between set and measured values: 0mV",
            "Resetting output state:\tCh1: off\tCh2: off",
            "Restoring output voltages:\tCh1: +05.0V\tCh2: -03.0V",
            UPTIME, FINISHED,
            "Output state:\tCh1: off\tCh2: off", "Output voltages:\tCh1: 5.0V\tCh2: -3.0V"] + CLOSING)
        assert_lines(self, self.protocol_file(), file_head(*capabilities(2, "-10V..+10V", "1000mV")) + [
            "", "Interlock is closed",
            "", "Set output voltages:", "\tCh1: +05.0V", "\tCh2: -03.0V",
            "", "Testing output voltages:",
            recorded("-10.0V", "-10.0000V", "-10.0000V"),
            recorded("-03.0V", "-03.0000V", "-03.0000V"),
            recorded("+05.0V", "+05.0000V", "+05.0000V"),
            "Testing finished, maximum voltage difference between set and measured values: 0mV",
            "", UPTIME, "", FINISHED])
        self.check_stamp(output)
        # Each step sends the voltage the step before confirmed, and samples 2000 ms (first step)
        # or 1500 ms after its start.
        sets = [(at, line) for at, line in relay.log if re.fullmatch("o0[0-9A-F]{4}", line)][1:-1]
        self.assertEqual([line for _, line in sets], ["o0FF9C", "o0FFE7", "o0002D"])
        samples = relay.times("O0")
        first_samples = [next(at for at in samples if at > start) for start, _ in sets]
        due = [start + settling for (start, _), settling in zip(sets, (2.0, 1.5, 1.5))]
        self.assert_on_schedule(first_samples, due, typical=0.03)


class SensorAndSkip(ProtocolCase):
    simulator_options = ("--channels", "2", "--voltage-min", "-5", "--voltage-max", "5", "--current-sensor")

    def test_run_with_sensor_and_skipped_steps(self):
        # Channel 1 on at 5 V: 5 nA through the load while the current is sampled. The interlock
        # opens as the outputs are switched on, so they stay off and every step measures 0 V: the
        # difference is the set voltage itself. One faulty reply of the current is repeated.
        relay = self.relay(self.simulator, {("B", 2): "interlock open", ("C", 3): "wrong-echo"})
        output = self.run_protocol([relay.url, "-O1", "5", "-E1", "y", "-X", "p.txt", "2.4", "1", "-T"])
        sensor = capabilities(2, "-5V..+5V", sensor="installed")
        assert_lines(self, output, [OPENED, "Output voltage:\tCh1: 5.0V", "Output state:\tCh1: on "] +
                     console_head(*sensor) + [
            "Sensor current: +5.000E-09A",
            "Interlock is closed",
            "Getting the set values of the output voltages:\tCh1: +05.0V\tCh2: +00.0V",
            "Setting output state:\tCh1: off\tCh2: off",
            "Testing output voltages:", PAUSE,
            "Setting output voltages: -05.0V", measured(*["+00.000V +5000mV, -5000mV"] * 2),
            "Setting output voltages: -02.6V", measured(*["+00.000V +2600mV, -2600mV"] * 2),
            "Setting output voltages: -00.2V", measured(*["+00.000V +200mV, -200mV"] * 2),
            "Setting output voltages: +02.2V", measured(*["+00.000V +2200mV, -2200mV"] * 2),
            "Setting output voltages: +04.6V", measured(*["+00.000V +4600mV, -4600mV"] * 2),
            # -5 V and +4.6 V lie outside -2.6..+2.6 V widened by 0.5 V; -2.6 V counts.
            "Testing finished, maximum voltage difference between set and measured values: 2600mV",
            "\toutput voltages from -2.6V to +2.6V considered",
            "Resetting output state:\tCh1: off\tCh2: off",
            "Restoring output voltages:\tCh1: +05.0V\tCh2: +00.0V",
            UPTIME, FINISHED] + CLOSING)
        current = re.compile(r"Sensor current: \+5\.000E-09A \xb1 (\d\.\d\dE-\d\d)A \(\+(\d\.\d\dE-\d\d)A, "
                             r"-(\d\.\d\dE[-+]\d\d)A\)")
        text = self.protocol_file()
        assert_lines(self, text, file_head(*sensor) + ["", current, "", "Interlock is closed",
            "", "Set output voltages:", "\tCh1: +05.0V", "\tCh2: +00.0V",
            "", "Testing output voltages:"] +
            [recorded(v, "+00.0000V", "+00.0000V") for v in ("-05.0V", "-02.6V", "-00.2V", "+02.2V", "+04.6V")] + [
            "Testing finished, maximum voltage difference between set and measured values: 2600mV",
            "\toutput voltages from -2.6V to +2.6V considered",
            "", UPTIME, "", FINISHED])
        # Ten equal samples: what is left of their deviation and spread is rounding.
        figures = next(current.fullmatch(line) for line in text.split("\n") if current.fullmatch(line)).groups()
        self.assertTrue(all(float(figure) < 1e-15 for figure in figures), figures)
        self.assertEqual(len(relay.times("C")), 11)


class Schedule(ProtocolCase):
    simulator_options = ("--channels", "1", "--voltage-min", "-10", "--voltage-max", "10")

    def test_step_larger_than_the_range_with_ten_samples_in_debug_mode(self):
        relay = self.relay(self.simulator)
        output = self.run_protocol([relay.url, "-g", "-x", "p.txt", "100", "0", "-T"])
        assert_lines(self, output, DEBUG_OPENING + [
            "Creating test protocol:", STAMP,
            "Getting the product number:", IDENTIFICATION[0], "Getting product identification:", IDENTIFICATION[1],
            "Getting firmware version:", IDENTIFICATION[2], "Getting firmware date:", IDENTIFICATION[3],
            "Getting hardware capabilities:"] + capabilities(1, "-10V..+10V") + [
            "\tShutdown temperature: 85degC",
            "Getting device uptime:", UPTIME,
            "Getting the housekeeping & the HV supply data:"] + SUPPLY + [
            "Getting the interlock state:", "Interlock is closed",
            "Getting the set values of the output voltages:\tCh1: +00.0V",
            "Setting output state:\tCh1: on ",
            "Testing output voltages:",
            "Setting output voltages: -10.0V",
            "Getting the measured output voltages:", measured("-10.000V +0mV, -0mV"),
            "Testing finished, maximum voltage difference between set and measured values: 0mV",
            "Resetting output state:\tCh1: off",
            "Restoring output voltages:\tCh1: +00.0V",
            "Getting device uptime:", UPTIME, FINISHED] + DEBUG_CLOSING)
        assert_lines(self, self.protocol_file(), file_head(*capabilities(1, "-10V..+10V")) + [
            "", "Interlock is closed", "", "Set output voltages:", "\tCh1: +00.0V",
            "", "Testing output voltages:", recorded("-10.0V", "-10.0000V"),
            "Testing finished, maximum voltage difference between set and measured values: 0mV",
            "", UPTIME, "", FINISHED])
        # Ten housekeeping samples 500 ms apart; after the first setting 2000 ms of settling, ten
        # samples 500 ms apart, and the outputs switched off 5000 ms after the settling.
        housekeeping = relay.times("H")
        self.assertEqual(len(housekeeping), 10)
        origin = min(at - k * 0.5 for k, at in enumerate(housekeeping))
        self.assert_on_schedule(housekeeping, [origin + k * 0.5 for k in range(10)], typical=0.015)
        start = relay.times("o0[0-9A-F]{4}")[0]
        samples = relay.times("O0")
        self.assertEqual(len(samples), 10)
        self.assert_on_schedule(samples + relay.times("B0N")[:1],
                                [start + 2.0 + k * 0.5 for k in range(10)] + [start + 7.0], typical=0.03)
        first, last = self.uptimes(output)
        self.assertAlmostEqual(last - first, 12.0, delta=0.3)


class Edges(ProtocolCase):
    def test_interlock_open(self):
        simulator = self.device("--channels", "2", "--interlock", "open")
        relay = self.relay(simulator)
        output = self.run_protocol([relay.url, "-x", "p.txt", "1000", "0", "-T"])
        head = capabilities(2, "-3000V..+3000V")
        assert_lines(self, output, [OPENED] + console_head(*head) + [
            "Interlock is open", "Interlock is open, voltage test skipped!", FINISHED] + CLOSING)
        assert_lines(self, self.protocol_file(), file_head(*head) + [
            "", "Interlock is open", "", "Interlock is open, voltage test skipped!", "", FINISHED])
        # No output is switched or set, and the uptime is read once.
        self.assertEqual([relay.counts.get(letter, 0) for letter in "BoU"], [0, 0, 1])

    def test_no_channels(self):
        simulator = self.device("--channels", "0", "--voltage-min", "-10", "--voltage-max", "10")
        output = self.run_protocol([simulator.url, "-X", "p.txt", "15", "0", "-T"])
        head = capabilities(0, "-10V..+10V")
        assert_lines(self, output, [OPENED] + console_head(*head) + [
            "Interlock is closed", "Getting the set values of the output voltages:", "Setting output state:",
            "Testing output voltages:", PAUSE,
            "Setting output voltages: -10.0V", "Measured output voltages:",
            "Setting output voltages: +05.0V", "Measured output voltages:",
            "Testing finished, maximum voltage difference between set and measured values: 0mV",
            "Resetting output state:", "Restoring output voltages:", UPTIME, FINISHED] + CLOSING)
        assert_lines(self, self.protocol_file(), file_head(*head) + [
            "", "Interlock is closed", "", "Set output voltages:", "", "Testing output voltages:",
            "Set: -10.0V", "Set: +05.0V",
            "Testing finished, maximum voltage difference between set and measured values: 0mV",
            "", UPTIME, "", FINISHED])
        # The steps keep their settling times: 5 s of supply samples, 2 s and 1.5 s.
        first, last = self.uptimes(output)
        self.assertAlmostEqual(last - first, 8.5, delta=0.3)

    def test_step_that_does_not_raise_the_confirmed_voltage_ends_the_stepping(self):
        simulator = self.device("--channels", "1", "--voltage-min", "-1", "--voltage-max", "1")
        output = self.run_protocol([simulator.url, "-X", "p.txt", "0.04", "0", "-T"])
        head = capabilities(1, "-1V..+1V")
        assert_lines(self, output, [OPENED] + console_head(*head) + [
            "Interlock is closed", "Getting the set values of the output voltages:\tCh1: +00.0V",
            "Setting output state:\tCh1: on ", "Testing output voltages:", PAUSE,
            "Setting output voltages: -01.0V", measured("-01.000V +0mV, -0mV"),
            # -0.96 V, which the device confirms as -1.0 V again.
            "Setting output voltages: -01.0V",
            "The voltage step of 0.04 V does not raise the set voltage above -01.0V, stepping ended",
            "Testing finished, maximum voltage difference between set and measured values: 0mV",
            "Resetting output state:\tCh1: off", "Restoring output voltages:\tCh1: +00.0V",
            UPTIME, FINISHED] + CLOSING)
        assert_lines(self, self.protocol_file(), file_head(*head) + [
            "", "Interlock is closed", "", "Set output voltages:", "\tCh1: +00.0V", "", "Testing output voltages:",
            recorded("-01.0V", "-01.0000V"),
            "Testing finished, maximum voltage difference between set and measured values: 0mV",
            "", UPTIME, "", FINISHED])

    def test_steps_that_are_not_above_0_are_refused_before_anything_happens(self):
        self.check([self.simulator.url, "-x", "p.txt", "0", "0", "-X", "p.txt", "-1", "2", "-x", "p.txt", "nan", "0",
                    "-g", "-x", "p.txt", "-0.0", "0", "-T"], [
            OPENED, "Wrong voltage step specified: 0, it must be above 0 V",
            "Wrong voltage step specified: -1, it must be above 0 V",
            "Wrong voltage step specified: nan, it must be above 0 V",
            "Creating test protocol:", "Wrong voltage step specified: -0, it must be above 0 V"] + DEBUG_CLOSING)
        self.assertFalse(os.path.exists(os.path.join(self.folder, "p.txt")))

    def test_file_that_cannot_be_opened_or_closed(self):
        self.check([self.simulator.url, "-x", "no/such/folder/p.txt", "10", "0", "-T"],
                   [OPENED, "Cannot open the data file no/such/folder/p.txt"] + CLOSING)
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full")
        # The records wait in the file's buffer until it is closed, which then fails.
        self.simulator.control("fault wrong-echo 2 N")
        self.check([self.simulator.url, "-x", "/dev/full", "10", "0", "-T"],
                   [OPENED, STAMP, error_line("COM_ZOR4_Prod_No"), "Cannot close the data file /dev/full"] + CLOSING)


class Faults(ProtocolCase):
    simulator_options = ("--channels", "2", "--voltage-min", "-10", "--voltage-max", "10")

    def test_calls_that_fail_once_leave_no_trace(self):
        # One spoiled reply to every kind of call (the repeats are counted too): the first of a
        # kind, and later ones in the middle of a phase or a channel list.
        faults = [("N", 1), ("P", 1), ("V", 1), ("D", 1), ("W", 1), ("U", 1), ("H", 1), ("H", 6), ("S", 10),
                  ("I", 1), ("o", 1), ("o", 4), ("o", 9), ("B", 1), ("B", 5), ("O", 1), ("O", 5), ("U", 3)]
        relay = self.relay(self.simulator, {fault: "wrong-echo" for fault in faults})
        output = self.run_protocol([relay.url, "-X", "p.txt", "20", "0", "-T"])
        head = capabilities(2, "-10V..+10V")
        assert_lines(self, output, [OPENED] + console_head(*head) + [
            "Interlock is closed", "Getting the set values of the output voltages:\tCh1: +00.0V\tCh2: +00.0V",
            "Setting output state:\tCh1: on \tCh2: on ", "Testing output voltages:", PAUSE,
            "Setting output voltages: -10.0V", measured(*["-10.000V +0mV, -0mV"] * 2),
            "Setting output voltages: +10.0V", measured(*["+10.000V +0mV, -0mV"] * 2),
            "Testing finished, maximum voltage difference between set and measured values: 0mV",
            "Resetting output state:\tCh1: off\tCh2: off", "Restoring output voltages:\tCh1: +00.0V\tCh2: +00.0V",
            UPTIME, FINISHED] + CLOSING)
        assert_lines(self, self.protocol_file(), file_head(*head) + [
            "", "Interlock is closed", "", "Set output voltages:", "\tCh1: +00.0V", "\tCh2: +00.0V",
            "", "Testing output voltages:",
            recorded("-10.0V", "-10.0000V", "-10.0000V"), recorded("+10.0V", "+10.0000V", "+10.0000V"),
            "Testing finished, maximum voltage difference between set and measured values: 0mV",
            "", UPTIME, "", FINISHED])
        # Every fault was met, and repeated once.
        expected = {"N": 2, "P": 2, "V": 2, "D": 2, "W": 2, "U": 4, "H": 12, "S": 11, "I": 2, "o": 11, "B": 6,
                    "O": 6}
        self.assertEqual({letter: relay.counts.get(letter, 0) for letter in expected}, expected)

    def test_failure_while_stepping_leaves_the_outputs_off(self):
        # The second step's setting of channel 1 fails twice; of the clean-up, switching channel 2
        # off fails (the device carries out the command all the same).
        relay = self.relay(self.simulator, {("o", 7): "wrong-echo", ("o", 8): "wrong-echo", ("B", 4): "wrong-echo"})
        output = self.run_protocol([relay.url, "-O1", "5", "-O2", "-2.5", "-X", "p.txt", "10", "0", "-e", "-o", "-T"])
        head = capabilities(2, "-10V..+10V")
        assert_lines(self, output, [OPENED, "Output voltage:\tCh1: 5.0V", "Output voltage:\tCh2: -2.5V"] +
                     console_head(*head) + [
            "Interlock is closed", "Getting the set values of the output voltages:\tCh1: +05.0V\tCh2: -02.5V",
            "Setting output state:\tCh1: on \tCh2: on ", "Testing output voltages:", PAUSE,
            "Setting output voltages: -10.0V", measured(*["-10.000V +0mV, -0mV"] * 2),
            "Setting output voltages: +00.0V",
            error_line("COM_ZOR4_Set_OutputVoltage"),
            "Resetting output state after the failure:\tCh1: off\tCh2: failed",
            "Restoring output voltages after the failure:\tCh1: +05.0V\tCh2: -02.5V",
            "Output state:\tCh1: off\tCh2: off", "Output voltages:\tCh1: 5.0V\tCh2: -2.5V"] + CLOSING)
        # The file ends with the last step measured in full.
        assert_lines(self, self.protocol_file(), file_head(*head) + [
            "", "Interlock is closed", "", "Set output voltages:", "\tCh1: +05.0V", "\tCh2: -02.5V",
            "", "Testing output voltages:", recorded("-10.0V", "-10.0000V", "-10.0000V")])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:])
