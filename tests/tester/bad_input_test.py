"""ZorTester given bad input: a table of malformed command lines, each answered with the usage text
and status 255 (-1), never a crash; and prompts given garbage, empty lines, the end of the input
and 10,000-character lines, which do nothing harmful."""
import sys
import unittest

from tester_support import TesterCase, usage

HOUSEKEEPING = "Housekeeping data: Supply: 24.000V\t5V: 5.000V\t3V: 3.300V\tCPU: 42.00degC"
INVALID = "Invalid answer, nothing done"
LONG = 100_000  # characters of a very long argument (Linux takes up to 128 KiB each)

# Every letter of the switch table, with what its parameters are.
PLAIN_LETTERS = "QqGgBbZzUuKkLlDdVvPpNnHhSsIiRrCcMmoeTt"
PARAMETER_SWITCHES = {
    # letter: (a complete set of parameters, one unconvertible variant per parameter)
    "O": (["3", "1.5"], [["x", "1.5"], ["3", "V"]]),
    "E": (["2", "y"], [["x", "y"], ["2", "Yes"], ["2", "1"], ["2", ""]]),
    "W": (["1", "0", "10", "100"], [["x", "0", "10", "100"], ["1", "a", "10", "100"], ["1", "0", "b", "100"],
                                    ["1", "0", "10", "c"]]),
    "w": (["1", "0", "10", "100"], [["1", "0", "10", "-"]]),
    "X": (["", "out.txt", "1", "0"], [["", "out.txt", "step", "0"], ["", "out.txt", "1", "none"]]),
    "x": (["", "out.txt", "1", "0"], [["", "out.txt", "1", "+"]]),
}


def parameter_cases():
    """Missing, unconvertible and extra parameters of the switches that take them."""
    cases = []
    for letter, (complete, unconvertible) in PARAMETER_SWITCHES.items():
        channel, rest = complete[0], complete[1:]
        for prefix in "-/":
            switch = prefix + letter
            cases.append([switch])                                   # nothing at all
            for missing in range(len(rest)):                         # too few
                cases.append([switch + channel] + rest[:missing])
            for bad in unconvertible:
                cases.append([switch + bad[0]] + bad[1:])
            if channel:
                cases.append([switch, *rest])                        # the channel missing
            else:
                cases.append([switch + "5", *rest])                  # X takes its letter alone
    return cases


def odd_cases():
    """Odd prefixes, very long arguments and characters outside ASCII."""
    return [
        ["--H"], ["//H"], ["\\H"], ["+H"], ["H"], ["-"], ["/"], [""], [" -H"], ["-\tH"], ["-\x01"], ["-\x7f"],
        ["\u2212H"], ["\uff0dH"], ["-\u00e9"], ["-\u00d6"], ["/\u03a9"], ["-\U0001F600"],
        ["-?"], ["/?"], ["-A"], ["-F"], ["-J"], ["-Y"], ["-0"], ["-9"],
        ["x" * LONG], ["-" * LONG], ["-F" + "x" * LONG], ["-O", "1" * LONG], ["-E2", "y" * LONG],
        ["-W1", "0", "1", "x" * LONG], ["-X", "a", "1", "z" * LONG],
    ]


def switch_cases():
    """Switches that run before the line is rejected: each plain switch with characters after its
    letter, and parameters beyond a complete set, which are no switch."""
    cases = [[prefix + letter + extra] for letter in PLAIN_LETTERS for prefix, extra in (("-", "x"), ("/", "1"))]
    return cases + [["-O3", "1.5", "2"], ["-E2", "n", "y"], ["-W1", "0", "10", "100", "5"], ["-H\u00e9"]]


