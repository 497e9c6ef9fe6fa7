"""ZorTester against zor-sim: command line, key loop and readouts, standard output and exit status
compared exactly. Key scripts come on standard input, one byte a key press; a NUL and the next
byte are one extended key."""
import os
import re
import sys
import unittest

from tester_support import CommandRelay, TesterCase, assert_lines, usage

OPENED = "Communication port opened"
CLOSING = ["Communication port closed", "Program finished"]
HINT = "Press '?' for help"
DEBUG_OPENING = ["Checking the DLL Version...", "DLL Version: 1.10", "Opening the communication port...", OPENED]
DEBUG_CLOSING = ["Closing the communication port..."] + CLOSING

HELP = [
    "Press 'b','B' to get device buffer status,   'z','Z' to purge communication,",
    "      'u','U' to get uptime,                 'k','K' to simulate the keypad,",
    "      'l','L' to get display data, L: whole display at once,",
    "      'd','D' to get firmware date,          'v','V' to get firmware version,",
    "      'p','P' to get product identification, 'n','N' to get product number,",
    "      'h','H' to get housekeeping data,      's','S' to get HV supply data,",
    "      'i','I' to get interlock state,        'r','R' to get sensor current,",
    "      'c','C' to get hardware capabilities,",
    "      'o','O' to get/set output voltages,    'e','E' to get/set output state,",
    "      'm','M' to get measured output voltages,",
    "      'w','W' to cycle the output voltages,",
    "      'x','X' to create test protocol, X: pause after each voltage step,",
    "      'q','Q' to set quiet mode off/on,",
    "      'Esc' to stop,                             '?' to get this help...",
]

HOUSEKEEPING = "Housekeeping data: Supply: 24.000V\t5V: 5.000V\t3V: 3.300V\tCPU: 42.00degC"
NO_ERROR = "I/O Error Message: No error"


def error_line(label, text="Wrong command received"):
    return f"Error at {label}: {text}, {NO_ERROR}"


