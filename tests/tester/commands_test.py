"""ZorTester's output control, cycle, keypad simulation and display dump against zor-sim, standard
output compared exactly. Key scripts come on standard input, one byte a key press; a NUL and the
next byte are one extended key."""
import sys
import time
import unittest

from live_support import LiveTester
from tester_support import CommandRelay, Simulator, TesterCase, assert_lines

OPENED = "Communication port opened"
CLOSING = ["Communication port closed", "Program finished"]
HINT = "Press '?' for help"
DEBUG_OPENING = ["Checking the DLL Version...", "DLL Version: 1.10", "Opening the communication port...", OPENED]
DEBUG_CLOSING = ["Closing the communication port..."] + CLOSING
HOUSEKEEPING = "Housekeeping data: Supply: 24.000V\t5V: 5.000V\t3V: 3.300V\tCPU: 42.00degC"


def error_line(label, text="Wrong command received", io_text="No error"):
    return f"Error at {label}: {text}, I/O Error Message: {io_text}"


# Extended keys as a PC reads them: 0, then the extended code.
UP, DOWN, LEFT, RIGHT = b"\x00\x48", b"\x00\x50", b"\x00\x4b", b"\x00\x4d"
PAGE_UP, PAGE_DOWN = b"\x00\x49", b"\x00\x51"
CTRL_PAGE_UP, CTRL_PAGE_DOWN, ALT_PAGE_UP, ALT_PAGE_DOWN = b"\x00\x84", b"\x00\x76", b"\x00\x99", b"\x00\xa1"
CTRL_UP, CTRL_SPACE = b"\x00\x8d", b"\x00\x03"
ENTER, SPACE, ESC = b"\r", b" ", b"\x1b"


class OutputControl(TesterCase):
    simulator_options = ("--channels", "5", "--voltage-min", "-100", "--voltage-max", "100")

    def test_parameters_tested_against_the_capabilities(self):
        cases = [  # switch arguments, what they print
            (["-O0", "5"], "Wrong channel specified: 0, allowed range: 1..5"),
            (["-O6", "5"], "Wrong channel specified: 6, allowed range: 1..5"),
            (["-O1", "100.1"], "Wrong voltage specified: 100.1, allowed range: -100..+100"),
            (["-O1", "-100.1"], "Wrong voltage specified: -100.1, allowed range: -100..+100"),
            (["-O1", "nan"], "Wrong voltage specified: nan, allowed range: -100..+100"),
            (["-O1", "100"], "Output voltage:\tCh1: 100.0V"),       # the limits are accepted
            (["-O5", "-100"], "Output voltage:\tCh5: -100.0V"),
            (["-O2", "12.34"], "Output voltage:\tCh2: 12.3V"),      # the value the device confirmed
            (["-E6", "y"], "Wrong channel specified: 6, allowed range: 0..5"),
            (["-E0", "y"], "Output state:\tCh1: on \tCh2: on \tCh3: on \tCh4: on \tCh5: on "),
            (["-E3", "n"], "Output state:\tCh3: off"),
            (["-W0", "0", "1", "100"], "Wrong channel specified: 0, allowed range: 1..5"),
            (["-W6", "0", "1", "100"], "Wrong channel specified: 6, allowed range: 1..5"),
            (["-W1", "-100.5", "1", "100"], "Wrong minimum voltage specified: -100.5, allowed range: -100..+100"),
            (["-W1", "0", "nan", "100"], "Wrong maximum voltage specified: nan, allowed range: -100..+100"),
            (["-W1", "nan", "200", "100"], "Wrong minimum voltage specified: nan, allowed range: -100..+100"),
        ]
        arguments = [argument for switch, _ in cases for argument in switch]
        # Only the accepted settings reach the device.
        self.check([self.simulator.url, *arguments, "-o", "-e", "-T"],
                   [OPENED] + [line for _, line in cases] +
                   ["Output voltages:\tCh1: 100.0V\tCh2: 12.3V\tCh3: 0.0V\tCh4: 0.0V\tCh5: -100.0V",
                    "Output state:\tCh1: on \tCh2: on \tCh3: off\tCh4: on \tCh5: on "] + CLOSING)

    def test_debug_headings_and_quiet_mode(self):
        self.check([self.simulator.url, "-g", "-O1", "5", "-E0", "n", "-E2", "y", "-T"],
                   DEBUG_OPENING + ["Setting the output voltage:", "Output voltage:\tCh1: 5.0V",
                                    "Setting the output state:",
                                    "Output state:\tCh1: off\tCh2: off\tCh3: off\tCh4: off\tCh5: off",
                                    "Setting the output state:", "Output state:\tCh2: on "] + DEBUG_CLOSING)
        # The settings print in quiet mode too; the refusals need no device.
        self.check([self.simulator.url, "-Q", "-O1", "-5", "-E1", "y", "-O9", "1", "-T"],
                   ["Output voltage:\tCh1: -5.0V", "Output state:\tCh1: on ",
                    "Wrong channel specified: 9, allowed range: 1..5"])

    def test_keys_and_prompts(self):
        self.check([self.simulator.url], [
            OPENED, HINT,
            "Enter the channel number (1-5): Enter the new voltage in V: Output voltage:\tCh4: -7.5V",
            "Enter the channel number (1-5, 0 for all): Enter the new state (0 for off, 1 for on): "
            "Output state:\tCh4: on ",
            "Output voltages:\tCh1: 0.0V\tCh2: 0.0V\tCh3: 0.0V\tCh4: -7.5V\tCh5: 0.0V"] + CLOSING,
            keys=b"O4\n-7.5\nE4\n1\no")

    def test_failures_print_the_error_line(self):
        relay = CommandRelay(self.simulator, {("W", 1): "wrong-echo", ("o", 1): "wrong-echo",
                                                ("B", 1): "wrong-echo", ("B", 5): "wrong-echo"})
        self.addCleanup(relay.close)
        self.check([relay.url, "-O1", "5", "-O1", "6", "-E1", "y", "-E0", "y", "-e", "-T"], [
            OPENED, error_line("COM_ZOR4_GetHardwareCapability"), error_line("COM_ZOR4_Set_OutputVoltage"),
            error_line("COM_ZOR4_Set_OutputState"),
            # The channels before the failing one stay switched, those after it are not asked.
            "Output state:\tCh1: on \tCh2: on \tCh3: on " + error_line("COM_ZOR4_Set_OutputState"),
            "Output state:\tCh1: on \tCh2: on \tCh3: on \tCh4: on \tCh5: off"] + CLOSING)


