// The parts of the command line and the key table that switch and key handling rely on.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "command_table.h"
#include "commands.h"
#include "console.h"
#include "program.h"

namespace zortester {
namespace {

std::optional<std::size_t> Convert(Parameters parameters, std::vector<const char*> arguments, Arguments& converted) {
  return ConvertSwitch(parameters, arguments, converted);
}

TEST(SwitchParameters, ConvertLikeScanf) {
  Arguments a;
  EXPECT_EQ(Convert(Parameters::Voltage, {"-O3V", "10.5kV", "-T"}, a), 2u);
  EXPECT_EQ(a.channel, 3);
  EXPECT_EQ(a.voltage, 10.5);

  EXPECT_EQ(Convert(Parameters::State, {"-E2", "y"}, a), 2u);
  EXPECT_EQ(a.channel, 2);
  EXPECT_TRUE(a.on);
  EXPECT_EQ(Convert(Parameters::State, {"/E0", "N"}, a), 2u);
  EXPECT_EQ(a.channel, 0);
  EXPECT_FALSE(a.on);

  EXPECT_EQ(Convert(Parameters::Cycle, {"-W4", " -1.5", "7e1", "1000ms", "-Z"}, a), 4u);
  EXPECT_EQ(a.channel, 4);
  EXPECT_EQ(a.minimum, -1.5);
  EXPECT_EQ(a.maximum, 70.0);
  EXPECT_EQ(a.period_ms, 1000u);

  EXPECT_EQ(Convert(Parameters::Protocol, {"-X", "my protocol.txt", "2.5", "3"}, a), 4u);
  EXPECT_EQ(a.file_name, "my protocol.txt");  // taken unchanged
  EXPECT_EQ(a.voltage_step, 2.5);
  EXPECT_EQ(a.skipped_steps, 3);

  EXPECT_EQ(Convert(Parameters::None, {"-H", "-T"}, a), 1u);
}

TEST(SwitchParameters, MissingOrUnconvertibleParameterRejectsTheSwitch) {
  const struct {
    Parameters parameters;
    std::vector<const char*> arguments;
  } cases[] = {
      {Parameters::Voltage, {"-O"}}, {Parameters::Voltage, {"-O", "5"}}, {Parameters::Voltage, {"-O3"}},
      {Parameters::Voltage, {"-Ox", "5"}}, {Parameters::Voltage, {"-O3", "V5"}},
      {Parameters::State, {"-E2", "Yes"}}, {Parameters::State, {"-E2", ""}}, {Parameters::State, {"-E2", "1"}},
      {Parameters::State, {"-E", "Y"}}, {Parameters::State, {"-E2"}},
      {Parameters::Cycle, {"-W1", "0", "100"}}, {Parameters::Cycle, {"-W1", "0", "100", "x"}},
      {Parameters::Cycle, {"-W", "0", "100", "5"}}, {Parameters::Cycle, {"-W1", "min", "100", "5"}},
      {Parameters::Protocol, {"-X5", "a", "1", "0"}}, {Parameters::Protocol, {"-X", "a", "1"}},
      {Parameters::Protocol, {"-X", "a", "step", "0"}}, {Parameters::Protocol, {"-X", "a", "1", "none"}},
  };
  for (const auto& c : cases) {
    Arguments a;
    EXPECT_FALSE(Convert(c.parameters, c.arguments, a).has_value()) << c.arguments[0] << " " << c.arguments.size();
  }
}

TEST(CommandTable, LettersOutsideTheTableSelectNothing) {
  for (char letter : {'?', 'A', 'F', 'J', 'Y', 'a', '1', ' ', '\0'}) {
    EXPECT_EQ(FindSwitch(letter), nullptr) << letter;
  }
}

TEST(CommandTable, CasesTellApartOnlyWhereTheTableDoes) {
  for (char letter : {'G', 'L', 'O', 'E', 'X'}) {
    const char lower = static_cast<char>(letter - 'A' + 'a');
    ASSERT_NE(FindSwitch(letter), nullptr) << letter;
    ASSERT_NE(FindSwitch(lower), nullptr) << lower;
    EXPECT_NE(FindSwitch(letter), FindSwitch(lower)) << letter;
  }
  for (char letter : {'Q', 'B', 'Z', 'U', 'K', 'D', 'V', 'P', 'N', 'H', 'S', 'I', 'R', 'C', 'M', 'W', 'T'}) {
    const char lower = static_cast<char>(letter - 'A' + 'a');
    ASSERT_NE(FindSwitch(letter), nullptr) << letter;
    EXPECT_EQ(FindSwitch(letter), FindSwitch(lower)) << letter;
  }
  EXPECT_EQ(FindSwitch('O')->parameters, Parameters::Voltage);
  EXPECT_EQ(FindSwitch('o')->parameters, Parameters::None);
  EXPECT_EQ(FindSwitch('E')->parameters, Parameters::State);
  EXPECT_EQ(FindSwitch('e')->parameters, Parameters::None);
}

TEST(CommandTable, KeysOfTheKeyLoop) {
  for (int key : {int{'t'}, int{'T'}, int{'g'}, int{'G'}, int{'?'}, 0x1B, 0x0D, int{' '}}) EXPECT_EQ(FindKey(key), nullptr) << key;
  // Extended codes never select, also where their low byte is a letter of the table (0x148: H).
  for (int key : {0x148, 0x162, 0x100 + int{'h'}, 0x103, kUnknownKey}) EXPECT_EQ(FindKey(key), nullptr) << key;
  EXPECT_NE(FindKey('Q'), FindKey('q'));
  EXPECT_NE(FindKey('Q'), FindSwitch('Q'));  // the key prints the mode, the switch does not
  EXPECT_EQ(FindKey('h'), FindSwitch('H'));
  EXPECT_EQ(FindKey('O')->parameters, Parameters::Voltage);
  EXPECT_EQ(FindKey('o')->parameters, Parameters::None);
  EXPECT_EQ(FindKey('w')->parameters, Parameters::Cycle);
}

TEST(ProgramName, FileNameUpToTheFirstDot) {
  EXPECT_EQ(ProgramName("/usr/local/bin/ZorTester"), "ZorTester");
  EXPECT_EQ(ProgramName("./Zor.Tester.exe"), "Zor");
  EXPECT_EQ(ProgramName("tools.d/ZorTester"), "ZorTester");
  EXPECT_EQ(ProgramName("ZorTester"), "ZorTester");
  EXPECT_EQ(ProgramName(""), "");
  EXPECT_EQ(ProgramName(nullptr), "");
}

TEST(Uptime, HoursAndMinutesOnlyWhenThereAreAny) {
  EXPECT_EQ(FormatUptime(3725, 500), "1:02:05.50 sec.");
  EXPECT_EQ(FormatUptime(60, 0), "1:00.00 sec.");
  EXPECT_EQ(FormatUptime(59, 990), "59.99 sec.");
  EXPECT_EQ(FormatUptime(0, 9), "0.00 sec.");
  EXPECT_EQ(FormatUptime(360000, 0), "100:00:00.00 sec.");  // no days
  EXPECT_EQ(FormatUptime(4294967295u, 999), "1193046:28:15.99 sec.");
}

}  // namespace
}  // namespace zortester