class CommandLine(TesterCase):
    def test_no_argument_prints_the_usage(self):
        self.check([], usage(), 255)

    def test_program_name_is_the_file_name_up_to_the_first_dot(self):
        output, status = self.run_tester(argv0="/opt/zor.v2/Zor.Tester.exe")
        assert_lines(self, output, usage("Zor"))
        self.assertEqual(status, 255)

    def test_terminate_opens_and_closes_the_port(self):
        url = self.simulator.url
        for arguments in ([url, "-T"], [url, "/t"], [url, "-T", "-Z"], [url, "-T", "-F"]):
            with self.subTest(arguments=arguments):
                self.check(arguments, [OPENED] + CLOSING)

    def test_quiet_run_prints_nothing(self):
        self.check([self.simulator.url, "-Q", "-T"], [])

    def test_debug_file_and_quiet_mode_cancelled_at_the_opening(self):
        self.check([self.simulator.url, "-G", "-Q", "-T"], DEBUG_OPENING + DEBUG_CLOSING)
        with open(os.path.join(self.folder, "Debug.txt"), encoding="latin-1") as file:
            text = file.read()
        self.assertIn("File opened by COM_ZOR4_OpenDebugFile", text)
        self.assertTrue(text.rstrip().endswith("File closed by COM_ZOR4_CloseDebugFile"), text)

    def test_debug_file_records_the_failures_of_slot_7(self):
        self.simulator.control("fault wrong-echo 1 H")
        self.check([self.simulator.url, "-G", "-Q", "-H", "-T"],
                   DEBUG_OPENING + ["Getting the housekeeping data:",
                                    error_line("COM_ZOR4_Get_HousekeepingData")] + DEBUG_CLOSING)
        with open(os.path.join(self.folder, "Debug.txt"), encoding="latin-1") as file:
            self.assertRegex(file.read(), r"PortNumber: 7, .*'H'")

    def test_rejected_command_lines(self):
        url = self.simulator.url
        buffer = [OPENED, "Buffer is empty"]
        cases = [
            ([url, "-B", "-F"], buffer),           # a letter outside the table, after a switch that ran
            ([url, "-Bx"], buffer),                # the switch runs, then its trailing character rejects
            ([url, "-?"], []),
            ([url, "/A"], []), ([url, "-J"], []), ([url, "-y"], []), ([url, "-1"], []),
            ([url, "-"], []), ([url, "B"], []), ([url, ""], []),
            ([url, "-Tx"], []),                    # T ran: nothing is opened
            ([url, "-E2", "Yes"], []), ([url, "-E2"], []), ([url, "-E", "y"], []),
            ([url, "-O"], []), ([url, "-O3"], []), ([url, "-Ox", "1"], []), ([url, "-O3", "V"], []),
            ([url, "-W1", "0", "100"], []), ([url, "-W1", "0", "100", "x"], []), ([url, "-W", "0", "1", "2"], []),
            ([url, "-X5", "a", "1", "0"], []), ([url, "-X", "a", "1"], []), ([url, "-x", "a", "b", "0"], []),
            ([url, "-H", "-O", "-H"], [OPENED, HOUSEKEEPING]),  # nothing runs after the faulty switch
        ]
        for arguments, before in cases:
            with self.subTest(arguments=arguments[1:]):
                self.check(arguments, before + usage(), 255)

    def test_rejection_closes_the_debug_file(self):
        self.check([self.simulator.url, "-G", "-F"], usage(), 255)
        with open(os.path.join(self.folder, "Debug.txt"), encoding="latin-1") as file:
            self.assertTrue(file.read().rstrip().endswith("File closed by COM_ZOR4_CloseDebugFile"))

    def test_parameter_switches_that_convert_are_run_and_processing_goes_on(self):
        url = self.simulator.url
        for arguments in (["-E2", "y"], ["-E2", "n"], ["/E2", "Y"], ["-O3V", "10.5kV"]):
            with self.subTest(arguments=arguments):
                output, status = self.run_tester(url, *arguments, "-H", "-T")
                self.assertEqual(status, 0, output)
                self.assertTrue(output.startswith(OPENED + "\n"), output)
                self.assertTrue(output.endswith("\n".join([HOUSEKEEPING] + CLOSING) + "\n"), output)

    def test_port_numbers(self):
        for first, lines in [
            ("0", ["Wrong COMNumber specified: 0, allowed range: 1..255"]),
            ("256", ["Wrong COMNumber specified: 256, allowed range: 1..255"]),
            ("-5", ["Wrong COMNumber specified: -5, allowed range: 1..255"]),
            ("200", []),
            ("  200 and more", []),  # converted as %d: blanks skipped, the rest ignored
        ]:
            with self.subTest(first=first):
                self.check([first, "-T"], lines + ["Error opening the port"], 254)

    def test_first_argument_that_is_neither_number_nor_port(self):
        for first in ("/?", "-T", "abc", ""):
            with self.subTest(first=first):
                self.check([first, "-T"], usage(), 255)

    def test_port_that_does_not_open_in_debug_mode(self):
        self.check(["/dev/zor-tester-no-such-port", "-g", "-H"],
                   DEBUG_OPENING[:3] + ["Error opening the port"], 254)

    def test_order_of_quiet_and_debug_switches(self):
        buffer = ["Getting the buffer status of the device...", "Buffer of the device is empty"]
        self.check([self.simulator.url, "-Q", "-G", "-B"], DEBUG_OPENING + buffer + [HINT] + DEBUG_CLOSING)
        self.check([self.simulator.url, "-G", "-B", "-Q"], DEBUG_OPENING + buffer + ["Closing the communication port..."])