class Cycle(TesterCase):
    # A 1 V grid: the device confirms 5 V for 4.6 V, and the later cycles send what it confirmed.
    simulator_options = ("--channels", "2", "--voltage-min", "-10", "--voltage-max", "10", "--precision", "1")

    def start_cycle(self, period):
        relay = CommandRelay(self.simulator)
        self.addCleanup(relay.close)
        tester = LiveTester([relay.url, "-W2", "-4.6", "4.6", str(period), "-T"], self.folder)
        self.addCleanup(tester.kill)
        return relay, tester

    def test_edges_follow_the_schedule_and_space_stops_at_once(self):
        relay, tester = self.start_cycle(200)
        _, first = tester.wait_for("^Output voltage:")
        time.sleep(1.05 - (time.monotonic() - first))
        tester.keys(b"h ")
        pressed = time.monotonic()
        _, stopped = tester.wait_for("^Cycle stopped")
        output, status = tester.finish()
        self.assertEqual(status, 0)
        self.assertLess(stopped - pressed, 0.1)
        # An edge every 100 ms until SPACE: at least the eleven from 0 to 1000 ms (one more when
        # a loaded machine delivers the key late). 4.6 V is sent first, then what the device confirmed.
        edges = [(at, line) for at, line in relay.log if line.startswith("o1")]
        self.assertLess(edges[-1][0], pressed)
        self.assertIn(len(edges), (11, 12))
        self.assertEqual([line for _, line in edges],
                         (["o1002E", "o1FFD2"] + ["o10032", "o1FFCE"] * 5)[:len(edges)])
        # Each edge counted from the first, not from the one before: no drift, little jitter.
        offsets = sorted(abs((at - edges[0][0]) * 1000 - k * 100) for k, (at, _) in enumerate(edges))
        self.assertLess(offsets[len(offsets) // 2], 5, offsets)
        self.assertLess(offsets[-1], 50, offsets)
        levels = ["Output voltage:\tCh2: 5.0V", "Output voltage:\tCh2: -5.0V"]
        assert_lines(self, output, [OPENED, "Press SPACE to stop..."] + [levels[k % 2] for k in range(len(edges))] +
                     ["Cycle stopped"] + CLOSING)

    def test_period_0_can_be_stopped(self):
        relay, tester = self.start_cycle(0)
        tester.wait_for("^Output voltage:")
        time.sleep(0.2)
        tester.keys(SPACE)
        pressed = time.monotonic()
        _, stopped = tester.wait_for("^Cycle stopped")
        output, status = tester.finish()
        self.assertEqual(status, 0)
        # Reading the flood of lines takes the test longer than the program takes to stop.
        self.assertLess(stopped - pressed, 0.25)
        self.assertLessEqual(len(relay.times("o1.*")) - len([at for at in relay.times("o1.*") if at < pressed]), 2)
        lines = output.split("\n")
        self.assertEqual(lines[:2], [OPENED, "Press SPACE to stop..."])
        self.assertEqual(lines[-4:], ["Cycle stopped"] + CLOSING + [""])
        edges = lines[2:-4]
        self.assertGreater(len(edges), 5)
        self.assertEqual(edges, ["Output voltage:\tCh2: 5.0V", "Output voltage:\tCh2: -5.0V"] * (len(edges) // 2) +
                         ["Output voltage:\tCh2: 5.0V"] * (len(edges) % 2))

    def test_keys_during_and_after_the_cycle_are_swallowed(self):
        prompts = ("Enter the channel number (1-5): Enter the minimum voltage in V: "
                   "Enter the maximum voltage in V: Enter the period in ms: ")
        # Other keys are dropped until SPACE, the keys still waiting after it too: no h reaches
        # the key loop.
        keys = b"W1\n-3\n3\n100000\nh" + UP + b" hh" + UP
        cases = [
            ([], [OPENED, HINT, prompts + "Press SPACE to stop...", "Output voltage:\tCh1: 3.0V",
                  "Cycle stopped"] + CLOSING),
            (["-Q"], [prompts + "Press SPACE to stop...", "Cycle stopped"]),
            (["-g"], DEBUG_OPENING + [HINT, prompts + "Cycling the output voltage, press SPACE to stop...",
                                      "Setting the output voltage:", "Output voltage:\tCh1: 3.0V",
                                      "SPACE pressed, cycling the output voltage stopped"] + DEBUG_CLOSING),
        ]
        for arguments, expected in cases:
            with self.subTest(arguments=arguments):
                self.check([self.simulator.url, *arguments], expected, keys=keys)

    def test_minimum_above_maximum_alternates_all_the_same(self):
        tester = LiveTester([self.simulator.url, "-W1", "3", "-3", "40", "-T"], self.folder)
        self.addCleanup(tester.kill)
        first, _ = tester.wait_for("^Output voltage:")
        tester.wait_for("^Output voltage:", after=first + 1)
        tester.keys(SPACE)
        output, status = tester.finish()
        self.assertEqual(status, 0)
        self.assertEqual(output.split("\n")[:4], [OPENED, "Press SPACE to stop...", "Output voltage:\tCh1: -3.0V",
                                                  "Output voltage:\tCh1: 3.0V"])

    def test_failed_setting_ends_the_cycle_and_leaves_the_keys(self):
        self.simulator.control("fault wrong-echo 1 o")
        self.check([self.simulator.url], [
            OPENED, HINT, "Enter the channel number (1-5): Enter the minimum voltage in V: "
            "Enter the maximum voltage in V: Enter the period in ms: Press SPACE to stop...",
            error_line("COM_ZOR4_Set_OutputVoltage"), HOUSEKEEPING] + CLOSING, keys=b"W1\n-3\n3\n100\nh")


def display_rows(output):
    return [line for line in output.split("\n") if line.startswith("LDC row ")]


# Every key of the table, with keys that do nothing among them. On a two-channel device: channel 1
# switched on and edited to -8 V (steps of 1 and 10 V), channel 2 switched on by the encoder
# button, the cursor back on channel 1, select mode.
PANEL_KEYS = (RIGHT + ENTER + PAGE_UP + CTRL_PAGE_UP + ALT_PAGE_DOWN + UP + LEFT + DOWN + RIGHT + CTRL_PAGE_DOWN +
              ALT_PAGE_UP + ENTER + PAGE_UP + SPACE + PAGE_DOWN + b"a" + CTRL_UP + CTRL_SPACE + b"\x00\x3c")
PANEL_HINT = ("Press 'Esc' to quit, arrow keys or 'Enter' to simulate the keypad, 'Space' or 'PgDn'/'PgUp' to "
              "simulate the encoder")
PANEL_RESULT = ["Output state:\tCh1: on \tCh2: on ", "Output voltages:\tCh1: -8.0V\tCh2: 0.0V"]


class FrontPanel(TesterCase):
    simulator_options = ("--channels", "2", "--voltage-min", "-200", "--voltage-max", "200")

    def reference_display(self, *settings):
        """The display of a fresh device given `settings` by switches."""
        simulator = Simulator(*self.simulator_options)
        self.addCleanup(simulator.stop)
        output, _ = self.run_tester(simulator.url, *settings, "-l", "-T")
        return display_rows(output)

    def test_keys_drive_the_front_panel(self):
        before = display_rows(self.run_tester(self.simulator.url, "-l", "-T")[0])
        output, status = self.run_tester(self.simulator.url, keys=b"K" + PANEL_KEYS + ESC + b"h")
        self.assertEqual(status, 0)
        # The Esc ends the simulation, not the program: h reaches the key loop.
        assert_lines(self, output, [OPENED, HINT, PANEL_HINT, "Keypad simulation stopped", HOUSEKEEPING] + CLOSING)
        output, _ = self.run_tester(self.simulator.url, "-e", "-o", "-l", "-T")
        self.assertEqual(output.split("\n")[1:3], PANEL_RESULT)
        after = display_rows(output)
        self.assertNotEqual(after, before)
        self.assertEqual(after, self.reference_display("-O1", "-8", "-E1", "y", "-E2", "y"))

    def test_failing_calls_print_their_error_and_the_simulation_goes_on(self):
        # The device carries out the commands whose replies are spoiled: the result is the same.
        relay = CommandRelay(self.simulator, {("K", 1): "wrong-echo", ("E", 1): "wrong-echo",
                                                ("E", 7): "wrong-echo"})
        self.addCleanup(relay.close)
        self.check([relay.url, "-g", "-K", "-e", "-o", "-T"], DEBUG_OPENING + [
            "Simulating the keypad and the encoder:", PANEL_HINT, error_line("COM_ZOR4_SimulateKeypad"),
            error_line("COM_ZOR4_SimulateEncoder"), error_line("COM_ZOR4_SimulateEncoderButton"),
            "Keypad simulation stopped", "Getting the output state:", PANEL_RESULT[0], "Getting the output voltages:",
            PANEL_RESULT[1]] + DEBUG_CLOSING, keys=PANEL_KEYS + ESC)

    def test_device_that_does_not_answer(self):
        tester = LiveTester([self.simulator.url, "-K", "-T"], self.folder)
        self.addCleanup(tester.kill)
        tester.wait_for("^Press 'Esc' to quit")
        self.simulator.control("power off")
        tester.keys(UP + b"a" + SPACE + ESC)
        output, status = tester.finish()
        self.assertEqual(status, 0)
        lines = output.split("\n")
        self.assertEqual(lines[:2], [OPENED, PANEL_HINT])
        self.assertRegex(lines[2], r"^Error at COM_ZOR4_SimulateKeypad: .+, I/O Error Message: .+$")
        self.assertRegex(lines[3], r"^Error at COM_ZOR4_SimulateEncoderButton: .+, I/O Error Message: .+$")
        self.assertEqual(lines[4:], ["Keypad simulation stopped"] + CLOSING + [""])

    def test_display_whole_and_row_by_row(self):
        output, _ = self.run_tester(self.simulator.url, "-g", "-L", "-l", "-T")
        lines = output.split("\n")
        self.assertEqual(lines[:5], DEBUG_OPENING + ["Getting the display data:"])
        whole = lines[5]
        self.assertRegex(whole, "^[0-9A-F]{2048}$")
        self.assertEqual(lines[6], "Getting the display data:")
        rows = lines[7:15]
        for number, row in enumerate(rows):
            self.assertRegex(row, f"^LDC row {number}: [0-9A-F]{{256}}$")
        self.assertEqual("".join(row[11:] for row in rows), whole)
        self.assertEqual(lines[15:], DEBUG_CLOSING + [""])
        self.assertNotEqual(whole, "0" * 2048)
        # Quiet mode prints the display all the same.
        quiet, _ = self.run_tester(self.simulator.url, "-Q", "-l", "-T")
        self.assertEqual(quiet.split("\n")[:-1], rows)

    def test_display_read_failures(self):
        relay = CommandRelay(self.simulator, {("L", 1): "wrong-echo", ("l", 4): "wrong-echo"})
        self.addCleanup(relay.close)
        output, _ = self.run_tester(relay.url, "-L", "-l", "-T")
        lines = output.split("\n")
        self.assertEqual(lines[:2], [OPENED, error_line("COM_ZOR4_ReadDisplay")])
        self.assertEqual([line[:10] for line in lines[2:5]], ["LDC row 0:", "LDC row 1:", "LDC row 2:"])
        self.assertEqual(lines[5:], [error_line("COM_ZOR4_ReadDisplayRow")] + CLOSING + [""])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:])