class MalformedCommandLines(TesterCase):
    def rejected(self, arguments):
        output, status = self.run_tester(self.simulator.url, *arguments)
        self.assertEqual(status, 255, output[-2000:])
        lines = output.split("\n")[:-1]
        expected = usage()
        self.assertGreaterEqual(len(lines), len(expected), output[-2000:])
        self.assertRegex(lines[-len(expected)], "^" + expected[0].pattern + "$")
        self.assertEqual(lines[-len(expected) + 1:], expected[1:])
        return output

    def test_every_malformed_line_gives_the_usage_and_status_255(self):
        tried = 0
        for arguments in parameter_cases() + odd_cases():
            with self.subTest(arguments=[a[:20] for a in arguments]):
                output = self.rejected(arguments)
                # Rejected before any command: the port is never opened.
                self.assertTrue(output.startswith("ZorTester ver. 1.00"), output[:200])
            tried += 1
        for arguments in switch_cases():
            with self.subTest(arguments=arguments):
                self.rejected(arguments)
            tried += 1
        print(f"{tried} malformed command lines tried", file=sys.stderr)

    def test_first_argument_that_is_no_port(self):
        for first in ["", "-", "x" * LONG, "\u00e9", "\uff13", "COM3", "x3"]:
            with self.subTest(first=first[:20]):
                output, status = self.run_tester(first, "-T")
                self.assertEqual(status, 255)
                self.assertTrue(output.startswith("ZorTester ver. 1.00"), output[:200])


# Answers that convert to nothing; as keys (when a line is left over) none of them selects a command.
GARBAGE = [b"", b" ", b"\t\t", b"\x01\x02\x7f", b"\xff\xfe\x80", b"\xc3\xa9", b"-", b"+", b"\x00\x48"]
# For each key, the answers given before the prompt that gets the garbage: every prompt in turn
# (a file name takes any word, so only the later prompts of X and x).
BEFORE = {b"O": [[], [b"3"]], b"E": [[], [b"2"]], b"X": [[b"name"], [b"name", b"1"]]}
BEFORE[b"W"] = BEFORE[b"w"] = [[], [b"1"], [b"1", b"0"], [b"1", b"0", b"10"]]
BEFORE[b"x"] = BEFORE[b"X"]


def answers(key, before, last):
    return key + b"".join(answer + b"\n" for answer in before) + last + b"\n"


class Prompts(TesterCase):
    def keys(self, keys):
        output, status = self.run_tester(self.simulator.url, keys=keys + b"h")
        self.assertEqual(status, 0, output[-2000:])
        # The key after the answers is still read as a key, once, and the program ends as it should.
        self.assertTrue(output.endswith(HOUSEKEEPING + "\nCommunication port closed\nProgram finished\n"),
                        output[-2000:])
        self.assertEqual(output.count(HOUSEKEEPING), 1, output[-2000:])
        return output

    def test_answers_that_do_not_convert_do_nothing(self):
        for key, befores in BEFORE.items():
            with self.subTest(key=key):
                keys = b"".join(answers(key, before, garbage) for before in befores for garbage in GARBAGE)
                output = self.keys(keys)
                self.assertEqual(output.count(INVALID), len(befores) * len(GARBAGE), output[-2000:])

    def test_lines_of_10000_characters(self):
        # At the first prompt none converts; the rest of a line beyond what is kept is not taken as
        # keys, or the h in it would read the housekeeping data over and over.
        first = [b"a" * 10_000, b" " * 10_000, b"\xff" * 10_000, b"h" * 10_000, b"3" + b"h" * 9_999]
        later = {b"O": [b"3", b"9" * 10_000], b"E": [b"2", b"1" * 10_000], b"W": [b"1", b"0", b"10", b"h" * 10_000],
                 b"X": [b"name", b"h" * 10_000]}
        later[b"w"], later[b"x"] = later[b"W"], later[b"X"]
        for key in BEFORE:
            with self.subTest(key=key):
                # A channel of 3 converts at the first prompt of O, E and W: the next answer is x.
                keys = b"".join(answers(key, [], line) + (b"x\n" if line[:1] == b"3" and key not in b"Xx" else b"")
                                for line in first)
                keys += answers(key, later[key][:-1], later[key][-1])
                self.keys(keys)

    def test_end_of_the_input_at_every_prompt(self):
        for keys in (b"O", b"O3\n", b"E2\n", b"W1\n0\n10\n", b"X", b"xname\n1\n"):
            with self.subTest(keys=keys):
                output, status = self.run_tester(self.simulator.url, keys=keys)
                self.assertEqual(status, 0, output)
                self.assertTrue(output.endswith(INVALID + "\nCommunication port closed\nProgram finished\n"),
                                output)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:])