class KeyLoop(TesterCase):
    def keys(self, keys, expected, arguments=()):
        self.check([self.simulator.url, *arguments], expected, keys=keys)

    def test_end_of_input_and_esc_end_the_loop(self):
        self.keys(b"", [OPENED, HINT] + CLOSING)
        self.keys(b"\x1bh", [OPENED, HINT] + CLOSING)

    def test_help(self):
        self.keys(b"?", [OPENED, HINT] + HELP + CLOSING)

    def test_quiet_keys(self):
        self.keys(b"Qq", [OPENED, HINT, "Quiet mode is on", "Quiet mode is off"] + CLOSING)
        self.keys(b"qQ", [OPENED, HINT, "Quiet mode is off", "Quiet mode is on"])
        # The hint is due only at the start of the loop.
        self.keys(b"q", ["Quiet mode is off"] + CLOSING, arguments=["-Q"])

    def test_keys_and_their_cases(self):
        self.keys(b"hHtTgGjJ12 \r", [OPENED, HINT, HOUSEKEEPING, HOUSEKEEPING] + CLOSING)
        self.keys(b"oe", [OPENED, HINT, "Output voltages:\tCh1: 0.0V\tCh2: 0.0V\tCh3: 0.0V\tCh4: 0.0V",
                          "Output state:\tCh1: off\tCh2: off\tCh3: off\tCh4: off"] + CLOSING)

    def test_extended_keys_select_nothing(self):
        # F2, then the extended codes 0x48 and 0x62, which are the character codes of H and b.
        self.keys(b"\x00\x3c\x00\x48\x00\x62h", [OPENED, HINT, HOUSEKEEPING] + CLOSING)

    def test_prompts(self):
        voltage = ["Enter the channel number (1-5): ", "Enter the new voltage in V: "]
        state = ["Enter the channel number (1-5, 0 for all): ", "Enter the new state (0 for off, 1 for on): "]
        cycle = ["Enter the channel number (1-5): ", "Enter the minimum voltage in V: ",
                 "Enter the maximum voltage in V: ", "Enter the period in ms: "]
        protocol = ["Enter the filename for the test protocol: ",
                    "Enter the voltage step for the output test in V: ",
                    "Enter the number of voltage steps at voltage limits that should not be considered: "]
        invalid = "Invalid answer, nothing done"
        name = b"p" * 259
        refused = [invalid, HOUSEKEEPING]
        cycle_stopped = ["Press SPACE to stop...", "Output voltage:\tCh1: 5.0V", "Cycle stopped"]  # h dropped
        cases = [  # keys, the prompts, how many of them are shown, what follows them
            (b"O3\n10.5\n", voltage, 2, ["Output voltage:\tCh3: 10.5V", HOUSEKEEPING]),
            (b"O 3 \r\n-7.5V\r\n", voltage, 2, ["Output voltage:\tCh3: -7.5V", HOUSEKEEPING]),
            (b"E2\n1\n", state, 2, ["Output state:\tCh2: on ", HOUSEKEEPING]),
            (b"E0\n0\n", state, 2, ["Output state:\tCh1: off\tCh2: off\tCh3: off\tCh4: off", HOUSEKEEPING]),
            (b"E2\n2\n", state, 2, [HOUSEKEEPING]),             # neither 0 nor 1: nothing happens
            (b"W1\n-5\n5\n200\n ", cycle, 4, cycle_stopped), (b"w1\n-5\n5\n200\n ", cycle, 4, cycle_stopped),
            (b"X" + name + b"\n1.5\n2\n", protocol, 3, ["Cannot open the data file " + "p" * 259, HOUSEKEEPING]),
            (b"xno/such/out.txt more\n1\n-1\n", protocol, 3, ["Cannot open the data file no/such/out.txt",
                                                                HOUSEKEEPING]),
            (b"Ox\n", voltage, 1, refused),
            (b"O3\nabc\n", voltage, 2, refused),
            (b"E\n1\n", state, 1, refused),
            (b"E2\nyes\n", state, 2, refused),
            (b"W1\n0\n100\n\n", cycle, 4, refused),
            (b"X" + name + b"p\n1\n0\n", protocol, 1, refused),  # a file name of 260 characters
            (b"X\n", protocol, 1, refused),
        ]
        for keys, prompts, shown, after in cases:
            with self.subTest(keys=keys[:20]):
                asked = "".join(prompts[:shown])
                self.keys(keys + b"h", [OPENED, HINT, asked + after[0]] + after[1:] + CLOSING)
        # The input ends at the prompt.
        self.keys(b"O", [OPENED, HINT, voltage[0] + invalid] + CLOSING)


READOUT_SWITCHES = ["-B", "-Z", "-U", "-D", "-V", "-P", "-N", "-H", "-S", "-I", "-R", "-C", "-o", "-M", "-e"]
READOUT_KEYS = b"bzudvpnhsircoMe"
UPTIME = re.compile(r"Device uptime: \d{1,2}\.\d\d sec\.")
RESULTS = [
    ("Getting the buffer status of the device...", ["Buffer is empty"], ["Buffer of the device is empty"]),
    ("Purging the buffers of the communication port...", ["Port purged"],
     ["Buffers of the communication port were purged"]),
    ("Getting the device uptime:", [UPTIME], None),
    ("Getting the firmware date:", ["Firmware date: Dec 11 2026"], None),
    ("Getting the firmware version:", ["Firmware version: 1.02"], None),
    ("Getting the product identification:", ["Product identification: ZORLINE HV-4 simulated"], None),
    ("Getting the product number:", ["Product number: 74565"], None),
    ("Getting the housekeeping data:", [HOUSEKEEPING], None),
    ("Getting the HV supply data:", ["HV supply data: Positive: 240.000V\tNegative: 240.000V\tHeatsink: 31.00degC"], None),
    ("Getting the interlock state:", ["Interlock is closed"], None),
    ("Getting sensor current:", ["Sensor current: +0.000E+00A"], None),
    ("Getting hardware capabilities:", ["Hardware capabilities:", "\tNumber of channels: 3",
                                         "\tOutput voltage range: -500V..+1500V", "\tPrecision: 0.100V",
                                         "\tCurrent sensor: installed", "\tShutdown temperature: 85degC"], None),
    ("Getting the output voltages:", ["Output voltages:\tCh1: 0.0V\tCh2: 0.0V\tCh3: 0.0V"], None),
    ("Getting the measured output voltages:",
     ["Measured output voltages:\tCh1: 0.000V\tCh2: 0.000V\tCh3: 0.000V"], None),
    ("Getting the output state:", ["Output state:\tCh1: off\tCh2: off\tCh3: off"], None),
]


