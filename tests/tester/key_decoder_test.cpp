// Terminal key sequences to PC key codes.
#include "key_decoder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "console.h"

namespace zortester {
namespace {

struct Sequence {
  const char* name;
  std::string bytes;
  int key;
};

void PrintTo(const Sequence& sequence, std::ostream* out) { *out << sequence.name; }

class KeySequences : public testing::TestWithParam<Sequence> {};

TEST_P(KeySequences, DecodeToTheirPcCodeAndAreTakenWhole) {
  const Sequence& sequence = GetParam();
  // A key that follows must stay for the next read.
  const auto decoded = DecodeKey(sequence.bytes + "x", false);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->key, sequence.key) << std::hex << decoded->key;
  EXPECT_EQ(decoded->length, sequence.bytes.size());
  EXPECT_FALSE(decoded->report_row.has_value());
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Keys, KeySequences,
    testing::Values(
        Sequence{"Up", "\x1b[A", 0x148}, Sequence{"UpApplicationMode", "\x1bOA", 0x148},
        Sequence{"Down", "\x1b[B", 0x150}, Sequence{"Right", "\x1b[C", 0x14D}, Sequence{"Left", "\x1bOD", 0x14B},
        Sequence{"ShiftUp", "\x1b[1;2A", 0x148}, Sequence{"CtrlUp", "\x1b[1;5A", 0x18D},
        Sequence{"AltUp", "\x1b[1;3A", 0x198}, Sequence{"CtrlLeft", "\x1b[1;5D", 0x173},
        Sequence{"PageUp", "\x1b[5~", 0x149}, Sequence{"PageDown", "\x1b[6~", 0x151},
        Sequence{"ShiftPageUp", "\x1b[5;2~", 0x149}, Sequence{"CtrlPageUp", "\x1b[5;5~", 0x184},
        Sequence{"CtrlPageDown", "\x1b[6;5~", 0x176}, Sequence{"AltPageUp", "\x1b[5;3~", 0x199},
        Sequence{"AltPageDown", "\x1b[6;3~", 0x1A1}, Sequence{"CtrlShiftPageUp", "\x1b[5;6~", 0x184},
        Sequence{"Home", "\x1b[H", 0x147}, Sequence{"HomeVt", "\x1b[1~", 0x147}, Sequence{"HomeRxvt", "\x1b[7~", 0x147},
        Sequence{"End", "\x1b[F", 0x14F}, Sequence{"EndVt", "\x1b[4~", 0x14F}, Sequence{"Insert", "\x1b[2~", 0x152},
        Sequence{"Delete", "\x1b[3~", 0x153}, Sequence{"CtrlDelete", "\x1b[3;5~", 0x193},
        Sequence{"F1", "\x1bOP", 0x13B}, Sequence{"F4", "\x1bOS", 0x13E}, Sequence{"F5", "\x1b[15~", 0x13F},
        Sequence{"F6", "\x1b[17~", 0x140}, Sequence{"F10", "\x1b[21~", 0x144}, Sequence{"F11", "\x1b[23~", 0x185},
        Sequence{"F12", "\x1b[24~", 0x186}, Sequence{"F1LinuxConsole", "\x1b[[A", 0x13B},
        Sequence{"ShiftF1", "\x1b[1;2P", 0x154}, Sequence{"CtrlF5", "\x1b[15;5~", 0x162},
        Sequence{"AltF12", "\x1b[24;3~", 0x18C}, Sequence{"ShiftTab", "\x1b[Z", 0x10F},
        Sequence{"Enter", "\r", 0x0D}, Sequence{"KeypadEnter", "\x1bOM", 0x0D}, Sequence{"CtrlSpace", "\0"s, 0x103},
        Sequence{"Letter", "a", 'a'}, Sequence{"Backspace", "\x7f", 0x08}, Sequence{"HighByte", "\xe4", 0xE4},
        Sequence{"AltX", "\x1bx", 0x12D}, Sequence{"AltShiftQ", "\x1bQ", 0x110}, Sequence{"Alt1", "\x1b" "1", 0x178},
        // Sequences without a PC key are taken whole and select nothing.
        Sequence{"UnknownNumber", "\x1b[99~", kUnknownKey}, Sequence{"UnknownFinal", "\x1b[1;5X", kUnknownKey},
        Sequence{"PrivateParameters", "\x1b[?1;2c", kUnknownKey}, Sequence{"Intermediate", "\x1b[1 q", kUnknownKey},
        Sequence{"AltBracket", "\x1b]", kUnknownKey}),
    [](const testing::TestParamInfo<Sequence>& param) { return std::string(param.param.name); });

TEST(KeyDecoder, WaitsForTheRestOfASequenceUntilToldItIsComplete) {
  for (const std::string prefix : {"\x1b", "\x1b[", "\x1b[1;5", "\x1bO", "\x1b[["}) {
    EXPECT_FALSE(DecodeKey(prefix, false).has_value()) << prefix.substr(1);
    const auto decoded = DecodeKey(prefix, true);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->length, prefix.size()) << prefix.substr(1);
    EXPECT_NE(decoded->key, '[');
  }
  EXPECT_EQ(DecodeKey("\x1b", true)->key, kEscKey);
  EXPECT_EQ(DecodeKey("\x1b[1;5", true)->key, kUnknownKey);
  EXPECT_FALSE(DecodeKey("", true).has_value());
}

TEST(KeyDecoder, EscBeforeEscIsALoneEsc) {
  const auto decoded = DecodeKey("\x1b\x1b[A", false);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->key, kEscKey);
  EXPECT_EQ(decoded->length, 1u);
}

TEST(KeyDecoder, ByteThatCannotBelongToASequenceBreaksItOff) {
  const auto decoded = DecodeKey("\x1b[5\x03", false);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->key, kUnknownKey);
  EXPECT_EQ(decoded->length, 3u);
}

TEST(KeyDecoder, EndlessSequenceIsCutAsGarbage) {
  const std::string garbage = "\x1b[" + std::string(40, '1');
  const auto decoded = DecodeKey(garbage, false);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->key, kUnknownKey);
  EXPECT_EQ(decoded->length, garbage.size());
}

TEST(KeyDecoder, CursorPositionReport) {
  const auto report = DecodeKey("\x1b[12;40R", false);
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->report_row, 12);
  EXPECT_EQ(report->key, kUnknownKey);
  EXPECT_EQ(report->length, 8u);
  // Row 1 reads the same as Ctrl+F3.
  const auto row_one = DecodeKey("\x1b[1;5R", false);
  ASSERT_TRUE(row_one.has_value());
  EXPECT_EQ(row_one->report_row, 1);
  EXPECT_EQ(row_one->key, 0x160);
}

}  // namespace
}  // namespace zortester