def readout_lines(mode):
    lines = []
    for heading, plain, long_form in RESULTS:
        if mode == "debug":
            lines += [heading] + (long_form or plain)
        elif mode == "plain" or long_form is None:
            lines += plain
    return lines


class Readouts(TesterCase):
    simulator_options = ("--current-sensor", "--channels", "3", "--voltage-min", "-500", "--voltage-max", "1500")

    def readouts(self, *arguments):
        return [self.simulator.url, *arguments, *READOUT_SWITCHES, "-T"]

    def test_plain_quiet_and_debug(self):
        self.check(self.readouts(), [OPENED] + readout_lines("plain") + CLOSING)
        self.check(self.readouts("-Q"), readout_lines("quiet"))
        self.check(self.readouts("-g"), DEBUG_OPENING + readout_lines("debug") + DEBUG_CLOSING)
        # Quiet mode after the opening: debug mode keeps the long confirmations.
        self.check(self.readouts("-g", "-H", "-Q"),
                   DEBUG_OPENING + [RESULTS[7][0], HOUSEKEEPING] + readout_lines("debug") +
                   ["Closing the communication port..."])

    def test_keys(self):
        self.check([self.simulator.url], [OPENED, HINT] + readout_lines("plain") + CLOSING, keys=READOUT_KEYS)
        self.check([self.simulator.url, "-Q"], readout_lines("quiet"), keys=READOUT_KEYS)

    def test_lower_case_switches(self):
        switches = [s.lower() for s in READOUT_SWITCHES if s not in ("-o", "-e")]
        lines = [line for i, (_, plain, _) in enumerate(RESULTS) if i not in (12, 14) for line in plain]
        self.check([self.simulator.url, *switches, "-t"], [OPENED] + lines + CLOSING)

    def test_interlock_open(self):
        self.simulator.control("interlock open")
        self.check([self.simulator.url, "-I", "-T"], [OPENED, "Interlock is open"] + CLOSING)

    def test_failures_print_the_error_line_with_the_label(self):
        letters = {"-U": "U", "-D": "D", "-V": "V", "-P": "P", "-N": "N", "-H": "H", "-S": "S", "-I": "I",
                   "-R": "C", "-C": "W", "-o": "W", "-B": "Z", "-Z": "z"}
        labels = ["COM_ZOR4_GetUptime", "COM_ZOR4_FW_Date", "COM_ZOR4_FW_Ver", "COM_ZOR4_prod_ID",
                  "COM_ZOR4_Prod_No", "COM_ZOR4_Get_HousekeepingData", "COM_ZOR4_Get_HVSupplyData",
                  "COM_ZOR4_Get_InterlockState", "COM_ZOR4_Get_CurrentMonitor",
                  "COM_ZOR4_GetHardwareCapability", "COM_ZOR4_GetHardwareCapability"]
        headings = [RESULTS[i][0] for i in (2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0, 1)]
        errors = [error_line(label) for label in labels] + ["Wrong command received"] * 2
        for mode in ("plain", "debug"):
            with self.subTest(mode=mode):
                for letter in letters.values():
                    self.simulator.control(f"fault wrong-echo 1 {letter}")
                arguments = [self.simulator.url] + (["-g"] if mode == "debug" else []) + list(letters) + ["-T"]
                if mode == "plain":
                    self.check(arguments, [OPENED] + errors + CLOSING)
                else:
                    lines = [line for pair in zip(headings, errors) for line in pair]
                    self.check(arguments, DEBUG_OPENING + lines + DEBUG_CLOSING)

    def test_channel_list_that_fails_at_its_third_channel(self):
        relay = CommandRelay(self.simulator, {("o", 3): "wrong-echo", ("O", 3): "garbage", ("B", 3): "wrong-echo"})
        self.addCleanup(relay.close)
        self.check([relay.url, "-o", "-M", "-e", "-T"], [
            OPENED,
            "Output voltages:\tCh1: 0.0V\tCh2: 0.0V" + error_line("COM_ZOR4_Get_OutputVoltage"),
            "Measured output voltages:\tCh1: 0.000V\tCh2: 0.000V" +
            error_line("COM_ZOR4_Get_OutputMonitor", "Wrong argument received"),
            "Output state:\tCh1: off\tCh2: off" + error_line("COM_ZOR4_Get_OutputState"),
        ] + CLOSING)


class NoChannels(TesterCase):
    simulator_options = ("--channels", "0")

    def test_channel_lists_print_their_title_alone(self):
        self.check([self.simulator.url, "-o", "-M", "-e", "-T"],
                   [OPENED, "Output voltages:", "Measured output voltages:", "Output state:"] + CLOSING)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:])
